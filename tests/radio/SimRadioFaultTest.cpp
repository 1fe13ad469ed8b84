// The simulated radio's fault knobs and its handling of chunked, damaged and hostile input.

#include <gtest/gtest.h>

#include <random>

#include "radio/RadioTestBytes.h"

namespace kestro::test {
namespace {

const Bytes kDetectReply = {0x01, 0x80, 0x93, 0x00, 0x01, 0x01, 0x49, 0x06, 0x04};

TEST(SimRadioFaults, SilenceAndNakLeaveTheRequestUndone) {
    SimRadioConfig config;
    config.faultsByKind[REQ_CP_WRITE] = Fault{.kind = FaultKind::Silence};
    config.faultsByKind[REQ_RESET_MODE] = Fault{.kind = FaultKind::Nak, .errorBytes = {0x00, 0x00}};
    SimRadio radio(config);

    EXPECT_TRUE(radio.Feed(BuildCpWriteFrame(0x3197, 0x00).view()).empty());
    EXPECT_EQ(radio.CodeplugByte(0x3197), 0x6F);
    EXPECT_EQ(Answer(radio, Command(REQ_RESET_MODE)),
              (Bytes{0x01, 0x80, 0x15, 0x00, 0x00, 0x91, 0x46, 0x04}));
    EXPECT_EQ(radio.State(), RadioState::Normal);
    ASSERT_EQ(radio.Requests().size(), 2U);
    EXPECT_EQ(radio.Requests()[0].fault, FaultKind::Silence);
    EXPECT_EQ(radio.Requests()[1].fault, FaultKind::Nak);
}

TEST(SimRadioFaults, ReplyTimingFollowsLatencyAndLateFaults) {
    SimRadioConfig config;
    config.latency = SimMillis{7};
    config.faultsByKind[REQ_BATTERY] = Fault{.kind = FaultKind::Late, .delay = SimMillis{650}};
    SimRadio radio(config);

    auto replies = radio.Feed(Command(REQ_DETECT).view());
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(replies[0].delay, SimMillis{7});
    replies = radio.Feed(Command(REQ_BATTERY).view());
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(replies[0].delay, SimMillis{650});
    EXPECT_TRUE(ReplyBody(replies[0].bytes).has_value()) << "a late reply is still a good one";
}

TEST(SimRadioFaults, DamagedRepliesDifferExactlyWhereAsked) {
    SimRadioConfig config;
    config.faultsByNumber[1] = Fault{.kind = FaultKind::Corrupt, .index = 5};
    config.faultsByNumber[2] = Fault{.kind = FaultKind::Drop, .index = 2, .count = 3};
    config.faultsByNumber[3] = Fault{.kind = FaultKind::Twice};
    config.faultsByNumber[4] = Fault{.kind = FaultKind::Corrupt, .index = 99};
    SimRadio radio(config);

    Bytes corrupted = kDetectReply;
    corrupted[5] ^= 0xFF;
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), corrupted);
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), (Bytes{0x01, 0x80, 0x01, 0x49, 0x06, 0x04}));
    Bytes twice = kDetectReply;
    twice.insert(twice.end(), kDetectReply.begin(), kDetectReply.end());
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), twice);
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), kDetectReply) << "an index past the end";
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), kDetectReply) << "faults by number are one-off";
}

TEST(SimRadioFaults, WrongCodesAndStatusReportsAreValidFrames) {
    SimRadioConfig config;
    config.faultsByNumber[1] = Fault{.kind = FaultKind::WrongCode};
    config.faultsByNumber[2] = Fault{.kind = FaultKind::WrongCode};
    config.faultsByNumber[3] = Fault{.kind = FaultKind::WrongCode, .code = RSP_BOOT_SWAP};
    config.faultsByNumber[4] = Fault{.kind = FaultKind::StatusFirst};
    SimRadio radio(config);

    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), kAck);
    EXPECT_EQ(ReplyBody(Answer(radio, Command(REQ_CP_CHECK))), (Bytes{0x80, 0xA1}))
        << "the wrong code for an ACK must not be the ACK";
    EXPECT_EQ(ReplyBody(Answer(radio, Command(REQ_DETECT))), (Bytes{0x80, 0xA5}));

    const Bytes both = Answer(radio, Command(REQ_DETECT));
    ASSERT_EQ(both.size(), 10U + kDetectReply.size());
    EXPECT_EQ(ReplyBody(Bytes(both.begin(), both.begin() + 10)),
              (Bytes{0x80, 0x9A, 0x00, 0x02, 0x00, 0x04}));
    EXPECT_EQ(Bytes(both.begin() + 10, both.end()), kDetectReply);
}

