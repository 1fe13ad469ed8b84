#include "runcore/EarlierRun.h"

#include <filesystem>
#include <system_error>

#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"

namespace kestro {

namespace {

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line.empty() ? "no message" : line;
}

// `when`: "2026-12-01", or with the bench and time for a run of the shared history.
std::string RunText(const HistoryRun& run, const std::string& when) {
    switch (run.kind) {
        case RunKind::Upgraded: return "upgraded " + when;
        case RunKind::Confirmed: return "upgraded " + when + ", confirmed " + VersionText(run.versionAfter);
        case RunKind::NotConfirmedOldVersion:
            return "upgraded " + when + ", but still reported " + VersionText(run.versionAfter) + " after it";
        case RunKind::NotConfirmedNoAnswer:
        case RunKind::NotConfirmedOtherSerial: return "upgraded " + when + ", not confirmed";
        case RunKind::StoppedBeforeErase: return "stopped before the erase " + when;
        case RunKind::NeedsRecovery: return "left needing recovery " + when;
        case RunKind::FailedBeforeErase: return "failed " + when + ": " + FirstLine(run.message);
        case RunKind::FailedAfterProgramming: return "failed after programming " + when;
        case RunKind::NotStarted: return "not started " + when;
    }
    return when;
}

}  // namespace

std::string VersionText(const std::string& reported) {
    return reported.size() == 5 ? reported.substr(0, 3) + "." + reported.substr(3) : reported;
}

EarlierRuns LatestEarlierRuns(const RunSettings& settings, const std::string& serial) {
    EarlierRuns found;
    if (serial.empty()) return found;
    const std::filesystem::path file = settings.history.empty() ? DefaultHistoryPath() : settings.history;
    std::error_code missing;
    if (!settings.historyFrontEnd.empty() && std::filesystem::exists(file, missing)) {
        SqliteHistory history(file);
        const HistoryRuns runs = history.Latest(serial);
        if (!runs.Ok()) found.error = runs.error;
        if (!runs.runs.empty()) found.here = RunText(runs.runs.front(), FormatUtc(runs.runs.front().started).substr(0, 10));
    }
    if (!settings.historyServer.empty()) {
        const HistoryRuns runs = LatestServerRun(settings.historyServer, serial);
        if (!runs.Ok()) found.error += (found.error.empty() ? "" : "; ") + runs.error;
        if (!runs.runs.empty()) {
            const HistoryRun& run = runs.runs.front();
            const std::string at = FormatUtc(run.started);  // 2026-12-01T10:14:00Z
            found.server = RunText(run, "at " + run.pcName + " " + at.substr(0, 10) + " " + at.substr(11, 5) + " UTC");
        }
    }
    return found;
}

}  // namespace kestro
