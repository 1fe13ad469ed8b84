// What the shared history costs: the campaign report over 100 000 generated runs from 10 PCs,
// read from the PCs' SQLite files and from a PostgreSQL server (time and peak memory, each in a
// process of its own), and the push to the server: a whole backlog, and one run at a time as a
// bench sends each run after its commit. The server is a cluster of the bench's own (initdb,
// Unix socket), or KESTRO_BENCH_SERVER's connection string. The PCs' files are made on /dev/shm
// where it exists (their commits are not what is measured).
// Usage: bench_history_server [RUNS] [PCS]   (KESTRO_BENCH_REPORT=FILE keeps the report's page)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PgCluster.h"
#include "cli/report/CampaignReport.h"
#include "cli/report/ReportHtml.h"
#include "history/HistoryPush.h"

using namespace kestro;
using namespace kestro::cli;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

HistoryRun Generated(std::mt19937& random, int pc, int index) {
    static constexpr RunKind kKinds[] = {RunKind::Confirmed, RunKind::Confirmed, RunKind::Confirmed,
                                         RunKind::Confirmed, RunKind::NotConfirmedNoAnswer,
                                         RunKind::FailedBeforeErase, RunKind::NeedsRecovery};
    HistoryRun run;
    run.runId = NewRunId();
    run.started = std::chrono::sys_days{std::chrono::year{2026} / 11 / 2} + std::chrono::seconds(random() % (30 * 86400));
    run.durationMs = 90000 + static_cast<std::int64_t>(random() % 20000);
    run.ended = run.started + std::chrono::seconds(run.durationMs / 1000);
    run.frontEnd = index % 2 ? kFrontEndStation : kFrontEndCommandLine;
    run.pcName = "BENCH-" + std::to_string(pc + 1);
    run.kitVersion = "R01.04";
    run.firmwareFile = "zqt_upg.pvx";
    run.firmwareSha256 = std::string(64, 'a');
    run.port = "/dev/ttyUSB" + std::to_string(index % 8);
    run.cable = "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_000" + std::to_string(index % 8) + "-if00-port0";
    run.serial = "KS" + std::to_string(24000000 + random() % 60000);
    run.model = "QXM27TPL4RC8ZN";
    run.versionBefore = "R01.03";
    run.codeplugRestored = CodeplugRestored::No;
    run.kind = kKinds[random() % std::size(kKinds)];
    run.message = "Confirmed: the radio now runs R01.04.";
    run.versionAfter = run.kind == RunKind::Confirmed ? "R01.04" : "";
    run.rowsWritten = 4352;
    return run;
}

// Runs `work` in a child process; prints its wall time and the child's peak resident memory.
void Measured(const char* what, const std::function<bool()>& work) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    std::printf("%-44s %8.2f s  peak %7.1f MiB%s\n", what, Seconds(start), usage.ru_maxrss / 1024.0,
                status == 0 ? "" : "  (FAILED)");
}

// Builds the report's page; KESTRO_BENCH_REPORT names a file to keep it in (an example page).
bool Report(std::vector<HistoryRun> runs, std::size_t expected) {
    const CampaignReport report = BuildReport(runs, {}, std::nullopt);
    const std::string html = ReportHtml(report, {FormatUtc(std::chrono::floor<std::chrono::seconds>(
                                                     std::chrono::system_clock::now())),
                                                 {"generated runs"}});
    if (const char* keep = std::getenv("KESTRO_BENCH_REPORT"); keep != nullptr) {
        std::FILE* file = std::fopen(keep, "wb");
        if (file == nullptr) return false;
        std::fwrite(html.data(), 1, html.size(), file);
        std::fclose(file);
    }
    return report.historyRuns == expected && html.size() > 1000;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
    const int pcs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::filesystem::path folder =
        (std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()) /
        ("kestro-bench-history-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    std::unique_ptr<test::PgCluster> cluster;
    std::string server = std::getenv("KESTRO_BENCH_SERVER") != nullptr ? std::getenv("KESTRO_BENCH_SERVER") : "";
    if (server.empty()) {
        cluster = std::make_unique<test::PgCluster>();
        if (!cluster->Error().empty()) {
            std::fprintf(stderr, "bench_history_server: %s\n", cluster->Error().c_str());
            return 1;
        }
        server = cluster->Conninfo();
    }
    ServerHistory shared(server);
    if (const HistoryResult init = shared.InitSchema(); !init.Ok()) {
        std::fprintf(stderr, "bench_history_server: %s\n", init.error.c_str());
        return 1;
    }

    std::printf("%d runs from %d PCs; server %s\n", runs, pcs, shared.Shown().c_str());
    std::mt19937 random(20261210);
    auto start = Clock::now();
    std::vector<std::filesystem::path> files;
    for (int pc = 0; pc < pcs; ++pc) {
        files.push_back(folder / ("pc" + std::to_string(pc + 1) + ".sqlite"));
        SqliteHistory local(files.back());
        for (int i = pc; i < runs; i += pcs) {
            if (!local.Add(Generated(random, pc, i)).Ok()) return 1;
        }
    }
    std::printf("%-44s %8.2f s\n", "generated into the PCs' SQLite files", Seconds(start));

    start = Clock::now();
    std::size_t pushed = 0;
    for (const auto& file : files) {
        SqliteHistory local(file);
        const PushResult result = PushUnsent(local, shared);
        if (!result.Ok()) {
            std::fprintf(stderr, "bench_history_server: %s\n", result.error.c_str());
            return 1;
        }
        pushed += result.sent;
    }
    const double backlog = Seconds(start);
    std::printf("%-44s %8.2f s  %6.1f us a run\n", "pushed as a backlog (batches of 500)", backlog,
                1e6 * backlog / static_cast<double>(pushed));

    Measured("report from the PCs' SQLite files", [&] {
        std::vector<HistoryRun> all;
        for (const auto& file : files) {
            SqliteHistory local(file);
            HistoryRuns read = local.Runs({});
            if (!read.Ok()) return false;
            all.insert(all.end(), read.runs.begin(), read.runs.end());
        }
        return Report(std::move(all), static_cast<std::size_t>(runs));
    });
    Measured("report from the server", [&] {
        ServerHistory reader(server);
        HistoryRuns read = reader.Runs({});
        return read.Ok() && Report(std::move(read.runs), static_cast<std::size_t>(runs));
    });

    // One run at a time, as the pusher sends each run after its commit: the commit is the
    // local history's, the push the server's round trips and the mark of the run as sent.
    SqliteHistory one(folder / "one.sqlite");
    const int single = 500;
    std::vector<double> costs;
    for (int i = 0; i < single; ++i) {
        if (!one.Add(Generated(random, 0, i)).Ok()) return 1;
        start = Clock::now();
        if (PushUnsent(one, shared).sent != 1) return 1;
        costs.push_back(Seconds(start) * 1e3);
    }
    std::sort(costs.begin(), costs.end());
    std::printf("%-44s median %.2f ms, 90th %.2f ms, worst %.2f ms\n", "push of one run after its commit",
                costs[costs.size() / 2], costs[costs.size() * 9 / 10], costs.back());
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
