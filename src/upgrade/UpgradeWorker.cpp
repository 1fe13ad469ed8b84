#include <cstdio>

#include "log/UpgradeLog.h"

#include "upgrade/CheckRun.h"
#include "upgrade/RadioPolicy.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

void UpgradeWorker(CUpgradeHub& hub) {
    if (hub.CheckOnly()) {
        CheckRun(hub).Execute();
    } else {
        UpgradeRun(hub).Execute();
    }
    hub.NoteWorkerFinished();
}

UpgradeRun::UpgradeRun(CUpgradeHub& hub)
    : m_hub(hub), m_reporter(hub.Reporter()), m_tx(hub.m_request), m_link(hub.m_link) {}

void UpgradeRun::Execute() {
    // The start gate: OnUpgrade signals the reply event once the worker exists.
    m_hub.Clock().Wait(*m_link.m_hReplyEvent);
    m_link.m_hReplyEvent->Reset();

    // Before the first request: a run that could not write its recovery record before the
    // erase ends here, before the radio has entered programming.
    if (std::string error; !m_hub.RecordsWritable(error)) {
        RecordNotWritten(error);
        return;
    }

    m_recoveryRun = m_hub.m_recoveryMode.load() == 1;
    if (m_recoveryRun) {
        // Nothing is read from the radio: the log line takes the serial number from the record
        // that armed the run, and leaves the version and codeplug columns empty.
        m_armedBy = m_hub.ArmedRecord();
        m_runRecord = LogField(m_armedBy ? m_armedBy->serial : std::string{}) + ",,,";
        Programming();
        return;
    }
    if (Detection() && PreChecks() && Codeplug() && ResetMode()) Programming();
}

bool UpgradeRun::Detection() {
    const TxResult r = m_tx.Run(REQ_DETECT);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        m_hub.NoteNoAnswer();
        return Fail(texts::kCommError1, TitleKind::Kit, Icon::Error, End::StatusReset);
    }

    // Read at once: every received byte clears it.
    const policy::DetectionStatus status = policy::ReadDetectionStatus(m_link.m_deviceStatus.load());
    if (status == policy::DetectionStatus::Disabled) {
        Box(texts::kReadError12, TitleKind::Application, Icon::Error);
        return Fail(texts::kCommError1, TitleKind::Kit, Icon::Error, End::StatusReset);
    }
    if (status == policy::DetectionStatus::OtherModelType) {
        Box(texts::kModelMismatch, TitleKind::Kit, Icon::Error);
        m_reporter.ShowProgress(false);
        return Fail(nullptr, TitleKind::Kit, Icon::Error, End::NoReset);
    }
    return true;
}

bool UpgradeRun::Fail(const char* message, TitleKind title, Icon icon, End end) {
    if (message != nullptr) Box(message, title, icon);
    m_hub.NoteOutcome(RunOutcome::Failed, m_lastBox);
    EndRun(end);
    return false;
}

bool UpgradeRun::Interrupt(End end, bool leavesRadioNeedingRecovery) {
    if (leavesRadioNeedingRecovery) m_hub.RadioLeftNeedingRecovery();
    const char* message =
        leavesRadioNeedingRecovery ? texts::kInterruptedNeedsRecovery : texts::kInterrupted;
    Box(message, TitleKind::Kit, Icon::Warning);
    m_hub.NoteOutcome(RunOutcome::Interrupted, message);
    EndRun(end);
    return false;
}

void UpgradeRun::Box(const char* message, TitleKind title, Icon icon) {
    m_lastBox = message;
    m_reporter.MessageBox(message, title, icon);
}

void UpgradeRun::LogLine(const std::string& result) {
    std::string failure;
    if (!m_hub.Log().AppendLogLine(m_runRecord, result, &failure)) {
        // The line is lost, but the run's outcome and the message it is recorded with stay what
        // they were: this box is not the run's last word.
        m_reporter.MessageBoxWithDetail(texts::kLogOpenFailed, TitleKind::Application,
                                        Icon::Warning, failure);
    }
}

void UpgradeRun::EndRun(End end) {
    if (end == End::StatusReset) m_reporter.SetStatusText(texts::kStartTheUpgrade);
    m_link.m_replyCode.store(0);
    m_hub.LeaveEraseSpan();
    m_hub.m_upgradeRunning.store(0);
    m_hub.Engine().ClosePort();
    m_link.m_hReplyEvent->Reset();
}

std::string FormatPercent(int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%2d%%", percent);
    return text;
}

int ApplicationPercent(int position, int appStartRow, int rowCount) {
    const int last = rowCount - appStartRow - 1;
    if (last <= 0) return 100;  // a single application row: it is the whole stretch
    return (position - appStartRow) * 100 / last;
}

}  // namespace kestro
