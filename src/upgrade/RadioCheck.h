#pragma once
// A read-only check of a radio: what it told and what an upgrade would do with it. The check asks
// only for what a run reads before it changes anything (detection, battery, model, firmware
// version, serial number, the codeplug bytes) and sends nothing that writes, restores, resets or
// programs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

enum class CheckVerdict {
    WouldUpgrade,          // every check passes; the codeplug bytes need nothing
    WouldRestoreCodeplug,  // every check passes; the run would restore the codeplug bytes first
    Disabled,              // the radio reports itself disabled: a run stops at its detection
    OtherModelType,        // the detection says another model type: a run stops there
    BatteryLow,            // a run stops: the battery must be charged first
    OtherModel,            // a run stops: the kit does not support this model number
    AlreadyNewer,          // a run stops: the radio runs the kit's version or a newer one
    NoAnswer,              // no radio answered the detection
    NotRead,               // the radio answered, but one of the reads failed (see `unread`)
    Stopped,               // the check was asked to stop
};

struct RadioCheck {
    CheckVerdict verdict = CheckVerdict::NoAnswer;
    std::optional<bool> batteryLow;             // empty: not read
    std::string model;                          // as the radio told them; "" where not read
    std::string firmware;                       // "R0103"
    std::string serial;
    std::optional<std::uint8_t> codeplugByte;   // the byte that decides a restore
    std::string unread;                         // the read that failed: "battery", "model", ...

    // A radio was there and every read was answered.
    bool Complete() const {
        return verdict != CheckVerdict::NoAnswer && verdict != CheckVerdict::NotRead && verdict != CheckVerdict::Stopped;
    }
    // An upgrade would go ahead with this radio.
    bool WouldUpgrade() const {
        return verdict == CheckVerdict::WouldUpgrade || verdict == CheckVerdict::WouldRestoreCodeplug;
    }
};

// "would_upgrade", "battery_low", ...: stable names for JSON.
std::string_view CheckVerdictName(CheckVerdict verdict);
// A few words for people: "an upgrade would run", "a run would stop: the battery is low", ...
std::string CheckVerdictText(const RadioCheck& check);

}  // namespace kestro
