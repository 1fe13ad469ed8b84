#pragma once
// The end of a run in text: the table of every radio, and the advice for radios left between
// erase and boot swap.

#include <string>
#include <vector>

#include "runcore/RadioSummary.h"

namespace kestro::cli {

// What the summary tells about radios left between erase and boot swap.
struct RecoveryAdvice {
    std::string command;           // finishes the real radios left needing recovery; "" if none
    std::string simulatedCommand;  // the same recovery on fresh simulated radios; "" if none
};

namespace console {

// The summary table, one string per line, each at most `columns` - 1 long (0: no limit):
// the least needed columns go first, then the result is shortened.
std::vector<std::string> Table(const std::vector<RadioSummary>& radios, int columns = 0);

// The text summary's lines: with one radio only the advice for it if it needs recovery; with
// several the table (`columns` as for Table), the ports left needing recovery and the advice.
std::vector<std::string> SummaryLines(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                                      int columns);

}  // namespace console
}  // namespace kestro::cli
