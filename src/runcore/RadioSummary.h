#pragma once
// How one radio's run ended, as every front end reports it: its end line, the fleet's summary
// and exit status, a station's row.

#include <optional>
#include <string>

#include "runcore/RunEnd.h"
#include "upgrade/RadioCheck.h"

namespace kestro {

struct RadioSummary {
    std::string port;
    std::string serial;          // "" until read
    std::string firmwareBefore;  // "" until read
    std::string codeplug;        // "Yes" restored, "No" not needed, "" not reached
    RunEnd end;
    std::string result;          // "upgraded", or the title of the message that ended the run
    bool simulated = false;      // its pseudo-terminal is gone once the run has ended
    double seconds = 0.0;
    std::optional<RadioCheck> check;  // a read-only check's findings, once it has run

    bool NeedsRecovery() const { return end.NeedsRecovery(); }
};

// The first line of a message box text ("Read Error #8"), trailing blanks removed.
std::string MessageTitle(const std::string& text);

}  // namespace kestro
