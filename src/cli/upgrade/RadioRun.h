#pragma once
// One radio's complete run inside kestro-upgrade: its own settings, hub (with its serial engine
// and port thread, worker, reply receiver and recovery flag), frame trace and, with --simulate,
// its own simulated radio. Runs of several radios share nothing but the console and the log
// file, so one radio's failure, silence or lost cable cannot touch another's run.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/upgrade/FleetConsole.h"
#include "cli/upgrade/FrameTrace.h"
#include "platform/Settings.h"
#include "upgrade/UpgradeHub.h"

namespace kestro::cli {

class SimulatedLine;

struct RadioTarget {
    std::string port;      // auto, COMn or a device path; unused for a simulated radio
    std::string scenario;  // not empty: a simulated radio with this set-up
};

struct RunSettings {
    std::filesystem::path firmware;
    std::filesystem::path log;
    bool recovery = false;
    bool trace = false;
};

class RadioRun {
public:
    RadioRun(RadioTarget target, const RunSettings& settings, FleetConsole& console);
    ~RadioRun();
    RadioRun(const RadioRun&) = delete;
    RadioRun& operator=(const RadioRun&) = delete;

    // The port's start-up step, before its run starts: the simulated radio is started, the port
    // chosen and named, and every check that concerns this port alone is made here, with its
    // note. False when the run cannot start; the reason has been reported.
    bool Prepare();
    // Starts the worker. False when it did not start; the reason has been reported.
    bool Start();
    void RequestStop();
    // Stops the run unless it is between erase and boot swap; true when it is left to finish.
    bool RequestStopBeforeErase();
    int Index() const { return m_index; }
    // True while the run goes on. Once it has ended: releases the worker, reports how the run
    // ended (at once, while other runs go on) and keeps that for Summary().
    bool Poll();
    const RadioSummary& Summary() const { return m_summary; }

    // The exit status a run of this radio alone gives.
    int ExitStatus() const;
    // How the radio is reported: the path or COMn given, or the cable's port that was found.
    const std::string& Port() const { return m_port; }

private:
    class Reporter;

    void NotStarted(const std::string& reason, int exitStatus);
    // A record of an earlier run that left this port's radio between erase and boot swap.
    void TellOfRememberedRecovery();
    void Finish();

    RadioTarget m_target;
    RunSettings m_settings;
    FleetConsole& m_console;
    int m_index;
    std::string m_port;  // named before the run's threads start; never changed after
    PortTarget m_portTarget;
    MemorySettings m_hubSettings;
    FrameTrace m_trace;
    std::unique_ptr<Reporter> m_reporter;
    std::unique_ptr<CUpgradeHub> m_hub;
#if KESTRO_HAVE_SIMULATION
    std::unique_ptr<SimulatedLine> m_line;
#endif
    std::chrono::steady_clock::time_point m_started;
    bool m_startedOk = false;
    int m_exitStatus = 0;
    std::string m_failure;  // why the run did not start
    bool m_finished = false;
    RadioSummary m_summary;
};

}  // namespace kestro::cli
