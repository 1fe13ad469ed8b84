#pragma once
// --trace: every frame sent and every reply received, in hexadecimal with a millisecond time
// stamp, to standard error. Sits between the serial engine and the hub: each received byte is
// noted and passed on at once; the bytes received since the last send are printed as one line
// just before the next send is printed (and at the end), which groups each reply on its line.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "protocol/PortEngine.h"

namespace kestro::cli {

class FrameTrace final : public IPortOwner {
public:
    explicit FrameTrace(std::FILE* out) : m_out(out), m_start(std::chrono::steady_clock::now()) {}

    // Who gets the bytes and errors after they are noted; set before the port opens.
    void SetNext(IPortOwner* next) { m_next = next; }

    void OnSerialRxChar(std::uint8_t byte, int portNumber) override;
    void OnPortError(const std::string& text, int portNumber) override;

    // Called with each frame as it is handed to the engine.
    void OnSent(std::span<const std::uint8_t> frame);
    // Prints what was received and not yet printed.
    void Flush();

    // "00 1F A0" for those bytes.
    static std::string Hex(std::span<const std::uint8_t> bytes);

private:
    long long NowMs() const;
    void PrintReceived();  // m_lock held

    std::mutex m_lock;
    std::FILE* m_out;
    IPortOwner* m_next = nullptr;
    std::chrono::steady_clock::time_point m_start;
    std::vector<std::uint8_t> m_received;
    long long m_firstReceivedMs = 0;
};

}  // namespace kestro::cli
