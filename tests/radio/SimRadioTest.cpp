// The simulated radio's answers and memory: the worked frames, every request of the command table,
// the programming state machine and the boot swap.

#include <gtest/gtest.h>

#include "radio/RadioTestBytes.h"
#include "radio/Scenarios.h"

namespace kestro::test {
namespace {

TEST(SimRadioAnswers, MatchTheWorkedFramesByteForByte) {
    SimRadio radio;
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)),
              (Bytes{0x01, 0x80, 0x93, 0x00, 0x01, 0x01, 0x49, 0x06, 0x04}));
    EXPECT_EQ(Answer(radio, Command(REQ_BATTERY)),
              (Bytes{0x01, 0x80, 0x7D, 0x00, 0x01, 0x00, 0x42, 0x47, 0x04}));
    EXPECT_EQ(Answer(radio, Command(REQ_FW_VERSION)),
              (Bytes{0x01, 0x80, 0x71, 0x00, 0x05, 0x52, 0x30, 0x31, 0x30, 0x33, 0x9F, 0x46, 0x04}));
    EXPECT_EQ(Answer(radio, BuildCpReadFrame(0x3197)),
              (Bytes{0x01, 0x80, 0x03, 0x31, 0x97, 0x00, 0x01, 0x6F, 0x6E, 0x32, 0x04}));
    EXPECT_EQ(Answer(radio, Command(REQ_CP_CHECK)), kAck);

    ASSERT_EQ(Answer(radio, Command(REQ_RESET_MODE)), kAck);
    EXPECT_EQ(Answer(radio, Command(REQ_UPDATE_START)), kAck);
    EXPECT_EQ(Answer(radio, Command(REQ_SELF_PROGRAM)),
              (Bytes{0x01, 0x80, 0xA0, 0x29, 0xC6, 0x04}));
    std::array<std::uint8_t, kRecordSize> record{};
    record.fill(0xFF);
    record[0] = 0x02;
    record[1] = 0x00;
    EXPECT_EQ(Answer(radio, BuildWriteRecordFrame(record)),
              (Bytes{0x01, 0x80, 0xA2, 0x02, 0x00, 0xA4, 0xB1, 0x04}));
}

TEST(SimRadioAnswers, DataRepliesCarryTheConfiguredValues) {
    SimRadioConfig config;
    config.detectStatus = 0x10;
    config.batteryStatus = 0x01;
    config.model = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'};
    config.version = {'R', '0', '1', '0', '9'};
    config.serial = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    config.codeplug = {{0x3049, 0x00}, {0x1234, 0x5A}};
    SimRadio radio(config);

    const auto body = [&](const Frame& request) { return ReplyBody(Answer(radio, request)); };
    EXPECT_EQ(body(Command(REQ_DETECT)), (Bytes{0x80, 0x93, 0x00, 0x01, 0x10}));
    EXPECT_EQ(body(Command(REQ_BATTERY)), (Bytes{0x80, 0x7D, 0x00, 0x01, 0x01}));
    Bytes model = {0x80, 0x75, 0x00, 0x10};
    model.insert(model.end(), config.model.begin(), config.model.end());
    EXPECT_EQ(body(Command(REQ_MODEL)), model);
    EXPECT_EQ(body(Command(REQ_FW_VERSION)), (Bytes{0x80, 0x71, 0x00, 0x05, 'R', '0', '1', '0', '9'}));
    Bytes serial = {0x80, 0x77, 0x00, 0x0A};
    serial.insert(serial.end(), config.serial.begin(), config.serial.end());
    EXPECT_EQ(body(Command(REQ_SERIAL)), serial);
    EXPECT_EQ(body(BuildCpReadFrame(0x3049)), (Bytes{0x80, 0x03, 0x30, 0x49, 0x00, 0x01, 0x00}));
    EXPECT_EQ(body(BuildCpReadFrame(0x1234)), (Bytes{0x80, 0x03, 0x12, 0x34, 0x00, 0x01, 0x5A}));
    // Untouched codeplug reads as erased.
    EXPECT_EQ(body(BuildCpReadFrame(0xFFFF)), (Bytes{0x80, 0x03, 0xFF, 0xFF, 0x00, 0x01, 0xFF}));
}

TEST(SimRadioAnswers, DefaultModelIsTheSupportedOneFollowedByTwoZeros) {
    SimRadio radio;
    const auto body = ReplyBody(Answer(radio, Command(REQ_MODEL)));
    ASSERT_TRUE(body.has_value());
    const std::string text(body->begin() + 4, body->end());
    EXPECT_EQ(text, std::string("QXM27TPL4RC8ZN\0\0", 16));
}

