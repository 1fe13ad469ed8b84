// What the history costs a run: one Add, which is one SQLite commit on this machine's disk (WAL,
// synchronous FULL). Prints the median, the 90th percentile and the worst of N commits (default
// 1000) into a fresh history in FOLDER (default: bench-history beside the program, on the build's
// disk; never a tmpfs, where a commit costs nothing).
// Usage: bench_history [RUNS] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "history/SqliteHistory.h"
#include "platform/Paths.h"

int main(int argc, char** argv) {
    using namespace kestro;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : ExecutablePath().parent_path() / "bench-history";
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    SqliteHistory history(folder / kHistoryFileName);
    if (const HistoryResult opened = history.Open(); !opened.Ok()) {
        std::fprintf(stderr, "bench_history: %s\n", opened.error.c_str());
        return 1;
    }
    // A row as a run writes it, with texts of their real lengths.
    HistoryRun run;
    run.frontEnd = kFrontEndCommandLine;
    run.pcName = "BENCH-PC";
    run.kitVersion = "R01.04";
    run.firmwareFile = "zqt_upg.pvx";
    run.firmwareSha256 = std::string(64, 'a');
    run.port = "/dev/ttyUSB0";
    run.cable = "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0";
    run.model = "QXM27TPL4RC8ZN";
    run.versionBefore = "R01.03";
    run.versionAfter = "R01.04";
    run.kind = RunKind::Confirmed;
    run.message = "Confirmed: KS24001735 now runs R01.04.";
    run.rowsWritten = 4352;
    run.durationMs = 98000;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        run.runId = NewRunId();
        run.serial = "KS" + std::to_string(24000000 + i);
        run.started = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        run.ended = run.started;
        const auto start = std::chrono::steady_clock::now();
        if (const HistoryResult added = history.Add(run); !added.Ok()) {
            std::fprintf(stderr, "bench_history: %s\n", added.error.c_str());
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("folder: %s\n", folder.string().c_str());
    std::printf("history commit per run  median %7.3f ms  p90 %7.3f ms  worst %7.3f ms  (%d commits)\n",
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), runs);
    std::filesystem::remove_all(folder, ec);
    return 0;
}
