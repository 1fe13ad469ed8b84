#include "cli/ConsoleRadio.h"

#include <cstdio>

#include "log/UpgradeLog.h"
#include "runcore/EarlierRun.h"

#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"
#include "cli/Fleet.h"

namespace kestro::cli {

namespace {

constexpr const char* kSilentRadioHint =
    "A radio that answers nothing may be one that an interrupted upgrade left without firmware: "
    "kestro-upgrade --recovery on that port programs it directly.";

constexpr const char* kNoFirmwareHint =
    "The radio may now have no working firmware: kestro-upgrade --recovery on this port finishes it.";

// One line on what the radio said after its upgrade; "" when it was not asked.
std::string ConfirmationLine(const RadioSummary& summary) {
    const RunEnd& end = summary.end;
    const std::string serial = summary.serial.empty() ? end.serialAfter : summary.serial;
    switch (end.kind) {
        case RunEndKind::Confirmed: return "Confirmed: " + serial + " now runs " + VersionText(end.versionAfter) + ".";
        case RunEndKind::NotConfirmedOldVersion:
            return "Not confirmed: " + serial + " still reports " + VersionText(end.versionAfter) + " after the upgrade.";
        case RunEndKind::NotConfirmedNoAnswer:
            return "Not confirmed: the radio did not answer after the upgrade. Switch it off and on, then run "
                   "kestro-upgrade --check.";
        case RunEndKind::NotConfirmedOtherSerial:
            return "Not confirmed: another radio, " + end.serialAfter + ", answers on this port after the upgrade" +
                   (summary.serial.empty() ? std::string(".") : " of " + summary.serial + ".");
        default: return {};
    }
}

// What a check read, and its verdict: "KS24001735: model QXM27TPL4RC8ZN, firmware R01.03,
// battery OK, codeplug byte 6F: an upgrade would run."
std::string CheckLine(const RadioSummary& summary) {
    const RadioCheck& check = *summary.check;
    std::string line = (summary.serial.empty() ? std::string("the radio") : summary.serial) + ":";
    std::string parts;
    auto add = [&parts](const std::string& part) { parts += (parts.empty() ? " " : ", ") + part; };
    if (!check.model.empty()) add("model " + LogField(check.model));
    if (!check.firmware.empty()) add("firmware " + VersionText(LogField(check.firmware)));
    if (check.batteryLow) add(*check.batteryLow ? "battery LOW" : "battery OK");
    if (check.codeplugByte) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", *check.codeplugByte);
        add(std::string("codeplug byte ") + hex);
    }
    return line + parts + (parts.empty() ? " " : ": ") + CheckVerdictText(check) + ".";
}

}  // namespace

ConsoleRadio::ConsoleRadio(RadioTarget target, const RunSettings& settings, FleetConsole& console)
    : m_target(std::move(target)),
      m_settings(settings),
      m_console(console),
      m_index(console.AddRadio(m_target.scenario.empty() ? m_target.port : "simulated")),
      m_trace([this](const std::string& line) { m_console.Trace(m_index, line); }) {
    if (!m_target.scenario.empty()) m_target.simulatedSerial = SimulatedSerial(m_index);
}

ConsoleRadio::~ConsoleRadio() { m_run.reset(); }  // its threads end before the trace goes

bool ConsoleRadio::Prepare() {
    std::string error;
    if (!m_target.scenario.empty()) {
#if !KESTRO_HAVE_SIMULATION
        error = "--simulate needs pseudo-terminals, which this build lacks; run "
                "kestro-radio-sim on Linux and choose its port instead";
#endif
    } else if (auto target = PortTargetFor(m_target.port, error)) {
        m_target.chosen = std::move(*target);
    }
    if (!error.empty()) {
        m_usageError = true;
        m_console.Note(m_index, error);
        return false;
    }
    IRunObserver& observer = *this;
    m_run = std::make_unique<RadioRun>(m_target, m_settings, observer, m_settings.trace ? &m_trace : nullptr);
    return m_run->Prepare();
}