TEST(SimRadioCodeplug, WritesAreStoredAndReadBackAndOtherLengthsAreRefused) {
    SimRadio radio;
    EXPECT_EQ(Answer(radio, BuildCpWriteFrame(0x3049, 0x14)), kAck);
    EXPECT_EQ(Answer(radio, BuildCpWriteFrame(0x3197, 0x00)), kAck);
    EXPECT_EQ(radio.CodeplugByte(0x3197), 0x00);
    EXPECT_EQ(ReplyBody(Answer(radio, BuildCpReadFrame(0x3197))),
              (Bytes{0x80, 0x03, 0x31, 0x97, 0x00, 0x01, 0x00}));
    for (const std::uint16_t acting : {0x22, 0x23, 0x20}) {
        EXPECT_EQ(Answer(radio, BuildCommandFrame(GROUP_DEVICE, static_cast<std::uint8_t>(acting))),
                  kAck);
    }

    // A two-byte read: same opcode and frame length, another length field.
    Frame wide = BuildCpReadFrame(0x3197);
    wide.bytes[6] = 0x02;
    const std::uint16_t crc = FrameCrc(wide.bytes.data(), 7);
    wide.bytes[7] = static_cast<std::uint8_t>(crc >> 8);
    wide.bytes[8] = static_cast<std::uint8_t>(crc & 0xFF);
    EXPECT_EQ(ReplyBody(Answer(radio, wide)), (Bytes{0x80, 0x15, 0x00, 0x06}));
}

TEST(SimRadioProgramming, TheProgrammingGroupNeedsResetModeFirst) {
    SimRadio radio;
    for (const RequestId id : {REQ_UPDATE_START, REQ_SELF_PROGRAM, REQ_ERASE_FLASH, REQ_BOOT_ERASE,
                               REQ_UPDATE_END}) {
        EXPECT_EQ(ReplyBody(Answer(radio, Command(id))), (Bytes{0x80, 0x15, 0x00, 0x01}))
            << RequestName(id);
    }
    EXPECT_EQ(ReplyBody(Answer(radio, Record(0x0200, 0))), (Bytes{0x80, 0x15, 0x00, 0x01}));
    EXPECT_EQ(radio.FlashRow(0x0200)[0], 0x00) << "a refused record must not be stored";
    EXPECT_EQ(radio.State(), RadioState::Normal);

    EXPECT_EQ(Answer(radio, Command(REQ_RESET_MODE)), kAck);
    EXPECT_EQ(radio.State(), RadioState::Programming);
    EXPECT_EQ(Answer(radio, Command(REQ_UPDATE_START)), kAck);
}

// Drives the radio through a whole programming exchange as the kit does and checks what it holds.
class SimRadioRun : public ::testing::Test {
protected:
    void Program(std::uint16_t firstRow, std::uint16_t rows) {
        ASSERT_EQ(ReplyBody(Answer(m_radio, Command(REQ_UPDATE_START))), (Bytes{0x80, 0x06}));
        ASSERT_EQ(ReplyBody(Answer(m_radio, Command(REQ_SELF_PROGRAM))), (Bytes{0x80, 0xA0}));
        ASSERT_EQ(ReplyBody(Answer(m_radio, Command(REQ_ERASE_FLASH))), (Bytes{0x80, 0xA3}));
        for (std::uint16_t r = firstRow; r < firstRow + rows; ++r) {
            const auto body = ReplyBody(Answer(m_radio, Record(r, static_cast<std::uint8_t>(r))));
            ASSERT_EQ(body, (Bytes{0x80, 0xA2, static_cast<std::uint8_t>(r >> 8),
                                   static_cast<std::uint8_t>(r & 0xFF)}));
        }
    }
    void WriteBoot() {
        ASSERT_EQ(ReplyBody(Answer(m_radio, Command(REQ_BOOT_ERASE))), (Bytes{0x80, 0xA4}));
        for (std::uint16_t k = 0; k < 256; ++k) {
            const Frame record = Record(static_cast<std::uint16_t>(0x0100 + k), static_cast<std::uint8_t>(k * 7));
            ASSERT_EQ(ReplyBody(Answer(m_radio, record))->at(1), RSP_RECORD);
            std::copy_n(record.bytes.begin() + 5, 16, m_bootImage.begin() + 16 * k);
        }
    }
    Bytes Swap(std::uint16_t checksum) { return Answer(m_radio, BuildBootSwapFrame(checksum)); }
    std::uint16_t ImageCrc() const { return Crc16(m_bootImage.data(), m_bootImage.size()); }

