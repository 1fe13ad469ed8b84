// Feeds arbitrary bytes to the reply receiver, one at a time as the port delivers them.
// Input: codeplug address (2 bytes), record echo (2 bytes), then the received stream.
// Checked after every byte:
//  - a reported reply code is the end of a valid frame of that code lying in the input (start
//    byte, mark, code, echo, length, payload, check bytes over the body, end byte), and the values
//    the receiver stored are exactly that frame's payload;
//  - the reply event is signalled and m_replyCode set exactly for the codes that wake the worker;
//  - the battery flag and device status are cleared by every byte that does not set them;
//  - a valid frame that starts while the receiver waits for a start byte is always reported.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../FuzzSupport.h"
#include "protocol/Frame.h"
#include "protocol/LinkState.h"
#include "protocol/ReplyAssembler.h"
#include "protocol/ReplyReceiver.h"

namespace {

using kestro::fuzz::ReferenceCrc;

// How a reply of each code is laid out: total length, whether it carries an echo, and the
// payload length after a 00 nn length field (-1: no length field).
struct Layout {
    std::size_t frameLength;
    bool echo;
    int payload;
    bool wakes;  // signals the reply event
};

bool LayoutOf(int code, Layout& layout) {
    switch (code) {
        case 0x03:
            layout = {11, true, 1, true};
            return true;
        case 0x06:
            layout = {6, false, -1, true};
            return true;
        case 0x15:
            layout = {8, false, -1, true};
            return true;  // two error bytes, no length
        case 0x71:
            layout = {13, false, 5, true};
            return true;
        case 0x75:
            layout = {24, false, 16, true};
            return true;
        case 0x77:
            layout = {18, false, 10, true};
            return true;
        case 0x7D:
            layout = {9, false, 1, true};
            return true;
        case 0x93:
            layout = {9, false, 1, true};
            return true;
        case 0x9A:
            layout = {10, false, 2, false};
            return true;
        case 0xA0:
        case 0xA1:
        case 0xA3:
        case 0xA4:
        case 0xA5:
            layout = {6, false, -1, true};
            return true;
        case 0xA2:
            layout = {8, true, -1, true};
            return true;
        default:
            return false;
    }
}

// Whether f[0..length) is a frame of `code` that the receiver must accept with these echoes.
bool IsValidFrame(const std::uint8_t* f, int code, const Layout& layout, std::uint16_t address,
                  std::uint16_t recordEcho) {
    const std::size_t n = layout.frameLength;
    if (f[0] != 0x01 || f[1] != 0x80 || f[2] != code || f[n - 1] != 0x04) return false;
    std::size_t at = 3;
    if (layout.echo) {
        const std::uint16_t expected = code == 0x03 ? address : recordEcho;
        if (f[3] != (expected >> 8) || f[4] != (expected & 0xFF)) return false;
        at = 5;
    }
    if (layout.payload >= 0 && (f[at] != 0x00 || f[at + 1] != layout.payload)) return false;
    if (code == 0x15 && f[3] == 0x04 && f[4] == 0x01) return false;  // a short NAK, then a start
    const std::uint16_t crc = ReferenceCrc(f + 1, n - 4);
    return f[n - 3] == (crc >> 8) && f[n - 2] == (crc & 0xFF);
}

// The values the receiver must hold: what the last frame of each kind carried.
struct Expected {
    std::string firmware, model, serial;
    std::uint8_t codeplugByte = 0;
};

}  // namespace

std::filesystem::path kestro::fuzz::SeedCorpus() { return CorpusBeside(__FILE__); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestro;
    if (size < 4) return 0;
    LinkState link;
    link.m_hReplyEvent = std::make_unique<ManualResetEvent>();
    const auto address = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
    link.m_codeplugAddress.store(address);
    link.SetRecordEcho(data[2], data[3]);
    const std::uint16_t recordEcho = link.m_recordEcho.load();
    ReplyReceiver receiver(link);

    const std::uint8_t* in = data + 4;
    const std::size_t n = size - 4;
    Expected expected;
    std::size_t mustReportAt = 0;  // 1 + index of the end of a frame that must be reported
    int mustReportCode = 0;

    for (std::size_t i = 0; i < n; ++i) {
        // A frame starting here while the receiver is idle must come out whole.
        if (mustReportAt <= i && receiver.Assembler().state() == ReplyAssembler::State::WAIT_SOH &&
            i + 3 <= n) {
            Layout layout{};
            if (LayoutOf(in[i + 2], layout) && i + layout.frameLength <= n &&
                IsValidFrame(in + i, in[i + 2], layout, address, recordEcho)) {
                mustReportAt = i + layout.frameLength;
                mustReportCode = in[i + 2];
            }
        }

        link.m_hReplyEvent->Reset();
        const int codeBefore = link.m_replyCode.load();
        const int code = receiver.OnSerialRxChar(in[i]);
        const bool signalled = link.m_hReplyEvent->IsSet();
        if (i + 1 == mustReportAt) FUZZ_REQUIRE(code == mustReportCode);

        Layout layout{};
        if (code == 0 || code == 1 || code == ReplyAssembler::kInProgress) {
            FUZZ_REQUIRE(!signalled);
            FUZZ_REQUIRE(link.m_replyCode.load() == codeBefore);
        } else {
            FUZZ_REQUIRE(LayoutOf(code, layout));
            FUZZ_REQUIRE(i + 1 >= layout.frameLength);
            const std::uint8_t* frame = in + i + 1 - layout.frameLength;
            FUZZ_REQUIRE(IsValidFrame(frame, code, layout, address, recordEcho));
            FUZZ_REQUIRE(signalled == layout.wakes);
            FUZZ_REQUIRE(link.m_replyCode.load() == (layout.wakes ? code : codeBefore));
            const std::uint8_t* payload = frame + (layout.echo ? 5 : 3) + 2;
            const auto text = [payload](std::size_t length) {
                return std::string(reinterpret_cast<const char*>(payload), length);
            };
            switch (code) {
                case 0x03:
                    expected.codeplugByte = payload[0];
                    break;
                case 0x71:
                    expected.firmware = text(5);
                    break;
                case 0x75:
                    expected.model = text(16);
                    break;
                case 0x77:
                    expected.serial = text(10);
                    break;
                case 0x7D:
                    FUZZ_REQUIRE(link.m_batteryLow.load() == (payload[0] & 1));
                    break;
                case 0x93:
                    FUZZ_REQUIRE(link.m_deviceStatus.load() == payload[0]);
                    break;
                default:
                    break;
            }
        }
        if (code != 0x7D) FUZZ_REQUIRE(link.m_batteryLow.load() == 0);
        if (code != 0x93) FUZZ_REQUIRE(link.m_deviceStatus.load() == 0);
        FUZZ_REQUIRE(receiver.Assembler().Payload().size() <= 16);
    }

    FUZZ_REQUIRE(link.m_codeplugByte.load() == expected.codeplugByte);
    FUZZ_REQUIRE(link.DeviceFirmwareVersion() == expected.firmware);
    FUZZ_REQUIRE(link.DeviceModelNumber() == expected.model);
    FUZZ_REQUIRE(link.DeviceSerialNumber() == expected.serial);
    if (!expected.firmware.empty()) {
        const auto bytes = link.DeviceFirmwareBytes();
        FUZZ_REQUIRE(std::string(bytes.begin(), bytes.end()) == expected.firmware);
    }
    return 0;
}
