// What the simulated radio answers each request it heard, faults included.

#include <algorithm>
#include <array>

#include "radio/SimRadio.h"

namespace kestro {

namespace {

std::vector<std::uint8_t> Reply(int code, std::span<const std::uint8_t> data = {}) {
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + 6);
    out.push_back(FRAME_SOH);
    out.push_back(REPLY_MARK);
    out.push_back(static_cast<std::uint8_t>(code));
    out.insert(out.end(), data.begin(), data.end());
    const std::uint16_t crc = Crc16(out.data() + 1, out.size() - 1);
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(FRAME_EOT);
    return out;
}

// A data reply: 00, payload length, payload.
template <std::size_t N>
std::vector<std::uint8_t> DataReply(int code, const std::array<std::uint8_t, N>& payload) {
    std::array<std::uint8_t, N + 2> data{};
    data[0] = 0x00;
    data[1] = static_cast<std::uint8_t>(N);
    std::copy(payload.begin(), payload.end(), data.begin() + 2);
    return Reply(code, data);
}

std::vector<std::uint8_t> Nak(const std::array<std::uint8_t, 2>& errorBytes) {
    return Reply(RSP_NAK, errorBytes);
}

std::uint8_t StateByte(RadioState state) {
    switch (state) {
        case RadioState::Programming:
            return 0x01;
        case RadioState::NeedsRecovery:
            return 0x02;
        case RadioState::Normal:
            break;
    }
    return 0x00;
}

}  // namespace

void SimRadio::Handle(const Frame& frame, RequestId id, std::vector<SimReply>& out) {
    const std::size_t number = ++m_requestNumber;
    const bool atRecord = m_config.loseCableAtRecord != 0 && id == REQ_WRITE_RECORD &&
                          m_kindCount[REQ_WRITE_RECORD] + 1 >= m_config.loseCableAtRecord;
    if ((m_config.loseCableAt != 0 && number >= m_config.loseCableAt) || atRecord) {
        m_cableLost = true;
        m_pendingLength = 0;
        return;
    }
    ++m_kindCount[id];
    const Fault* fault = FaultFor(id, number);
    const FaultKind kind = fault != nullptr ? fault->kind : FaultKind::None;
    if (m_log.size() >= kRequestLogLimit) {
        const auto half = static_cast<std::ptrdiff_t>(kRequestLogLimit / 2);
        m_log.erase(m_log.begin(), m_log.begin() + half);
    }
    m_log.push_back(LoggedRequest{number, id, frame, kind});
    if (m_observer) {
        m_observer(m_log.back());
    }

    // From the erase to the boot swap the radio has no application firmware: only its boot
    // loader runs, and it answers nothing but the programming requests, whoever connects.
    if (kind == FaultKind::Silence || (m_needsRecovery && frame.bytes[1] != GROUP_PROGRAM)) {
        return;
    }
    SimReply reply{m_config.latency, {}};
    if (kind == FaultKind::Nak) {
        reply.bytes = Nak(fault->errorBytes);
    } else {
        reply.bytes = Execute(frame, id);
    }
    switch (kind) {
        case FaultKind::Late:
            reply.delay = fault->delay;
            break;
        case FaultKind::Corrupt:
            if (fault->index < reply.bytes.size()) {
                reply.bytes[fault->index] ^= 0xFF;
            }
            break;
        case FaultKind::Drop: {
            const std::size_t from = std::min(fault->index, reply.bytes.size());
            const std::size_t to = std::min(from + fault->count, reply.bytes.size());
            reply.bytes.erase(reply.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                              reply.bytes.begin() + static_cast<std::ptrdiff_t>(to));
            break;
        }
        case FaultKind::Twice: {
            const std::vector<std::uint8_t> copy = reply.bytes;
            reply.bytes.insert(reply.bytes.end(), copy.begin(), copy.end());
            break;
        }
        case FaultKind::WrongCode: {
            int code = fault->code;
            if (code == 0) {
                code = reply.bytes[2] == RSP_ACK ? RSP_UPDATE_END : RSP_ACK;
            }
            reply.bytes = Reply(code);
            break;
        }
        case FaultKind::StatusFirst: {
            const std::array<std::uint8_t, 2> status = {StateByte(State()),
                                                        static_cast<std::uint8_t>(number & 0xFF)};
            std::vector<std::uint8_t> both = DataReply(RSP_9A, status);
            both.insert(both.end(), reply.bytes.begin(), reply.bytes.end());
            reply.bytes = std::move(both);
            break;
        }
        case FaultKind::None:
        case FaultKind::Silence:
        case FaultKind::Nak:
            break;
    }
    if (m_restartOwed) {
        BeginRestart(reply.delay);
    }
    Damage(reply.bytes);
    if (!reply.bytes.empty()) {
        out.push_back(std::move(reply));
    }
}

void SimRadio::Damage(std::vector<std::uint8_t>& bytes) {
    if (m_config.corruptRate <= 0.0 && m_config.dropRate <= 0.0) {
        return;
    }
    if (m_seededWith != m_config.seed) {
        m_random.seed(m_config.seed);
        m_seededWith = m_config.seed;
    }
    // Integer thresholds keep a seeded run identical on every standard library.
    const auto threshold = [](double rate) {
        const double clamped = std::clamp(rate, 0.0, 1.0);
        return static_cast<std::uint64_t>(clamped * 4294967296.0);
    };
    const std::uint64_t dropBelow = threshold(m_config.dropRate);
    const std::uint64_t corruptBelow = threshold(m_config.corruptRate);
    std::vector<std::uint8_t> kept;
    kept.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (m_random() < dropBelow) {
            continue;
        }
        if (m_random() < corruptBelow) {
            // A non-zero mask, so a corrupted byte always differs from the original.
            kept.push_back(static_cast<std::uint8_t>(byte ^ (1U + m_random() % 255U)));
        } else {
            kept.push_back(byte);
        }
    }
    bytes = std::move(kept);
}

