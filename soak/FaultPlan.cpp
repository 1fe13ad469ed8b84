#include "soak/FaultPlan.h"

#include <array>
#include <cstdio>

#include "soak/SoakRandom.h"
#include "protocol/CommandTable.h"
#include "radio/SimRadio.h"

namespace kestro::soak {

namespace {

const char* KindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::None:
            return "none";
        case FaultKind::Silence:
            return "silence";
        case FaultKind::Nak:
            return "nak";
        case FaultKind::Late:
            return "late";
        case FaultKind::Corrupt:
            return "corrupt";
        case FaultKind::Drop:
            return "drop";
        case FaultKind::Twice:
            return "twice";
        case FaultKind::WrongCode:
            return "wrong-code";
        case FaultKind::StatusFirst:
            return "status-first";
    }
    return "?";
}

constexpr std::array<FaultKind, 8> kKinds = {
    FaultKind::Silence, FaultKind::Nak,   FaultKind::Late,      FaultKind::Corrupt,
    FaultKind::Drop,    FaultKind::Twice, FaultKind::WrongCode, FaultKind::StatusFirst};

// A reply rate of damage: mostly light, sometimes heavy enough to exhaust the retries.
double DamageRate(std::mt19937& random) {
    return Chance(random, 0.2) ? Between(random, 5, 40) / 1000.0 : Between(random, 1, 40) / 10000.0;
}

// Late by about the time the kit waits for this command's first answer: just before the wait
// ends, just after it, or around the second attempt's.
std::chrono::milliseconds LateDelay(std::mt19937& random, const CommandSpec& command) {
    const int wait = command.pauseBeforeWait + command.firstTimeout;
    const int around = Chance(random, 0.7) ? wait : wait + command.firstTimeout + command.step;
    const int jitter = static_cast<int>(Between(random, 0, 30)) - 15;
    return std::chrono::milliseconds{std::max(0, around + jitter)};
}

Fault DrawFault(std::mt19937& random, const CommandSpec* aimedAt) {
    Fault fault;
    fault.kind = kKinds[Between(random, 0, kKinds.size() - 1)];
    switch (fault.kind) {
        case FaultKind::Nak:
            fault.errorBytes = {static_cast<std::uint8_t>(random()),
                                static_cast<std::uint8_t>(random())};
            break;
        case FaultKind::Late:
            fault.delay = aimedAt != nullptr ? LateDelay(random, *aimedAt)
                                             : std::chrono::milliseconds{Between(random, 50, 2200)};
            break;
        case FaultKind::Corrupt:
            fault.index = Between(random, 0, 23);
            break;
        case FaultKind::Drop:
            fault.index = Between(random, 0, 23);
            fault.count = Between(random, 1, 4);
            break;
        case FaultKind::WrongCode: {
            static constexpr std::array<std::uint8_t, 6> kCodes = {0, 0x06, 0x15, 0xA0, 0xA2, 0xA5};
            fault.code = kCodes[Between(random, 0, kCodes.size() - 1)];
            break;
        }
        default:
            break;
    }
    return fault;
}

void Note(std::string& text, const std::string& more) {
    if (!text.empty()) text += "; ";
    text += more;
}

}  // namespace

FaultPlan DrawFaultPlan(std::mt19937& random, std::size_t requests) {
    FaultPlan plan;
    SimRadioConfig& radio = plan.radio;
    radio.seed = random();
    radio.latency = std::chrono::milliseconds{Between(random, 1, 20)};
    radio.pace = Chance(random, 0.2);
    if (radio.pace) Note(plan.description, "paced");
    plan.codeplugNeedsRestore = Chance(random, 0.3);
    if (plan.codeplugNeedsRestore) Note(plan.description, "codeplug needs restore");

    if (Chance(random, 0.25)) {
        Note(plan.description, "no faults");
        return plan;
    }
    char text[160];
    if (Chance(random, 0.3)) {
        radio.corruptRate = Chance(random, 0.7) ? DamageRate(random) : 0.0;
        radio.dropRate = Chance(random, 0.7) ? DamageRate(random) : 0.0;
        std::snprintf(text, sizeof text, "reply bytes corrupted %.4f dropped %.4f",
                      radio.corruptRate, radio.dropRate);
        Note(plan.description, text);
    }
    if (Chance(random, 0.2)) {
        plan.requestCorruptRate = Chance(random, 0.7) ? DamageRate(random) : 0.0;
        plan.requestDropRate = Chance(random, 0.7) ? DamageRate(random) : 0.0;
        std::snprintf(text, sizeof text, "request bytes corrupted %.4f dropped %.4f",
                      plan.requestCorruptRate, plan.requestDropRate);
        Note(plan.description, text);
    }
    const std::uint32_t byNumber = Between(random, 0, 4);
    for (std::uint32_t i = 0; i < byNumber; ++i) {
        const std::size_t number = Between(random, 1, static_cast<std::uint32_t>(requests + 8));
        const Fault fault = DrawFault(random, nullptr);
        radio.faultsByNumber[number] = fault;
        std::snprintf(text, sizeof text, "request %zu %s", number, KindName(fault.kind));
        Note(plan.description, text);
    }
    if (Chance(random, 0.3)) {
        const auto id = static_cast<RequestId>(Between(random, 0, REQ_COUNT - 1));
        Fault fault = DrawFault(random, &CommandOf(id));
        fault.times = Chance(random, 0.3) ? 0 : Between(random, 1, 7);
        radio.faultsByKind[id] = fault;
        std::snprintf(text, sizeof text, "%s %s x%zu", CommandOf(id).name, KindName(fault.kind),
                      fault.times);
        Note(plan.description, text);
    }
    if (Chance(random, 0.1)) {
        radio.loseCableAt = Between(random, 1, static_cast<std::uint32_t>(requests));
        std::snprintf(text, sizeof text, "cable lost at request %zu", radio.loseCableAt);
        Note(plan.description, text);
    }
    // A radio whose own values end the run before anything is written.
    switch (Between(random, 0, 49)) {
        case 0:
            radio.detectStatus = 0x10;
            Note(plan.description, "radio disabled");
            break;
        case 1:
            radio.detectStatus = 0x00;
            Note(plan.description, "detect status 0");
            break;
        case 2:
            radio.batteryStatus = 0x01;
            Note(plan.description, "battery low");
            break;
        case 3:
            radio.version = {'R', '0', '1', '0', '4'};
            Note(plan.description, "up to date");
            break;
        case 4:
            radio.model[0] = 'X';
            Note(plan.description, "other model");
            break;
        default:
            break;
    }
    return plan;
}

}  // namespace kestro::soak