TEST(SimRadioFaults, KindFaultsCanBeLimitedAndNumberFaultsWin) {
    SimRadioConfig config;
    config.faultsByKind[REQ_CP_WRITE] = Fault{.kind = FaultKind::Nak, .times = 2};
    config.faultsByKind[REQ_DETECT] = Fault{.kind = FaultKind::Silence};
    config.faultsByNumber[5] = Fault{.kind = FaultKind::None};
    SimRadio radio(config);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ReplyBody(Answer(radio, BuildCpWriteFrame(0x3049, 0x14)))->at(1), RSP_NAK);
    }
    EXPECT_EQ(Answer(radio, BuildCpWriteFrame(0x3049, 0x14)), kAck);
    EXPECT_TRUE(Answer(radio, Command(REQ_DETECT)).empty());
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), kDetectReply) << "request 5 is exempt";
    EXPECT_TRUE(Answer(radio, Command(REQ_DETECT)).empty());
}

TEST(SimRadioFaults, ALostCableHearsNothingUntilReconnected) {
    SimRadioConfig config;
    config.loseCableAt = 3;
    SimRadio radio(config);
    ASSERT_EQ(Answer(radio, Command(REQ_RESET_MODE)), kAck);
    EXPECT_EQ(Answer(radio, Command(REQ_UPDATE_START)), kAck);
    EXPECT_TRUE(Answer(radio, Command(REQ_SELF_PROGRAM)).empty());
    EXPECT_TRUE(radio.CableLost());
    EXPECT_TRUE(Answer(radio, Command(REQ_DETECT)).empty());
    EXPECT_EQ(radio.Requests().size(), 2U);

    radio.Reconnect();
    EXPECT_FALSE(radio.CableLost());
    EXPECT_EQ(radio.State(), RadioState::Normal) << "the programming session ended with the cable";
    EXPECT_EQ(Answer(radio, Command(REQ_DETECT)), kDetectReply);
}

TEST(SimRadioFaults, RandomDamageFollowsItsRateAndSeed) {
    const auto run = [](double corrupt, double drop, std::uint32_t seed) {
        SimRadioConfig config;
        config.corruptRate = corrupt;
        config.dropRate = drop;
        config.seed = seed;
        SimRadio radio(config);
        Bytes all;
        for (int i = 0; i < 1000; ++i) {
            const Bytes reply = Answer(radio, Command(REQ_DETECT));
            all.insert(all.end(), reply.begin(), reply.end());
        }
        return all;
    };
    const Bytes clean = run(0.0, 0.0, 1);
    ASSERT_EQ(clean.size(), 9000U);

    const Bytes damaged = run(0.1, 0.0, 42);
    EXPECT_EQ(damaged, run(0.1, 0.0, 42));
    EXPECT_NE(damaged, run(0.1, 0.0, 43));
    ASSERT_EQ(damaged.size(), clean.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        differing += clean[i] != damaged[i] ? 1 : 0;
    }
    EXPECT_GT(differing, 700U);
    EXPECT_LT(differing, 1100U);

    const std::size_t kept = run(0.0, 0.25, 7).size();
    EXPECT_GT(kept, 6400U);
    EXPECT_LT(kept, 7100U);
    EXPECT_TRUE(run(0.0, 1.0, 7).empty());
    const Bytes allCorrupt = run(1.0, 0.0, 9);
    for (std::size_t i = 0; i < clean.size(); ++i) {
        ASSERT_NE(allCorrupt[i], clean[i]) << i;
    }
}

