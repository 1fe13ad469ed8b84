// Eight radios at once in each front end that runs several, in one run of this program: the
// station (its real Station, table model and window with its delegates, on the offscreen
// platform, its event loop running) and the command-line fleet. The radios are served by this
// process on pseudo-terminals paced at 76 800 bit/s both ways; each front end runs in a child
// process of its own, so that its CPU time is its own.
//
// Prints, for each front end, each radio's time against the floor: what the bare line needs for
// the bytes of one upgrade (the simplest client's replay of one radio's exchanges, alone on a
// fresh paced radio) plus the procedure's fixed pauses, which no client can leave out; the worst
// and the median ratio; the CPU seconds per radio (the child's CPU time over the run, divided by
// the radios). For the station also the longest stall of its event loop while the radios run
// (how late a 5 ms timer fired at worst) with the UI thread's own CPU time in it (the rest was
// waiting, or other work on the machine), and how often its table was painted: its bars are
// redrawn at most once per repaint tick, not for every byte. A radio's time is, for the
// station, from Upgrade all until its row shows the result; for the fleet, as it reports it.
//
// Usage: bench_station [APPLICATION_ROWS [RADIOS]]   (default 2000 rows, 8 radios)

#include <QApplication>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BareLine.h"
#include "BenchRun.h"
#include "ChildRun.h"
#include "cli/Fleet.h"
#include "ui/station/StationWindow.h"

using namespace kestro;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStallProbe = std::chrono::milliseconds(5);

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What a child prints: all upgraded (0) or not, CPU seconds, the longest stall of its event
// loop and the UI thread's CPU time in it in milliseconds, its table's paints per second (-1
// where there is no event loop), each radio's seconds.
struct LoopFigures {
    double stallMs = -1.0;
    double busyMs = -1.0;
    double paintsPerSecond = -1.0;
};
constexpr std::size_t kFigures = 5;  // before the radios' seconds

void PrintFigures(bool allUpgraded, double cpu, const LoopFigures& loop,
                  const std::vector<double>& seconds) {
    std::printf("%d %.6f %.3f %.3f %.3f", allUpgraded ? 0 : 1, cpu, loop.stallMs, loop.busyMs,
                loop.paintsPerSecond);
    for (const double s : seconds) std::printf(" %.6f", s);
    std::printf("\n");
}

// Counts the paints of the widget it watches.
class PaintCounter final : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

int StationSide(const std::string& firmware, const std::string& log,
                const std::vector<std::string>& ports) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_station";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("kestro-bench-station"));

    station::StationOptions options;
    options.simulation = true;  // no cable scan: the rows are this benchmark's ports
    options.settings.firmware = firmware;
    options.settings.log = log;
    // Each run ends at the end of programming, as the line's floor (a bare replay) does: the
    // restart and the confirmation are measured by bench_fleet --mode.
    options.settings.confirmWait = std::chrono::milliseconds(0);
    station::StationWindow window(std::move(options));
    window.show();
    station::Station& station = window.GetStation();
    for (const std::string& port : ports) station.AddPort(port);
    PaintCounter painted;
    window.Table()->viewport()->installEventFilter(&painted);

    const std::size_t n = ports.size();
    std::vector<double> seconds(n, -1.0);
    bool allUpgraded = true;
    Clock::time_point started;
    const auto watchRows = [&] {
        const auto& rows = station.Model().Rows();
        for (std::size_t i = 0; i < n; ++i) {
            if (seconds[i] >= 0.0 || rows[i].state != station::RowState::Ended) continue;
            seconds[i] = SecondsSince(started);
            allUpgraded = allUpgraded && rows[i].result == station::RowResult::Upgraded;
        }
        if (std::all_of(seconds.begin(), seconds.end(), [](double s) { return s >= 0.0; }))
            app.quit();
    };
    QObject::connect(&station.Model(), &QAbstractItemModel::dataChanged, &app, watchRows);

    // How late the event loop comes back to a timer that wants it every few milliseconds, and
    // how much of the longest wait the UI thread was busy: on a machine shared with other work
    // the rest is time the thread was not given.
    Clock::duration longest{};
    double busyInLongest = 0.0;
    Clock::time_point last;
    double lastCpu = 0.0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kStallProbe);
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        const auto now = Clock::now();
        const double cpu = bench::ThreadCpuSeconds();
        if (now - last - kStallProbe > longest) {
            longest = now - last - kStallProbe;
            busyInLongest = cpu - lastCpu;
        }
        last = now;
        lastCpu = cpu;
    });
    QTimer::singleShot(std::chrono::minutes(10), &app, [&] {
        std::fprintf(stderr, "the station's radios did not end in time\n");
        app.exit(1);
    });

    app.processEvents();  // the window is shown and painted before the runs start
    painted.paints = 0;
    const double cpuBefore = bench::ProcessCpuSeconds();
    started = last = Clock::now();
    lastCpu = bench::ThreadCpuSeconds();
    probe.start();
    station.UpgradeAll();
    if (app.exec() != 0) return 1;
    const double cpu = bench::ProcessCpuSeconds() - cpuBefore;
    LoopFigures loop;
    loop.stallMs = std::chrono::duration<double, std::milli>(longest).count();
    loop.busyMs = busyInLongest * 1000.0;
    loop.paintsPerSecond = painted.paints / SecondsSince(started);
    PrintFigures(allUpgraded, cpu, loop, seconds);
    return 0;
}

