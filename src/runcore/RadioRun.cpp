#include "runcore/RadioRun.h"

#include "log/UpgradeLog.h"
#include "platform/Paths.h"
#include "history/SqliteHistory.h"
#include "runcore/detail/HistoryEntry.h"
#include "runcore/detail/RememberedRadios.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeHub.h"
#if KESTRO_HAVE_SIMULATION
#include "radio/posix/SimulatedLine.h"
#endif

namespace kestro {

namespace {

// A port warning names a device opened without a port number as "Port: 0": name it as the
// user gave it.
std::string NamedAsGiven(std::string text, int portNumber, const std::string& port) {
    const std::string unnamed = "\nPort: 0\n";
    if (portNumber != 0) return text;
    if (const auto at = text.find(unnamed); at != std::string::npos) text.replace(at, unnamed.size(), "\nPort: " + port + "\n");
    return text;
}

}  // namespace

// What the hub reports about this radio, passed to the observer: the window's idle text is no
// status line here, a device path stays a path, and the serial number shows once read.
class RadioRun::Reporter final : public IReporter {
public:
    Reporter(RadioRun& run) : m_run(run) {}

    void SetStatusText(const std::string& text) override {
        if (text == texts::kStartTheUpgrade) return;
        if (text == texts::kRestoringCodeplug) m_restoring = true;
        if (text == texts::kPreparingUpdate && m_codeplug.empty()) m_codeplug = m_restoring ? "Yes" : "No";
        NoteSerial();
        m_run.m_observer.Status(text);
    }
    void SetProgressText(const std::string& label) override {
        std::lock_guard lock(m_lock);
        m_label = label;
    }
    void SetProgress(int position) override {
        std::string label;
        {
            std::lock_guard lock(m_lock);
            label = m_label;
        }
        m_run.m_observer.Progress(position, label);
    }
    void ShowProgress(bool show) override { m_run.m_observer.ShowProgress(show); }
    void MessageBox(const std::string& text, TitleKind title, Icon icon) override {
        const int number = m_run.m_hub ? m_run.m_hub->Engine().PortNumber() : 0;
        m_run.m_observer.Message(RunMessage{NamedAsGiven(text, number, m_run.m_port), TitleText(title), IconName(icon)});
    }
    // The detail goes beneath the message; a port that cannot be opened has its reason told once,
    // as the reason the run did not start.
    void MessageBoxWithDetail(const std::string& text, TitleKind title, Icon icon,
                              const std::string& detail) override {
        MessageBox(text, title, icon);
        if (!detail.empty() && text != texts::kNoDeviceDetected) m_run.m_observer.Note(detail);
    }

    void Guide(Guidance kind, const std::string& text) override {
        const RunGuidance guidance = kind == Guidance::RadioMayHaveNoFirmware ? RunGuidance::RadioMayHaveNoFirmware
                                     : kind == Guidance::NoRecoveryNeeded     ? RunGuidance::NoRecoveryNeeded
                                                                              : RunGuidance::Other;
        m_run.m_observer.Guide(guidance, text);
    }

    // The serial number and firmware version, once the radio has told them.
    void NoteSerial() {
        if (!m_run.m_hub || !m_serial.empty()) return;
        const std::string serial = m_run.m_hub->Link().DeviceSerialNumber();
        if (serial.empty()) return;
        m_serial = LogField(serial);
        m_run.m_observer.Serial(m_serial);
        const std::string version = m_run.m_hub->Link().DeviceFirmwareVersion();
        m_firmwareBefore = LogField(version);
        if (!version.empty()) m_run.m_observer.FirmwareBefore(m_firmwareBefore);
    }

