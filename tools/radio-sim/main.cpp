// kestro-radio-sim: the simulated radio on a pseudo-terminal, so that the kit (or any serial
// program) can run a full upgrade with no radio attached.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "radio/FaultSpec.h"
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

// Copies `text` into a reported value, the rest zero bytes; false when it does not fit (or, with
// `exact`, does not fill it).
template <std::size_t N>
bool SetText(std::array<std::uint8_t, N>& value, const std::string& text, bool exact) {
    if (text.size() > N || (exact && text.size() != N)) {
        return false;
    }
    value.fill(0);
    std::copy(text.begin(), text.end(), value.begin());
    return true;
}

// "KEY=FAULT" into its two halves; false without the '='.
bool SplitAssignment(const std::string& text, std::string& key, std::string& fault) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    key = text.substr(0, equals);
    fault = text.substr(equals + 1);
    return true;
}

constexpr const char* kFaultHelp =
    "FAULT is silence, nak[:E1E2], late:MS, corrupt:INDEX, drop:INDEX[:COUNT], twice, "
    "wrong-code[:CODE] or status-first";

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
    int restart = -1;
    bool pace = false;
    bool trace = false;
    std::vector<std::string> kindFaults;
    std::vector<std::string> numberFaults;
    int detectStatus = -1;
    int batteryStatus = -1;
    std::string model;
    std::string version;
    std::string serial;

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
    app.add_option("--restart", restart,
                   "ms of silence after the end of programming, while the radio restarts "
                   "(default 2000)")
        ->check(CLI::Range(0, 600000));
    app.add_flag("--pace", pace,
                 "send reply bytes at 76 800 bit/s, handed over in packets of what one 1 ms USB "
                 "frame carries");
    app.add_option("--fault", kindFaults,
                   std::string("REQUEST=FAULT[*TIMES]: every request of that kind (or the first "
                               "TIMES) gets FAULT, e.g. REQ_CP_WRITE=nak*2; ") +
                       kFaultHelp);
    app.add_option("--fault-at", numberFaults,
                   "N=FAULT: the N-th request (1 = first) gets FAULT, e.g. 12=late:1500");
    app.add_option("--detect-status", detectStatus, "status byte of the detection reply")
        ->check(CLI::Range(0, 255));
    app.add_option("--battery-status", batteryStatus, "status byte of the battery reply")
        ->check(CLI::Range(0, 255));
    app.add_option("--model", model, "model number, up to 16 characters (zero-padded)");
    app.add_option("--fw-version", version, "firmware version, 5 characters such as R0103");
    app.add_option("--serial", serial, "serial number, up to 10 characters (zero-padded)");
    app.add_flag("--trace", trace, "print every chunk read and written");
    CLI11_PARSE(app, argc, argv);

    kestro::SimRadioConfig extra;
    std::string badOption;
    for (const std::string& item : kindFaults) {
        std::string name;
        std::string text;
        const auto id = SplitAssignment(item, name, text) ? kestro::ParseRequestName(name)
                                                          : std::nullopt;
        const auto fault = kestro::ParseFault(text);
        if (!id || !fault) {
            badOption = "--fault " + item;
            break;
        }
        extra.faultsByKind[*id] = *fault;
    }
    for (const std::string& item : numberFaults) {
        std::string number;
        std::string text;
        std::size_t n = 0;
        const bool split = SplitAssignment(item, number, text);
        const auto fault = kestro::ParseFault(text);
        if (split && !number.empty() && number.size() < 10 &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            n = std::stoul(number);
        }
        if (n == 0 || !fault || fault->times != 0) {
            badOption = "--fault-at " + item;
            break;
        }
        extra.faultsByNumber[n] = *fault;
    }
    std::string hint = kFaultHelp;
    if (!model.empty() && !SetText(extra.model, model, false)) {
        badOption = "--model " + model;
        hint = "at most 16 characters";
    }
    if (!version.empty() && !SetText(extra.version, version, true)) {
        badOption = "--fw-version " + version;
        hint = "exactly 5 characters";
    }
    if (!serial.empty() && !SetText(extra.serial, serial, false)) {
        badOption = "--serial " + serial;
        hint = "at most 10 characters";
    }
    if (!badOption.empty()) {
        std::cerr << "kestro-radio-sim: cannot use " << badOption << " (" << hint << ")\n";
        return 2;
    }

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
        if (restart >= 0 && config.restart != kestro::kNeverRestarts) {
            config.restart = std::chrono::milliseconds{restart};
        }
        config.pace = config.pace || pace;
        for (const auto& [id, fault] : extra.faultsByKind) {
            config.faultsByKind[id] = fault;
        }
        for (const auto& [number, fault] : extra.faultsByNumber) {
            config.faultsByNumber[number] = fault;
        }
        if (detectStatus >= 0) {
            config.detectStatus = static_cast<std::uint8_t>(detectStatus);
        }
        if (batteryStatus >= 0) {
            config.batteryStatus = static_cast<std::uint8_t>(batteryStatus);
        }
        if (!model.empty()) {
            config.model = extra.model;
        }
        if (!version.empty()) {
            config.version = extra.version;
        }
        if (!serial.empty()) {
            config.serial = extra.serial;
        }
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
