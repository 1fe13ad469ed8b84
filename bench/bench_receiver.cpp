// Speed of the reply receiver: a long stream of the radio's reply frames (every kind the kit
// expects, NAKs, short NAKs, 0x9A status reports) mixed with garbage, false starts and damaged
// frames, fed one byte at a time to ReplyAssembler::FeedByte and to the whole per-byte handler.
// The line brings at most 7 680 bytes a second; the figures say how far above that we are.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/LinkState.h"
#include "protocol/ReplyAssembler.h"
#include "protocol/ReplyReceiver.h"

namespace {

using kestro::Crc16;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kCodeplugAddress = 0x3197;
constexpr std::uint8_t kRecordHigh = 0x02;
constexpr std::uint8_t kRecordLow = 0x40;

void AppendReply(Bytes& out, const Bytes& body) {
    out.push_back(kestro::FRAME_SOH);
    out.insert(out.end(), body.begin(), body.end());
    const std::uint16_t crc = Crc16(body.data(), body.size());
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(kestro::FRAME_EOT);
}

Bytes DataBody(int code, const Bytes& payload) {
    Bytes body;
    body.reserve(4 + payload.size());
    body.push_back(0x80);
    body.push_back(static_cast<std::uint8_t>(code));
    body.push_back(0x00);
    body.push_back(static_cast<std::uint8_t>(payload.size()));
    for (const std::uint8_t byte : payload) {
        body.push_back(byte);
    }
    return body;
}

// About 1 MiB: roughly two thirds valid frames, one third garbage and broken frames, from a fixed
// generator so that every run measures the same bytes.
const Bytes& MixedStream() {
    static const Bytes stream = [] {
        Bytes out;
        out.reserve(1100 * 1024);
        std::uint32_t state = 0x9E3779B9;
        auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        };
        const Bytes model(16, 'Q');
        const std::vector<Bytes> valid = {
            {0x80, 0x06},
            {0x80, 0x15, 0x12, 0x34},
            DataBody(kestro::RSP_DETECT, {0x01}),
            DataBody(kestro::RSP_BATTERY, {0x00}),
            DataBody(kestro::RSP_MODEL, model),
            DataBody(kestro::RSP_FW_VERSION, {'R', '0', '1', '0', '3'}),
            DataBody(kestro::RSP_SERIAL, {'K', 'S', '2', '4', '0', '0', '1', '7', '3', '5'}),
            DataBody(kestro::RSP_9A, {0x01, 0x07}),
            {0x80, 0x03, kCodeplugAddress >> 8, kCodeplugAddress & 0xFF, 0x00, 0x01, 0x6F},
            {0x80, 0xA2, kRecordHigh, kRecordLow},
            {0x80, 0xA0},
            {0x80, 0xA5},
        };
        while (out.size() < 1024 * 1024) {
            const std::uint32_t pick = next() % 16;
            if (pick < 11) {
                AppendReply(out, valid[next() % valid.size()]);
            } else if (pick == 11) {
                for (std::uint32_t n = next() % 24; n > 0; --n) {
                    out.push_back(static_cast<std::uint8_t>(next()));
                }
            } else if (pick == 12) {
                // A damaged frame: one byte of a valid one flipped.
                const std::size_t start = out.size();
                AppendReply(out, valid[next() % valid.size()]);
                out[start + 1 + next() % (out.size() - start - 1)] ^= 0x5A;
            } else if (pick == 13) {
                out.insert(out.end(), {0x01, 0x80, 0x15, 0x04});  // a short NAK
            } else if (pick == 14) {
                out.insert(out.end(), {0x01, 0x01, 0x80, 0x75, 0x00, 0x0F});  // false starts
            } else {
                // Echo mismatch: a record reply for another row.
                AppendReply(out, {0x80, 0xA2, 0x7F, 0x00});
            }
        }
        return out;
    }();
    return stream;
}

void SetEchoes(kestro::LinkState& link) {
    link.m_codeplugAddress = kCodeplugAddress;
    link.SetRecordEcho(kRecordHigh, kRecordLow);
}

void BM_FeedByte(benchmark::State& state) {
    const Bytes& stream = MixedStream();
    kestro::LinkState link;
    SetEchoes(link);
    kestro::ReplyAssembler assembler(link);
    std::int64_t completed = 0;
    for (auto _ : state) {
        for (const std::uint8_t byte : stream) {
            const int code = assembler.FeedByte(byte);
            completed += code > 1 && code != kestro::ReplyAssembler::kInProgress;
        }
        benchmark::DoNotOptimize(completed);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
    state.counters["frames/pass"] =
        static_cast<double>(completed) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FeedByte)->Unit(benchmark::kMillisecond);

// The whole per-byte handler: flag clearing, the assembler, storing values, setting the code and
// signalling the reply event.
void BM_ReplyReceiver(benchmark::State& state) {
    const Bytes& stream = MixedStream();
    kestro::LinkState link;
    link.m_hReplyEvent = std::make_unique<kestro::ManualResetEvent>();
    SetEchoes(link);
    kestro::ReplyReceiver receiver(link);
    for (auto _ : state) {
        for (const std::uint8_t byte : stream) {
            benchmark::DoNotOptimize(receiver.OnSerialRxChar(byte));
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_ReplyReceiver)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
