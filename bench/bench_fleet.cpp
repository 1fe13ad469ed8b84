// Several radios at once, as kestro-upgrade runs them: N simulated radios, each on its own
// pseudo-terminal paced at 76 800 bit/s both ways, upgraded together by the fleet runner with
// its real serial engines. The radios are served by this process; the kit runs in a child
// process of its own, so that its CPU time and peak memory are measured alone.
// For each N prints each radio's time against its limit (the wire and the fixed pauses alone),
// the fleet's wall time against one radio alone, the kit's CPU seconds per radio and its peak RSS,
// and the CPU time the simulated radios took meanwhile. Then N bare-line clients replay the first
// radio's exchanges at once on N fresh radios: what the line alone costs at that N on this
// machine (each one's time over its wire time, as a share of the limit; their wall time against
// one bare client alone).
//
// With --stdout-pipe, for each N instead: the fleet's wall time (until its last radio's run has
// ended) with the kit's output on a pipe that is read as it goes, and on one that nobody reads
// until every radio has ended.
//
// With --mode MODE the kit's runs are: `plain` (the default), ending at the end of programming;
// `confirm`, as kestro-upgrade runs, waiting for the restarted radio (2 s of silence) and
// asking it what it runs; `history`, confirming and adding each run's row to a history file.
// Comparing their medians gives what the confirmation adds beyond the restart, and the history's
// cost per run. The bare-line floor replays a run that ends at the end of programming: it is
// measured in plain mode only (a replay cannot wait for a restart).
//
// Usage: bench_fleet [--stdout-pipe] [--mode plain|confirm|history] [APPLICATION_ROWS [N...]]
//        (default 2000 rows; N = 1 4 8 16 32)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BareLine.h"
#include "BenchRun.h"
#include "ChildRun.h"
#include "cli/Fleet.h"
#include "history/RunHistory.h"
#include "radio/posix/PtyRadioServer.h"

using namespace kestro;

