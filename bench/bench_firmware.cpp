// Speed of the firmware load: reading and decoding a full-size image (all 16 384 rows used).
// `bench_firmware` runs the Google Benchmarks; `bench_firmware --vs-objcopy [FILE]` times our
// load beside `objcopy -I ihex -O binary` on the same file and prints the ratio, then the same for
// a whole load-and-stop run of kestro-upgrade (the firmware loaded, then the port fails) as a
// process of its own beside objcopy's.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/FirmwareLoader.h"

namespace {

using kestro::CCommFile;
using kestro::CFirmwareLoader;

void AppendRecord(std::string& text, int type, unsigned address, const std::uint8_t* data,
                  int count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    auto put = [&](unsigned byte) {
        text += kDigits[(byte >> 4) & 0xF];
        text += kDigits[byte & 0xF];
    };
    text += ':';
    put(static_cast<unsigned>(count));
    put(address >> 8);
    put(address & 0xFF);
    put(static_cast<unsigned>(type));
    for (int i = 0; i < count; ++i) {
        put(data[i]);
        sum += data[i];
    }
    put((0x100 - (sum & 0xFF)) & 0xFF);
    text += "\r\n";
}

// Every byte of the 256 KiB image written, no row all FF, 16 bytes a record, one extended segment
// record per 64 KiB bank: about 740 KB of text.
std::string FullImageText() {
    std::string text;
    text.reserve(760 * 1024);
    std::uint32_t state = 0x2545F491;
    std::uint8_t row[16];
    for (unsigned address = 0; address < CCommFile::kImageBytes; address += 16) {
        if (address % 0x10000 == 0) {
            const std::uint8_t segment[2] = {static_cast<std::uint8_t>(address >> 12), 0};
            AppendRecord(text, 0x02, 0, segment, 2);
        }
        for (auto& byte : row) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<std::uint8_t>(state % 0xFF);  // never FF: every row is kept
        }
        AppendRecord(text, 0x00, address & 0xFFFF, row, 16);
    }
    text += ":00000001FF\r\n";
    return text;
}

std::filesystem::path WriteTempFile(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return path;
}

void Check(const CFirmwareLoader& loader, const CCommFile& file, benchmark::State& state) {
    if (loader.m_firmwareLoadFailed != 0 || file.m_rowCount != CCommFile::kMaxRows) {
        state.SkipWithError("the full-size image did not decode to 16 384 rows");
    }
}

void BM_DecodeFullImage(benchmark::State& state) {
    CFirmwareLoader loader;
    loader.m_firmwareText = FullImageText();
    CCommFile file;
    for (auto _ : state) {
        loader.DecodeFirmwareText(file, [](const std::string&) {});
        benchmark::DoNotOptimize(file.m_rowTable.data());
    }
    Check(loader, file, state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(loader.m_firmwareText.size()));
}
BENCHMARK(BM_DecodeFullImage)->Unit(benchmark::kMicrosecond);

