#pragma once
// Request/reply transactions: hand one frame to the port, wait on the reply event with the
// command's time-out, judge m_replyCode, and retry or give up by the command's discipline.
// Runs on the worker thread only. Every pause and wait goes through the clock, and each one
// ends early when the run is asked to stop (the cancel event).

#include <cstdint>
#include <functional>
#include <span>

#include "platform/Clock.h"
#include "protocol/CommandTable.h"
#include "protocol/Frame.h"
#include "protocol/LinkState.h"
#include "protocol/PortEngine.h"

namespace kestro {

struct TxResult {
    bool ok = false;
    bool nak = false;        // counted attempts: the failing attempt was answered by a NAK
    bool timedOut = false;   // resent while silent: the last wait timed out (after the last request)
    bool cancelled = false;  // the run was asked to stop; the transaction ended at a wait
    explicit operator bool() const { return ok; }
};

class CTransactions {
public:
    CTransactions(LinkState& link, IClock& clock) : m_link(link), m_clock(clock) {}

    void SetPort(ISendHandoff* port) { m_port = port; }
    // When set and signalled, waits and pauses end early and the transaction reports cancelled.
    void SetCancelEvent(const ManualResetEvent* cancel) { m_cancel = cancel; }
    // Sees every frame handed to the port (for tracing).
    void SetSendObserver(std::function<void(const Frame&)> observer) {
        m_onSend = std::move(observer);
    }

    // Resets the reply event, makes `frame` the current request and hands it to the port.
    // m_replyCode is left as it is.
    void SendRequest(const Frame& frame);
    // Waits for the reply event; true when it was signalled.
    bool WaitReply(Millis timeout);
    // m_replyCode = 0 and the reply event reset: an accepted reply.
    void ConsumeReply();
    // A pause; true when the run was asked to stop during it.
    bool Pause(Millis duration);
    bool Cancelled() const { return m_cancel != nullptr && m_cancel->IsSet(); }

    // Runs a command of the table by its discipline. For REQ_CP_READ and REQ_CP_WRITE the address
    // is m_codeplugAddress, which the caller sets first; `value` is the byte REQ_CP_WRITE writes.
    TxResult Run(RequestId id, std::uint8_t value = 0);
    TxResult WriteRecord(std::span<const std::uint8_t, kRecordSize> record);
    TxResult SendBootSwap(std::span<const std::uint8_t, kBootImageSize> bootImage);

    const Frame& CurrentRequest() const { return m_request; }

private:
    TxResult RunCounted(const CommandSpec& c, const std::function<Frame()>& build,
                        const std::function<void()>& beforeSend);
    TxResult RunResendWhileSilent(const CommandSpec& c, const std::function<Frame()>& build);
    TxResult RunWithNakRetries(const CommandSpec& c, const std::function<Frame()>& build);
    void Accept(const CommandSpec& c);
    static TxResult Cancel() { return TxResult{false, false, false, true}; }

    LinkState& m_link;
    IClock& m_clock;
    ISendHandoff* m_port = nullptr;
    const ManualResetEvent* m_cancel = nullptr;
    std::function<void(const Frame&)> m_onSend;
    Frame m_request;  // the current request frame, rebuilt for every attempt
};

}  // namespace kestro