    SimRadio m_radio;
    std::array<std::uint8_t, kBootImageSize> m_bootImage{};
};

TEST_F(SimRadioRun, StoresApplicationRowsAndSwapsInTheNewBootArea) {
    ASSERT_EQ(Answer(m_radio, Command(REQ_RESET_MODE)), kAck);
    Program(0x0200, 64);
    EXPECT_EQ(m_radio.State(), RadioState::Programming);
    EXPECT_EQ(m_radio.RowsWritten(), 64U);
    for (std::uint16_t r = 0x0200; r < 0x0240; ++r) {
        const Frame expected = Record(r, static_cast<std::uint8_t>(r));
        EXPECT_TRUE(std::equal(m_radio.FlashRow(r).begin(), m_radio.FlashRow(r).end(),
                               expected.bytes.begin() + 5))
            << "row " << r;
    }
    // Erased rows read all FF; rows the kit did not send stay erased.
    EXPECT_EQ(m_radio.FlashRow(0x0240)[0], 0xFF);
    EXPECT_EQ(m_radio.FlashRow(0x3FFF)[15], 0xFF);

    WriteBoot();
    EXPECT_FALSE(m_radio.RowWritten(0x0100)) << "boot rows belong to the new boot area, not flash";
    EXPECT_TRUE(std::equal(m_bootImage.begin(), m_bootImage.end(), m_radio.NewBootArea().begin()));
    EXPECT_EQ(ReplyBody(Swap(ImageCrc())), (Bytes{0x80, 0xA5}));
    EXPECT_TRUE(m_radio.BootSwapMatched());
    EXPECT_TRUE(std::equal(m_bootImage.begin(), m_bootImage.end(), m_radio.ActiveBootArea().begin()));

    EXPECT_EQ(ReplyBody(Answer(m_radio, Command(REQ_UPDATE_END))), (Bytes{0x80, 0xA1}));
    EXPECT_EQ(m_radio.State(), RadioState::Normal);
    // Back to normal: the programming group is refused again.
    EXPECT_EQ(ReplyBody(Answer(m_radio, Command(REQ_SELF_PROGRAM))),
              (Bytes{0x80, 0x15, 0x00, 0x01}));
}

TEST_F(SimRadioRun, AWrongSwapChecksumIsRefusedAndRecoveryStaysOwed) {
    ASSERT_EQ(Answer(m_radio, Command(REQ_RESET_MODE)), kAck);
    Program(0x0200, 2);
    EXPECT_EQ(ReplyBody(Swap(ImageCrc())), (Bytes{0x80, 0x15, 0x00, 0x03}))
        << "a swap before a boot erase has nothing to swap in";
    WriteBoot();
    const std::array<std::uint8_t, kBootImageSize> oldBoot = [&] {
        std::array<std::uint8_t, kBootImageSize> copy{};
        std::copy_n(m_radio.ActiveBootArea().begin(), kBootImageSize, copy.begin());
        return copy;
    }();
    EXPECT_EQ(ReplyBody(Swap(static_cast<std::uint16_t>(ImageCrc() ^ 1))),
              (Bytes{0x80, 0x15, 0x00, 0x02}));
    EXPECT_FALSE(m_radio.BootSwapMatched());
    EXPECT_TRUE(std::equal(oldBoot.begin(), oldBoot.end(), m_radio.ActiveBootArea().begin()));

    // The kit gives up here; after the cable comes back the radio still needs recovery.
    m_radio.Reconnect();
    EXPECT_EQ(m_radio.State(), RadioState::NeedsRecovery);
    // Without application firmware only the boot loader runs: a detection gets no answer.
    EXPECT_FALSE(ReplyBody(Answer(m_radio, Command(REQ_DETECT))).has_value());

    // A recovery run starts with UPDATE_START, without reset mode, and clears the state.
    Program(0x0200, 2);
    WriteBoot();
    EXPECT_EQ(ReplyBody(Swap(ImageCrc())), (Bytes{0x80, 0xA5}));
    EXPECT_EQ(ReplyBody(Answer(m_radio, Command(REQ_UPDATE_END))), (Bytes{0x80, 0xA1}));
    EXPECT_EQ(m_radio.State(), RadioState::Normal);
    EXPECT_EQ(m_radio.BootSwaps(), 1U);
}

