#include <cstring>

#include "log/UpgradeLog.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeRun.h"

namespace kestro {

namespace {

// The kit's firmware version without its dot: R, 0, 1, 0, 4.
constexpr unsigned char kKitVersionCode[5] = {'R', '0', '1', '0', '4'};

// The device firmware may be upgraded only when it is older than the kit's. A version of
// another family (first byte not R) is not compared at all.
bool DeviceFirmwareIsOlder(const std::array<std::uint8_t, 5>& device) {
    if (device[0] != kKitVersionCode[0]) return true;
    for (int i = 1; i < 5; ++i) {
        if (device[i] != kKitVersionCode[i]) return device[i] < kKitVersionCode[i];
    }
    return false;  // equal
}

}  // namespace

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
    // Compared as a zero-terminated text: the 16 bytes match only as the number and a zero.
    const std::string model = m_link.DeviceModelNumber();
    if (std::strcmp(model.c_str(), texts::kSupportedModel) != 0) {
        return Fail(texts::kProgramError15, TitleKind::Kit, Icon::Error, End::NoReset);
    }

    m_reporter.SetStatusText(texts::kCompareFirmware);
    r = m_tx.Run(REQ_FW_VERSION);
    if (r.cancelled) return Interrupt(End::StatusReset, false);
    if (!r.ok) return Fail(texts::kErrorReadFirmware, TitleKind::Kit, Icon::Error, End::StatusReset);
    m_versionColumn = LogField(m_link.DeviceFirmwareVersion()) + ",";
    if (!DeviceFirmwareIsOlder(m_link.DeviceFirmwareBytes())) {
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
