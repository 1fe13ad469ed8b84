#include "upgrade/UpgradeHub.h"

#include <cstdlib>
#include <system_error>

#include "platform/Paths.h"
#include "platform/RealClock.h"
#include "serial/PortNames.h"
#include "serial/PortProbe.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro {

CUpgradeHub::CUpgradeHub(IReporter& reporter, ISettings& settings, Options options)
    : m_request(m_link, options.clock != nullptr ? *options.clock : RealClock::Instance()),
      m_reporter(reporter),
      m_settings(settings),
      m_options(std::move(options)),
      m_clock(m_options.clock != nullptr ? m_options.clock : &RealClock::Instance()),
      m_engine(m_options.engine != nullptr ? m_options.engine : &m_port),
      m_receiver(m_link),
      m_recoveryRecords(m_options.recoveryFolder) {
    m_port.SetCableFallback(m_options.cableFallback);
    m_request.SetPort(m_engine);
    m_request.SetCancelEvent(&m_stopEvent);
}

CUpgradeHub::~CUpgradeHub() {
    RequestStop();
    JoinWorker();
    m_engine->ClosePort();
}

void CUpgradeHub::OnInitialUpdate() {
    m_log.SetPath(m_options.logPath.empty() ? DefaultLogPath() : m_options.logPath);
    // The window writes the log's header when it is first shown, and tells at once of a log it
    // cannot open. (The command line and the station do not call this: their log's header comes
    // with its first line, so a run that reaches no radio writes nothing.)
    if (!m_log.WriteHeaderIfMissing()) {
        m_reporter.MessageBox(texts::kLogOpenFailed, TitleKind::Application, Icon::Warning);
    }
}

StartResult CUpgradeHub::OnUpgrade() {
    // One run at a time. A worker that has cleared m_upgradeRunning may still be closing its
    // port; it is released here only once it has finished, so this thread never waits on it.
    if (m_upgradeRunning.load() != 0 || !m_workerFinished.load()) return StartResult::Busy;
    JoinWorker();
    if (m_log.Path().empty()) {
        m_log.SetPath(m_options.logPath.empty() ? DefaultLogPath() : m_options.logPath);
    }

    m_link.m_codeplugAddress.store(0);
    m_noAnswer.store(false);
    m_rowsWritten.store(0);
    {
        std::lock_guard lock(m_recordLock);
        m_runRecord.reset();
    }
    {
        std::lock_guard lock(m_messageLock);
        m_openFailure.clear();
        m_confirmation = {};
        m_check = {};
    }

    // A check reads the radio only: it needs no firmware file.
    if (!m_options.checkOnly) {
        const StatusTextSink status = [this](const std::string& text) { SetStatus(text); };
        if (m_options.firmwarePath.empty()) {
            m_loader.LoadFirmwareFile(m_commFile, status);
        } else {
            m_loader.LoadFirmwareFile(m_options.firmwarePath, m_commFile, status);
        }
        m_firmwareLoadFailed = m_loader.m_firmwareLoadFailed;
        if (m_firmwareLoadFailed != 0) return StartResult::LoadFailed;
    }

    // A fresh reply event for this run; the previous run's is released with it.
    m_link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
    m_stopEvent.Reset();

    // A recovery run finishes the radio on one cable. Another cable found in its place would
    // take the recovery's requests to a radio that needs none, and the record of the one that
    // does could go with them: a recovery run opens its own port or none.
    const bool recovery = m_recoveryMode.load() == 1;
    m_port.SetCableFallback(m_options.cableFallback && !recovery);
    IPortOwner* owner = m_options.portOwner != nullptr ? m_options.portOwner : this;
    const bool opened = m_options.port ? m_engine->OpenTarget(owner, *m_options.port)
                                       : m_engine->OpenPort(owner, PortNumberFromSettings(m_settings, &m_portSetting));
    if (!opened) {
        std::string detail = m_engine->LastOpenError();
        if (const auto armed = ArmedRecord(); recovery && armed) {
            detail += (detail.empty() ? "" : "; ") + std::string("the recovery run is for ") + armed->RadioText() +
                      ", so no other cable is tried, and its record stays";
        }
        {
            std::lock_guard lock(m_messageLock);
            m_openFailure = detail;
        }
        SetStatus(texts::kCheckConnection);
        m_reporter.MessageBoxWithDetail(texts::kNoDeviceDetected, TitleKind::Kit, Icon::Information, detail);
        return StartResult::PortFailed;
    }
    if (recovery && !ArmedRecord()) {
        // Forced without a record: the radio it finishes is the one most recently recorded on
        // the cable it opened, whose record then goes with it.
        if (const auto here = RecordsFor(CurrentPort()); !here.empty()) {
            std::lock_guard lock(m_recordLock);
            m_armedRecord = here.back();
        }
    }
    if (!m_engine->StartPortThread()) {
        // Nothing serves the port: release it, so that the next attempt can open it again.
        m_engine->ClosePort();
        SetStatus(texts::kStartTheUpgrade);
        return StartResult::NoPortThread;
    }

    m_upgradeRunning.store(1);
    m_workerFinished.store(false);
    if (m_options.runWorkerInline) {
        m_link.m_hReplyEvent->Set();  // the start gate
        UpgradeWorker(*this);
        return StartResult::Started;
    }
    try {
        m_workerThread = std::thread([this] { UpgradeWorker(*this); });
    } catch (const std::system_error&) {
        // Nothing runs, so nothing would ever clear the flag and re-enable the command.
        m_upgradeRunning.store(0);
        m_workerFinished.store(true);
        m_engine->ClosePort();
        m_reporter.MessageBox(texts::kUnableToTxThread, TitleKind::Application, Icon::Information);
        return StartResult::NoWorker;
    }
    m_link.m_hReplyEvent->Set();  // the start gate: the worker does nothing before this
    return StartResult::Started;
}

