// What the durable recovery record costs a run: the time from "the erase request is ready" to
// "it may go out", which is the record's write (temporary file, flush, rename, folder flush) on
// this machine's disk. Prints the median, the 90th percentile and the worst of N writes (default
// 100) into FOLDER (default: bench-records beside the program, on the build's disk).
// Usage: bench_record [RUNS] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "upgrade/RecoveryRecords.h"

int main(int argc, char** argv) {
    using namespace kestro;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : ExecutablePath().parent_path() / "bench-records";
    const CRecoveryRecords records(folder);
    RecoveryRecord record{"COM33", "/dev/ttyUSB0", "KS24001735", "/opt/zqt_upg.pvx", 0, {}};
    std::vector<double> marks;
    std::vector<double> clears;
    for (int i = 0; i < runs; ++i) {
        record.since = 1765300000 + i;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        if (!records.Mark(record, error)) {
            std::fprintf(stderr, "bench_record: %s\n", error.c_str());
            return 1;
        }
        const auto marked = std::chrono::steady_clock::now();
        records.Clear(record);
        const auto cleared = std::chrono::steady_clock::now();
        marks.push_back(std::chrono::duration<double, std::milli>(marked - start).count());
        clears.push_back(std::chrono::duration<double, std::milli>(cleared - marked).count());
    }
    const auto report = [runs](const char* what, std::vector<double> ms) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-34s median %7.2f ms  p90 %7.2f ms  worst %7.2f ms  (%d runs)\n", what,
                    ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), runs);
    };
    std::printf("folder: %s\n", folder.string().c_str());
    report("record written before the erase", marks);
    report("record removed after the boot swap", clears);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
