#pragma once
// What one radio's run tells its front end, in the run core's own terms. Everything but Ended
// comes from the run's worker or port thread, or from the thread that prepares and starts the
// run; Ended comes from the thread that polls the run. A front end words what it is told in its
// own way (a console line, a table row) and passes it to its own thread if it needs to.

#include <cstddef>
#include <string>

#include "runcore/RadioSummary.h"

namespace kestro {

// A message that ends or warns about a run, as the window would box it: its whole text, the
// box's title ("Kestro Upgrade Kit") and its kind ("error", "warning", "information" or "none").
struct RunMessage {
    std::string text;
    std::string title;
    std::string kind;
};

// The sentences of guidance a front end words its own way; any other is passed as it is.
enum class RunGuidance {
    RadioMayHaveNoFirmware,  // the run failed between erase and boot swap
    NoRecoveryNeeded,        // a recovery run's radio answered and refused programming
    Other,
};

// Radios that earlier runs left between erase and boot swap on a port, newest last.
struct RememberedRadios {
    std::size_t count = 0;
    std::string described;    // "the radio KS1 on COM33, the radio KS2 on COM33"
    std::string newest;       // the radio that a recovery run finishes: "the radio KS2 on COM33"
    std::string newestPort;   // its port as the command line takes it
    std::string newestSince;  // when its run stopped: "2026-12-09 19:30"
    std::string skipped;      // one line about record files that were skipped, or ""

    bool Any() const { return count > 0; }
};

class IRunObserver {
public:
    virtual ~IRunObserver() = default;

    // The port became known (a simulated radio's line, or the cable that "auto" found).
    virtual void PortNamed(const std::string& /*port*/) {}
    // The run begins; `scenario` names a simulated radio's set-up, "" for a real one.
    virtual void Started(const std::string& scenario) = 0;
    virtual void Status(const std::string& text) = 0;
    // The radio's serial number, once it has told it.
    virtual void Serial(const std::string& serial) = 0;
    // The radio's firmware version before the run, told with its serial number (it is read first).
    virtual void FirmwareBefore(const std::string& /*version*/) {}
    virtual void ShowProgress(bool show) = 0;
    virtual void Progress(int position, const std::string& label) = 0;
    // A message that ends or warns about the run; the run does not wait for it to be read.
    virtual void Message(const RunMessage& message) = 0;
    // A note of the kit's own: the detail beneath a message, why the run did not start.
    virtual void Note(const std::string& text) = 0;
    // One sentence of guidance about how to go on.
    virtual void Guide(RunGuidance kind, const std::string& text) = 0;
    // Before the run: what the recovery records of this port say (also when only files were
    // skipped).
    virtual void RememberedRecovery(const RememberedRadios& /*remembered*/) {}
    // The run's row could not be added to the history (the run itself is not affected).
    virtual void HistoryNotWritten(const std::string& /*reason*/) {}
    virtual void Ended(const RadioSummary& summary) = 0;
};

}  // namespace kestro
