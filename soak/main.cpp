// kestro-soak: drives many complete upgrades in virtual time through the simulated radio with
// random faults from a seeded generator, checks every end against the kit's specified ends,
// and prints runs, outcomes by kind, recoveries and violations. Exits 1 on any violation.
//
//   kestro-soak RUNS [--seed N] [--case I] [--verbose]
//
// --case I runs only case I of the seed (as a violation report names it), printing its faults.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "soak/SoakCase.h"

namespace {

struct Options {
    std::size_t runs = 0;
    std::uint64_t seed = 1;
    long long onlyCase = -1;
    bool verbose = false;
};

bool ParseNumber(const char* text, unsigned long long& value) {
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

bool Parse(int argc, char** argv, Options& options) {
    bool haveRuns = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned long long value = 0;
        if (arg == "--verbose") {
            options.verbose = true;
        } else if ((arg == "--seed" || arg == "--case") && i + 1 < argc &&
                   ParseNumber(argv[i + 1], value)) {
            if (arg == "--seed")
                options.seed = value;
            else
                options.onlyCase = static_cast<long long>(value);
            ++i;
        } else if (!haveRuns && ParseNumber(argv[i], value) && value > 0) {
            options.runs = static_cast<std::size_t>(value);
            haveRuns = true;
        } else {
            return false;
        }
    }
    if (options.onlyCase >= 0) options.runs = 1;
    return options.runs > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: kestro-soak RUNS [--seed N] [--case I] [--verbose]\n");
        return 2;
    }
    std::random_device unique;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("kestro-soak-" + std::to_string(unique()) + std::to_string(unique()));
    std::filesystem::create_directories(folder);
    int status = 0;
    try {
        const kestro::soak::SoakRunner runner(folder);
        std::map<std::string, std::size_t> outcomes;
        std::size_t recoveries = 0, refused = 0, followUps = 0, violations = 0, failedCases = 0;
        std::size_t forged = 0, forgedFindings = 0;
        std::chrono::milliseconds virtualTime{0};
        const auto started = std::chrono::steady_clock::now();

        for (std::size_t i = 0; i < options.runs; ++i) {
            const std::size_t index =
                options.onlyCase >= 0 ? static_cast<std::size_t>(options.onlyCase) : i;
            const kestro::soak::CaseResult result = runner.RunCase(options.seed, index);
            ++outcomes[result.outcome];
            recoveries += result.recovery ? 1 : 0;
            refused += result.recoveryRefused ? 1 : 0;
            followUps += result.followUp ? 1 : 0;
            violations += result.violations.size();
            forged += result.forgedRequests;
            forgedFindings += result.forgedFindings.size();
            virtualTime += result.virtualTime;
            if (options.verbose || !result.violations.empty()) {
                std::printf("case %zu: %s -> %s%s%s\n", index, result.description.c_str(),
                            result.outcome.c_str(), result.recovery ? ", recovered" : "",
                            result.followUp ? ", follow-up run" : "");
            }
            if (!result.violations.empty()) {
                ++failedCases;
                for (const auto& v : result.violations) std::printf("  VIOLATION %s\n", v.c_str());
            }
            for (const auto& f : result.forgedFindings) {
                std::printf("case %zu: after a request forged by line damage: %s\n", index,
                            f.c_str());
            }
        }

        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("soak: seed %llu, %zu runs in %.1f s real time, %.1f h virtual time\n",
                    static_cast<unsigned long long>(options.seed), options.runs, seconds,
                    static_cast<double>(virtualTime.count()) / 3.6e6);
        std::printf("outcomes by kind:\n");
        for (const auto& [name, count] : outcomes) std::printf("  %7zu  %s\n", count, name.c_str());
        std::printf(
            "recovery runs: %zu (refused by a radio that needed none: %zu), "
            "follow-up runs: %zu\n",
            recoveries, refused, followUps);
        std::printf(
            "requests forged by line damage the check bytes missed: %zu "
            "(findings after them: %zu)\n",
            forged, forgedFindings);
        std::printf("violations: %zu (in %zu runs)\n", violations, failedCases);
        status = violations == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestro-soak: %s\n", e.what());
        status = 2;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return status;
}
