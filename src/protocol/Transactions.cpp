#include "protocol/Transactions.h"

namespace kestro {

void CTransactions::SendRequest(const Frame& frame) {
    // Reset before the hand-off, so that a reply cannot slip in between sending and waiting.
    if (m_link.m_hReplyEvent) m_link.m_hReplyEvent->Reset();
    m_request = frame;
    if (m_onSend) m_onSend(m_request);
    if (m_port != nullptr) m_port->HandOff(m_request.data(), m_request.size());
}

bool CTransactions::WaitReply(Millis timeout) {
    if (!m_link.m_hReplyEvent) return m_clock.Sleep(timeout, m_cancel), false;
    return m_clock.WaitFor(*m_link.m_hReplyEvent, timeout);
}

void CTransactions::ConsumeReply() {
    m_link.m_replyCode.store(0);
    if (m_link.m_hReplyEvent) m_link.m_hReplyEvent->Reset();
}

bool CTransactions::Pause(Millis duration) {
    if (duration.count() <= 0) return Cancelled();
    return m_clock.Sleep(duration, m_cancel);
}

void CTransactions::Accept(const CommandSpec& c) {
    if (c.clearCodeOnly) {
        m_link.m_replyCode.store(0);
    } else {
        ConsumeReply();
    }
}

TxResult CTransactions::Run(RequestId id, std::uint8_t value) {
    const CommandSpec& c = CommandOf(id);
    auto build = [this, id, value] {
        return BuildRequest(id, m_link.m_codeplugAddress.load(), value);
    };
    switch (c.discipline) {
        case Discipline::Counted:
            return RunCounted(c, build, {});
        case Discipline::ResendWhileSilent:
            return RunResendWhileSilent(c, build);
        case Discipline::NakRetried:
            return RunWithNakRetries(c, build);
    }
    return {};
}

TxResult CTransactions::RunCounted(const CommandSpec& c, const std::function<Frame()>& build,
                                   const std::function<void()>& beforeSend) {
    int timeout = c.firstTimeout;
    for (int attempt = 1;; ++attempt) {
        if (Cancelled()) return Cancel();
        if (beforeSend) beforeSend();
        SendRequest(build());
        if (c.pauseBeforeWait > 0 && Pause(Millis{c.pauseBeforeWait})) return Cancel();
        WaitReply(Millis{timeout});
        if (Cancelled()) return Cancel();

        // A refusal is never cleared by the kit, so a silent attempt after a NAK is judged as
        // a NAK again: the code still holds 0x15.
        const int code = m_link.m_replyCode.load();
        if (code == c.reply) {
            if (c.pauseAfterSuccess > 0 && Pause(Millis{c.pauseAfterSuccess})) return Cancel();
            Accept(c);
            return TxResult{true};
        }
        if (code == RSP_NAK) {
            if (c.pauseAfterNak > 0 && Pause(Millis{c.pauseAfterNak})) return Cancel();
            if (attempt >= c.attempts) return TxResult{false, true};
            timeout += c.nakStep;
        } else {
            if (attempt >= c.attempts) return TxResult{false, false};
            timeout += c.step;
        }
    }
}

TxResult CTransactions::RunResendWhileSilent(const CommandSpec& c,
                                             const std::function<Frame()>& build) {
    int timeout = c.firstTimeout;
    bool signalled = false;
    for (int n = 0;; ++n) {
        if (Cancelled()) return Cancel();
        SendRequest(build());
        signalled = WaitReply(Millis{timeout});
        if (Cancelled()) return Cancel();
        // Any recognised reply, a NAK included, ends the resending at once.
        if (n >= c.attempts - 1 || signalled) break;
        timeout += c.step;
    }
    if (m_link.m_replyCode.load() != c.reply) {
        return TxResult{false, false, !signalled};
    }
    if (c.pauseAfterSuccess > 0 && Pause(Millis{c.pauseAfterSuccess})) return Cancel();
    Accept(c);
    return TxResult{true};
}

TxResult CTransactions::RunWithNakRetries(const CommandSpec& c,
                                          const std::function<Frame()>& build) {
    int timeout = c.firstTimeout;
    int silent = 0;
    int naks = 0;
    while (true) {
        if (Cancelled()) return Cancel();
        SendRequest(build());
        const bool signalled = WaitReply(Millis{timeout});
        if (Cancelled()) return Cancel();
        if (silent > c.attempts - 2) {
            silent = 0;
        } else {
            timeout += c.step;
            ++silent;
            if (!signalled) continue;
        }
        const int code = m_link.m_replyCode.load();
        if (code == RSP_ACK) {
            if (c.pauseAfterSuccess > 0 && Pause(Millis{c.pauseAfterSuccess})) return Cancel();
            Accept(c);
            return TxResult{true};
        }
        if (code == RSP_NAK && naks < 2) {
            ++naks;
            continue;
        }
        return TxResult{false, code == RSP_NAK};
    }
}

TxResult CTransactions::WriteRecord(std::span<const std::uint8_t, kRecordSize> record) {
    return RunCounted(
        CommandOf(REQ_WRITE_RECORD), [record] { return BuildWriteRecordFrame(record); },
        // The echo must be in place before the radio can answer.
        [this, record] { m_link.SetRecordEcho(record[0], record[1]); });
}

TxResult CTransactions::SendBootSwap(std::span<const std::uint8_t, kBootImageSize> bootImage) {
    const std::uint16_t crc = Crc16(bootImage.data(), bootImage.size());
    return RunCounted(
        CommandOf(REQ_BOOT_SWAP), [crc] { return BuildBootSwapFrame(crc); }, {});
}

}  // namespace kestro