void CUpgradeHub::OnSerialRxChar(std::uint8_t byte, int portNumber) {
    m_receiver.OnSerialRxChar(byte, portNumber);
}

void CUpgradeHub::OnPortError(const std::string& text, int /*portNumber*/) {
    m_reporter.MessageBox(text, TitleKind::PortError, Icon::Error);
}

void CUpgradeHub::RequestStop() {
    m_stopEvent.Set();
    // Wakes a worker in its reply wait; it then sees the stop before judging anything.
    m_link.SignalReply();
}

void CUpgradeHub::RequestStopBeforeErase() {
    std::lock_guard lock(m_spanLock);
    if (!m_inEraseSpan) RequestStop();
}

bool CUpgradeHub::EnterEraseSpan() {
    std::lock_guard lock(m_spanLock);
    if (StopRequested()) return false;
    m_inEraseSpan = true;
    return true;
}

void CUpgradeHub::LeaveEraseSpan() {
    std::lock_guard lock(m_spanLock);
    m_inEraseSpan = false;
}

bool CUpgradeHub::InEraseSpan() const {
    std::lock_guard lock(m_spanLock);
    return m_inEraseSpan;
}

void CUpgradeHub::JoinWorker() {
    if (m_workerThread.joinable()) m_workerThread.join();
}

void CUpgradeHub::SetRecoveryMode(bool armed) {
    const int value = armed ? 1 : 0;
    if (!armed) {
        std::lock_guard lock(m_recordLock);
        m_armedRecord.reset();
    }
    if (m_recoveryMode.exchange(value) != value) m_reporter.RecoveryModeChanged(armed);
}

RecoveryRecord CUpgradeHub::PortKey(int number) {
    if (number < 1) return {};
    // A device path names the port for the command line; the Windows device namespace does not.
    const auto device = DevicePathForPort(number);
    const bool path = device && !device->empty() && device->front() == '/';
    return PortRecord(PortName(number), path ? *device : std::string{});
}

RecoveryRecord CUpgradeHub::TargetKey(const PortTarget& target) {
    return PortRecord(target.number > 0 ? PortName(target.number) : target.name, target.device);
}

RecoveryRecord CUpgradeHub::CurrentPort() const {
    if (m_options.port && !m_options.port->device.empty() && m_engine->PortNumber() == m_options.port->number) {
        return TargetKey(*m_options.port);
    }
    return PortKey(m_engine->PortNumber());
}

RecoveryRecord CUpgradeHub::NextRunPort() const {
    if (m_options.port && !m_options.port->device.empty()) return TargetKey(*m_options.port);
    if (m_options.port && m_options.port->number > 0) return PortKey(m_options.port->number);
    if (m_options.port) return PortKey(m_engine->AutomaticPortNumber());
    return PortKey(PortForNextRun());
}

