// kestro-radio-sim: the simulated radio on a pseudo-terminal, so that the kit (or any serial
// program) can run a full upgrade with no radio attached.

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "radio/Scenarios.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/PortNames.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) { g_interrupted = 1; }

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char cell[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", b);
        out += cell;
    }
    if (!out.empty()) {
        out.pop_back();
    }
    return out;
}

std::string ScenarioHelp() {
    std::string text = "named set-up of the radio:";
    for (const auto& s : kestro::Scenarios()) {
        text += "\n  " + std::string(s.name) + ": " + std::string(s.description);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Serves a simulated Kestro radio on a pseudo-terminal until Ctrl-C."};
    std::string scenario = "normal";
    std::size_t nakRequest = 0;
    double dropRate = 0.0;
    double corruptRate = 0.0;
    std::uint32_t seed = 1;
    std::size_t loseCableAt = 0;
    int latency = -1;
    bool pace = false;
    bool trace = false;

    std::vector<std::string> names;
    for (const auto& s : kestro::Scenarios()) {
        names.emplace_back(s.name);
    }
    app.add_option("--scenario", scenario, ScenarioHelp())->check(CLI::IsMember(names));
    app.add_option("--nak-request", nakRequest, "refuse the N-th request (1 = first) with a NAK");
    app.add_option("--drop-rate", dropRate, "share of reply bytes lost (0..1)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--corrupt-rate", corruptRate, "share of reply bytes damaged (0..1)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--seed", seed, "seed of the random damage");
    app.add_option("--lose-cable-at", loseCableAt, "lose the cable at the N-th request");
    app.add_option("--latency", latency, "reply latency in ms")->check(CLI::Range(0, 60000));
    app.add_flag("--pace", pace, "send reply bytes at 76 800 bit/s");
    app.add_flag("--trace", trace, "print every chunk read and written");
    CLI11_PARSE(app, argc, argv);

    kestro::PtyRadioServer server;
    server.WithRadio([&](kestro::SimRadio& radio) {
        kestro::ApplyScenario(radio, scenario);
        kestro::SimRadioConfig& config = radio.Config();
        if (nakRequest != 0) {
            config.faultsByNumber[nakRequest] = kestro::Fault{.kind = kestro::FaultKind::Nak};
        }
        config.dropRate = dropRate;
        config.corruptRate = corruptRate;
        config.seed = seed;
        if (loseCableAt != 0) {
            config.loseCableAt = loseCableAt;
        }
        if (latency >= 0) {
            config.latency = std::chrono::milliseconds{latency};
        }
        config.pace = config.pace || pace;
    });

    std::mutex printMutex;
    if (trace) {
        const auto started = std::chrono::steady_clock::now();
        server.SetTrace(
            [&](kestro::PtyRadioServer::Direction direction, std::span<const std::uint8_t> bytes) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - started)
                                    .count();
                std::lock_guard lock(printMutex);
                std::cout << ms << " ms "
                          << (direction == kestro::PtyRadioServer::Direction::ToRadio
                                  ? "kit -> radio: "
                                  : "radio -> kit: ")
                          << Hex(bytes) << std::endl;
            });
    }

    std::string error;
    if (!server.Start(&error)) {
        std::cerr << "kestro-radio-sim: cannot open a pseudo-terminal: " << error << "\n";
        return 1;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    {
        std::lock_guard lock(printMutex);
        std::cout << "Simulated radio (scenario " << scenario << ") on " << server.SlavePath()
                  << "\n"
                  << "set " << kestro::kPortMapVariable << "=" << kestro::kFirstFreePort << "="
                  << server.SlavePath() << " and choose COM" << kestro::kFirstFreePort << "\n"
                  << "Ctrl-C ends it." << std::endl;
    }
    bool toldHangUp = false;
    while (g_interrupted == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (server.HungUp() && !toldHangUp) {
            toldHangUp = true;
            std::lock_guard lock(printMutex);
            std::cout << "The cable was pulled: the line is hung up." << std::endl;
        }
    }
    server.Stop();
    return 0;
}
