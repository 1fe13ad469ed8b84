#pragma once
// A run's row of the history, as the run core builds it from how the run ended. Private to the
// run core.

#include <chrono>
#include <filesystem>
#include <string>

#include "history/RunHistory.h"
#include "runcore/RadioSummary.h"

namespace kestro {

// What the run knew beside its summary.
struct HistoryContext {
    std::chrono::system_clock::time_point started;
    std::string frontEnd;
    std::filesystem::path firmware;
    std::string cable;
    std::string model;
    long long rowsWritten = 0;
};

RunKind HistoryKind(RunEndKind kind);
HistoryRun HistoryEntry(const RadioSummary& summary, const HistoryContext& context);

}  // namespace kestro