TEST_F(SimRadioRun, BootAreaRowNumbersGoToFlashOutsideABootEraseAndRowsPastTheFlashAreRefused) {
    ASSERT_EQ(Answer(m_radio, Command(REQ_RESET_MODE)), kAck);
    // An image without row 0x0200 sends its boot rows in the application stretch.
    Program(0x0000, 0x0200);
    EXPECT_TRUE(m_radio.RowWritten(0x0000));
    EXPECT_TRUE(m_radio.RowWritten(0x01FF));
    EXPECT_EQ(ReplyBody(Answer(m_radio, Record(0x4000, 0))), (Bytes{0x80, 0x15, 0x00, 0x05}));
}

// Everything a caller can read of a radio, so that two radios can be compared whole.
void ExpectSameRadio(const SimRadio& a, const SimRadio& b) {
    EXPECT_EQ(a.State(), b.State());
    EXPECT_EQ(a.CableLost(), b.CableLost());
    EXPECT_EQ(a.RowsWritten(), b.RowsWritten());
    EXPECT_EQ(a.BootSwaps(), b.BootSwaps());
    EXPECT_EQ(a.BootSwapMatched(), b.BootSwapMatched());
    EXPECT_TRUE(std::ranges::equal(a.ActiveBootArea(), b.ActiveBootArea()));
    EXPECT_TRUE(std::ranges::equal(a.NewBootArea(), b.NewBootArea()));
    std::size_t rowsDiffering = 0;
    for (std::uint16_t r = 0; r < kFlashRows; ++r) {
        if (!std::ranges::equal(a.FlashRow(r), b.FlashRow(r)) || a.RowWritten(r) != b.RowWritten(r)) {
            ++rowsDiffering;
        }
    }
    EXPECT_EQ(rowsDiffering, 0U);
    std::size_t codeplugDiffering = 0;
    for (std::size_t address = 0; address < kCodeplugSize; ++address) {
        const auto at = static_cast<std::uint16_t>(address);
        if (a.CodeplugByte(at) != b.CodeplugByte(at)) ++codeplugDiffering;
    }
    EXPECT_EQ(codeplugDiffering, 0U);
    EXPECT_EQ(a.Requests().size(), b.Requests().size());
    EXPECT_EQ(a.RequestsSeen(), b.RequestsSeen());
    EXPECT_EQ(a.BufferedBytes(), b.BufferedBytes());
    EXPECT_EQ(a.DiscardedBytes(), b.DiscardedBytes());
    for (int id = 0; id < REQ_COUNT; ++id) {
        EXPECT_EQ(a.CountOf(static_cast<RequestId>(id)), b.CountOf(static_cast<RequestId>(id)));
    }
}

TEST_F(SimRadioRun, AResetRadioIsIndistinguishableFromANewOne) {
    // Leave a mark on every part of the radio: a codeplug write, a whole programming run with
    // a boot swap, random damage drawn, a lost cable and a half-received frame.
    m_radio.Config().corruptRate = 0.5;
    ASSERT_FALSE(Answer(m_radio, BuildCpWriteFrame(0x3049, 0x99)).empty());
    m_radio.Config().corruptRate = 0.0;
    ASSERT_EQ(Answer(m_radio, Command(REQ_RESET_MODE)), kAck);
    Program(0x0200, 8);
    WriteBoot();
    ASSERT_EQ(ReplyBody(Swap(ImageCrc())), (Bytes{0x80, 0xA5}));
    m_radio.Config().loseCableAt = m_radio.RequestsSeen() + 1;
    m_radio.Feed(Command(REQ_UPDATE_END).view());
    ASSERT_TRUE(m_radio.CableLost());
    m_radio.Reconnect();
    const Frame detect = Command(REQ_DETECT);
    m_radio.Feed(std::span(detect.data(), 3));
    ASSERT_GT(m_radio.BufferedBytes(), 0U);

    // Reset with a config whose faults draw on the generator, and compare with a new radio fed
    // the same requests: every answer, damaged ones included, and all state must agree.
    SimRadioConfig config;
    config.corruptRate = 0.2;
    config.dropRate = 0.1;
    config.seed = 77;
    config.codeplug = {{0x3049, 0x21}};
    config.faultsByNumber[2].kind = FaultKind::Twice;
    m_radio.Reset(config);
    SimRadio fresh(config);
    ExpectSameRadio(m_radio, fresh);
    const Frame requests[] = {Command(REQ_DETECT), BuildCpReadFrame(0x3049), Command(REQ_MODEL),
                              Command(REQ_RESET_MODE), Command(REQ_UPDATE_START),
                              Command(REQ_ERASE_FLASH), Record(0x0200, 5)};
    for (const Frame& request : requests) {
        EXPECT_EQ(Answer(m_radio, request), Answer(fresh, request))
            << RequestName(m_radio.Requests().back().id);
    }
    ExpectSameRadio(m_radio, fresh);

    // A lost cable does not outlive a reset either.
    SimRadio lost;
    lost.Config().loseCableAt = 1;
    lost.Feed(detect.view());
    ASSERT_TRUE(lost.CableLost());
    lost.Reset();
    ExpectSameRadio(lost, SimRadio{});
    EXPECT_FALSE(Answer(lost, detect).empty());
}