void BM_LoadFullImageFile(benchmark::State& state) {
    const std::string text = FullImageText();
    const auto path = WriteTempFile("kestro-bench-full.pvx", text);
    CFirmwareLoader loader;
    CCommFile file;
    for (auto _ : state) {
        loader.LoadFirmwareFile(path, file, [](const std::string&) {});
        benchmark::DoNotOptimize(file.m_rowTable.data());
    }
    Check(loader, file, state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadFullImageFile)->Unit(benchmark::kMicrosecond);

void BM_BuildRowTableOnly(benchmark::State& state) {
    const std::string text = FullImageText();
    CCommFile file;
    kestro::HexParseError error;
    for (auto _ : state) {
        state.PauseTiming();
        file.ParseHexRecords(text, error);
        state.ResumeTiming();
        file.BuildRowTable();
        benchmark::DoNotOptimize(file.m_rowTable.data());
    }
}
BENCHMARK(BM_BuildRowTableOnly)->Unit(benchmark::kMicrosecond);

template <typename F>
double MedianMilliseconds(int runs, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Runs a program as a process of its own, without a shell, its output thrown away.
void RunProcess(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

int CompareWithObjcopy(const char* givenFile, const std::filesystem::path& kit) {
    const bool own = givenFile == nullptr;
    const auto hexFile =
        own ? WriteTempFile("kestro-bench-full.pvx", FullImageText()) : std::filesystem::path(givenFile);
    const auto binFile = std::filesystem::temp_directory_path() / "kestro-bench-objcopy.bin";
    const std::string objcopy = "objcopy -I ihex -O binary '" + hexFile.string() + "' '" +
                                binFile.string() + "'";
    if (std::system(objcopy.c_str()) != 0) {
        std::fprintf(stderr, "objcopy failed or is missing: %s\n", objcopy.c_str());
        return 1;
    }

    constexpr int kRuns = 21;
    CFirmwareLoader loader;
    CCommFile file;
    const double ours = MedianMilliseconds(kRuns, [&] {
        loader.LoadFirmwareFile(hexFile, file, [](const std::string&) {});
    });
    if (loader.m_firmwareLoadFailed != 0) {
        std::fprintf(stderr, "our loader refused %s\n", hexFile.string().c_str());
        return 1;
    }
    const double theirs = MedianMilliseconds(kRuns, [&] { (void)std::system(objcopy.c_str()); });
    const double spawn = MedianMilliseconds(kRuns, [] { (void)std::system("true"); });

    std::printf("file: %s (%ju bytes, %d rows)\n", hexFile.string().c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(hexFile)), file.m_rowCount);
    std::printf("kestro LoadFirmwareFile (read + decode), median of %d: %8.3f ms\n", kRuns, ours);
    std::printf("objcopy -I ihex -O binary, median of %d:            %8.3f ms\n", kRuns, theirs);
    std::printf("  of which starting a process (sh -c true):        %8.3f ms\n", spawn);
    std::printf("ratio objcopy / kestro: %.1f (without process start: %.1f)\n", theirs / ours,
                (theirs - spawn) / ours);

    // /dev/nonexistent names no device: the run loads the firmware, then stops at the port. Each
    // run starts without its log, as a first run on a machine does.
    const auto kitLog = std::filesystem::temp_directory_path() / "kestro-bench-load-and-stop.csv";
    const std::vector<std::string> loadAndStop = {kit.string(), "--port", "/dev/nonexistent", "--firmware",
                                                  hexFile.string(), "--log", kitLog.string()};
    const std::vector<std::string> objcopyRun = {"objcopy", "-I", "ihex", "-O", "binary",
                                                 hexFile.string(), binFile.string()};
    if (std::filesystem::exists(kit)) {
        // Taken in turns, so that a change of load on the machine meets both alike.
        std::vector<double> kitTimes;
        std::vector<double> objcopyTimes;
        for (int i = 0; i < kRuns; ++i) {
            std::filesystem::remove(kitLog);
            kitTimes.push_back(MedianMilliseconds(1, [&] { RunProcess(loadAndStop); }));
            objcopyTimes.push_back(MedianMilliseconds(1, [&] { RunProcess(objcopyRun); }));
        }
        std::sort(kitTimes.begin(), kitTimes.end());
        std::sort(objcopyTimes.begin(), objcopyTimes.end());
        const double stopRun = kitTimes[kitTimes.size() / 2];
        const double objcopyRunTime = objcopyTimes[objcopyTimes.size() / 2];
        std::printf("kestro-upgrade load-and-stop process, median of %d: %8.3f ms\n", kRuns,
                    stopRun);
        std::printf("objcopy process (no shell), median of %d:          %8.3f ms\n", kRuns,
                    objcopyRunTime);
        std::printf("ratio load-and-stop / objcopy: %.2f (whole processes)\n",
                    stopRun / objcopyRunTime);
        std::filesystem::remove(kitLog);
    } else {
        std::printf("(no %s: the load-and-stop run is not measured)\n", kit.string().c_str());
    }
    std::filesystem::remove(binFile);
    if (own) {
        std::filesystem::remove(hexFile);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--vs-objcopy") == 0) {
        const auto kit = std::filesystem::path(argv[0]).parent_path() / "kestro-upgrade";
        return CompareWithObjcopy(argc >= 3 ? argv[2] : nullptr, kit);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
