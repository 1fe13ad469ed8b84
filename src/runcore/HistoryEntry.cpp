#include "runcore/detail/HistoryEntry.h"

#include "history/Sha256.h"
#include "platform/Host.h"

namespace kestro {

RunKind HistoryKind(RunEndKind kind) {
    switch (kind) {
        case RunEndKind::Upgraded: return RunKind::Upgraded;
        case RunEndKind::Confirmed: return RunKind::Confirmed;
        case RunEndKind::NotConfirmedOldVersion: return RunKind::NotConfirmedOldVersion;
        case RunEndKind::NotConfirmedNoAnswer: return RunKind::NotConfirmedNoAnswer;
        case RunEndKind::NotConfirmedOtherSerial: return RunKind::NotConfirmedOtherSerial;
        case RunEndKind::Stopped: return RunKind::StoppedBeforeErase;
        case RunEndKind::NeedsRecovery:
        case RunEndKind::StoppedNeedsRecovery: return RunKind::NeedsRecovery;
        case RunEndKind::Failed:
        case RunEndKind::NoAnswer: return RunKind::FailedBeforeErase;
        case RunEndKind::Checked:  // a check changes nothing and leaves no row
        case RunEndKind::NotStarted: break;
    }
    return RunKind::NotStarted;
}

HistoryRun HistoryEntry(const RadioSummary& summary, const HistoryContext& context) {
    using namespace std::chrono;
    HistoryRun run;
    run.runId = NewRunId();
    run.started = floor<seconds>(context.started);
    run.durationMs = static_cast<std::int64_t>(summary.seconds * 1000.0);
    run.ended = floor<seconds>(context.started + milliseconds(run.durationMs));
    run.frontEnd = context.frontEnd;
    run.pcName = ComputerName();
    run.kitVersion = KESTRO_VERSION_TEXT;
    run.firmwareFile = context.firmware.filename().string();
    run.firmwareSha256 = Sha256OfFile(context.firmware).value_or(std::string{});
    run.port = summary.port;
    run.cable = context.cable;
    run.serial = summary.serial;
    run.model = context.model;
    run.versionBefore = summary.firmwareBefore;
    run.codeplugRestored = summary.codeplug == "Yes" ? CodeplugRestored::Yes
                           : summary.codeplug == "No" ? CodeplugRestored::No
                                                      : CodeplugRestored::Unknown;
    run.kind = HistoryKind(summary.end.kind);
    run.message = summary.end.message;
    run.versionAfter = summary.end.versionAfter;
    run.rowsWritten = context.rowsWritten;
    return run;
}

}  // namespace kestro
