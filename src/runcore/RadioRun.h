#pragma once
// One radio's complete run: its own settings, hub (with its serial engine and port thread,
// worker, reply receiver and recovery flag and records) and, for a simulated radio, its own
// simulated line. Runs of several radios share nothing but the log file, so one radio's failure,
// silence or lost cable cannot touch another's run. What the run does is told to its observer.

#include <chrono>
#include <memory>
#include <string>

#include "platform/Settings.h"
#include "runcore/FrameTap.h"
#include "runcore/RadioSummary.h"
#include "runcore/RadioTarget.h"
#include "runcore/RunObserver.h"

namespace kestro {

class CUpgradeHub;

// Why a run did not start.
enum class StartFailure {
    None,
    Firmware,  // the firmware file could not be used
    Port,      // the port could not be opened
    Kit,       // no thread, no pseudo-terminal, no simulated radio
};

class RadioRun {
public:
    // `tap`, when given, sees every frame of the run; it must outlive the run.
    RadioRun(RadioTarget target, const RunSettings& settings, IRunObserver& observer, IFrameTap* tap = nullptr);
    ~RadioRun();
    RadioRun(const RadioRun&) = delete;
    RadioRun& operator=(const RadioRun&) = delete;

    // The port's start-up step, before its run starts: the simulated radio is started (or its
    // cable plugged in again), the port named, and every check that concerns this port alone is
    // made here. False when the run cannot start; the reason has been reported.
    bool Prepare();
    // Starts the worker. False when it did not start; the reason has been reported.
    bool Start();
    void RequestStop();
    // Stops the run unless it is between erase and boot swap; true when it is left to finish.
    bool RequestStopBeforeErase();
    // Between erase and boot swap: stopping now leaves the radio without working firmware.
    bool InEraseSpan() const;
    // True while the run goes on. Once it has ended: releases the worker, reports how the run
    // ended (at once, while other runs go on) and keeps that for Summary().
    bool Poll();
    bool Ended() const { return m_finished; }
    const RadioSummary& Summary() const { return m_summary; }
    StartFailure Failure() const { return m_failure; }
    // How the radio is reported: the path or COMn given, the cable's port that was found, or
    // the simulated radio's line.
    const std::string& Port() const { return m_port; }

private:
    class Reporter;

    void NotStarted(StartFailure failure, const std::string& reason);
    // Records of earlier runs that left this port's radio between erase and boot swap.
    void TellOfRememberedRecovery();
    void Finish();
    // A check's end: its findings and verdict.
    void EndOfCheck(RadioSummary& summary) const;
    // Adds the run's row to the history, once the run has made its last request.
    void WriteHistory(const RadioSummary& summary);

    RadioTarget m_target;
    RunSettings m_settings;
    IRunObserver& m_observer;
    IFrameTap* m_tap;
    std::string m_port;  // named before the run's threads start; never changed after
    PortTarget m_portTarget;
    MemorySettings m_hubSettings;
    std::unique_ptr<Reporter> m_reporter;
    std::unique_ptr<CUpgradeHub> m_hub;
    std::shared_ptr<SimulatedLine> m_line;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::system_clock::time_point m_startedUtc;
    bool m_startedOk = false;
    StartFailure m_failure = StartFailure::None;
    std::string m_failureReason;  // why the run did not start
    bool m_finished = false;
    RadioSummary m_summary;
};

}  // namespace kestro