std::vector<RecoveryRecord> CUpgradeHub::RecordsFor(const RecoveryRecord& port, std::string* note) const {
    if (port.portName.empty() && port.device.empty()) {
        m_recoveryRecords.All(note);  // only for the note about odd files
        return {};
    }
    return m_recoveryRecords.ForPort(port, note);
}

bool CUpgradeHub::HeldElsewhere(const RecoveryRecord& port) {
    if (!port.device.empty()) return PortHeldElsewhere(port.device);
    // A Windows port is known by its COM name alone.
    if (port.portName.size() > 3 && port.portName.compare(0, 3, "COM") == 0) {
        const auto device = DevicePathForPort(std::atoi(port.portName.c_str() + 3));
        return device && PortHeldElsewhere(*device);
    }
    return false;
}

int CUpgradeHub::PortForNextRun() const {
    const int stored = PortNumberFromSettings(m_settings);
    return stored != 0 ? stored : m_engine->AutomaticPortNumber();
}

void CUpgradeHub::ArmFromRecord(const RecoveryRecord& record) {
    {
        std::lock_guard lock(m_recordLock);
        m_armedRecord = record;
    }
    SetRecoveryMode(true);
}

std::optional<RecoveryRecord> CUpgradeHub::ArmedRecord() const {
    std::lock_guard lock(m_recordLock);
    return m_armedRecord;
}

bool CUpgradeHub::RecordsWritable(std::string& error) const {
    return m_recoveryRecords.CanWrite(error);
}

bool CUpgradeHub::MarkRadioNeedsRecovery(const std::string& serial, std::string& error) {
    RecoveryRecord record = CurrentPort();
    if (record.portName.empty() || !m_recoveryRecords.Enabled()) return true;
    record.serial = serial;
    record.firmware = (m_options.firmwarePath.empty() ? DefaultFirmwarePath() : m_options.firmwarePath).string();
    record.since = std::time(nullptr);
    if (!m_recoveryRecords.Mark(record, error)) return false;
    std::lock_guard lock(m_recordLock);
    m_runRecord = record;
    return true;
}

void CUpgradeHub::RadioLeftNeedingRecovery() {
    {
        std::lock_guard lock(m_recordLock);
        if (m_runRecord) m_armedRecord = m_runRecord;
    }
    SetRecoveryMode(true);
}

void CUpgradeHub::ForgetRecoveryRecords() {
    const RecoveryRecord opened = CurrentPort();
    std::lock_guard lock(m_recordLock);
    if (m_runRecord) m_recoveryRecords.Clear(*m_runRecord);
    // The record that armed the run names a radio on one port: only a run on that port has
    // reached that radio.
    if (m_armedRecord && m_armedRecord->OnPort(opened)) m_recoveryRecords.Clear(*m_armedRecord);
    m_runRecord.reset();
}

void CUpgradeHub::ForgetRecordsOfSerial(const std::string& serial) {
    if (serial.empty()) return;
    for (const RecoveryRecord& record : m_recoveryRecords.All()) {
        if (record.serial == serial) m_recoveryRecords.Clear(record);
    }
}

Confirmation CUpgradeHub::LastConfirmation() const {
    std::lock_guard lock(m_messageLock);
    return m_confirmation;
}

void CUpgradeHub::NoteConfirmation(const Confirmation& confirmation) {
    std::lock_guard lock(m_messageLock);
    m_confirmation = confirmation;
}

RadioCheck CUpgradeHub::LastCheck() const {
    std::lock_guard lock(m_messageLock);
    return m_check;
}

void CUpgradeHub::NoteCheck(const RadioCheck& check) {
    std::lock_guard lock(m_messageLock);
    m_check = check;
}

std::string CUpgradeHub::OpenFailure() const {
    std::lock_guard lock(m_messageLock);
    return m_openFailure;
}

void CUpgradeHub::NoteOutcome(RunOutcome outcome, const std::string& message) {
    {
        std::lock_guard lock(m_messageLock);
        m_lastMessage = message;
    }
    m_lastOutcome.store(outcome);
}

std::string CUpgradeHub::LastMessage() const {
    std::lock_guard lock(m_messageLock);
    return m_lastMessage;
}

}  // namespace kestro
