// The simulated radio's restart after a programming run, through the virtual link in virtual
// time: silent from the acknowledgement of the end of programming for its restart time, then
// answering with the version the run left (or never again), its codeplug kept.

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "platform/VirtualClock.h"
#include "radio/RadioTestBytes.h"
#include "radio/Scenarios.h"
#include "radio/VirtualLink.h"

namespace kestro {
namespace {

using namespace std::chrono_literals;
using namespace kestro::test;

class Collector final : public IPortOwner {
public:
    void OnSerialRxChar(std::uint8_t byte, int /*portNumber*/) override { bytes.push_back(byte); }
    void OnPortError(const std::string& /*text*/, int /*portNumber*/) override {}
    Bytes bytes;
};

struct Case {
    const char* scenario;
    bool answersAgain;
    std::array<std::uint8_t, 5> versionAfter;
};

TEST(SimRadioRestart, IsSilentForItsRestartThenAnswersWithTheVersionItRuns) {
    const Case cases[] = {
        {"normal", true, {'R', '0', '1', '0', '4'}},
        {"codeplug-restore", true, {'R', '0', '1', '0', '4'}},
        {"keeps-old-firmware", true, {'R', '0', '1', '0', '3'}},
        {"no-restart", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        VirtualClock clock;
        SimRadio radio;
        ASSERT_TRUE(ApplyScenario(radio, c.scenario));
        radio.Config().restart = 2000ms;
        if (std::string(c.scenario) == "no-restart") radio.Config().restart = kNeverRestarts;
        const std::uint8_t codeplugByte = radio.CodeplugByte(0x3197);
        VirtualLink link(clock, radio);
        Collector owner;
        ASSERT_TRUE(link.OpenPort(&owner, 3) && link.StartPortThread());
        // The reply body of `request` sent at `at` (no earlier than the last ask's window ended),
        // or nullopt for no reply within its latency and a millisecond.
        const auto send = [&](const Bytes& request, Millis at) -> std::optional<Bytes> {
            EXPECT_GE(at, clock.Now());
            clock.RunUntil(at);
            owner.bytes.clear();
            link.HandOff(request.data(), request.size());
            clock.RunUntil(at + radio.Config().latency + 1ms);
            if (owner.bytes.empty()) return std::nullopt;
            return ReplyBody(owner.bytes);
        };
        const auto ask = [&](const Frame& request, Millis at) { return send(ToBytes(request), at); };

        Millis now{0};
        const auto next = [&](const Frame& request) { return ask(request, now += 100ms); };
        ASSERT_TRUE(next(Command(REQ_RESET_MODE)));
        ASSERT_TRUE(next(Command(REQ_UPDATE_START)));
        ASSERT_TRUE(next(Command(REQ_ERASE_FLASH)));
        ASSERT_TRUE(next(Command(REQ_BOOT_ERASE)));
        std::array<std::uint8_t, kBootImageSize> image{};
        for (std::uint16_t k = 0; k < 256; ++k) {
            const Frame record = Record(static_cast<std::uint16_t>(0x0100 + k), static_cast<std::uint8_t>(k));
            std::copy_n(record.bytes.begin() + 5, 16, image.begin() + 16 * k);
            ASSERT_TRUE(next(record));
        }
        ASSERT_EQ(next(BuildBootSwapFrame(Crc16(image.data(), image.size()))), (Bytes{0x80, 0xA5}));
        const Millis endAt = now += 100ms;
        // A request right behind the end of programming is lost in the restart.
        Bytes endThenDetect = ToBytes(Command(REQ_UPDATE_END));
        const Bytes detect = ToBytes(Command(REQ_DETECT));
        endThenDetect.insert(endThenDetect.end(), detect.begin(), detect.end());
        ASSERT_EQ(send(endThenDetect, endAt), (Bytes{0x80, 0xA1}));

        // The restart runs from the acknowledgement, which leaves after the latency.
        const Millis awake = endAt + radio.Config().latency + 2000ms;
        EXPECT_FALSE(ask(Command(REQ_DETECT), endAt + 50ms));
        EXPECT_FALSE(ask(Command(REQ_FW_VERSION), awake - 1ms)) << "answered before its restart ended";
        if (!c.answersAgain) {
            EXPECT_FALSE(ask(Command(REQ_DETECT), awake + 10ms));
            EXPECT_FALSE(ask(Command(REQ_DETECT), awake + 3600s));
            continue;
        }
        const Millis window = radio.Config().latency + 1ms;
        EXPECT_EQ(ask(Command(REQ_DETECT), awake - 1ms + window), (Bytes{0x80, RSP_DETECT, 0x00, 0x01, 0x01}));
        Bytes version = {0x80, RSP_FW_VERSION, 0x00, 0x05};
        version.insert(version.end(), c.versionAfter.begin(), c.versionAfter.end());
        EXPECT_EQ(ask(Command(REQ_FW_VERSION), awake + 100ms), version);
        const auto serial = ask(Command(REQ_SERIAL), awake + 200ms);
        ASSERT_TRUE(serial);
        EXPECT_EQ(Bytes(serial->begin() + 4, serial->end()),
                  Bytes(radio.Config().serial.begin(), radio.Config().serial.end()));
        const auto codeplug = ask(BuildCpReadFrame(0x3197), awake + 300ms);
        ASSERT_TRUE(codeplug);
        EXPECT_EQ(codeplug->back(), codeplugByte) << "the codeplug is kept through the restart";
    }
}

}  // namespace
}  // namespace kestro