    std::string m_serial;
    std::string m_firmwareBefore;  // as told with the serial number, before any confirmation
    std::string m_codeplug;

private:
    RadioRun& m_run;
    std::mutex m_lock;
    std::string m_label;
    bool m_restoring = false;
};

RadioRun::RadioRun(RadioTarget target, const RunSettings& settings, IRunObserver& observer, IFrameTap* tap)
    : m_target(std::move(target)),
      m_settings(settings),
      m_observer(observer),
      m_tap(tap),
      m_port(m_target.port),
      m_reporter(std::make_unique<Reporter>(*this)),
      m_line(m_target.line) {}

RadioRun::~RadioRun() {
    m_hub.reset();  // stops a worker still running before the line goes
    m_line.reset();
}

void RadioRun::NotStarted(StartFailure failure, const std::string& reason) {
    m_failure = failure;
    m_failureReason = reason;
    if (!reason.empty()) m_observer.Note(reason);
}

bool RadioRun::Prepare() {
    m_started = std::chrono::steady_clock::now();
    m_startedUtc = std::chrono::system_clock::now();
    if (!m_target.scenario.empty() || m_line) {
#if KESTRO_HAVE_SIMULATION
        std::string error;
        if (!m_line) {
            m_line = std::make_shared<SimulatedLine>();
            if (!m_line->Start(m_target.scenario, m_target.simulatedSerial, error)) {
                NotStarted(StartFailure::Kit, error);
                return false;
            }
        } else if (!m_line->PluggedIn() && !m_line->PlugIn(error)) {
            NotStarted(StartFailure::Kit, error);
            return false;
        }
        m_port = m_line->DevicePath();
        m_observer.PortNamed(m_port);
        m_observer.Started(m_target.scenario);
        m_portTarget = PortTarget{0, m_port, m_port};
#else
        NotStarted(StartFailure::Kit, "a simulated radio needs pseudo-terminals, which this build lacks");
        return false;
#endif
    } else {
        m_portTarget = m_target.chosen.value_or(PortTarget{0, {}, {}});
    }

    // Without a safe state folder the log or a record would have nowhere to go: no run.
    if (!m_settings.checkOnly && StateFolder().empty() && (!m_line || m_settings.log.empty())) {
        NotStarted(StartFailure::Kit, kNoStateFolder);
        return false;
    }
    CUpgradeHub::Options options;
    options.firmwarePath = m_settings.firmware;
    options.logPath = m_settings.log;
    // A port named by the user is that port: with several cables attached, the cable lookup
    // would upgrade another radio than the one named.
    options.cableFallback = m_portTarget.Automatic();
    options.port = m_portTarget;
    options.confirmWait = m_settings.confirmWait;
    options.checkOnly = m_settings.checkOnly;
    // A simulated radio ends with the process: nothing to remember for it.
    if (!m_line) options.recoveryFolder = DefaultRecoveryFolder();
    if (m_tap != nullptr) options.portOwner = m_tap;
    m_hub = std::make_unique<CUpgradeHub>(*m_reporter, m_hubSettings, options);
    if (m_tap != nullptr) {
        m_tap->SetNext(m_hub.get());
        m_hub->SetSendObserver([this](const Frame& frame) { m_tap->OnSent(frame.view()); });
    }
    // The log is left alone until the run has a line for it: a run that stops before its
    // first request writes nothing.
    // The port is named once, before any thread of the run starts: the cable that automatic
    // detection finds now, or the port as the user gave it.
    if (m_portTarget.Automatic()) {
        const RecoveryRecord cable = m_hub->NextRunPort();
        if (!cable.portName.empty()) {
            m_port = cable.PortArgument();
            m_observer.PortNamed(m_port);
        }
    }
    if (m_settings.recovery) m_hub->SetRecoveryMode(true);
    TellOfRememberedRecovery();
    return true;
}

void RadioRun::TellOfRememberedRecovery() {
    std::string skipped;
    const RecoveryRecord port = m_hub->NextRunPort();
    const auto records = m_hub->RecordsFor(port, &skipped);
    // Records of a port that another run holds belong to that run, which is alive: a plain run's
    // open says the port is busy, and nothing more. A recovery run asked for still names the
    // radio it came for; it opens that port or none, so the record stays.
    if (!records.empty() && !m_settings.recovery && CUpgradeHub::HeldElsewhere(port)) return;
    // The radio cannot tell its serial number before its boot swap: the newest record on this
    // port names the radio that a recovery run finishes, and goes once it is finished.
    if (m_settings.recovery && !records.empty()) m_hub->ArmFromRecord(records.back());
    if (!records.empty() || !skipped.empty()) m_observer.RememberedRecovery(Remembered(records, skipped));
}

bool RadioRun::Start() {
    if (!m_line) m_observer.Started({});
    m_started = std::chrono::steady_clock::now();
    const StartResult result = m_hub->OnUpgrade();
    switch (result) {
        case StartResult::Started: m_startedOk = true; return true;
        case StartResult::LoadFailed:
            NotStarted(StartFailure::Firmware,
                       "cannot use the firmware file " +
                           (m_settings.firmware.empty() ? DefaultFirmwarePath() : m_settings.firmware).string());
            return false;
        case StartResult::PortFailed:
            NotStarted(StartFailure::Port, m_hub->OpenFailure());
            if (m_failureReason.empty()) m_failureReason = "the port could not be opened";
            return false;
        case StartResult::NoPortThread:
            NotStarted(StartFailure::Kit, "the port's thread could not be started");
            return false;
        case StartResult::NoWorker:
        case StartResult::Busy: NotStarted(StartFailure::Kit, "the run could not be started"); return false;
    }
    return false;
}

bool RadioRun::Poll() {
    if (m_startedOk && m_hub->UpgradeRunning()) return true;
    if (!m_finished) Finish();
    return false;
}

void RadioRun::RequestStop() {
    if (m_hub) m_hub->RequestStop();
}

bool RadioRun::RequestStopBeforeErase() {
    if (!m_hub) return false;
    m_hub->RequestStopBeforeErase();
    return m_hub->InEraseSpan();
}

bool RadioRun::InEraseSpan() const { return m_hub && m_hub->InEraseSpan(); }

void RadioRun::Finish() {
    m_finished = true;
    RadioSummary& summary = m_summary;
    if (m_hub) {
        m_hub->JoinWorker();
        if (m_tap != nullptr) m_tap->Flush();
        m_reporter->NoteSerial();
        summary.serial = m_reporter->m_serial;
        // Read before the serial number; a confirmation reads it again after the upgrade.
        summary.firmwareBefore = !m_reporter->m_firmwareBefore.empty() ? m_reporter->m_firmwareBefore
                                                                       : LogField(m_hub->Link().DeviceFirmwareVersion());
    }
    summary.port = m_port;
    summary.simulated = !m_target.scenario.empty() || m_target.line != nullptr;
    summary.codeplug = m_reporter->m_codeplug;
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    if (!m_startedOk) {
        summary.end.kind = RunEndKind::NotStarted;
        std::string reason = m_failureReason;
        if (reason.starts_with(m_port + ": ")) reason.erase(0, m_port.size() + 2);
        const char* what = m_failure == StartFailure::Port ? "port not opened" : "not started";
        summary.result = reason.empty() ? what : std::string(what) + ": " + reason;
        summary.end.message = summary.result;
    } else if (m_settings.checkOnly) {
        EndOfCheck(summary);
    } else {
        const bool needsRecovery = m_hub->RecoveryArmed();
        switch (m_hub->LastOutcome()) {
            case RunOutcome::Completed: {
                summary.end.kind = RunEndKind::Upgraded;
                summary.result = "upgraded";
                const Confirmation confirmation = m_hub->LastConfirmation();
                summary.end.serialAfter = LogField(confirmation.serial);
                summary.end.versionAfter = LogField(confirmation.version);
                switch (confirmation.kind) {
                    case ConfirmKind::None: break;
                    case ConfirmKind::Confirmed: summary.end.kind = RunEndKind::Confirmed; break;
                    case ConfirmKind::OldVersion:
                        summary.end.kind = RunEndKind::NotConfirmedOldVersion;
                        summary.result = "not confirmed: old firmware";
                        break;
                    case ConfirmKind::NoAnswer:
                        summary.end.kind = RunEndKind::NotConfirmedNoAnswer;
                        summary.result = "upgraded, not confirmed";
                        break;
                    case ConfirmKind::OtherSerial:
                        summary.end.kind = RunEndKind::NotConfirmedOtherSerial;
                        summary.result = "upgraded, not confirmed";
                        break;
                }
                break;
            }
            case RunOutcome::Interrupted:
                summary.end.kind = needsRecovery ? RunEndKind::StoppedNeedsRecovery : RunEndKind::Stopped;
                summary.end.message = m_hub->LastMessage();
                summary.result = "interrupted";
                break;
            case RunOutcome::Failed:
            case RunOutcome::None: {
                summary.end.kind = needsRecovery              ? RunEndKind::NeedsRecovery
                                   : m_hub->NoRadioAnswered() ? RunEndKind::NoAnswer
                                                              : RunEndKind::Failed;
                summary.end.message = m_hub->LastMessage();
                const std::string title = MessageTitle(summary.end.message);
                summary.result = title.empty() ? "failed" : title;
                break;
            }
        }
    }
    WriteHistory(summary);
    m_observer.Ended(summary);
}

void RadioRun::EndOfCheck(RadioSummary& summary) const {
    const RadioCheck check = m_hub->LastCheck();
    summary.check = check;
    summary.codeplug.clear();
    switch (check.verdict) {
        case CheckVerdict::NoAnswer: summary.end.kind = RunEndKind::NoAnswer; break;
        case CheckVerdict::Stopped: summary.end.kind = RunEndKind::Stopped; break;
        case CheckVerdict::NotRead: summary.end.kind = RunEndKind::Failed; break;
        default: summary.end.kind = RunEndKind::Checked; break;
    }
    summary.result = CheckVerdictText(check);
    summary.end.message = summary.result;
}

void RadioRun::WriteHistory(const RadioSummary& summary) {
    // A run that reached no radio leaves nothing behind, in the history as in the log.
    if (m_settings.historyFrontEnd.empty() || !m_startedOk || m_settings.checkOnly) return;
    // The history goes into the state folder only once it is known to be the user's own.
    if (std::string error; m_settings.history.empty() && !PrepareStateFolder(error)) {
        m_observer.HistoryNotWritten(error);
        return;
    }
    HistoryContext context;
    context.started = m_startedUtc;
    context.frontEnd = m_settings.historyFrontEnd;
    context.firmware = m_settings.firmware.empty() ? DefaultFirmwarePath() : m_settings.firmware;
    if (m_hub) {
        context.cable = m_hub->NextRunPort().cable;
        context.model = LogField(m_hub->Link().DeviceModelNumber());
        context.rowsWritten = m_hub->RowsWritten();
    }
    SqliteHistory history(m_settings.history.empty() ? DefaultHistoryPath() : m_settings.history);
    if (const HistoryResult added = history.Add(HistoryEntry(summary, context)); !added.Ok()) {
        m_observer.HistoryNotWritten(added.error);
    } else if (m_settings.historyAdded) {
        m_settings.historyAdded();
    }
}

}  // namespace kestro
