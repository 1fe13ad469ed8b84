// The report subcommand: its options, reading each source once, and writing the files.

#include "cli/ReportCommand.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/report/ReportHtml.h"
#include "cli/report/ReportInputs.h"
#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"

namespace kestro::cli {

namespace {

bool WriteFile(const std::string& path, const std::string& text, std::ostream& err) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (file) return true;
    err << "kestro-upgrade: cannot write " << path << "\n";
    return false;
}

}  // namespace

int RunReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"The campaign report: each radio's latest state, totals and charts, from history "
                 "servers, PCs' history files and CSV logs of runs."};
    app.name("kestro-upgrade report");
    std::vector<std::string> sources;
    std::string fleetFile;
    std::string htmlFile;
    std::string csvFile;
    app.add_option("--from,sources", sources,
                   "a history server (libpq connection string), a history file (.sqlite) or a CSV "
                   "log (.csv); repeat it, or name several")
        ->type_name("SOURCE");
    app.add_option("--fleet", fleetFile, "the campaign's radios, one serial a line: a radio no source "
                                         "has seen is marked \"not yet seen\"")
        ->type_name("SERIALS.csv");
    app.add_option("--html", htmlFile, "the report page to write")->required()->type_name("OUT.html");
    app.add_option("--csv", csvFile, "also each radio's latest state as CSV")->type_name("OUT.csv");
    app.footer("Exit status: 0 written, 1 a source cannot be read or a file written, 2 usage error");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? kExitCompleted : kExitUsage;
    }
    if (sources.empty()) {
        err << "kestro-upgrade report: name at least one source (--from)\n";
        return kExitUsage;
    }

    std::vector<HistoryRun> runs;
    std::vector<LogRun> logRuns;
    ReportHeading heading;
    heading.generated = FormatUtc(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    for (const std::string& source : sources) {
        std::string error;
        HistoryRuns read;
        switch (KindOfSource(source)) {
            case SourceKind::CsvLog:
                if (!ReadLogRuns(source, logRuns, error)) read.error = error;
                heading.sources.push_back(source);
                break;
            case SourceKind::HistoryFile: {
                SqliteHistory history(source);
                read = history.Runs({});
                heading.sources.push_back(source);
                break;
            }
            case SourceKind::Server: {
                // A connection string has a keyword=value or a scheme; anything else was meant as
                // a file.
                if (source.find('=') == std::string::npos && source.find("://") == std::string::npos) {
                    err << "kestro-upgrade: no such history file: " << source << "\n";
                    return kExitRadioFailed;
                }
                ServerHistory server(source);
                read = server.Runs({});
                heading.sources.push_back("server " + server.Shown());
                break;
            }
        }
        if (!read.Ok()) {
            err << "kestro-upgrade: " << read.error << "\n";
            return kExitRadioFailed;
        }
        runs.insert(runs.end(), read.runs.begin(), read.runs.end());
    }
    std::optional<std::vector<std::string>> fleet;
    if (!fleetFile.empty()) {
        fleet.emplace();
        if (std::string error; !ReadFleet(fleetFile, *fleet, error)) {
            err << "kestro-upgrade: " << error << "\n";
            return kExitRadioFailed;
        }
    }
    const CampaignReport report = BuildReport(runs, logRuns, fleet);
    if (!WriteFile(htmlFile, ReportHtml(report, heading), err)) return kExitRadioFailed;
    if (!csvFile.empty() && !WriteFile(csvFile, ReportCsv(report), err)) return kExitRadioFailed;
    out << report.radios.size() << " radios, " << report.historyRuns + report.logRuns << " runs: " << htmlFile << "\n";
    return kExitCompleted;
}

}  // namespace kestro::cli
