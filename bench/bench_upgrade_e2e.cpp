// One whole upgrade in real time through the kit's real serial engine against the simulated
// radio on a pseudo-terminal, whose line is paced at 76 800 bit/s (10 bits a byte, absolute
// deadlines) in both directions. Prints the run's time, the time the wire and the fixed pauses
// alone need, and their ratio; the kit's turnaround per exchange (from the last reply byte read
// to the next request written, pauses of the procedure left out); and the CPU time the kit
// spent (the process's, less the simulated radio's thread and this program's waiting loop).
// Then the same requests are replayed against a fresh simulated radio by the simplest client
// there is (one thread, blocking reads, each request written as its reply ends, no pauses): its
// time over its wire time is what the pseudo-terminal and the simulated radio's wake-ups cost
// on this machine, a floor that no client can go below.
//
// Usage: bench_upgrade_e2e [ROWS]   (default 16384: every row of the flash)

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "BareLine.h"
#include "BenchRun.h"
#include "platform/RealClock.h"
#include "platform/Settings.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/UpgradeHub.h"

using namespace kestro;
using bench::ExchangeLog;
using bench::FixedPauses;
using bench::ProcessCpuSeconds;
using bench::ThreadCpuSeconds;
using bench::ReplayOnBareLine;
using bench::QuietReporter;

namespace {

std::int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The real clock, noting each pause of the procedure and each wait that timed out: the exchange
// after one is no measure of the kit's turnaround.
class PauseNotingClock final : public IClock {
public:
    Millis Now() override { return RealClock::Instance().Now(); }
    bool Sleep(Millis duration, const ManualResetEvent* interrupt) override {
        m_paused.store(true);
        return RealClock::Instance().Sleep(duration, interrupt);
    }
    // A wait that timed out (a reply that wakes nobody, or none at all) is a pause as well.
    bool WaitFor(const ManualResetEvent& event, Millis timeout) override {
        const bool signalled = RealClock::Instance().WaitFor(event, timeout);
        if (!signalled) m_paused.store(true);
        return signalled;
    }
    void Wait(const ManualResetEvent& event) override { RealClock::Instance().Wait(event); }
    bool TakePaused() { return m_paused.exchange(false); }

private:
    std::atomic<bool> m_paused{false};
};

// Stands between the engine and the hub: times the last byte read and each frame written.
class TurnaroundOwner final : public IPortOwner {
public:
    explicit TurnaroundOwner(PauseNotingClock& clock) : m_clock(clock) { m_samples.reserve(1 << 16); }
    void SetNext(IPortOwner* next) { m_next = next; }
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override {
        m_lastByte.store(NowNanoseconds());
        m_next->OnSerialRxChar(byte, portNumber);
    }
    void OnPortError(const std::string& text, int portNumber) override {
        m_next->OnPortError(text, portNumber);
    }
    void OnFrameWritten(int) override {
        const std::int64_t written = NowNanoseconds();
        const std::int64_t last = m_lastByte.exchange(0);
        // Only a request that answers a reply counts, and only when no pause came between.
        if (!m_clock.TakePaused() && last != 0 && m_samples.size() < m_samples.capacity()) {
            m_samples.push_back(written - last);
        }
    }
    // Nanoseconds, sorted; read once the run is over.
    std::vector<std::int64_t> Sorted() {
        std::sort(m_samples.begin(), m_samples.end());
        return m_samples;
    }

private:
    IPortOwner* m_next = nullptr;
    PauseNotingClock& m_clock;
    std::atomic<std::int64_t> m_lastByte{0};
    std::vector<std::int64_t> m_samples;
};


}  // namespace

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
    std::atomic<double> radioCpu{0.0};
    ExchangeLog exchanges;
    server.SetTrace([&](PtyRadioServer::Direction d, std::span<const std::uint8_t> bytes) {
        (d == PtyRadioServer::Direction::ToRadio ? toRadio : fromRadio) += bytes.size();
        exchanges.Note(d, bytes);
        radioCpu.store(ThreadCpuSeconds());
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
    PauseNotingClock clock;
    CUpgradeHub::Options options;
    options.firmwarePath = firmware;
    options.logPath = log;
    options.clock = &clock;
    TurnaroundOwner timing(clock);
    options.portOwner = &timing;
    CUpgradeHub hub(reporter, settings, options);
    timing.SetNext(&hub);
    hub.OnInitialUpdate();

    const double cpuBefore = ProcessCpuSeconds();
    const double radioCpuBefore = radioCpu.load();
    const auto started = std::chrono::steady_clock::now();
    if (hub.OnUpgrade() != StartResult::Started) {
        std::fprintf(stderr, "the run did not start\n");
        return 1;
    }
    const double loopCpuBefore = ThreadCpuSeconds();
    while (hub.UpgradeRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto took = std::chrono::steady_clock::now() - started;
    const double loopCpu = ThreadCpuSeconds() - loopCpuBefore;
    const double kitCpu =
        ProcessCpuSeconds() - cpuBefore - (radioCpu.load() - radioCpuBefore) - loopCpu;
    hub.JoinWorker();
    server.Stop();
    std::filesystem::remove_all(dir);
    if (hub.LastOutcome() != RunOutcome::Completed) {
        std::fprintf(stderr, "the run did not complete: %s\n", hub.LastMessage().c_str());
        return 1;
    }

    const double run = std::chrono::duration<double>(took).count();
    const std::size_t bytes = toRadio.load() + fromRadio.load();
    const double wire = bench::WireSeconds(bytes);
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
    const auto turns = timing.Sorted();
    if (!turns.empty()) {
        auto at = [&turns](double q) {
            const auto i = static_cast<std::size_t>(q * static_cast<double>(turns.size() - 1));
            return static_cast<double>(turns[i]) / 1000.0;
        };
        double total = 0.0;
        for (const auto t : turns) total += static_cast<double>(t) / 1e9;
        std::printf("kit turnaround (%zu exch.)  p50 %.1f us, p99 %.1f us, max %.1f us\n",
                    turns.size(), at(0.5), at(0.99), at(1.0));
        // What the kit's own turnarounds add to the run; the rest of the time over the limit
        // is the simulated radio's and the pseudo-terminal's.
        std::printf("kit turnaround in all      %.3f s (%.2f%% of the limit)\n", total,
                    total / limit * 100.0);
    }
    std::printf("kit CPU time               %.3f s\n", kitCpu);

    const auto replayed = exchanges.Take();
    const auto [bare, bareBytes] = ReplayOnBareLine(config, replayed);
    if (bare < 0.0 || bareBytes != bytes) {
        std::fprintf(stderr, "the replay on the bare line did not complete\n");
        return 1;
    }
    // The floor's time over its wire time is the line's own; the rest of the run's is the kit's.
    const double lineOwn = bare - wire;
    std::printf("bare-line client           %.3f s for the same %zu exchanges, %.3f s over the wire"
                " (%.1f us an exchange)\n",
                bare, replayed.size(), lineOwn, lineOwn / static_cast<double>(replayed.size()) * 1e6);
    std::printf("ratio beside the floor     %.4f (run / (limit + the line's own %.3f s))\n",
                run / (limit + lineOwn), lineOwn);
    return 0;
}
