// The history subcommand: its options, the query, and each run written as a text line, a JSON
// object or a CSV record.

#include "cli/upgrade/HistoryCommand.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/upgrade/ExitCodes.h"
#include "history/SqliteHistory.h"
#include "log/UpgradeLog.h"
#include "upgrade/RecoveryRecords.h"

namespace kestro::cli {

namespace {

enum class Format { Text, Json, Csv };

// A serial as --serial takes it: as shown (ShownSerial), with \xHH for any byte.
std::string SerialBytes(const std::string& typed) {
    std::string bytes;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (typed[i] == '\\' && i + 3 < typed.size() && (typed[i + 1] == 'x' || typed[i + 1] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(typed[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(typed[i + 3]))) {
            bytes += static_cast<char>(std::stoi(typed.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += typed[i];
        }
    }
    return bytes;
}

std::string Shown(const std::string& serial) {
    RecoveryRecord record;
    record.serial = serial;
    return record.ShownSerial();
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return out;
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string TextLine(const HistoryRun& run) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(run.durationMs) / 1000.0);
    return FormatUtc(run.started) + "  " + OrDash(Shown(run.serial)) + "  " +
           std::string(RunKindName(run.kind)) + "  " + OrDash(run.versionBefore) + " -> " +
           OrDash(run.versionAfter) + "  " + seconds + "  " + OrDash(run.port) + "  " + run.frontEnd;
}

std::string JsonLine(const HistoryRun& run) {
    const nlohmann::json object = {
        {"run_id", run.runId},
        {"started", FormatUtc(run.started)},
        {"ended", FormatUtc(run.ended)},
        {"front_end", run.frontEnd},
        {"pc_name", run.pcName},
        {"kit_version", run.kitVersion},
        {"firmware_file", run.firmwareFile},
        {"firmware_sha256", run.firmwareSha256},
        {"port", run.port},
        {"cable", run.cable},
        {"serial", Shown(run.serial)},
        {"serial_hex", Hex(run.serial)},
        {"model", run.model},
        {"firmware_before", run.versionBefore},
        {"codeplug_restored", CodeplugRestoredName(run.codeplugRestored)},
        {"kind", RunKindName(run.kind)},
        {"message", run.message},
        {"firmware_after", run.versionAfter},
        {"rows_written", run.rowsWritten},
        {"duration_ms", run.durationMs},
    };
    // A radio's text need not be UTF-8; the line stays valid JSON whatever it holds.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

constexpr const char* kCsvHeader =
    "run_id,started,ended,front_end,pc_name,kit_version,firmware_file,firmware_sha256,port,cable,"
    "serial,serial_hex,model,firmware_before,codeplug_restored,kind,message,firmware_after,"
    "rows_written,duration_ms";

// Each field as the CSV log writes a device text: one line per record, no formula.
std::string CsvLine(const HistoryRun& run) {
    const std::vector<std::string> fields = {
        run.runId, FormatUtc(run.started), FormatUtc(run.ended), run.frontEnd, run.pcName,
        run.kitVersion, run.firmwareFile, run.firmwareSha256, run.port, run.cable, Shown(run.serial),
        Hex(run.serial), run.model, run.versionBefore,
        std::string(CodeplugRestoredName(run.codeplugRestored)), std::string(RunKindName(run.kind)),
        run.message, run.versionAfter, std::to_string(run.rowsWritten), std::to_string(run.durationMs)};
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : ",") + LogField(field);
    return line;
}

}  // namespace

int RunHistoryCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                      const std::filesystem::path& file) {
    CLI::App app{"Lists the runs in this PC's history of upgrades, newest first."};
    app.name("kestro-upgrade history");
    std::string serial;
    std::string since;
    bool json = false;
    bool csv = false;
    bool latest = false;
    app.add_option("--serial", serial, "only this radio's runs (as shown; \\xHH for any byte)");
    app.add_option("--since", since, "only runs started then or later: YYYY-MM-DD or "
                                     "YYYY-MM-DDTHH:MM:SSZ, in UTC")
        ->check([](const std::string& value) -> std::string {
            return ParseUtc(value) ? "" : "--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, not \"" + value + "\"";
        });
    auto* jsonFlag = app.add_flag("--json", json, "one JSON object per line");
    auto* csvFlag = app.add_flag("--csv", csv, "CSV with a header line");
    app.add_flag("--latest", latest, "one line per radio: its latest run");
    jsonFlag->excludes(csvFlag);
    app.footer("The history file: " + file.string() +
               "\nExit status: 0 listed (perhaps no run), 1 the history cannot be read, 2 usage error");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? kExitCompleted : kExitUsage;
    }
    const Format format = json ? Format::Json : csv ? Format::Csv : Format::Text;

    std::vector<HistoryRun> runs;
    std::error_code ec;
    // No file yet is no run yet; the file is made by the first run, not by a reader.
    if (std::filesystem::exists(file, ec)) {
        HistoryFilter filter;
        if (!serial.empty()) filter.serial = SerialBytes(serial);
        if (!since.empty()) filter.since = ParseUtc(since);
        SqliteHistory history(file);
        HistoryRuns read = history.Runs(filter);
        if (!read.Ok()) {
            err << "kestro-upgrade: " << read.error << "\n";
            return kExitRadioFailed;
        }
        runs = std::move(read.runs);
    }
    if (format == Format::Csv) out << kCsvHeader << "\n";
    std::set<std::string> seen;
    for (const HistoryRun& run : runs) {
        // Newest first, so a radio's first row is its latest run.
        if (latest && !seen.insert(run.serial).second) continue;
        out << (format == Format::Json  ? JsonLine(run)
                : format == Format::Csv ? CsvLine(run)
                                        : TextLine(run))
            << "\n";
    }
    out.flush();
    return kExitCompleted;
}

}  // namespace kestro::cli