namespace {

std::string g_mode = "plain";  // how the kit's runs end (--mode)

struct KitFigures {
    std::vector<double> seconds;  // each radio's run
    double wall = 0.0;
    double cpu = 0.0;
    long peakKiB = 0;
    bool allUpgraded = false;
};

// Where the kit's console output goes.
enum class Output { Null, PipeRead, PipeStalled };

// The count of lines in `path`.
std::size_t LinesIn(const std::filesystem::path& path) {
    std::ifstream in(path);
    return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

// The kit's side, in the child: upgrades the radios on `ports` and prints its figures.
int KitSide(const std::filesystem::path& firmware, const std::filesystem::path& log,
            const std::vector<std::string>& ports, Output output, const std::string& mode) {
    std::vector<RadioTarget> radios;
    for (const auto& port : ports) radios.push_back({port, ""});
    std::FILE* sink = nullptr;
    std::thread reader;
    if (output == Output::Null) {
        sink = std::fopen("/dev/null", "w");
    } else {
        int fds[2];
        if (::pipe(fds) != 0) return 1;
        sink = ::fdopen(fds[1], "w");
        // The stalled reader starts once every radio has logged its run (a header and a line each).
        reader = std::thread([fd = fds[0], output, log, n = ports.size()] {
            while (output == Output::PipeStalled && LinesIn(log) < n + 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            char buffer[4096];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        });
    }
    const auto started = std::chrono::steady_clock::now();
    cli::FleetResult result;
    {
        cli::FleetConsole console(sink, cli::OutputMode::Lines);
        RunSettings settings{firmware, log, false, false};
        if (mode == "plain") settings.confirmWait = std::chrono::milliseconds(0);
        if (mode == "history") {
            settings.historyFrontEnd = kFrontEndCommandLine;
            settings.history = log.parent_path() / "history.sqlite";
        }
        result = cli::RunFleet(radios, settings, console);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fclose(sink);
    if (reader.joinable()) reader.join();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%d %.6f %.6f %ld", result.exitStatus, wall, bench::ProcessCpuSeconds(), usage.ru_maxrss);
    for (const auto& radio : result.radios) std::printf(" %.6f", radio.seconds);
    std::printf("\n");
    return 0;
}

KitFigures RunKit(const char* self, const std::filesystem::path& firmware,
                  const std::filesystem::path& log, const std::vector<std::string>& ports,
                  const char* output = "null") {
    std::vector<std::string> args{"--kit", firmware.string(), log.string(), output, g_mode};
    args.insert(args.end(), ports.begin(), ports.end());
    const std::vector<double> numbers = bench::Numbers(bench::RunSelf(self, args));
    KitFigures figures;
    if (numbers.size() < 4) return figures;
    figures.allUpgraded = numbers[0] == 0;
    figures.wall = numbers[1];
    figures.cpu = numbers[2];
    figures.peakKiB = static_cast<long>(numbers[3]);
    figures.seconds.assign(numbers.begin() + 4, numbers.end());
    return figures;
}

// N bare clients at once, each on its own fresh radio: each one's seconds over its wire time,
// and the wall time of them all.
std::pair<std::vector<double>, double> BareFleet(const SimRadioConfig& config, int n,
                                                 const std::vector<bench::Exchange>& exchanges) {
    std::vector<double> over(static_cast<std::size_t>(n), -1.0);
    std::vector<std::thread> clients;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        clients.emplace_back([&, i] {
            const auto [took, bytes] = bench::ReplayOnBareLine(config, exchanges);
            if (took >= 0.0) over[static_cast<std::size_t>(i)] = took - bench::WireSeconds(bytes);
        });
    }
    for (auto& client : clients) client.join();
    return {over, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
}

// --stdout-pipe: the wall time of each fleet with its output read as it goes, and stalled.
int StdoutPipe(const char* self, const std::filesystem::path& firmware, const std::filesystem::path& dir,
               const std::vector<int>& counts) {
    std::printf("%4s  %12s  %14s  %14s\n", "N", "read wall s", "stalled wall s", "stalled/read");
    for (const int n : counts) {
        double wall[2] = {0.0, 0.0};
        for (const int stalled : {0, 1}) {
            const bench::PacedRadios radios(n);
            std::filesystem::remove(dir / "runs.csv");
            const KitFigures kit =
                RunKit(self, firmware, dir / "runs.csv", radios.Ports(), stalled ? "pipe-stalled" : "pipe-read");
            if (!kit.allUpgraded || kit.seconds.empty()) {
                std::fprintf(stderr, "N = %d: not every radio was upgraded\n", n);
                return 1;
            }
            // The fleet's own time: until its last run ended, without the wait for the reader.
            wall[stalled] = *std::max_element(kit.seconds.begin(), kit.seconds.end());
        }
        std::printf("%4d  %12.3f  %14.3f  %+13.2f%%\n", n, wall[0], wall[1], (wall[1] / wall[0] - 1) * 100);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::string(argv[1]) == "--kit") {
        const std::string output = argv[4];
        return KitSide(argv[2], argv[3], std::vector<std::string>(argv + 6, argv + argc),
                       output == "pipe-read"      ? Output::PipeRead
                       : output == "pipe-stalled" ? Output::PipeStalled
                                                  : Output::Null,
                       argv[5]);
    }
    const char* self = argv[0];
    const bool stdoutPipe = argc > 1 && std::string(argv[1]) == "--stdout-pipe";
    if (stdoutPipe) {
        --argc;
        ++argv;
    }
    if (argc > 2 && std::string(argv[1]) == "--mode") {
        g_mode = argv[2];
        if (g_mode != "plain" && g_mode != "confirm" && g_mode != "history") {
            std::fprintf(stderr, "--mode is plain, confirm or history\n");
            return 2;
        }
        argc -= 2;
        argv += 2;
    }
    const int appRows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty()) counts = {1, 4, 8, 16, 32};

    const auto dir = std::filesystem::temp_directory_path() / ("kestro-bench-fleet-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto firmware = dir / "image.pvx";
    std::ofstream(firmware, std::ios::binary) << bench::FullImage(appRows + 256);
    const double pauses = std::chrono::duration<double>(bench::FixedPauses(firmware, dir / "virtual.csv")).count();

    std::printf("%d application rows per radio; fixed pauses %.3f s per run; runs: %s\n", appRows, pauses,
                g_mode.c_str());
    if (stdoutPipe) {
        const int status = StdoutPipe(self, firmware, dir, counts);
        std::filesystem::remove_all(dir);
        return status;
    }
    std::printf("%4s  %10s  %10s  %8s  %8s  %9s  %9s  %9s  %9s  %12s  %11s  %11s\n", "N", "limit s",
                "median s", "median", "worst", "wall s", "wall/one", "CPU s/N", "peak MB", "radios CPU s",
                "line worst", "line w/one");
    double oneRadio = 0.0;
    double oneBare = 0.0;
    std::vector<bench::Exchange> exchanges;
    for (const int n : counts) {
        bench::ExchangeLog exchangeLog;
        bench::PacedRadios radios(n, exchanges.empty() ? &exchangeLog : nullptr);
        std::filesystem::remove(dir / "runs.csv");
        const double radiosCpuBefore = bench::ProcessCpuSeconds();
        const KitFigures kit = RunKit(self, firmware, dir / "runs.csv", radios.Ports());
        radios.Stop();
        const double radiosCpu = bench::ProcessCpuSeconds() - radiosCpuBefore;
        if (!kit.allUpgraded || kit.seconds.size() != static_cast<std::size_t>(n)) {
            std::fprintf(stderr, "N = %d: not every radio was upgraded\n", n);
            return 1;
        }
        // Each radio against its own limit: its bytes on the wire and the fixed pauses.
        std::vector<double> ratios;
        double limitSum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double limit = bench::WireSeconds(radios.Bytes(static_cast<std::size_t>(i))) + pauses;
            limitSum += limit;
            ratios.push_back(kit.seconds[i] / limit);
        }
        std::sort(ratios.begin(), ratios.end());
        if (n == 1 || oneRadio == 0.0) oneRadio = kit.seconds.front();
        if (g_mode != "plain") {
            std::printf("%4d  %10.3f  %10.3f  %+7.2f%%  %+7.2f%%  %9.3f  %+8.2f%%  %9.4f  %9.1f  %12.2f\n", n,
                        limitSum / n, ratios[ratios.size() / 2] * limitSum / n, (ratios[ratios.size() / 2] - 1) * 100,
                        (ratios.back() - 1) * 100, kit.wall, (kit.wall / oneRadio - 1) * 100, kit.cpu / n,
                        static_cast<double>(kit.peakKiB) / 1024.0, radiosCpu);
            std::fflush(stdout);
            continue;
        }
        if (exchanges.empty()) exchanges = exchangeLog.Take();
        auto [bareOver, bareWall] = BareFleet(bench::PacedRadio(), n, exchanges);
        std::sort(bareOver.begin(), bareOver.end());
        if (bareOver.front() < 0.0) {
            std::fprintf(stderr, "N = %d: a bare-line client did not complete\n", n);
            return 1;
        }
        if (n == 1 || oneBare == 0.0) oneBare = bareWall;
        std::printf("%4d  %10.3f  %10.3f  %+7.2f%%  %+7.2f%%  %9.3f  %+8.2f%%  %9.4f  %9.1f  %12.2f  %+10.2f%%  %+10.2f%%\n",
                    n, limitSum / n, ratios[ratios.size() / 2] * limitSum / n, (ratios[ratios.size() / 2] - 1) * 100,
                    (ratios.back() - 1) * 100, kit.wall, (kit.wall / oneRadio - 1) * 100, kit.cpu / n,
                    static_cast<double>(kit.peakKiB) / 1024.0, radiosCpu, bareOver.back() / (limitSum / n) * 100,
                    (bareWall / oneBare - 1) * 100);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
