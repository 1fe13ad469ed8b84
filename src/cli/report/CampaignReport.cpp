// Each radio's latest state from the runs of several sources, the totals and the runs per day
// and bench.

#include "cli/report/CampaignReport.h"

#include <set>

#include "log/UpgradeLog.h"

namespace kestro::cli {

namespace {

std::optional<RadioState> StateOf(RunKind kind) {
    switch (kind) {
        case RunKind::Confirmed: return RadioState::Confirmed;
        case RunKind::Upgraded:
        case RunKind::NotConfirmedOldVersion:
        case RunKind::NotConfirmedNoAnswer:
        case RunKind::NotConfirmedOtherSerial: return RadioState::UpgradedNotConfirmed;
        case RunKind::NeedsRecovery: return RadioState::NeedsRecovery;
        case RunKind::StoppedBeforeErase:
        case RunKind::FailedBeforeErase:
        case RunKind::FailedAfterProgramming: return RadioState::Failed;
        case RunKind::NotStarted: break;
    }
    return std::nullopt;  // no radio was reached
}

struct Seen {
    std::string when;
    RadioLine line;
};

void Note(std::map<std::string, Seen>& radios, const std::string& serial, const std::string& when,
          RadioLine line) {
    Seen& seen = radios[serial];
    const std::size_t runs = seen.line.runs + 1;
    const bool fresh = seen.line.runs == 0;
    // A history run outranks any log line: a log knows no confirmation and no time zone, and it
    // names again the runs a history holds. Among runs of one kind, the latest decides; of two
    // at the same second, the one given first.
    const bool replaces = fresh || (seen.line.fromLogOnly && !line.fromLogOnly) ||
                          (seen.line.fromLogOnly == line.fromLogOnly && when > seen.when);
    if (replaces) seen = {when, std::move(line)};
    seen.line.runs = runs;
}

}  // namespace

const char* RadioStateName(RadioState state) {
    switch (state) {
        case RadioState::Confirmed: return "confirmed";
        case RadioState::UpgradedNotConfirmed: return "upgraded, not confirmed";
        case RadioState::Failed: return "failed";
        case RadioState::NeedsRecovery: return "needs recovery";
        case RadioState::NotYetSeen: break;
    }
    return "not yet seen";
}

CampaignReport BuildReport(const std::vector<HistoryRun>& runs, const std::vector<LogRun>& logRuns,
                           const std::optional<std::vector<std::string>>& fleet) {
    CampaignReport report;
    std::map<std::string, Seen> radios;
    std::set<std::string> ids;
    for (const HistoryRun& run : runs) {
        if (!ids.insert(run.runId).second) {
            ++report.duplicateRuns;
            continue;
        }
        ++report.historyRuns;
        const std::string when = FormatUtc(run.started);
        ++report.runsPerDay[when.substr(0, 10)][run.pcName.empty() ? "(unnamed PC)" : run.pcName];
        const auto state = StateOf(run.kind);
        if (!state || run.serial.empty()) continue;
        RadioLine line;
        line.serial = ShownBytes(run.serial);
        line.state = *state;
        line.version = *state == RadioState::Confirmed ? run.versionAfter : run.versionBefore;
        line.bench = run.pcName;
        line.when = when;
        const std::string serial = line.serial;
        Note(radios, serial, when.substr(0, 19), std::move(line));
    }
    for (const LogRun& run : logRuns) {
        ++report.logRuns;
        ++report.runsPerDay[run.when.substr(0, 10)][run.source];
        if (run.serial.empty()) continue;
        RadioLine line;
        line.serial = run.serial;
        // A log says OK at the end of programming: it knows nothing of a confirmation.
        line.state = run.result == "OK" ? RadioState::UpgradedNotConfirmed : RadioState::Failed;
        line.version = run.versionBefore;
        line.bench = run.source;
        line.when = run.when + " (local)";
        line.fromLogOnly = true;
        Note(radios, run.serial, run.when, std::move(line));
    }
    if (fleet) {
        report.fleetGiven = true;
        const std::set<std::string> named(fleet->begin(), fleet->end());
        for (const auto& [serial, seen] : radios) report.outsideFleet += named.count(serial) == 0 ? 1 : 0;
        for (const std::string& serial : named) {
            if (radios.count(serial) == 0) radios[serial].line.serial = serial;
        }
    }
    for (auto& [serial, seen] : radios) {
        ++report.totals[seen.line.state];
        report.radios.push_back(std::move(seen.line));
    }
    return report;
}

}  // namespace kestro::cli
