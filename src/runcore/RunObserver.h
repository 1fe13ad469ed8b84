#pragma once
// What one radio's run tells its front end. Everything but Ended comes from the run's worker or
// port thread, or from the thread that prepares and starts the run; Ended comes from the thread
// that polls the run. A front end words what it is told in its own way (a console line, a table
// row) and passes it to its own thread if it needs to.

#include <string>
#include <vector>

#include "runcore/RadioSummary.h"
#include "upgrade/RecoveryRecords.h"
#include "upgrade/Reporter.h"

namespace kestro {

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
    virtual void Message(const std::string& text, TitleKind title, Icon icon) = 0;
    // A note of the kit's own: the detail beneath a message, why the run did not start.
    virtual void Note(const std::string& text) = 0;
    // One sentence of guidance about how to go on (see IReporter::Guide).
    virtual void Guide(Guidance kind, const std::string& text) = 0;
    // Before the run: earlier runs left radios on this port between erase and boot swap (oldest
    // first; a recovery run finishes the newest). `skipped`: one line about files skipped, or "".
    virtual void RememberedRecovery(const std::vector<RecoveryRecord>& /*records*/,
                                    const std::string& /*skipped*/) {}
    virtual void Ended(const RadioSummary& summary) = 0;
};

}  // namespace kestro
