// The confirmation after an upgrade: the radio restarts on its new firmware, and is asked, with
// the command table's own requests and time-outs, for its detection, firmware version and serial
// number until it answers or the wait is over. Only a radio that answers with the kit's version
// and the serial number it had before is confirmed; a stop ends the wait with no confirmation.

#include <algorithm>

#include "upgrade/RadioPolicy.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

void UpgradeRun::Confirm() {
    m_reporter.SetStatusText(texts::kWaitingForRestart);
    IClock& clock = m_hub.Clock();
    const Millis deadline = clock.Now() + m_hub.ConfirmWait();
    Confirmation confirmation;
    confirmation.kind = ConfirmKind::NoAnswer;
    bool answered = false;
    while (!answered && clock.Now() < deadline) {
        const TxResult r = m_tx.Run(REQ_DETECT);
        // A stop now ends the wait: the upgrade is done, and the user chose not to wait for
        // its confirmation.
        if (r.cancelled) return;
        answered = r.ok;
    }
    if (answered && m_tx.Run(REQ_FW_VERSION).ok && m_tx.Run(REQ_SERIAL).ok) {
        confirmation.serial = m_link.DeviceSerialNumber();
        confirmation.version = m_link.DeviceFirmwareVersion();
        // A recovery run cannot read the serial number before: its record's, if one armed it.
        const std::string before = m_recoveryRun ? (m_armedBy ? m_armedBy->serial : std::string{}) : m_serialBefore;
        if (!before.empty() && confirmation.serial != before) {
            confirmation.kind = ConfirmKind::OtherSerial;
        } else if (m_link.DeviceFirmwareBytes() != policy::kKitVersionBytes) {
            confirmation.kind = ConfirmKind::OldVersion;
        } else {
            confirmation.kind = ConfirmKind::Confirmed;
        }
    }
    if (confirmation.kind == ConfirmKind::Confirmed && m_recoveryRun) {
        // The radio that answered is the one the recovery finished: its records go.
        m_hub.ForgetRecordsOfSerial(confirmation.serial);
    }
    m_hub.NoteConfirmation(confirmation);
}

}  // namespace kestro