TEST(SimRadioInput, AnyChunkingGivesTheSameAnswers) {
    const Bytes stream = [] {
        Bytes s;
        for (const Frame& f : {Command(REQ_DETECT), BuildCpReadFrame(0x3197),
                               BuildCpWriteFrame(0x3049, 0x14), Command(REQ_SERIAL)}) {
            s.insert(s.end(), f.data(), f.data() + f.size());
        }
        return s;
    }();
    SimRadio whole;
    const auto expected = whole.Feed(stream);
    ASSERT_EQ(expected.size(), 4U);

    std::mt19937 random(5);
    for (int trial = 0; trial < 50; ++trial) {
        SimRadio radio;
        std::vector<SimReply> got;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t take = std::min<std::size_t>(1 + random() % 7, stream.size() - at);
            for (auto& r : radio.Feed(std::span(stream).subspan(at, take))) {
                got.push_back(std::move(r));
            }
            at += take;
        }
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].bytes, expected[i].bytes);
        }
    }
}

TEST(SimRadioInput, ResynchronisesAfterGarbageFalseStartsAndBadFrames) {
    SimRadio radio;
    Bytes stream = {0x00, 0xFF, 0x04, 0x01, 0x33, 0x01, 0x70, 0x99};  // unknown group, opcode
    Bytes bad = ToBytes(Command(REQ_DETECT));
    bad[3] ^= 0x01;  // check byte
    stream.insert(stream.end(), bad.begin(), bad.end());
    Bytes noEnd = ToBytes(Command(REQ_BATTERY));
    noEnd.back() = 0x05;
    stream.insert(stream.end(), noEnd.begin(), noEnd.end());
    // A false start whose frame length swallows the real request that follows it.
    stream.insert(stream.end(), {0x01, 0x75, 0x62, 0x11});
    const Bytes good = ToBytes(BuildCpReadFrame(0x3197));
    stream.insert(stream.end(), good.begin(), good.end());
    stream.insert(stream.end(), 10, 0x00);

    const auto replies = radio.Feed(stream);
    ASSERT_EQ(replies.size(), 1U);
    EXPECT_EQ(ReplyBody(replies[0].bytes), (Bytes{0x80, 0x03, 0x31, 0x97, 0x00, 0x01, 0x6F}));
    ASSERT_EQ(radio.Requests().size(), 1U);
    EXPECT_EQ(radio.Requests()[0].id, REQ_CP_READ);
    EXPECT_LE(radio.BufferedBytes(), kMaxFrameLength);
    EXPECT_EQ(radio.DiscardedBytes() + good.size() + radio.BufferedBytes(), stream.size());
}

TEST(SimRadioInput, RandomStreamsStayBoundedAndEmbeddedRequestsAreFound) {
    std::mt19937 random(2024);
    SimRadio radio;
    const Bytes request = ToBytes(Command(REQ_DETECT));
    std::size_t embedded = 0;
    for (int round = 0; round < 2000; ++round) {
        Bytes chunk(random() % 64);
        for (auto& b : chunk) {
            // Skewed towards the bytes that matter to the scanner.
            const unsigned pick = random() % 8;
            b = pick == 0 ? 0x01 : pick == 1 ? 0x70 : pick == 2 ? 0x75 : static_cast<std::uint8_t>(random());
        }
        if (round % 10 == 0) {
            chunk.insert(chunk.end(), request.begin(), request.end());
            ++embedded;
        }
        radio.Feed(chunk);
        ASSERT_LE(radio.BufferedBytes(), kMaxFrameLength);
    }
    EXPECT_GE(radio.CountOf(REQ_DETECT), embedded);
}

TEST(SimRadioInput, TheRequestLogStaysBoundedWhileCountsStayExact) {
    SimRadio radio;
    const Frame detect = Command(REQ_DETECT);
    const std::size_t total = kRequestLogLimit + 1000;
    for (std::size_t i = 0; i < total; ++i) {
        radio.Feed(detect.view());
    }
    EXPECT_LE(radio.Requests().size(), kRequestLogLimit);
    ASSERT_FALSE(radio.Requests().empty());
    EXPECT_EQ(radio.Requests().back().number, total) << "the newest requests are kept";
    EXPECT_EQ(radio.CountOf(REQ_DETECT), total);
    EXPECT_EQ(radio.RequestsSeen(), total);
}

}  // namespace
}  // namespace kestro::test
