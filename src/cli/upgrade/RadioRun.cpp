#include "cli/upgrade/RadioRun.h"

#include <cctype>

#include "cli/upgrade/CommandLine.h"
#include "cli/upgrade/ExitCodes.h"
#include "cli/upgrade/Fleet.h"
#include "log/UpgradeLog.h"
#include "platform/Paths.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"
#if KESTRO_HAVE_SIMULATION
#include "cli/upgrade/SimulatedLine.h"
#endif

namespace kestro::cli {

namespace {

constexpr const char* kSilentRadioHint =
    "A radio that an interrupted upgrade left without firmware answers nothing; "
    "kestro-upgrade --recovery on that port finishes it.";

// A port warning names a device opened without a port number as "Port: 0": name it as the
// user gave it.
std::string NamedAsGiven(std::string text, int portNumber, const std::string& port) {
    const std::string unnamed = "\nPort: 0\n";
    if (portNumber != 0) return text;
    if (const auto at = text.find(unnamed); at != std::string::npos) text.replace(at, unnamed.size(), "\nPort: " + port + "\n");
    return text;
}

constexpr const char* kNoFirmwareHint =
    "The radio may now have no working firmware: kestro-upgrade --recovery on this port finishes it.";

#if KESTRO_HAVE_SIMULATION
// Simulated radios are told apart by their serial numbers: KS24001735, KS24001736, ...
std::string SimulatedSerial(int index) { return "KS" + std::to_string(24001735 + index); }
#endif

}  // namespace

// What the hub reports about this radio, passed to the console: the window's idle text is no
// status line here, a device path stays a path, the serial number shows once read, and a radio
// that does not answer at all gets a hint at --recovery.
class RadioRun::Reporter final : public IReporter {
public:
    Reporter(RadioRun& run) : m_run(run) {}

    void SetStatusText(const std::string& text) override {
        if (text == texts::kStartTheUpgrade) return;
        if (text == texts::kRestoringCodeplug) m_restoring = true;
        if (text == texts::kPreparingUpdate && m_codeplug.empty()) m_codeplug = m_restoring ? "Yes" : "No";
        NoteSerial();
        m_run.m_console.Status(m_run.m_index, text);
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
        m_run.m_console.Progress(m_run.m_index, position, label);
    }
    void ShowProgress(bool show) override { m_run.m_console.ShowProgress(m_run.m_index, show); }
    void MessageBox(const std::string& text, TitleKind title, Icon icon) override {
        const int number = m_run.m_hub ? m_run.m_hub->Engine().PortNumber() : 0;
        m_run.m_console.Message(m_run.m_index, NamedAsGiven(text, number, m_run.m_port), title, icon);
        if (text == texts::kCommError1) m_run.m_console.Note(m_run.m_index, kSilentRadioHint);
    }
    // The detail goes beneath the message; a port that cannot be opened has its reason told once,
    // as the reason the run did not start.
    void MessageBoxWithDetail(const std::string& text, TitleKind title, Icon icon,
                              const std::string& detail) override {
        MessageBox(text, title, icon);
        if (!detail.empty() && text != texts::kNoDeviceDetected) {
            m_run.m_console.Note(m_run.m_index, detail);
        }
    }

    void Guide(Guidance kind, const std::string& text) override {
        m_run.m_console.Note(m_run.m_index, kind == Guidance::RadioMayHaveNoFirmware ? kNoFirmwareHint : text);
    }

    // The serial number and firmware version, once the radio has told them.
    void NoteSerial() {
        if (!m_run.m_hub || !m_serial.empty()) return;
        const std::string serial = m_run.m_hub->m_link.DeviceSerialNumber();
        if (serial.empty()) return;
        m_serial = LogField(serial);
        m_run.m_console.Serial(m_run.m_index, m_serial);
    }

