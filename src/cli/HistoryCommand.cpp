// The history subcommand: its options, the query, and each run written as a text line, a JSON
// object or a CSV record.

#include "cli/HistoryCommand.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"
#include "log/UpgradeLog.h"

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

std::string Shown(const std::string& serial) { return ShownBytes(serial); }

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

// Every column of a run, by its name in JSON and in the CSV header; numbers stay numbers.
std::vector<std::pair<const char*, nlohmann::json>> Fields(const HistoryRun& run) {
    return {
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
}

std::string JsonLine(const HistoryRun& run) {
    nlohmann::json object = nlohmann::json::object();
    for (auto& [name, value] : Fields(run)) object[name] = std::move(value);
    // A radio's text need not be UTF-8; the line stays valid JSON whatever it holds.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CsvHeader() {
    std::string line;
    for (const auto& field : Fields(HistoryRun{})) line += (line.empty() ? "" : ",") + std::string(field.first);
    return line;
}

// Each field as the CSV log writes a device text: one line per record, no formula.
std::string CsvLine(const HistoryRun& run) {
    std::string line;
    for (const auto& [name, value] : Fields(run)) {
        line += (line.empty() ? "" : ",") +
                LogField(value.is_string() ? value.get<std::string>() : value.dump());
    }
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
    std::string server;
    std::string initServer;
    auto* serverOption = app.add_option("--server", server,
                                        "read the runs of this PostgreSQL history server instead")
                             ->type_name("CONNINFO");
    auto* initOption = app.add_option("--init-server", initServer,
                                      "create (or bring up to date) the history schema and its roles "
                                      "kestro_bench and kestro_report on this server, then end")
                           ->type_name("CONNINFO");
    initOption->excludes(serverOption);
    jsonFlag->excludes(csvFlag);
    app.footer("The history file: " + file.string() +
               "\nExit status: 0 listed (perhaps no run), 1 the history cannot be read, 2 usage error");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? kExitCompleted : kExitUsage;
    }
    const Format format = json ? Format::Json : csv ? Format::Csv : Format::Text;
    if (!initServer.empty()) {
        ServerHistory history(initServer);
        if (const HistoryResult done = history.InitSchema(); !done.Ok()) {
            err << "kestro-upgrade: " << done.error << "\n";
            return kExitRadioFailed;
        }
        out << "The history server " << history.Shown() << " has the kit's schema.\n";
        return kExitCompleted;
    }
    HistoryFilter filter;
    if (!serial.empty()) filter.serial = SerialBytes(serial);
    if (!since.empty()) filter.since = ParseUtc(since);

    std::vector<HistoryRun> runs;
    std::error_code ec;
    // No file yet is no run yet; the file is made by the first run, not by a reader.
    if (!server.empty() || std::filesystem::exists(file, ec)) {
        std::unique_ptr<IRunHistory> history;
        if (server.empty()) {
            history = std::make_unique<SqliteHistory>(file);
        } else {
            history = std::make_unique<ServerHistory>(server);
        }
        HistoryRuns read = history->Runs(filter);
        if (!read.Ok()) {
            err << "kestro-upgrade: " << read.error << "\n";
            return kExitRadioFailed;
        }
        runs = std::move(read.runs);
    }
    if (format == Format::Csv) out << CsvHeader() << "\n";
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
