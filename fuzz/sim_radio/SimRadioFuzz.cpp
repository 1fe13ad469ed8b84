// Feeds arbitrary bytes to the simulated radio's request scanner in arbitrary chunks.
// Input: chunk size, set-up flags, a fault (request number, kind), then the request stream.
// Checked:
//  - the requests the radio heard are exactly the request frames that a plain reference scan
//    finds in the stream, in order, byte for byte (a frame of the kit's command table with the
//    right length, check bytes and end byte; a start byte that leads nowhere is skipped);
//  - what it keeps buffered is the unfinished tail the reference scan stops at, never more than
//    one frame;
//  - every reply it sends to a request without an injected fault is a sequence of valid reply
//    frames, and a request goes unanswered only when silenced or when it reaches a radio
//    without firmware (from the erase to the boot swap) and is not a programming request;
//  - once the cable is lost nothing more is heard or answered.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../FuzzSupport.h"
#include "protocol/CommandTable.h"
#include "protocol/Frame.h"
#include "radio/SimRadio.h"

namespace {

using namespace kestro;
using kestro::fuzz::ReferenceCrc;

// Length of the request that starts with this group and opcode in the kit's table; 0 if none.
std::size_t RequestLength(std::uint8_t group, std::uint8_t opcode) {
    for (const CommandSpec& c : kCommandTable) {
        if (c.group == group && c.opcode == opcode) return c.frameLength;
    }
    return 0;
}

struct Scan {
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t tail = 0;  // bytes after the last decision: an unfinished candidate frame
};

Scan ReferenceScan(const std::vector<std::uint8_t>& in) {
    Scan scan;
    std::size_t pos = 0;
    while (pos < in.size()) {
        if (in[pos] != 0x01) {
            ++pos;
            continue;
        }
        const std::size_t left = in.size() - pos;
        if (left < 2) break;
        if (in[pos + 1] != 0x70 && in[pos + 1] != 0x75) {
            ++pos;
            continue;
        }
        if (left < 3) break;
        const std::size_t n = RequestLength(in[pos + 1], in[pos + 2]);
        if (n == 0) {
            ++pos;
            continue;
        }
        if (left < n) break;
        const std::uint16_t crc = ReferenceCrc(&in[pos + 1], n - 4);
        if (in[pos + n - 1] == 0x04 && in[pos + n - 3] == (crc >> 8) &&
            in[pos + n - 2] == (crc & 0xFF)) {
            scan.frames.emplace_back(in.begin() + static_cast<std::ptrdiff_t>(pos),
                                     in.begin() + static_cast<std::ptrdiff_t>(pos + n));
            pos += n;
        } else {
            ++pos;
        }
    }
    scan.tail = in.size() - pos;
    return scan;
}

// Whether `bytes` is one or more complete, valid reply frames back to back.
bool ValidReplies(const std::vector<std::uint8_t>& bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 6 || bytes[pos] != 0x01 || bytes[pos + 1] != 0x80) return false;
        std::size_t body = 2;  // 80 and the code
        switch (bytes[pos + 2]) {
            case RSP_ACK:
            case RSP_SELF_PROGRAM:
            case RSP_UPDATE_END:
            case RSP_ERASE_FLASH:
            case RSP_BOOT_ERASE:
            case RSP_BOOT_SWAP:
                break;
            case RSP_NAK:
            case RSP_RECORD:
                body = 4;
                break;
            case RSP_CP_DATA:
                body = 7;
                break;
            case RSP_DETECT:
            case RSP_BATTERY:
                body = 5;
                break;
            case RSP_FW_VERSION:
                body = 9;
                break;
            case RSP_SERIAL:
                body = 14;
                break;
            case RSP_MODEL:
                body = 20;
                break;
            case RSP_9A:
                body = 6;
                break;
            default:
                return false;
        }
        const std::size_t n = body + 4;
        if (bytes.size() - pos < n || bytes[pos + n - 1] != 0x04) return false;
        const std::uint16_t crc = ReferenceCrc(&bytes[pos + 1], body);
        if (bytes[pos + n - 3] != (crc >> 8) || bytes[pos + n - 2] != (crc & 0xFF)) return false;
        pos += n;
    }
    return true;
}

FaultKind KindOf(std::uint8_t value) {
    switch (value % 9) {
        case 1:
            return FaultKind::Silence;
        case 2:
            return FaultKind::Nak;
        case 3:
            return FaultKind::Late;
        case 4:
            return FaultKind::Corrupt;
        case 5:
            return FaultKind::Drop;
        case 6:
            return FaultKind::Twice;
        case 7:
            return FaultKind::WrongCode;
        case 8:
            return FaultKind::StatusFirst;
        default:
            return FaultKind::None;
    }
}

}  // namespace