    std::string m_serial;
    std::string m_codeplug;

private:
    RadioRun& m_run;
    std::mutex m_lock;
    std::string m_label;
    bool m_restoring = false;
};

RadioRun::RadioRun(RadioTarget target, const RunSettings& settings, FleetConsole& console)
    : m_target(std::move(target)),
      m_settings(settings),
      m_console(console),
      m_index(console.AddRadio(m_target.scenario.empty() ? m_target.port : "simulated")),
      m_port(m_target.port),
      m_trace([this](const std::string& line) { m_console.Trace(m_index, line); }),
      m_reporter(std::make_unique<Reporter>(*this)) {}

RadioRun::~RadioRun() {
    m_hub.reset();  // stops a worker still running before the line goes
#if KESTRO_HAVE_SIMULATION
    m_line.reset();
#endif
}

void RadioRun::NotStarted(const std::string& reason, int exitStatus) {
    m_failure = reason;
    m_exitStatus = exitStatus;
    if (!reason.empty()) m_console.Note(m_index, reason);
}

bool RadioRun::Prepare() {
    m_started = std::chrono::steady_clock::now();
    std::string error;
    if (!m_target.scenario.empty()) {
#if KESTRO_HAVE_SIMULATION
        m_line = std::make_unique<SimulatedLine>();
        if (!m_line->Start(m_target.scenario, SimulatedSerial(m_index), error)) {
            NotStarted(error, kExitKit);
            return false;
        }
        m_port = m_line->DevicePath();
        m_console.RenamePort(m_index, m_port);
        m_console.Started(m_index, m_target.scenario);
        m_portTarget = PortTarget{0, m_port, m_port};
#else
        NotStarted("--simulate needs pseudo-terminals, which this build lacks; run "
                   "kestro-radio-sim on Linux and choose its port instead",
                   kExitUsage);
        return false;
#endif
    } else if (auto target = PortTargetFor(m_target.port, error)) {
        m_portTarget = std::move(*target);
    } else {
        NotStarted(error, kExitUsage);
        return false;
    }

    CUpgradeHub::Options options;
    options.firmwarePath = m_settings.firmware;
    options.logPath = m_settings.log;
    // A port named on the command line is that port: with several cables attached, the
    // cable lookup would upgrade another radio than the one named.
    options.cableFallback = m_portTarget.Automatic();
    options.port = m_portTarget;
    // A simulated radio ends with the process: nothing to remember for it.
    if (m_target.scenario.empty()) options.recoveryFolder = DefaultRecoveryFolder();
    if (m_settings.trace) options.portOwner = &m_trace;
    m_hub = std::make_unique<CUpgradeHub>(*m_reporter, m_hubSettings, options);
    if (m_settings.trace) {
        m_trace.SetNext(m_hub.get());
        m_hub->m_request.SetSendObserver([this](const Frame& frame) { m_trace.OnSent(frame.view()); });
    }
    m_hub->OnInitialUpdate();
    // The port is named once, before any thread of the run starts: the cable that automatic
    // detection finds now, or the port as the user gave it.
    if (m_portTarget.Automatic()) {
        const RecoveryRecord cable = m_hub->NextRunPort();
        if (!cable.portName.empty()) {
            m_port = cable.PortArgument();
            m_console.RenamePort(m_index, m_port);
        }
    }
    if (m_settings.recovery) m_hub->SetRecoveryMode(true);
    TellOfRememberedRecovery();
    return true;
}

void RadioRun::TellOfRememberedRecovery() {
    std::string note;
    const auto records = m_hub->RecordsFor(m_hub->NextRunPort(), &note);
    if (!note.empty()) m_console.Note(m_index, "kestro-upgrade: " + note);
    if (records.empty()) return;
    if (m_settings.recovery) {
        // The radio cannot tell its serial number before its boot swap: the newest record on
        // this port names the radio that this run finishes, and goes once it is finished.
        m_hub->ArmFromRecord(records.back());
        if (records.size() > 1) {
            m_console.Note(m_index, "kestro-upgrade: recovery records on this port: " + DescribeRadios(records) +
                                        "; this run finishes " + records.back().RadioText());
        }
        return;
    }
    // The run goes ahead as asked: scripts keep their meaning. The user learns how to finish the
    // radios that earlier runs left between erase and boot swap.
    RadioSummary left;
    left.port = records.back().PortArgument();
    left.needsRecovery = true;
    m_console.Note(m_index, "kestro-upgrade: an upgrade of " + DescribeRadios(records) +
                                " stopped between erase and boot swap (the last on " +
                                records.back().SinceText() +
                                ") and may have left it without firmware; finish it with: " +
                                RecoveryCommand({left}, m_settings));
}

bool RadioRun::Start() {
    if (m_target.scenario.empty()) m_console.Started(m_index, {});
    m_started = std::chrono::steady_clock::now();
    const StartResult result = m_hub->OnUpgrade();
    switch (result) {
        case StartResult::Started: m_startedOk = true; return true;
        case StartResult::LoadFailed:
            NotStarted("cannot use the firmware file " +
                           (m_settings.firmware.empty() ? DefaultFirmwarePath() : m_settings.firmware).string(),
                       kExitFirmware);
            return false;
        case StartResult::PortFailed:
            NotStarted(m_hub->Engine().LastOpenError(), kExitPort);
            if (m_failure.empty()) m_failure = "the port could not be opened";
            return false;
        case StartResult::NoPortThread:
            NotStarted("the port's thread could not be started", kExitKit);
            return false;
        case StartResult::NoWorker:
        case StartResult::Busy: NotStarted("the run could not be started", kExitKit); return false;
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

void RadioRun::Finish() {
    m_finished = true;
    RadioSummary& summary = m_summary;
    if (m_hub) {
        m_hub->JoinWorker();
        m_trace.Flush();
        m_reporter->NoteSerial();
        summary.serial = m_reporter->m_serial;
        summary.firmwareBefore = LogField(m_hub->m_link.DeviceFirmwareVersion());
        summary.needsRecovery = m_hub->m_recoveryMode.load() == 1;
    }
    summary.port = m_port;
    summary.simulated = !m_target.scenario.empty();
    summary.codeplug = m_reporter->m_codeplug;
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    if (!m_startedOk) {
        summary.outcome = "not started";
        std::string reason = m_failure;
        if (reason.starts_with(m_port + ": ")) reason.erase(0, m_port.size() + 2);
        const char* what = m_exitStatus == kExitPort ? "port not opened" : "not started";
        summary.result = reason.empty() ? what : std::string(what) + ": " + reason;
    } else {
        switch (m_hub->LastOutcome()) {
            case RunOutcome::Completed:
                summary.outcome = "completed";
                summary.result = "upgraded";
                m_exitStatus = kExitCompleted;
                break;
            case RunOutcome::Interrupted:
                summary.outcome = "interrupted";
                summary.result = "interrupted";
                m_exitStatus = kExitInterrupted;
                break;
            case RunOutcome::Failed:
            case RunOutcome::None: {
                summary.outcome = "failed";
                const std::string title = FleetConsole::MessageTitle(m_hub->LastMessage());
                summary.result = title.empty() ? "failed" : title;
                m_exitStatus = kExitRadioFailed;
                break;
            }
        }
    }
    m_console.Ended(m_index, summary);
}

int RadioRun::ExitStatus() const { return m_exitStatus; }

}  // namespace kestro::cli
