#pragma once
// The events an output format writes: one sink per format, called by the writer thread only,
// after it has brought the radio's state (ConsoleState) up to date with the event.

#include <string>
#include <vector>

#include "cli/console/SummaryTable.h"
#include "runcore/RadioSummary.h"
#include "runcore/RunObserver.h"

namespace kestro::cli::console {

class IConsoleSink {
public:
    virtual ~IConsoleSink() = default;

    // What a radio's line shows has changed (its port, serial, finishing or progress shown);
    // a format that draws no lines in place ignores it, as it ignores Tick and Finish.
    virtual void Changed(int /*radio*/) {}
    virtual void Started(int radio, const std::string& scenario) = 0;
    virtual void Status(int radio, const std::string& text) = 0;
    // A new percent while the radio's progress is shown.
    virtual void Progress(int radio) = 0;
    virtual void Message(int radio, const RunMessage& message) = 0;
    virtual void Note(int radio, const std::string& text) = 0;
    virtual void Trace(int radio, const std::string& line) = 0;
    virtual void Ended(int radio, const RadioSummary& summary) = 0;
    virtual void Tick() {}
    virtual void Finish() {}
    virtual void Summary(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                         int exitStatus) = 0;
};

}  // namespace kestro::cli::console
