#include <algorithm>

#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

enum class ProgrammingStepKind { Request, ApplicationRows, BootRows, BootSwap };

// Where the recovery record is written and removed.
enum class RecordMoment {
    None,
    WrittenBefore,  // on the disk before the step's first byte goes out; not written, not sent
    RemovedAfter,   // removed once the step is acknowledged
};

struct ProgrammingStep {
    const char* status;   // the status line while the step runs
    ProgrammingStepKind kind;
    RequestId request;    // the request of a Request step
    const char* failure;  // the message box when the step fails
    // From this step on, up to the boot swap's acknowledgement, a radio whose run ends has no
    // complete firmware: a failure or a stop arms recovery mode.
    bool radioErased;
    RecordMoment record;
};

namespace {
constexpr int kBootRows = 256;
constexpr std::uint8_t kBootRowHigh = 0x01;  // boot rows go out as rows 0x0100 to 0x01FF
constexpr Millis kBeforeBootRows{20};

// From the update start to the end of programming, in order.
constexpr ProgrammingStep kProgrammingSteps[] = {
    {texts::kUpdatingFirmware, ProgrammingStepKind::Request, REQ_UPDATE_START, texts::kWriteError1, false, RecordMoment::None},
    {texts::kSelfProgram, ProgrammingStepKind::Request, REQ_SELF_PROGRAM, texts::kWriteError2, false, RecordMoment::None},
    {texts::kEraseFlash, ProgrammingStepKind::Request, REQ_ERASE_FLASH, texts::kWriteError3, true, RecordMoment::WrittenBefore},
    {texts::kUpdatingDontPowerOff, ProgrammingStepKind::ApplicationRows, REQ_WRITE_RECORD, texts::kWriteError4, true, RecordMoment::None},
    {texts::kBootErase, ProgrammingStepKind::Request, REQ_BOOT_ERASE, texts::kWriteError5, true, RecordMoment::None},
    {texts::kBootWriting, ProgrammingStepKind::BootRows, REQ_WRITE_RECORD, texts::kWriteError6, true, RecordMoment::None},
    {texts::kBootSwap, ProgrammingStepKind::BootSwap, REQ_BOOT_SWAP, texts::kWriteError7, true, RecordMoment::RemovedAfter},
    {texts::kCompleted, ProgrammingStepKind::Request, REQ_UPDATE_END, texts::kWriteError8, false, RecordMoment::None},
};

}  // namespace

bool UpgradeRun::ResetMode() {
    m_reporter.SetStatusText(texts::kPreparingUpdate);
    const TxResult r = m_tx.Run(REQ_RESET_MODE);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) return Fail(texts::kErrorResetMode, TitleKind::Kit, Icon::Error, End::StatusReset);
    return true;
}

void UpgradeRun::Programming() {
    m_reporter.SetStatusText(texts::kUpdatingFirmware);
    m_reporter.ShowProgress(true);
    m_reporter.SetProgressText(texts::kFirmwareWriting);
    m_reporter.SetProgress(0);

    for (const ProgrammingStep& step : kProgrammingSteps) {
        if (!RunStep(step)) return;
    }

    LogLine(texts::kLogOk);
    m_reporter.ShowProgress(false);
    m_hub.SetRecoveryMode(false);
    m_hub.NoteOutcome(RunOutcome::Completed, texts::kCompleted);
    if (m_hub.ConfirmWait() > Millis{0}) Confirm();
    EndRun(End::NoReset);
}

bool UpgradeRun::RunStep(const ProgrammingStep& step) {
    // The first step's status went out with the progress bar.
    if (step.request != REQ_UPDATE_START) m_reporter.SetStatusText(step.status);
    if (step.record == RecordMoment::WrittenBefore) {
        // A stop that spares runs past this point came first: this run ends before the erase.
        if (!m_hub.EnterEraseSpan()) return Interrupt(End::StatusReset, false);
        if (!WriteRecoveryRecord()) return false;
    }

    TxResult r;
    switch (step.kind) {
        case ProgrammingStepKind::Request: r = m_tx.Run(step.request); break;
        case ProgrammingStepKind::ApplicationRows: return WriteApplicationRows(step);
        case ProgrammingStepKind::BootRows:
            m_reporter.SetProgress(0);  // the label keeps its last text until the first boot row
            if (m_tx.Pause(kBeforeBootRows)) return Interrupt(End::StatusReset, step.radioErased);
            return WriteBootRows(step);
        case ProgrammingStepKind::BootSwap: r = m_tx.SendBootSwap(m_hub.m_bootImage); break;
    }
    if (r.cancelled) return Interrupt(End::StatusReset, step.radioErased);
    if (!r.ok) return StepFailed(step, r.nak);
    if (step.record == RecordMoment::RemovedAfter) m_hub.ForgetRecoveryRecords();  // the new firmware is in place
    return true;
}

