#pragma once
// The history of runs: one row per run of the command line and the station, kept across PCs'
// restarts, read back by `kestro-upgrade history`. This is the interface the run side sees; the
// storage behind it (SqliteHistory) is the back end's business, and nothing here names it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// How a run ended, as the history keeps it. Each kind has a stable name (RunKindName) that the
// database and JSON carry; a name, once given, is never changed or reused.
enum class RunKind {
    Upgraded,                 // programmed; no confirmation was asked for
    Confirmed,                // the same radio answered with the kit's version after its restart
    NotConfirmedOldVersion,   // the radio answered after its restart with another version
    NotConfirmedNoAnswer,     // the radio did not answer after its restart
    NotConfirmedOtherSerial,  // another serial number answered after the restart
    StoppedBeforeErase,       // stopped (Ctrl-C, a stop button) before the erase: radio untouched
    NeedsRecovery,            // ended between the erase and the boot swap: the radio has no firmware
    FailedBeforeErase,        // a check or a request failed before the erase: radio untouched
    FailedAfterProgramming,   // the boot swap was acknowledged, the end of programming was not
    NotStarted,               // no request reached a radio (port not opened, firmware unusable)
};

// "upgraded", "not_confirmed_old_version", ...
std::string_view RunKindName(RunKind kind);
std::optional<RunKind> RunKindFromName(std::string_view name);

enum class CodeplugRestored { Unknown, No, Yes };
std::string_view CodeplugRestoredName(CodeplugRestored value);  // "unknown", "no", "yes"
std::optional<CodeplugRestored> CodeplugRestoredFromName(std::string_view name);

inline constexpr const char* kFrontEndCommandLine = "command line";
inline constexpr const char* kFrontEndStation = "station";

using UtcSeconds = std::chrono::sys_seconds;

struct HistoryRun {
    std::string runId;               // NewRunId(): a UUID v4, the row's key everywhere
    UtcSeconds started{};            // UTC, whole seconds; durationMs has the run's exact length
    UtcSeconds ended{};
    std::string frontEnd;            // kFrontEndCommandLine or kFrontEndStation
    std::string pcName;
    std::string kitVersion;          // KESTRO_VERSION_TEXT
    std::string firmwareFile;        // the file's name as the run was given it
    std::string firmwareSha256;      // 64 lowercase hex digits; "" where the file was not read
    std::string port;                // "/dev/ttyUSB0", "COM33"
    std::string cable;               // the cable's stable identity; "" where it has none
    std::string serial;              // the radio's serial number, its bytes exactly as read
    std::string model;
    std::string versionBefore;
    CodeplugRestored codeplugRestored = CodeplugRestored::Unknown;
    RunKind kind = RunKind::NotStarted;
    std::string message;             // the text that ended the run, as the user saw it
    std::string versionAfter;        // "" where it was not read after the restart
    std::int64_t rowsWritten = 0;
    std::int64_t durationMs = 0;

    bool operator==(const HistoryRun&) const = default;
};

// Which runs to read. Runs come newest first (by start, then by the order they were added).
struct HistoryFilter {
    std::optional<std::string> serial{};  // the serial's bytes, exactly
    std::optional<UtcSeconds> since{};    // runs that started at this instant or later
    std::size_t limit = 0;              // 0: every run
};

// Ok, or why not: a history never throws through its caller.
struct HistoryResult {
    std::string error;  // "" when it worked
    bool Ok() const { return error.empty(); }
};

struct HistoryRuns {
    std::vector<HistoryRun> runs;
    std::string error;  // "" when it worked; `runs` is then complete
    bool Ok() const { return error.empty(); }
};

class IRunHistory {
public:
    virtual ~IRunHistory() = default;
    // Adds one run durably: on the disk when this returns Ok.
    virtual HistoryResult Add(const HistoryRun& run) = 0;
    virtual HistoryRuns Runs(const HistoryFilter& filter) = 0;
    // The newest run of one radio: no run where the history holds none.
    HistoryRuns Latest(const std::string& serial) {
        HistoryFilter filter;
        filter.serial = serial;
        filter.limit = 1;
        return Runs(filter);
    }
};

// A new run id: a random (version 4) UUID in its 36-character text form, from std::random_device.
std::string NewRunId();

// "2026-12-01T09:05:00Z": fixed width, so the text sorts as the instants do.
std::string FormatUtc(UtcSeconds instant);
// Takes FormatUtc's form, and a date alone ("2026-12-01", its midnight UTC); a space may stand
// for the T and the Z may be missing. nullopt for anything else, or a day that does not exist.
std::optional<UtcSeconds> ParseUtc(std::string_view text);

}  // namespace kestro
