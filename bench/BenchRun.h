#pragma once
// What the whole-upgrade benchmarks share: the firmware image they write (every row filled, none
// erased), a reporter that prints only message boxes, and the fixed pauses of a fault-free run.

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runcore/VirtualRun.h"
#include "upgrade/UpgradeHub.h"

namespace kestro::bench {

// The time `bytes` take on the paced line, 10 bits a byte.
inline double WireSeconds(std::size_t bytes) {
    return static_cast<double>(bytes) * static_cast<double>(kBitsPerByte) /
           static_cast<double>(kLineBitsPerSecond);
}

// This process's CPU time so far, user and system.
inline double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The calling thread's CPU time so far.
inline double ThreadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Intel hexadecimal records for rows 0..rows-1, none of them erased, with segment records
// wherever a 64 KiB bank begins.
inline std::string FullImage(int rows) {
    std::string out;
    auto record = [&out](int type, unsigned address, const std::uint8_t* data, int count) {
        unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) +
                       static_cast<unsigned>(type);
        char cell[16];
        std::snprintf(cell, sizeof cell, ":%02X%04X%02X", count, address & 0xFFFF, type);
        out += cell;
        for (int i = 0; i < count; ++i) {
            std::snprintf(cell, sizeof cell, "%02X", data[i]);
            out += cell;
            sum += data[i];
        }
        std::snprintf(cell, sizeof cell, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out += cell;
    };
    for (int row = 0; row < rows; ++row) {
        const unsigned address = static_cast<unsigned>(row) * 16;
        if ((address & 0xFFFF) == 0 && address != 0) {
            const std::uint8_t segment[2] = {static_cast<std::uint8_t>(address >> 12), 0};
            record(0x02, 0, segment, 2);
        }
        std::uint8_t data[16];
        for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>((row * 31 + i * 7) % 0xFF);
        record(0x00, address & 0xFFFF, data, 16);
    }
    out += ":00000001FF\r\n";
    return out;
}

class QuietReporter final : public SilentReporter {
public:
    void MessageBox(const std::string& text, TitleKind, Icon) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
};

// The fixed pauses of a fault-free run, from the same run in virtual time.
inline std::chrono::milliseconds FixedPauses(const std::filesystem::path& firmware,
                                      const std::filesystem::path& log) {
    QuietReporter reporter;
    VirtualRun run(VirtualRunOptions{firmware, log, {}, {}, &reporter});
    run.Upgrade();
    if (run.hub->LastOutcome() != RunOutcome::Completed) {
        std::fprintf(stderr, "the virtual run did not complete\n");
        std::exit(1);
    }
    std::chrono::milliseconds total{0};
    for (const auto& pause : run.clock.Pauses()) total += pause.elapsed;
    return total;
}

}  // namespace kestro::bench
