#pragma once
// What the simulated radio reports and how it misbehaves: the values it answers with, the
// faults injected per request kind or per request number, and the timing of its replies.
// Plain data, so scenarios, the command-line tools and tests can all fill it in.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "protocol/Frame.h"

namespace kestro {

using SimMillis = std::chrono::milliseconds;

// Error bytes the radio puts in its own refusals (RSP_NAK body: 80 15 high low):
//   00 01  a programming (0x75) command outside the programming state
//   00 02  a boot swap whose checksum differs from that of the new boot area
//   00 03  a boot swap before any boot erase
//   00 04  no longer sent: a radio whose flash needs recovery answers no device (0x70) query
//   00 05  a record whose row number lies outside the flash (0x0000-0x3FFF)
//   00 06  a codeplug read or write of another length than one byte
//   EE 01  the default of an injected NAK fault
inline constexpr std::array<std::uint8_t, 2> NAK_NOT_PROGRAMMING = {0x00, 0x01};
inline constexpr std::array<std::uint8_t, 2> NAK_BOOT_CHECKSUM = {0x00, 0x02};
inline constexpr std::array<std::uint8_t, 2> NAK_NO_BOOT_ERASE = {0x00, 0x03};
inline constexpr std::array<std::uint8_t, 2> NAK_NEEDS_RECOVERY = {0x00, 0x04};
inline constexpr std::array<std::uint8_t, 2> NAK_ROW_RANGE = {0x00, 0x05};
inline constexpr std::array<std::uint8_t, 2> NAK_BAD_LENGTH = {0x00, 0x06};
inline constexpr std::array<std::uint8_t, 2> NAK_INJECTED = {0xEE, 0x01};

enum class FaultKind {
    None,
    Silence,     // the request is not heard: no effect, no reply
    Nak,         // refused with `errorBytes`: no effect
    Late,        // carried out; the reply leaves `delay` after the request instead of the latency
    Corrupt,     // carried out; reply byte `index` is inverted (XOR 0xFF)
    Drop,        // carried out; `count` reply bytes from `index` on are never sent
    Twice,       // carried out; the reply is sent twice, back to back
    WrongCode,   // carried out; a valid body-less reply with code `code` is sent instead
    StatusFirst  // carried out; an unsolicited RSP_9A status report precedes the reply
};

struct Fault {
    FaultKind kind = FaultKind::None;
    std::array<std::uint8_t, 2> errorBytes = NAK_INJECTED;
    SimMillis delay{0};
    std::size_t index = 0;
    std::size_t count = 1;
    std::uint8_t code = 0;  // 0: RSP_ACK, or RSP_UPDATE_END when the right reply is the ACK
    // For faults by request kind: how many requests of that kind get it (0 = every one).
    std::size_t times = 0;
};

// Programming-state view of the radio. NeedsRecovery: the flash was erased and no boot swap has
// succeeded since, so only the programming group is taken.
enum class RadioState { Normal, Programming, NeedsRecovery };

struct SimRadioConfig {
    std::uint8_t detectStatus = 0x01;
    std::uint8_t batteryStatus = 0x00;
    std::array<std::uint8_t, 16> model = {'Q', 'X', 'M', '2', '7', 'T', 'P', 'L',
                                          '4', 'R', 'C', '8', 'Z', 'N', 0,   0};
    std::array<std::uint8_t, 5> version = {'R', '0', '1', '0', '3'};
    std::array<std::uint8_t, 10> serial = {'K', 'S', '2', '4', '0', '0', '1', '7', '3', '5'};
    // Codeplug bytes that differ from the erased value 0xFF when the radio is created.
    std::vector<std::pair<std::uint16_t, std::uint8_t>> codeplug = {{0x3049, 0x14}, {0x3197, 0x6F}};

    std::map<RequestId, Fault> faultsByKind;
    std::map<std::size_t, Fault> faultsByNumber;  // keyed by request number, 1 = first
    std::size_t loseCableAt = 0;                  // from this request number on: nothing; 0 = never
    // From this flash record request on (REQ_WRITE_RECORD, counted by kind): nothing; 0 = never.
    // Unlike a request number it stays in the rows when requests before them were resent because
    // a reply came late, as happens on a busy machine.
    std::size_t loseCableAtRecord = 0;

    // Random damage to every reply byte, from a generator seeded with `seed` (rates 0..1).
    double corruptRate = 0.0;
    double dropRate = 0.0;
    std::uint32_t seed = 1;

    SimMillis latency{3};
    // After acknowledging the end of programming the radio restarts: it hears nothing for this
    // long from the acknowledgement on, by the clock its feeder gives (SimRadio::Feed), then
    // answers again, with `programmedVersion` where a boot swap went in. kNeverRestarts: it
    // never answers again.
    SimMillis restart{2000};
    // The version that the kit's firmware image stands for (the image itself carries none that
    // the radio could read): the kit's R01.04.
    std::array<std::uint8_t, 5> programmedVersion = {'R', '0', '1', '0', '4'};
    // Sends reply bytes at the line rate (76 800 bit/s, 10 bits a byte) instead of in one burst.
    bool pace = false;
};

inline constexpr SimMillis kNeverRestarts = SimMillis::max();

// One reply chunk: `bytes` leave the radio `delay` after the last byte of the request.
struct SimReply {
    SimMillis delay{0};
    std::vector<std::uint8_t> bytes;
};

// The wire time of one byte at 76 800 bit/s with 10 bits a byte, in microseconds (130.2...).
inline constexpr std::int64_t kLineBitsPerSecond = 76800;
inline constexpr std::int64_t kBitsPerByte = 10;
// Offset of the end of byte `i` (0-based) from the start of a paced chunk, in microseconds;
// computed from the start so that rounding never accumulates.
constexpr std::chrono::microseconds PacedByteOffset(std::size_t i) {
    return std::chrono::microseconds{static_cast<std::int64_t>(i + 1) * kBitsPerByte * 1000000 /
                                     kLineBitsPerSecond};
}

}  // namespace kestro