std::vector<std::uint8_t> SimRadio::Execute(const Frame& frame, RequestId id) {
    if (frame.bytes[1] == GROUP_PROGRAM) {
        if (!m_programming && !m_needsRecovery) {
            return Nak(NAK_NOT_PROGRAMMING);
        }
        return ExecuteProgramming(frame, id);
    }
    const auto& b = frame.bytes;
    switch (id) {
        case REQ_DETECT:
            return DataReply(RSP_DETECT, std::array<std::uint8_t, 1>{m_config.detectStatus});
        case REQ_BATTERY:
            return DataReply(RSP_BATTERY, std::array<std::uint8_t, 1>{m_config.batteryStatus});
        case REQ_MODEL:
            return DataReply(RSP_MODEL, m_config.model);
        case REQ_FW_VERSION:
            return DataReply(RSP_FW_VERSION, m_config.version);
        case REQ_SERIAL:
            return DataReply(RSP_SERIAL, m_config.serial);
        case REQ_CP_READ: {
            if (b[5] != 0x00 || b[6] != 0x01) {
                return Nak(NAK_BAD_LENGTH);
            }
            const auto address = static_cast<std::uint16_t>((b[3] << 8) | b[4]);
            return Reply(RSP_CP_DATA,
                         std::array<std::uint8_t, 5>{b[3], b[4], 0x00, 0x01, m_codeplug[address]});
        }
        case REQ_CP_WRITE: {
            if (b[5] != 0x00 || b[6] != 0x01) {
                return Nak(NAK_BAD_LENGTH);
            }
            m_codeplug[static_cast<std::uint16_t>((b[3] << 8) | b[4])] = b[7];
            return Reply(RSP_ACK);
        }
        case REQ_RESET_MODE:
            m_programming = true;
            return Reply(RSP_ACK);
        case REQ_CP_CHECK:
        case REQ_CP_PREPARE:
        case REQ_CP_RESTORE:
            return Reply(RSP_ACK);
        default:
            break;
    }
    return Nak(NAK_NOT_PROGRAMMING);  // unreachable: every 0x70 request is handled above
}

std::vector<std::uint8_t> SimRadio::ExecuteProgramming(const Frame& frame, RequestId id) {
    switch (id) {
        case REQ_UPDATE_START:
            m_programming = true;
            return Reply(RSP_ACK);
        case REQ_SELF_PROGRAM:
            return Reply(RSP_SELF_PROGRAM);
        case REQ_ERASE_FLASH:
            EnterNeedsRecovery();
            return Reply(RSP_ERASE_FLASH);
        case REQ_WRITE_RECORD:
            return WriteRecord(frame);
        case REQ_BOOT_ERASE:
            m_newBoot.fill(0xFF);
            m_newBootOpen = true;
            return Reply(RSP_BOOT_ERASE);
        case REQ_BOOT_SWAP:
            return BootSwap(frame);
        case REQ_UPDATE_END:
            m_programming = false;
            m_newBootOpen = false;
            m_restartOwed = true;
            return Reply(RSP_UPDATE_END);
        default:
            break;
    }
    return Nak(NAK_NOT_PROGRAMMING);  // unreachable: every 0x75 request is handled above
}

std::vector<std::uint8_t> SimRadio::WriteRecord(const Frame& frame) {
    const auto& b = frame.bytes;
    const auto row = static_cast<std::uint16_t>((b[3] << 8) | b[4]);
    const std::span<const std::uint8_t> data(b.data() + 5, kRowBytes);
    if (m_newBootOpen && row >= kNewBootFirstRow && row <= kNewBootLastRow) {
        std::copy(
            data.begin(), data.end(),
            m_newBoot.begin() + static_cast<std::ptrdiff_t>((row - kNewBootFirstRow) * kRowBytes));
    } else if (row < kFlashRows) {
        std::copy(data.begin(), data.end(),
                  m_flash.begin() + static_cast<std::ptrdiff_t>(row * kRowBytes));
        if (m_rowWritten[row] == 0) {
            m_rowWritten[row] = 1;
            ++m_rowsWritten;
        }
    } else {
        return Nak(NAK_ROW_RANGE);
    }
    return Reply(RSP_RECORD, std::array<std::uint8_t, 2>{b[3], b[4]});
}

std::vector<std::uint8_t> SimRadio::BootSwap(const Frame& frame) {
    if (!m_newBootOpen) {
        m_bootSwapMatched = false;
        return Nak(NAK_NO_BOOT_ERASE);
    }
    const auto carried = static_cast<std::uint16_t>((frame.bytes[3] << 8) | frame.bytes[4]);
    m_bootSwapMatched = Crc16(m_newBoot.data(), m_newBoot.size()) == carried;
    if (!m_bootSwapMatched) {
        return Nak(NAK_BOOT_CHECKSUM);
    }
    m_activeBoot = m_newBoot;
    m_newBootOpen = false;
    m_needsRecovery = false;
    ++m_bootSwaps;
    return Reply(RSP_BOOT_SWAP);
}

}  // namespace kestro