int FleetSide(const std::string& firmware, const std::string& log,
              const std::vector<std::string>& ports) {
    std::vector<RadioTarget> radios;
    for (const std::string& port : ports) radios.emplace_back(port, "");
    std::FILE* sink = std::fopen("/dev/null", "w");
    const double cpuBefore = bench::ProcessCpuSeconds();
    cli::FleetResult result;
    {
        cli::FleetConsole console(sink, cli::OutputMode::Lines);
        RunSettings settings{firmware, log, false, false};
        settings.confirmWait = std::chrono::milliseconds(0);
        result = cli::RunFleet(radios, settings, console);
    }
    const double cpu = bench::ProcessCpuSeconds() - cpuBefore;
    std::fclose(sink);
    std::vector<double> seconds;
    for (const auto& radio : result.radios) seconds.push_back(radio.seconds);
    PrintFigures(result.exitStatus == 0, cpu, LoopFigures{}, seconds);
    return 0;
}

struct FrontEnd {
    FrontEnd(const char* shownName, const char* childMode) : name(shownName), mode(childMode) {}
    const char* name;
    const char* mode;
    std::vector<double> ratios;  // each radio's time over the floor, sorted
    double cpuPerRadio = 0.0;
    LoopFigures loop;
};

std::string Optional(double value, const char* format) {
    if (value < 0.0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && (std::string(argv[1]) == "--station" || std::string(argv[1]) == "--fleet")) {
        const std::vector<std::string> ports(argv + 4, argv + argc);
        return std::string(argv[1]) == "--station" ? StationSide(argv[2], argv[3], ports)
                                                   : FleetSide(argv[2], argv[3], ports);
    }
    const int appRows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int n = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;

    const auto dir = std::filesystem::temp_directory_path() /
                     ("kestro-bench-station-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // The radios are ports named by hand, as a real cable is: their recovery records, and the
    // station's remembered settings, stay in here.
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    const auto firmware = dir / "image.pvx";
    std::ofstream(firmware, std::ios::binary) << bench::FullImage(appRows + 256);
    const double pauses =
        std::chrono::duration<double>(bench::FixedPauses(firmware, dir / "virtual.csv")).count();

    std::vector<FrontEnd> frontEnds = {{"station", "--station"},
                                       {"fleet (kestro-upgrade)", "--fleet"}};
    std::vector<std::vector<double>> seconds;
    std::vector<std::size_t> bytes;
    bench::ExchangeLog exchangeLog;
    for (FrontEnd& front : frontEnds) {
        bench::PacedRadios radios(n, seconds.empty() ? &exchangeLog : nullptr);
        std::filesystem::remove(dir / "runs.csv");
        std::vector<std::string> args{front.mode, firmware.string(), (dir / "runs.csv").string()};
        args.insert(args.end(), radios.Ports().begin(), radios.Ports().end());
        const std::vector<double> figures = bench::Numbers(bench::RunSelf(argv[0], args));
        radios.Stop();
        if (figures.size() != kFigures + static_cast<std::size_t>(n) || figures[0] != 0) {
            std::fprintf(stderr, "%s: not every radio was upgraded\n", front.name);
            return 1;
        }
        front.cpuPerRadio = figures[1] / n;
        front.loop = {figures[2], figures[3], figures[4]};
        seconds.emplace_back(figures.begin() + kFigures, figures.end());
        for (int i = 0; i < n; ++i) bytes.push_back(radios.Bytes(static_cast<std::size_t>(i)));
    }
    const auto [bare, bareBytes] = bench::ReplayOnBareLine(bench::PacedRadio(), exchangeLog.Take());
    if (bare < 0.0 || bareBytes != bytes.front()) {
        std::fprintf(stderr, "the replay on the bare line did not complete\n");
        return 1;
    }
    const double floor = bare + pauses;
    // A radio whose run moved other bytes (a request sent again) has the line's part of its
    // floor in proportion.
    for (std::size_t f = 0; f < frontEnds.size(); ++f) {
        for (std::size_t i = 0; i < seconds[f].size(); ++i) {
            const double line = bare *
                                static_cast<double>(bytes[f * static_cast<std::size_t>(n) + i]) /
                                static_cast<double>(bareBytes);
            frontEnds[f].ratios.push_back(seconds[f][i] / (line + pauses));
        }
        std::sort(frontEnds[f].ratios.begin(), frontEnds[f].ratios.end());
    }
    std::filesystem::remove_all(dir);

    std::printf("%d radios at once, %d application rows each, paced at 76 800 bit/s both ways\n", n,
                appRows);
    std::printf(
        "floor per radio %.3f s: the bare line %.3f s for its %zu bytes (wire alone %.3f s) "
        "+ fixed pauses %.3f s\n\n",
        floor, bare, bareBytes, bench::WireSeconds(bareBytes), pauses);
    std::printf(
        "| front end | median / floor | worst / floor | CPU s per radio | longest event-loop stall "
        "| "
        "UI thread busy in it | table paints per s |\n");
    std::printf("| --- | ---: | ---: | ---: | ---: | ---: | ---: |\n");
    for (const FrontEnd& front : frontEnds) {
        std::printf("| %s | %.3f | %.3f | %.3f | %s | %s | %s |\n", front.name,
                    front.ratios[front.ratios.size() / 2], front.ratios.back(), front.cpuPerRadio,
                    Optional(front.loop.stallMs, "%.1f ms").c_str(),
                    Optional(front.loop.busyMs, "%.1f ms").c_str(),
                    Optional(front.loop.paintsPerSecond, "%.0f").c_str());
    }
    return 0;
}
