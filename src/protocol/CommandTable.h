#pragma once
// The command table: for every request its frame, expected reply, retry discipline, time-outs,
// attempts and pauses. Frame builders and transactions both read it, so each number lives in
// exactly one cell.

#include <array>
#include <cstdint>

#include "protocol/Frame.h"

namespace kestro {

// How a request is retried.
enum class Discipline {
    Counted,           // counted attempts with growing time-outs
    ResendWhileSilent, // resent while the radio stays silent; any reply ends it
    NakRetried,        // resent while silent, then up to two NAKs retried
};

struct CommandSpec {
    RequestId id;
    const char* name;
    std::uint8_t group;
    std::uint8_t opcode;
    std::uint8_t frameLength;
    int reply;              // expected reply code
    Discipline discipline;
    int attempts;           // Counted: N; the others: the most requests sent while the radio stays silent
    int firstTimeout;       // T, ms
    int step;               // S, ms: added after an attempt that was not a NAK
    int nakStep;            // S', ms: added after a NAK (Counted only)
    int pauseBeforeWait;    // P1, ms, between handing over the request and the wait
    int pauseAfterNak;      // P2, ms
    int pauseAfterSuccess;  // P3, ms
    bool clearCodeOnly;     // on success only m_replyCode is cleared; the event stays as it is
};

// Indexed by RequestId.
extern const std::array<CommandSpec, REQ_COUNT> kCommandTable;

inline const CommandSpec& CommandOf(RequestId id) { return kCommandTable[static_cast<int>(id)]; }

// Builds the request frame of a command. `address` is used by REQ_CP_READ and REQ_CP_WRITE,
// `value` by REQ_CP_WRITE. REQ_WRITE_RECORD and REQ_BOOT_SWAP have builders of their own.
Frame BuildRequest(RequestId id, std::uint16_t address = 0, std::uint8_t value = 0);

}  // namespace kestro
