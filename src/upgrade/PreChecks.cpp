#include "log/UpgradeLog.h"
#include "upgrade/RadioPolicy.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

bool UpgradeRun::PreChecks() {
    m_reporter.SetStatusText(texts::kCheckingBattery);
    TxResult r = m_tx.Run(REQ_BATTERY);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) return Fail(nullptr, TitleKind::Kit, Icon::Error, End::StatusReset);
    if (m_link.m_batteryLow.load() == 1) {
        return Fail(texts::kReadError8, TitleKind::Kit, Icon::Error, End::StatusReset);
    }

    r = m_tx.Run(REQ_MODEL);
    if (r.cancelled) return Interrupt(End::NoReset, false);
    if (!r.ok) {
        Box(texts::kErrorReadModel, TitleKind::Application, Icon::Error);
        m_reporter.ShowProgress(false);
        return Fail(nullptr, TitleKind::Application, Icon::Error, End::NoReset);
    }
    if (!policy::SupportedModel(m_link.DeviceModelNumber())) {
        return Fail(texts::kProgramError15, TitleKind::Kit, Icon::Error, End::NoReset);
    }

    m_reporter.SetStatusText(texts::kCompareFirmware);
    r = m_tx.Run(REQ_FW_VERSION);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) return Fail(texts::kErrorReadFirmware, TitleKind::Kit, Icon::Error, End::StatusReset);
    m_versionColumn = LogField(m_link.DeviceFirmwareVersion()) + ",";
    if (!policy::FirmwareOlderThanKit(m_link.DeviceFirmwareBytes())) {
        return Fail(texts::kFirmwareNotOlder, TitleKind::Kit, Icon::Warning, End::StatusReset);
    }

    r = m_tx.Run(REQ_SERIAL);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) {
        return Fail(texts::kErrorReadSerial, TitleKind::Application, Icon::Error, End::StatusReset);
    }
    m_serialBefore = m_link.DeviceSerialNumber();
    m_runRecord = LogField(m_serialBefore) + "," + m_versionColumn;
    TellOfOtherRadiosRecords();
    return true;
}

void UpgradeRun::TellOfOtherRadiosRecords() {
    const std::string serial = m_link.DeviceSerialNumber();
    std::vector<RecoveryRecord> others;
    for (auto& record : m_hub.RecordsFor(m_hub.CurrentPort())) {
        if (record.serial != serial) others.push_back(std::move(record));
    }
    if (others.empty()) return;
    RecoveryRecord here;
    here.serial = serial;
    m_reporter.Guide(Guidance::OtherRadiosRecordKept,
                     "The recovery record of " + DescribeRadios(others) +
                         " stays: the radio on this cable is " +
                         (serial.empty() ? std::string("another one") : here.ShownSerial()) + ".");
}

}  // namespace kestro
