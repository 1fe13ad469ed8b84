#pragma once
// --trace: every frame sent and every reply received, in hexadecimal with a millisecond time
// stamp counted from the start of the process (one origin for every radio). Sits between the
// serial engine and the hub: each received byte is noted and passed on at once; the bytes
// received since the last send make one line, given out just before the next send's line (and
// at the end), which groups each reply on its line. The lines go to a sink (the console, which
// adds the radio's port).

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "runcore/FrameTap.h"

namespace kestro::cli {

class FrameTrace final : public IFrameTap {
public:
    using Sink = std::function<void(const std::string& line)>;
    explicit FrameTrace(Sink sink) : m_sink(std::move(sink)) {}

    // Who gets the bytes and errors after they are noted; set before the port opens.
    void SetNext(IPortOwner* next) override { m_next = next; }

    void OnSerialRxChar(std::uint8_t byte, int portNumber) override;
    void OnPortError(const std::string& text, int portNumber) override;

    // Called with each frame as it is handed to the engine.
    void OnSent(std::span<const std::uint8_t> frame) override;
    // Gives out what was received and not yet given out.
    void Flush() override;

    // "00 1F A0" for those bytes.
    static std::string Hex(std::span<const std::uint8_t> bytes);
    // Milliseconds since the process started.
    static long long NowMs();

private:
    void GiveReceived();  // m_lock held

    std::mutex m_lock;
    Sink m_sink;
    IPortOwner* m_next = nullptr;
    std::vector<std::uint8_t> m_received;
    long long m_firstReceivedMs = 0;
};

}  // namespace kestro::cli
