// The read-only check: the reads an upgrade makes before it changes anything, each with the
// command table's own retries, and the verdict the run's own rules give. Nothing is written to
// the radio, the log or the recovery records.

#include "upgrade/CheckRun.h"

#include "upgrade/RadioPolicy.h"
#include "upgrade/Texts.h"

namespace kestro {

namespace {
constexpr Millis kFirstReadWait{200};
}  // namespace

CheckRun::CheckRun(CUpgradeHub& hub) : m_hub(hub), m_reporter(hub.Reporter()), m_tx(hub.m_request), m_link(hub.m_link) {}

void CheckRun::Execute() {
    m_hub.Clock().Wait(*m_link.m_hReplyEvent);  // the start gate
    m_link.m_hReplyEvent->Reset();
    Read();
    m_hub.NoteCheck(m_check);
    m_link.m_replyCode.store(0);
    m_hub.m_upgradeRunning.store(0);
    m_hub.Engine().ClosePort();
    m_link.m_hReplyEvent->Reset();
}

// False once the verdict is given: the radio stopped answering, or the check was stopped.
bool CheckRun::Answered(const TxResult& r, const char* what) {
    if (r.ok) return true;
    m_check.verdict = r.cancelled ? CheckVerdict::Stopped : CheckVerdict::NotRead;
    if (!r.cancelled) m_check.unread = what;
    return false;
}

void CheckRun::Read() {
    const TxResult detected = m_tx.Run(REQ_DETECT);
    if (!detected.ok) {
        if (!detected.cancelled) m_hub.NoteNoAnswer();
        m_check.verdict = detected.cancelled ? CheckVerdict::Stopped : CheckVerdict::NoAnswer;
        return;
    }
    switch (policy::ReadDetectionStatus(m_link.m_deviceStatus.load())) {
        case policy::DetectionStatus::Disabled: m_check.verdict = CheckVerdict::Disabled; return;
        case policy::DetectionStatus::OtherModelType: m_check.verdict = CheckVerdict::OtherModelType; return;
        case policy::DetectionStatus::Usable: break;
    }

    // Everything a run would read is read, even past the first reason it would stop: the check
    // tells the whole radio, and reading changes nothing.
    m_reporter.SetStatusText(texts::kCheckingBattery);
    if (!Answered(m_tx.Run(REQ_BATTERY), "battery")) return;
    m_check.batteryLow = m_link.m_batteryLow.load() == 1;
    if (!Answered(m_tx.Run(REQ_MODEL), "model number")) return;
    // A zero-terminated text, as the run compares it.
    m_check.model = m_link.DeviceModelNumber().c_str();
    m_reporter.SetStatusText(texts::kCompareFirmware);
    if (!Answered(m_tx.Run(REQ_FW_VERSION), "firmware version")) return;
    m_check.firmware = m_link.DeviceFirmwareVersion();
    const bool older = policy::FirmwareOlderThanKit(m_link.DeviceFirmwareBytes());
    if (!Answered(m_tx.Run(REQ_SERIAL), "serial number")) return;
    m_check.serial = m_link.DeviceSerialNumber();

    // The codeplug bytes as a run reads them: the access check, the first byte once (unjudged),
    // then the byte that decides.
    m_reporter.SetStatusText(texts::kCheckingCodeplug);
    if (!Answered(m_tx.Run(REQ_CP_CHECK), "codeplug")) return;
    m_link.m_codeplugByte.store(0);
    m_link.m_codeplugAddress.store(policy::kCodeplugFirstAddress);
    m_tx.SendRequest(BuildRequest(REQ_CP_READ, policy::kCodeplugFirstAddress));
    m_tx.WaitReply(kFirstReadWait);
    if (m_tx.Cancelled()) {
        m_check.verdict = CheckVerdict::Stopped;
        return;
    }
    if (m_link.m_replyCode.load() == RSP_CP_DATA) m_tx.ConsumeReply();
    m_link.m_codeplugAddress.store(policy::kCodeplugDecidingAddress);
    if (!Answered(m_tx.Run(REQ_CP_READ), "codeplug")) return;
    m_check.codeplugByte = m_link.m_codeplugByte.load();

    // The run's order of checks gives the reason it would stop first.
    if (*m_check.batteryLow) {
        m_check.verdict = CheckVerdict::BatteryLow;
    } else if (!policy::SupportedModel(m_check.model)) {
        m_check.verdict = CheckVerdict::OtherModel;
    } else if (!older) {
        m_check.verdict = CheckVerdict::AlreadyNewer;
    } else if (*m_check.codeplugByte != policy::kCodeplugDecidingValue) {
        m_check.verdict = CheckVerdict::WouldRestoreCodeplug;
    } else {
        m_check.verdict = CheckVerdict::WouldUpgrade;
    }
}

std::string_view CheckVerdictName(CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::WouldUpgrade: return "would_upgrade";
        case CheckVerdict::WouldRestoreCodeplug: return "would_restore_codeplug";
        case CheckVerdict::Disabled: return "disabled";
        case CheckVerdict::OtherModelType: return "other_model_type";
        case CheckVerdict::BatteryLow: return "battery_low";
        case CheckVerdict::OtherModel: return "other_model";
        case CheckVerdict::AlreadyNewer: return "already_newer";
        case CheckVerdict::NoAnswer: return "no_answer";
        case CheckVerdict::NotRead: return "not_read";
        case CheckVerdict::Stopped: return "stopped";
    }
    return "not_read";
}

std::string CheckVerdictText(const RadioCheck& check) {
    switch (check.verdict) {
        case CheckVerdict::WouldUpgrade: return "an upgrade would run";
        case CheckVerdict::WouldRestoreCodeplug: return "an upgrade would restore the codeplug bytes, then run";
        case CheckVerdict::Disabled: return "an upgrade would stop: the radio reports itself disabled";
        case CheckVerdict::OtherModelType: return "an upgrade would stop: the radio is of another model type";
        case CheckVerdict::BatteryLow: return "an upgrade would stop: the battery is low; charge it first";
        case CheckVerdict::OtherModel: return "an upgrade would stop: the kit does not support this model";
        case CheckVerdict::AlreadyNewer:
            return std::string("an upgrade would stop: the radio already runs ") + texts::kKitFirmwareVersion +
                   " or newer";
        case CheckVerdict::NoAnswer: return "no radio answered";
        case CheckVerdict::NotRead: return "the radio did not answer when asked for its " + check.unread;
        case CheckVerdict::Stopped: return "stopped";
    }
    return {};
}

}  // namespace kestro
