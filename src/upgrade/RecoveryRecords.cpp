#include "upgrade/RecoveryRecords.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "platform/LocalTime.h"
#include "platform/Paths.h"

namespace kestro {
namespace {

constexpr const char* kMagic = "kestro-upgrade-kit recovery record 1";
constexpr const char* kPrefix = "recovery-";
constexpr const char* kSuffix = ".state";
// A record is a few short lines; anything larger is not one of ours.
constexpr std::uintmax_t kMaxRecordBytes = 4096;

bool Printable(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// The port's device or name as a file name: letters, digits, '.', '_' and '-' stay, every other
// byte becomes %XX, so that two ports never share a file.
std::string FileKey(const RecoveryRecord& port) {
    const std::string& key = port.device.empty() ? port.portName : port.device;
    std::string out;
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-') {
            out += c;
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            out += code;
        }
    }
    return out;
}

bool SamePort(const RecoveryRecord& record, const std::string& portName, const std::string& device) {
    if (!record.device.empty() && !device.empty()) return record.device == device;
    return !portName.empty() && record.portName == portName;
}

// A device named by a path that is gone: the cable was unplugged, or the record is stale.
bool DeviceGone(const RecoveryRecord& record) {
    if (record.device.empty() || record.device.front() != '/') return false;
    std::error_code ec;
    return !std::filesystem::exists(record.device, ec);
}

void AddNote(std::string* note, const std::string& text) {
    // One line at most, however many files are odd.
    if (note != nullptr && note->empty()) *note = text;
}

}  // namespace

std::string RecoveryRecord::Describe() const {
    if (device.empty() || device == portName) return portName;
    return portName + " (" + device + ")";
}

std::string RecoveryRecord::SinceText() const {
    const std::tm local = LocalTime(since);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string FormatRecoveryRecord(const RecoveryRecord& record) {
    // A value is one line of printable text: whatever a radio put in its serial number.
    const auto value = [](std::string text) {
        for (char& c : text) {
            if (!Printable(std::string(1, c))) c = '?';
        }
        return text;
    };
    std::ostringstream out;
    out << kMagic << '\n'
        << "port=" << value(record.portName) << '\n'
        << "device=" << value(record.device) << '\n'
        << "serial=" << value(record.serial) << '\n'
        << "since=" << static_cast<long long>(record.since) << '\n';
    return out.str();
}

std::optional<RecoveryRecord> ParseRecoveryRecord(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return std::nullopt;
    RecoveryRecord record;
    bool haveSince = false;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (!Printable(value)) return std::nullopt;
        if (key == "port") {
            record.portName = std::move(value);
        } else if (key == "device") {
            record.device = std::move(value);
        } else if (key == "serial") {
            record.serial = std::move(value);
        } else if (key == "since") {
            try {
                std::size_t used = 0;
                const long long seconds = std::stoll(value, &used);
                if (used != value.size() || seconds < 0) return std::nullopt;
                record.since = static_cast<std::time_t>(seconds);
                haveSince = true;
            } catch (const std::exception&) {
                return std::nullopt;
            }
        }
        // Other keys may come from a later kit; they do not make the record unusable.
    }
    if (record.portName.empty() || !haveSince) return std::nullopt;
    return record;
}

std::filesystem::path CRecoveryRecords::FileFor(const RecoveryRecord& port) const {
    return m_folder / (kPrefix + FileKey(port) + kSuffix);
}

bool CRecoveryRecords::Mark(const RecoveryRecord& record) const {
    if (!Enabled()) return false;
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    const auto target = FileFor(record);
    // A name of its own for the temporary file: another kit may be marking the same port.
    std::random_device entropy;
    const auto temporary =
        target.parent_path() / (target.filename().string() + ".tmp" + std::to_string(entropy()));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << FormatRecoveryRecord(record);
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

void CRecoveryRecords::Clear(const RecoveryRecord& port) const {
    if (!Enabled()) return;
    std::error_code ec;
    std::filesystem::remove(FileFor(port), ec);
}

std::vector<RecoveryRecord> CRecoveryRecords::All(std::string* note) const {
    std::vector<RecoveryRecord> records;
    if (!Enabled()) return records;
    std::error_code ec;
    std::filesystem::directory_iterator it(m_folder, ec);
    if (ec) return records;  // no folder yet: no records
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto& path = it->path();
        const std::string name = path.filename().string();
        if (name.rfind(kPrefix, 0) != 0 || name.size() <= std::string(kSuffix).size() ||
            name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) != 0) {
            continue;  // not a record file (the log, a temporary file, something else's)
        }
        const std::string ignored = "ignoring the recovery record " + path.string() + ": ";
        std::error_code fileError;
        if (!std::filesystem::is_regular_file(path, fileError)) {
            AddNote(note, ignored + "it is not a file");
            continue;
        }
        const auto size = std::filesystem::file_size(path, fileError);
        if (fileError || size > kMaxRecordBytes) {
            AddNote(note, ignored + (fileError ? "it cannot be read" : "it is too large"));
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in) {
            AddNote(note, ignored + "it cannot be read");
            continue;
        }
        auto record = ParseRecoveryRecord(text.str());
        if (!record) {
            AddNote(note, ignored + "it is damaged or not the kit's");
            continue;
        }
        if (DeviceGone(*record)) {
            AddNote(note, ignored + record->device + " is not present");
            continue;
        }
        records.push_back(std::move(*record));
    }
    return records;
}

std::optional<RecoveryRecord> CRecoveryRecords::Find(const std::string& portName,
                                                     const std::string& device,
                                                     std::string* note) const {
    for (auto& record : All(note)) {
        if (SamePort(record, portName, device)) return record;
    }
    return std::nullopt;
}

std::filesystem::path DefaultRecoveryFolder() { return DefaultLogPath().parent_path(); }

}  // namespace kestro