std::filesystem::path kestro::fuzz::SeedCorpus() { return CorpusBeside(__FILE__); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::size_t chunk = 1 + data[0] % 32;
    const std::uint8_t flags = data[1];
    SimRadioConfig config;
    if ((flags & 0x04) != 0) {
        Fault fault;
        fault.kind = KindOf(data[3]);
        fault.index = data[3] >> 4;
        fault.code = (flags & 0x08) != 0 ? data[3] : 0;
        config.faultsByNumber[1 + data[2] % 8] = fault;
    }
    if ((flags & 0x10) != 0) config.loseCableAt = 1 + data[4] % 8;
    // One radio serves every input, reset to new each time: creating one costs more than most
    // inputs take to run, and a reset that left anything behind breaks the checks below.
    static SimRadio radio;
    radio.Reset(config);
    if ((flags & 0x01) != 0) radio.EnterNeedsRecovery();
    // Whether the radio had no firmware when each request (by its number) reached it: the
    // state changes within a chunk, at an erase or a boot swap.
    std::vector<bool> withoutFirmware;
    radio.SetRequestObserver([&withoutFirmware](const SimRadio::LoggedRequest& request) {
        withoutFirmware.resize(request.number + 1);
        withoutFirmware[request.number] = !radio.HasFirmware();
    });

    const std::vector<std::uint8_t> stream(data + 5, data + size);
    std::vector<std::uint8_t> heardUntilLoss;
    for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
        const std::size_t len = std::min(chunk, stream.size() - pos);
        const bool lostBefore = radio.CableLost();
        const std::size_t logged = radio.Requests().size();
        const std::vector<SimReply> replies = radio.Feed({stream.data() + pos, len});
        if (lostBefore) {
            FUZZ_REQUIRE(replies.empty() && radio.Requests().size() == logged);
            continue;
        }
        heardUntilLoss.insert(heardUntilLoss.end(),
                              stream.begin() + static_cast<std::ptrdiff_t>(pos),
                              stream.begin() + static_cast<std::ptrdiff_t>(pos + len));
        FUZZ_REQUIRE(radio.BufferedBytes() <= kMaxFrameLength);
        // Each request heard in this chunk answered, in order, unless silenced or unheard by a
        // radio with only its boot loader running.
        std::size_t r = 0;
        for (std::size_t k = logged; k < radio.Requests().size(); ++k) {
            const auto& request = radio.Requests()[k];
            if (request.fault == FaultKind::Silence) continue;
            if (withoutFirmware[request.number] && request.frame.bytes[1] != GROUP_PROGRAM) continue;
            FUZZ_REQUIRE(r < replies.size());
            const bool damaged = request.fault == FaultKind::Corrupt ||
                                 request.fault == FaultKind::Drop ||
                                 (request.fault == FaultKind::WrongCode && (flags & 0x08) != 0);
            if (!damaged) {
                FUZZ_REQUIRE(ValidReplies(replies[r].bytes));
            }
            ++r;
        }
        FUZZ_REQUIRE(r == replies.size());
        // An acknowledged end of programming restarts the radio: what followed it in the chunk
        // is lost with its receiver's buffer. The scan below knows nothing of restarts, so the
        // input ends here; the radio's own tests check what a restart does.
        if (radio.Restarting()) return 0;
    }

    const Scan scan = ReferenceScan(heardUntilLoss);
    const auto& log = radio.Requests();
    if (radio.CableLost()) {
        // The request that met the lost cable is counted but neither logged nor answered.
        FUZZ_REQUIRE(log.size() + 1 == config.loseCableAt);
        FUZZ_REQUIRE(scan.frames.size() >= log.size() + 1);
        FUZZ_REQUIRE(radio.BufferedBytes() == 0);
    } else {
        FUZZ_REQUIRE(log.size() == scan.frames.size());
        FUZZ_REQUIRE(radio.BufferedBytes() == scan.tail);
    }
    for (std::size_t k = 0; k < log.size(); ++k) {
        const auto view = log[k].frame.view();
        FUZZ_REQUIRE(std::vector<std::uint8_t>(view.begin(), view.end()) == scan.frames[k]);
        FUZZ_REQUIRE(log[k].number == k + 1);
    }
    return 0;
}