bool UpgradeRun::StepFailed(const ProgrammingStep& step, bool nak) {
    if (step.request == REQ_UPDATE_START && nak) {
        const bool answeredRecoveryRun = m_recoveryRun;
        if (answeredRecoveryRun) {
            // The radio answered and refused: it is not one that an interrupted run left
            // waiting in programming, so the next run detects and checks it as usual.
            m_hub.ForgetRecoveryRecords();
            m_hub.SetRecoveryMode(false);
        }
        Fail(texts::kWriteError10, TitleKind::Kit, Icon::Error, End::StatusReset);
        if (answeredRecoveryRun) m_reporter.Guide(Guidance::NoRecoveryNeeded, texts::kGuideNoRecoveryNeeded);
        return false;
    }
    if (step.radioErased) m_hub.RadioLeftNeedingRecovery();
    Fail(step.failure, TitleKind::Kit, Icon::Error, End::StatusReset);
    if (step.radioErased) {
        m_reporter.Guide(Guidance::RadioMayHaveNoFirmware, texts::kGuideRadioMayHaveNoFirmware);
    }
    return false;
}

bool UpgradeRun::WriteRecoveryRecord() {
    // A recovery run cannot read the serial number: the radio answers programming requests only.
    const std::string serial =
        m_recoveryRun ? (m_armedBy ? m_armedBy->serial : std::string{}) : m_link.DeviceSerialNumber();
    std::string error;
    if (m_hub.MarkRadioNeedsRecovery(serial, error)) return true;
    return RecordNotWritten(error);
}

bool UpgradeRun::RecordNotWritten(const std::string& error) {
    m_lastBox = texts::kRecordNotWritten;
    m_reporter.MessageBoxWithDetail(texts::kRecordNotWritten, TitleKind::Kit, Icon::Error, error);
    m_hub.NoteOutcome(RunOutcome::Failed, m_lastBox);
    EndRun(End::StatusReset);
    return false;
}

bool UpgradeRun::WriteApplicationRows(const ProgrammingStep& step) {
    const CCommFile& image = m_hub.CommFile();
    for (int p = image.m_appStartRow; p < image.m_rowCount; ++p) {
        const TxResult r = m_tx.WriteRecord(image.RowAt(p));
        if (r.cancelled) return Interrupt(End::StatusReset, step.radioErased);
        if (!r.ok) return StepFailed(step, r.nak);
        const int percent = ApplicationPercent(p, image.m_appStartRow, image.m_rowCount);
        m_reporter.SetProgressText(texts::kFirmwareWritingPrefix + FormatPercent(percent));
        m_reporter.SetProgress(percent);
    }
    return true;
}

bool UpgradeRun::WriteBootRows(const ProgrammingStep& step) {
    const CCommFile& image = m_hub.CommFile();
    for (int k = 0; k < kBootRows; ++k) {
        // Every table has its 256 boot rows; a table without them never loads.
        CCommFile::Row row = image.RowAt(std::min(k, image.m_rowCount - 1));
        row[0] = kBootRowHigh;
        std::copy(row.begin() + 2, row.end(), m_hub.m_bootImage.begin() + 16 * k);
        const TxResult r = m_tx.WriteRecord(row);
        if (r.cancelled) return Interrupt(End::StatusReset, step.radioErased);
        if (!r.ok) return StepFailed(step, r.nak);
        const int percent = 100 * k / 255;
        m_reporter.SetProgressText(texts::kBootWritingPrefix + FormatPercent(percent));
        m_reporter.SetProgress(percent);
    }
    return true;
}

}  // namespace kestro
