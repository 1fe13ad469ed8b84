#pragma once
// One radio of kestro-upgrade: the run core's run of it, told to the console under the radio's
// index, with its frame trace, and worded as the command line words things (the command that
// finishes a radio, the hint at --recovery). Also the exit status a run of this radio alone
// gives.

#include <memory>
#include <string>

#include "cli/FleetConsole.h"
#include "cli/FrameTrace.h"
#include "runcore/RadioRun.h"

namespace kestro::cli {

class ConsoleRadio final : private IRunObserver {
public:
    ConsoleRadio(RadioTarget target, const RunSettings& settings, FleetConsole& console);
    ~ConsoleRadio() override;
    ConsoleRadio(const ConsoleRadio&) = delete;
    ConsoleRadio& operator=(const ConsoleRadio&) = delete;

    // The port is checked (a form --port does not take is a usage error), then the run core's
    // start-up step. False when the run cannot start; the reason has been reported. The calls
    // below are for a radio whose Prepare() gave no usage error.
    bool Prepare();
    bool Start() { return m_run->Start(); }
    void RequestStop() { m_run->RequestStop(); }
    bool RequestStopBeforeErase() { return m_run->RequestStopBeforeErase(); }
    bool Poll() { return m_run->Poll(); }
    int Index() const { return m_index; }
    const RadioSummary& Summary() const { return m_run->Summary(); }
    // The exit status a run of this radio alone gives.
    int ExitStatus() const;

private:
    void PortNamed(const std::string& port) override;
    void Started(const std::string& scenario) override;
    void Status(const std::string& text) override;
    void Serial(const std::string& serial) override;
    void ShowProgress(bool show) override;
    void Progress(int position, const std::string& label) override;
    void Message(const RunMessage& message) override;
    void Note(const std::string& text) override;
    void Guide(RunGuidance kind, const std::string& text) override;
    void RememberedRecovery(const RememberedRadios& remembered) override;
    void HistoryNotWritten(const std::string& reason) override { m_console.HistoryNotWritten(reason); }
    void Ended(const RadioSummary& summary) override;

    RadioTarget m_target;
    RunSettings m_settings;
    FleetConsole& m_console;
    int m_index;
    FrameTrace m_trace;
    std::unique_ptr<RadioRun> m_run;
    bool m_usageError = false;
};

}  // namespace kestro::cli