TEST(SimRadioLog, RecordsEveryRequestHeardInOrder) {
    SimRadio radio;
    Answer(radio, Command(REQ_DETECT));
    Answer(radio, BuildCpReadFrame(0x3049));
    Answer(radio, BuildCpReadFrame(0x3197));
    ASSERT_EQ(radio.Requests().size(), 3U);
    EXPECT_EQ(radio.Requests()[0].id, REQ_DETECT);
    EXPECT_EQ(radio.Requests()[2].number, 3U);
    EXPECT_EQ(radio.Requests()[2].frame.bytes[4], 0x97);
    EXPECT_EQ(radio.CountOf(REQ_CP_READ), 2U);
}

TEST(SimRadioScenarios, EveryListedNameAppliesAndUnknownNamesAreRejected) {
    for (const ScenarioInfo& info : Scenarios()) {
        SimRadio radio;
        EXPECT_TRUE(ApplyScenario(radio, info.name)) << info.name;
        EXPECT_FALSE(info.description.empty());
    }
    SimRadio radio;
    EXPECT_FALSE(ApplyScenario(radio, "no-such-radio"));
    EXPECT_EQ(Scenarios().front().name, "normal");
}

TEST(SimRadioScenarios, ScenariosChangeWhatTheKitReads) {
    const auto body = [](std::string_view scenario, const Frame& request) {
        SimRadio radio;
        ApplyScenario(radio, scenario);
        return ReplyBody(Answer(radio, request)).value_or(Bytes{});
    };
    EXPECT_EQ(body("normal", BuildCpReadFrame(0x3197)).back(), 0x6F);
    EXPECT_EQ(body("codeplug-restore", BuildCpReadFrame(0x3197)).back(), 0x00);
    EXPECT_EQ(body("battery-low", Command(REQ_BATTERY)).back() & 0x01, 0x01);
    EXPECT_NE(body("old-model", Command(REQ_MODEL)), body("normal", Command(REQ_MODEL)));
    EXPECT_EQ(body("new-firmware", Command(REQ_FW_VERSION)).back(), '5');
    EXPECT_EQ(body("restore-refused", Command(REQ_CP_RESTORE))[1], RSP_NAK);
    EXPECT_TRUE(body("silent", Command(REQ_DETECT)).empty());
    EXPECT_EQ(body("needs-recovery", Command(REQ_UPDATE_START)), (Bytes{0x80, 0x06}));

    // The cable goes at the 28th flash record, however many other requests came before it.
    SimRadio pulled;
    ApplyScenario(pulled, "cable-pulled");
    for (int i = 0; i < 60; ++i) EXPECT_FALSE(Answer(pulled, Command(REQ_DETECT)).empty());
    ASSERT_TRUE(Answer(pulled, Command(REQ_UPDATE_START)).size() > 0);
    const auto record = [&](std::uint8_t row) {
        const std::array<std::uint8_t, kRecordSize> bytes{0x02, row};
        return Answer(pulled, BuildWriteRecordFrame(bytes));
    };
    for (std::uint8_t row = 0; row < 27; ++row) EXPECT_FALSE(record(row).empty());
    EXPECT_FALSE(pulled.CableLost());
    EXPECT_TRUE(record(27).empty());
    EXPECT_TRUE(pulled.CableLost());
    EXPECT_TRUE(Answer(pulled, Command(REQ_DETECT)).empty());
}

}  // namespace
}  // namespace kestro::test
