#include <algorithm>

#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

namespace {
constexpr int kBootRows = 256;
constexpr std::uint8_t kBootRowHigh = 0x01;  // boot rows go out as rows 0x0100 to 0x01FF
constexpr Millis kBeforeBootRows{20};
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

    TxResult r = m_tx.Run(REQ_UPDATE_START);
    if (r.cancelled) {
        Interrupt(End::StatusReset, false);
        return;
    }
    if (!r.ok) {
        if (r.nak && m_recoveryRun) {
            // The radio answered and refused: it is not one that an interrupted run left
            // waiting in programming, so the next run detects and checks it as usual.
            m_hub.SetRecoveryMode(false);
            m_hub.ClearRecoveryRecord();
        }
        Fail(r.nak ? texts::kWriteError10 : texts::kWriteError1, TitleKind::Kit, Icon::Error,
             End::StatusReset);
        return;
    }

    m_reporter.SetStatusText(texts::kSelfProgram);
    r = m_tx.Run(REQ_SELF_PROGRAM);
    if (r.cancelled) {
        Interrupt(End::StatusReset, false);
        return;
    }
    if (!r.ok) {
        Fail(texts::kWriteError2, TitleKind::Kit, Icon::Error, End::StatusReset);
        return;
    }

    // From the erase on, a failure leaves the radio without a complete firmware: the recovery
    // flag takes the next run straight back to the programming entry.
    m_reporter.SetStatusText(texts::kEraseFlash);
    // Written before the request goes out: should the kit die from here to the boot swap, the
    // next start still knows that this radio may have no working firmware.
    if (!m_hub.EnterEraseSpan()) {
        Interrupt(End::StatusReset, false);
        return;
    }
    m_hub.MarkRadioNeedsRecovery(m_recoveryRun ? std::string{} : m_link.DeviceSerialNumber());
    r = m_tx.Run(REQ_ERASE_FLASH);
    if (r.cancelled) {
        Interrupt(End::StatusReset, true);
        return;
    }
    if (!r.ok) {
        m_hub.SetRecoveryMode(true);
        Fail(texts::kWriteError3, TitleKind::Kit, Icon::Error, End::StatusReset);
        return;
    }

    m_reporter.SetStatusText(texts::kUpdatingDontPowerOff);
    if (!WriteApplicationRows()) return;

    m_reporter.SetStatusText(texts::kBootErase);
    r = m_tx.Run(REQ_BOOT_ERASE);
    if (r.cancelled) {
        Interrupt(End::StatusReset, true);
        return;
    }
    if (!r.ok) {
        m_hub.SetRecoveryMode(true);
        Fail(texts::kWriteError5, TitleKind::Kit, Icon::Error, End::StatusReset);
        return;
    }

    m_reporter.SetStatusText(texts::kBootWriting);
    m_reporter.SetProgress(0);  // the label keeps its last text until the first boot row
    if (m_tx.Pause(kBeforeBootRows)) {
        Interrupt(End::StatusReset, true);
        return;
    }
    if (!WriteBootRows()) return;

    m_reporter.SetStatusText(texts::kBootSwap);
    r = m_tx.SendBootSwap(m_hub.m_bootImage);
    if (r.cancelled) {
        Interrupt(End::StatusReset, true);
        return;
    }
    if (!r.ok) {
        m_hub.SetRecoveryMode(true);
        Fail(texts::kWriteError7, TitleKind::Kit, Icon::Error, End::StatusReset);
        return;
    }
    m_hub.ClearRecoveryRecord();  // the new firmware is in place

    m_reporter.SetStatusText(texts::kCompleted);
    r = m_tx.Run(REQ_UPDATE_END);
    if (r.cancelled) {
        Interrupt(End::StatusReset, false);
        return;
    }
    if (!r.ok) {
        Fail(texts::kWriteError8, TitleKind::Kit, Icon::Error, End::StatusReset);
        return;
    }

    LogLine(texts::kLogOk);
    m_reporter.ShowProgress(false);
    m_hub.SetRecoveryMode(false);
    m_hub.NoteOutcome(RunOutcome::Completed, texts::kCompleted);
    EndRun(End::NoReset);
}

bool UpgradeRun::WriteApplicationRows() {
    const CCommFile& image = m_hub.CommFile();
    for (int p = image.m_appStartRow; p < image.m_rowCount; ++p) {
        const TxResult r = m_tx.WriteRecord(image.RowAt(p));
        if (r.cancelled) return Interrupt(End::StatusReset, true);
        if (!r.ok) {
            m_hub.SetRecoveryMode(true);
            return Fail(texts::kWriteError4, TitleKind::Kit, Icon::Error, End::StatusReset);
        }
        const int percent = ApplicationPercent(p, image.m_appStartRow, image.m_rowCount);
        m_reporter.SetProgressText(texts::kFirmwareWritingPrefix + FormatPercent(percent));
        m_reporter.SetProgress(percent);
    }
    return true;
}

bool UpgradeRun::WriteBootRows() {
    const CCommFile& image = m_hub.CommFile();
    for (int k = 0; k < kBootRows; ++k) {
        // Every table has its 256 boot rows; a table without them never loads.
        CCommFile::Row row = image.RowAt(std::min(k, image.m_rowCount - 1));
        row[0] = kBootRowHigh;
        std::copy(row.begin() + 2, row.end(), m_hub.m_bootImage.begin() + 16 * k);
        const TxResult r = m_tx.WriteRecord(row);
        if (r.cancelled) return Interrupt(End::StatusReset, true);
        if (!r.ok) {
            m_hub.SetRecoveryMode(true);
            return Fail(texts::kWriteError6, TitleKind::Kit, Icon::Error, End::StatusReset);
        }
        const int percent = 100 * k / 255;
        m_reporter.SetProgressText(texts::kBootWritingPrefix + FormatPercent(percent));
        m_reporter.SetProgress(percent);
    }
    return true;
}

}  // namespace kestro