int ConsoleRadio::ExitStatus() const {
    if (m_usageError) return kExitUsage;
    switch (m_run->Failure()) {
        case StartFailure::Firmware: return kExitFirmware;
        case StartFailure::Port: return kExitPort;
        case StartFailure::Kit: return kExitKit;
        case StartFailure::None: break;
    }
    if (!m_run->Ended()) return kExitCompleted;  // nothing has gone wrong yet
    const RunEnd& end = m_run->Summary().end;
    if (end.Stopped()) return kExitInterrupted;
    if (end.kind == RunEndKind::NotConfirmedOldVersion) return kExitNotConfirmed;
    if (end.kind == RunEndKind::Checked) return kExitCompleted;  // read, whatever the verdict
    return end.Upgraded() ? kExitCompleted : kExitRadioFailed;
}

void ConsoleRadio::PortNamed(const std::string& port) { m_console.RenamePort(m_index, port); }
void ConsoleRadio::Started(const std::string& scenario) { m_console.Started(m_index, scenario); }
void ConsoleRadio::Status(const std::string& text) { m_console.Status(m_index, text); }
void ConsoleRadio::Serial(const std::string& serial) { m_console.Serial(m_index, serial); }
void ConsoleRadio::ShowProgress(bool show) { m_console.ShowProgress(m_index, show); }
void ConsoleRadio::Progress(int position, const std::string& label) { m_console.Progress(m_index, position, label); }
void ConsoleRadio::Note(const std::string& text) { m_console.Note(m_index, text); }
void ConsoleRadio::Message(const RunMessage& message) { m_console.Message(m_index, message); }

// A radio that does not answer at all gets a hint at --recovery.
void ConsoleRadio::Ended(const RadioSummary& summary) {
    if (summary.end.kind == RunEndKind::NoAnswer) m_console.Note(m_index, kSilentRadioHint);
    if (const std::string line = ConfirmationLine(summary); !line.empty()) m_console.Note(m_index, line);
    if (summary.check && summary.end.kind != RunEndKind::NoAnswer) {
        m_console.Note(m_index, CheckLine(summary));
        // What was done to this radio before, here and at the other benches.
        const EarlierRuns earlier = LatestEarlierRuns(m_settings, summary.check->serial);
        if (!earlier.here.empty()) m_console.Note(m_index, "Latest run on this PC: " + earlier.here + ".");
        if (!earlier.server.empty()) m_console.Note(m_index, "Latest run in the shared history: " + earlier.server + ".");
        if (!earlier.error.empty()) m_console.Note(m_index, "kestro-upgrade: the history could not be read: " + earlier.error);
    }
    m_console.Ended(m_index, summary);
}

void ConsoleRadio::Guide(RunGuidance kind, const std::string& text) {
    m_console.Note(m_index, kind == RunGuidance::RadioMayHaveNoFirmware ? kNoFirmwareHint : text);
}

void ConsoleRadio::RememberedRecovery(const RememberedRadios& remembered) {
    if (!remembered.skipped.empty()) m_console.Note(m_index, "kestro-upgrade: " + remembered.skipped);
    if (!remembered.Any()) return;
    if (m_settings.recovery) {
        if (remembered.count > 1) {
            m_console.Note(m_index, "kestro-upgrade: recovery records on this port: " + remembered.described +
                                        "; this run finishes " + remembered.newest);
        }
        return;
    }
    // The run goes ahead as asked: scripts keep their meaning. The user learns how to finish the
    // radios that earlier runs left between erase and boot swap.
    RadioSummary left;
    left.port = remembered.newestPort;
    left.end.kind = RunEndKind::NeedsRecovery;
    m_console.Note(m_index, "kestro-upgrade: an upgrade of " + remembered.described +
                                " stopped between erase and boot swap (the last on " + remembered.newestSince +
                                ") and may have left it without firmware; finish it with: " +
                                RecoveryCommand({left}, m_settings));
}

}  // namespace kestro::cli
