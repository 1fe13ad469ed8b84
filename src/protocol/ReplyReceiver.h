#pragma once
// The handler of every received byte: clears the per-byte flags, feeds the assembler, and for a
// completed reply stores its values in the LinkState, sets m_replyCode and signals the reply
// event. It runs on exactly one thread at a time (the window's UI thread, or the port thread).

#include <cstdint>

#include "protocol/LinkState.h"
#include "protocol/ReplyAssembler.h"

namespace kestro {

class ReplyReceiver {
public:
    explicit ReplyReceiver(LinkState& link) : m_link(link), m_replyAssembler(link) {}

    // One received byte; the port number is not used. Returns the assembler's code for the byte.
    int OnSerialRxChar(std::uint8_t byte, int portNumber = 0);

    const ReplyAssembler& Assembler() const { return m_replyAssembler; }

private:
    LinkState& m_link;
    ReplyAssembler m_replyAssembler;
};

}  // namespace kestro
