#include "log/UpgradeLog.h"

#include <cstdio>
#include <system_error>

#include "platform/DurableFile.h"
#include "platform/LocalTime.h"
#include "platform/SharedFile.h"

namespace kestro {

std::tm CUpgradeLog::DefaultLocalTime() {
    return LocalTime(std::time(nullptr));
}

std::string CUpgradeLog::FormatTimestamp(const std::tm& when) {
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y/%m/%d, %H:%M:%S,", &when);
    return std::string(buffer, n);
}

bool CUpgradeLog::WriteHeaderIfMissing() {
    std::error_code ec;
    // Something other than a file in the log's place can never take a line.
    if (std::filesystem::exists(m_logPath, ec)) return std::filesystem::is_regular_file(m_logPath, ec);
    if (std::string ignored; m_logPath.has_parent_path() && !CreateFolderOf(m_logPath, ignored)) return false;
    // Another kit may create the log at the same moment: one of the two puts the header there.
    switch (CreateFileWith(m_logPath, std::string(kLogHeader) + "\r\n")) {
        case CreateResult::Created: return true;
        case CreateResult::Exists: return std::filesystem::is_regular_file(m_logPath, ec);
        case CreateResult::Failed: break;
    }
    return false;
}

bool CUpgradeLog::CanOpen() {
    std::error_code ec;
    if (std::filesystem::exists(m_logPath, ec)) {
        return std::filesystem::is_regular_file(m_logPath, ec) && CanOpenForAppend(m_logPath);
    }
    if (std::string ignored; m_logPath.has_parent_path() && !CreateFolderOf(m_logPath, ignored)) return false;
    return CanOpenForAppend(m_logPath);
}

bool CUpgradeLog::AppendLogLine(const std::string& fields, const std::string& result,
                                std::string* failure) {
    std::string line;
    if (!result.empty()) line = FormatTimestamp(m_localTime());
    line += fields;
    line += result;
    line += "\r\n";
    // One locked append per line: workers of this kit and other kits append to the same file.
    std::string reason;
    if ((!m_logPath.has_parent_path() || CreateFolderOf(m_logPath, reason)) &&
        AppendLockedAfterHead(m_logPath, std::string(kLogHeader) + "\r\n", line, &reason)) {
        return true;
    }
    if (failure != nullptr) {
        *failure = "The line was not added to " + m_logPath.string() + ": " + reason;
    }
    return false;
}

std::string LogField(const std::string& deviceText) {
    std::string out;
    out.reserve(deviceText.size() + 4);
    if (!deviceText.empty()) {
        const char first = deviceText.front();
        if (first == '=' || first == '+' || first == '-' || first == '@') out += '\'';
    }
    for (const char c : deviceText) {
        const auto byte = static_cast<unsigned char>(c);
        // A quote would open a quoted field that swallows the records after it; '<' itself is
        // written as a placeholder so that no device text can forge one.
        if (byte < 0x20 || byte == 0x7F || c == ',' || c == '"' || c == '<') {
            char code[8];
            std::snprintf(code, sizeof code, "<%02X>", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string ShownBytes(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            out += code;
        }
    }
    return out;
}

}  // namespace kestro
