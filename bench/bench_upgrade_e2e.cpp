// One whole upgrade in real time through the kit's real serial engine against the simulated
// radio on a pseudo-terminal, whose line is paced at 76 800 bit/s (10 bits a byte, absolute
// deadlines) in both directions. Prints the run's time, the time the wire and the fixed pauses
// alone need, and their ratio.
//
// Usage: bench_upgrade_e2e [ROWS]   (default 16384: every row of the flash)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "BenchRun.h"
#include "platform/Settings.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/UpgradeHub.h"

using namespace kestro;
using bench::FixedPauses;
using bench::QuietReporter;

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(257, std::atoi(argv[1])) : 16384;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("kestro-bench-e2e-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto firmware = dir / "full.pvx";
    const auto log = dir / "runs.csv";
    std::ofstream(firmware, std::ios::binary) << bench::FullImage(rows);

    const auto pauses = FixedPauses(firmware, log);

    SimRadioConfig config;
    config.pace = true;
    config.latency = std::chrono::milliseconds{0};
    PtyRadioServer server(config);
    std::atomic<std::size_t> toRadio{0};
    std::atomic<std::size_t> fromRadio{0};
    server.SetTrace([&](PtyRadioServer::Direction d, std::span<const std::uint8_t> bytes) {
        (d == PtyRadioServer::Direction::ToRadio ? toRadio : fromRadio) += bytes.size();
    });
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "cannot serve the radio: %s\n", error.c_str());
        return 1;
    }
    RegisterPortDevice(kFirstFreePort, server.SlavePath());

    QuietReporter reporter;
    MemorySettings settings;
    settings.SetString(kSettingsSection, kAutoValue, "No");
    settings.SetString(kSettingsSection, kComValue, PortName(kFirstFreePort));
    CUpgradeHub::Options options;
    options.firmwarePath = firmware;
    options.logPath = log;
    CUpgradeHub hub(reporter, settings, options);
    hub.OnInitialUpdate();

    const auto started = std::chrono::steady_clock::now();
    if (hub.OnUpgrade() != StartResult::Started) {
        std::fprintf(stderr, "the run did not start\n");
        return 1;
    }
    while (hub.UpgradeRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto took = std::chrono::steady_clock::now() - started;
    hub.JoinWorker();
    server.Stop();
    std::filesystem::remove_all(dir);
    if (hub.LastOutcome() != RunOutcome::Completed) {
        std::fprintf(stderr, "the run did not complete: %s\n", hub.LastMessage().c_str());
        return 1;
    }

    const double run = std::chrono::duration<double>(took).count();
    const std::size_t bytes = toRadio.load() + fromRadio.load();
    const double wire = static_cast<double>(bytes) * 10.0 / 76800.0;
    const double fixed = std::chrono::duration<double>(pauses).count();
    const double limit = wire + fixed;
    std::printf("rows in the image          %d (%d written)\n", rows, hub.CommFile().m_rowCount + 256);
    std::printf("bytes on the line          %zu to the radio, %zu from it\n", toRadio.load(),
                fromRadio.load());
    std::printf("wire time at 76800 bit/s   %.3f s\n", wire);
    std::printf("fixed pauses               %.3f s\n", fixed);
    std::printf("limit (wire + pauses)      %.3f s\n", limit);
    std::printf("upgrade run                %.3f s\n", run);
    std::printf("ratio run / limit          %.4f (%.2f%% over the limit)\n", run / limit,
                (run / limit - 1.0) * 100.0);
    return 0;
}
