#include "radio/Scenarios.h"

#include <array>

namespace kestro {

namespace {

constexpr std::array<ScenarioInfo, 12> kScenarios = {{
    {"normal", "older firmware R0103, codeplug intact: a full upgrade without a restore"},
    {"codeplug-restore", "codeplug byte at 0x3197 is 00: the kit restores 0x3049 and 0x3197"},
    {"no-restore", "codeplug byte at 0x3197 already 6F: the kit writes no codeplug byte"},
    {"restore-refused", "codeplug needs a restore but the radio refuses REQ_CP_RESTORE"},
    {"battery-low", "battery status reports low (bit 0 set)"},
    {"old-model", "model number QXM25TPL4RC8ZN, which the kit does not support"},
    {"new-firmware", "firmware R0105 is already newer than the kit's"},
    {"cable-pulled", "the cable is lost at the 28th flash record, in the middle of the flash rows"},
    {"needs-recovery", "flash erased by an interrupted run: only the programming commands work"},
    {"silent", "the radio never answers"},
    {"keeps-old-firmware", "after the upgrade the radio restarts on its old firmware R0103"},
    {"no-restart", "after the end of programming the radio never answers again"},
}};

// In the middle of the rows of even the shortest firmware the kit ships.
constexpr std::size_t kCablePulledAtRecord = 28;

}  // namespace

std::span<const ScenarioInfo> Scenarios() { return kScenarios; }

bool ApplyScenario(SimRadio& radio, std::string_view name) {
    SimRadioConfig& config = radio.Config();
    if (name == "normal" || name == "no-restore") {
        radio.SetCodeplugByte(0x3049, 0x14);
        radio.SetCodeplugByte(0x3197, 0x6F);
    } else if (name == "codeplug-restore" || name == "restore-refused") {
        radio.SetCodeplugByte(0x3049, 0x00);
        radio.SetCodeplugByte(0x3197, 0x00);
        if (name == "restore-refused") {
            config.faultsByKind[REQ_CP_RESTORE] = Fault{.kind = FaultKind::Nak};
        }
    } else if (name == "battery-low") {
        config.batteryStatus = 0x01;
    } else if (name == "old-model") {
        config.model = {'Q', 'X', 'M', '2', '5', 'T', 'P', 'L', '4', 'R', 'C', '8', 'Z', 'N', 0, 0};
    } else if (name == "new-firmware") {
        config.version = {'R', '0', '1', '0', '5'};
    } else if (name == "cable-pulled") {
        config.loseCableAtRecord = kCablePulledAtRecord;
    } else if (name == "needs-recovery") {
        radio.EnterNeedsRecovery();
    } else if (name == "keeps-old-firmware") {
        config.programmedVersion = config.version;
    } else if (name == "no-restart") {
        config.restart = kNeverRestarts;
    } else if (name == "silent") {
        for (int id = 0; id < REQ_COUNT; ++id) {
            config.faultsByKind[static_cast<RequestId>(id)] = Fault{.kind = FaultKind::Silence};
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace kestro
