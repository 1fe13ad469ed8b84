#pragma once
// The campaign report's content: every run it was given (history runs once each by run id,
// lines of CSV logs as they are), each radio's latest state, the totals, and the runs per day
// and bench. Built from values only; reading the sources and writing HTML or CSV are elsewhere.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "history/RunHistory.h"

namespace kestro::cli {

enum class RadioState { Confirmed, UpgradedNotConfirmed, Failed, NeedsRecovery, NotYetSeen };
inline constexpr RadioState kRadioStates[] = {RadioState::Confirmed, RadioState::UpgradedNotConfirmed,
                                              RadioState::Failed, RadioState::NeedsRecovery,
                                              RadioState::NotYetSeen};
// "confirmed", "upgraded, not confirmed", "failed", "needs recovery", "not yet seen"
const char* RadioStateName(RadioState state);

// A line of a CSV log of runs: all such a log gives is its date and time (local, no zone), the
// serial, the version before and the result ("OK" or an error).
struct LogRun {
    std::string when;  // "2026-12-01T10:14:05": the log's local time, in the history's order
    std::string serial;
    std::string versionBefore;
    std::string result;
    std::string source;  // the log file's name, standing for the bench
};

struct RadioLine {
    std::string serial;  // as shown
    RadioState state = RadioState::NotYetSeen;
    std::string version;  // confirmed: the version it runs; otherwise the version it had
    std::string bench;    // where its latest run was
    std::string when;     // when (UTC for history runs; a log's local time for log lines)
    std::size_t runs = 0;
    bool fromLogOnly = false;  // only CSV logs saw it: no confirmation known
};

struct CampaignReport {
    std::vector<RadioLine> radios;  // by serial; a fleet list's radios never seen among them
    std::map<RadioState, std::size_t> totals;
    // day ("2026-12-01") -> bench -> runs
    std::map<std::string, std::map<std::string, std::size_t>> runsPerDay;
    std::size_t historyRuns = 0;
    std::size_t logRuns = 0;
    std::size_t duplicateRuns = 0;  // history runs given more than once (by run id), counted once
    bool fleetGiven = false;
    std::size_t outsideFleet = 0;  // radios seen that the fleet list does not name
};

// `fleet`: the serials the campaign is about (as shown); none: every radio seen.
CampaignReport BuildReport(const std::vector<HistoryRun>& runs, const std::vector<LogRun>& logRuns,
                           const std::optional<std::vector<std::string>>& fleet);

}  // namespace kestro::cli
