// Reading the report's CSV logs and fleet list, and telling its sources apart.

#include "cli/report/ReportInputs.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "log/UpgradeLog.h"

namespace kestro::cli {

namespace {

std::string Trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    return text.substr(start);
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(Trimmed(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) return fields;
        start = comma + 1;
    }
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

SourceKind KindOfSource(const std::string& from) {
    if (from.size() > 4 && Lower(from.substr(from.size() - 4)) == ".csv") return SourceKind::CsvLog;
    std::error_code ec;
    return std::filesystem::is_regular_file(from, ec) ? SourceKind::HistoryFile : SourceKind::Server;
}

bool ReadLogRuns(const std::filesystem::path& file, std::vector<LogRun>& out, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the log " + file.string();
        return false;
    }
    std::string line;
    if (!std::getline(in, line) || Trimmed(line) != Trimmed(kLogHeader)) {
        error = file.string() + " is no log of runs (its first line is not \"" + Trimmed(kLogHeader) + "\")";
        return false;
    }
    while (std::getline(in, line)) {
        const std::vector<std::string> f = Fields(line);
        // "2026/12/01, 10:14:05,SERIAL,PRE,CP,RESULT"; a line without a date is no run's.
        if (f.size() < 6 || f[0].size() != 10 || f[1].size() != 8) continue;
        LogRun run;
        run.when = f[0].substr(0, 4) + "-" + f[0].substr(5, 2) + "-" + f[0].substr(8, 2) + "T" + f[1];
        run.serial = f[2];
        run.versionBefore = f[3];
        run.result = f[5];
        run.source = file.filename().string();
        out.push_back(std::move(run));
    }
    return true;
}

bool ReadFleet(const std::filesystem::path& file, std::vector<std::string>& out, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the fleet list " + file.string();
        return false;
    }
    std::string line;
    for (bool first = true; std::getline(in, line); first = false) {
        std::string serial = Fields(line).front();
        if (serial.size() >= 2 && serial.front() == '"' && serial.back() == '"') serial = serial.substr(1, serial.size() - 2);
        if (serial.empty() || (first && Lower(serial).rfind("serial", 0) == 0)) continue;
        out.push_back(serial);
    }
    return true;
}

}  // namespace kestro::cli
