#include "radio/SimRadio.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace kestro {

namespace {

struct RequestShape {
    std::uint8_t group;
    std::uint8_t opcode;
    std::size_t length;
    RequestId id;
    std::string_view name;
};

// The radio's own view of the command table: what it recognises and how long each frame is.
constexpr std::array<RequestShape, REQ_COUNT> kShapes = {{
    {GROUP_DEVICE, 0x92, 6, REQ_DETECT, "REQ_DETECT"},
    {GROUP_DEVICE, 0x7C, 6, REQ_BATTERY, "REQ_BATTERY"},
    {GROUP_DEVICE, 0x74, 6, REQ_MODEL, "REQ_MODEL"},
    {GROUP_DEVICE, 0x70, 6, REQ_FW_VERSION, "REQ_FW_VERSION"},
    {GROUP_DEVICE, 0x76, 6, REQ_SERIAL, "REQ_SERIAL"},
    {GROUP_DEVICE, 0x22, 6, REQ_CP_CHECK, "REQ_CP_CHECK"},
    {GROUP_DEVICE, 0x02, 10, REQ_CP_READ, "REQ_CP_READ"},
    {GROUP_DEVICE, 0x23, 6, REQ_CP_PREPARE, "REQ_CP_PREPARE"},
    {GROUP_DEVICE, 0x20, 6, REQ_CP_RESTORE, "REQ_CP_RESTORE"},
    {GROUP_DEVICE, 0x01, 11, REQ_CP_WRITE, "REQ_CP_WRITE"},
    {GROUP_DEVICE, 0x72, 6, REQ_RESET_MODE, "REQ_RESET_MODE"},
    {GROUP_PROGRAM, 0x67, 6, REQ_UPDATE_START, "REQ_UPDATE_START"},
    {GROUP_PROGRAM, 0x60, 6, REQ_SELF_PROGRAM, "REQ_SELF_PROGRAM"},
    {GROUP_PROGRAM, 0x63, 6, REQ_ERASE_FLASH, "REQ_ERASE_FLASH"},
    {GROUP_PROGRAM, 0x62, 24, REQ_WRITE_RECORD, "REQ_WRITE_RECORD"},
    {GROUP_PROGRAM, 0x64, 6, REQ_BOOT_ERASE, "REQ_BOOT_ERASE"},
    {GROUP_PROGRAM, 0x65, 24, REQ_BOOT_SWAP, "REQ_BOOT_SWAP"},
    {GROUP_PROGRAM, 0x61, 6, REQ_UPDATE_END, "REQ_UPDATE_END"},
}};

const RequestShape* FindShape(std::uint8_t group, std::uint8_t opcode) {
    for (const auto& shape : kShapes) {
        if (shape.group == group && shape.opcode == opcode) {
            return &shape;
        }
    }
    return nullptr;
}

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

std::string_view RequestName(RequestId id) {
    for (const auto& shape : kShapes) {
        if (shape.id == id) {
            return shape.name;
        }
    }
    return "REQ_?";
}

SimRadio::SimRadio(SimRadioConfig config)
    : m_codeplug(kCodeplugSize), m_flash(kFlashRows * kRowBytes), m_rowWritten(kFlashRows) {
    Reset(std::move(config));
}

void SimRadio::Reset(SimRadioConfig config) {
    m_config = std::move(config);
    m_pending.fill(0);
    m_pendingLength = 0;
    m_discarded = 0;

    std::fill(m_codeplug.begin(), m_codeplug.end(), std::uint8_t{0xFF});
    for (const auto& [address, value] : m_config.codeplug) {
        m_codeplug[address] = value;
    }
    std::fill(m_flash.begin(), m_flash.end(), std::uint8_t{0x00});
    std::fill(m_rowWritten.begin(), m_rowWritten.end(), std::uint8_t{0});
    m_rowsWritten = 0;
    m_activeBoot.fill(0);
    m_newBoot.fill(0);
    m_newBootOpen = false;
    m_bootSwapMatched = false;
    m_bootSwaps = 0;

    m_programming = false;
    m_needsRecovery = false;
    m_cableLost = false;

    m_requestNumber = 0;
    m_kindCount.fill(0);
    m_log.clear();

    m_random.seed(m_config.seed);
    m_seededWith = m_config.seed;
}

RadioState SimRadio::State() const {
    if (m_programming) {
        return RadioState::Programming;
    }
    return m_needsRecovery ? RadioState::NeedsRecovery : RadioState::Normal;
}

void SimRadio::EnterNeedsRecovery() {
    std::fill(m_flash.begin(), m_flash.end(), std::uint8_t{0xFF});
    std::fill(m_rowWritten.begin(), m_rowWritten.end(), std::uint8_t{0});
    m_rowsWritten = 0;
    m_needsRecovery = true;
}

void SimRadio::Reconnect() {
    m_cableLost = false;
    m_config.loseCableAt = 0;
    m_programming = false;
    m_newBootOpen = false;
    ForgetUnfinishedRequest();
}

std::span<const std::uint8_t, kRowBytes> SimRadio::FlashRow(std::uint16_t row) const {
    if (row >= kFlashRows) throw std::out_of_range("SimRadio::FlashRow: no such row");
    return std::span<const std::uint8_t, kRowBytes>(m_flash.data() + row * kRowBytes, kRowBytes);
}

std::size_t SimRadio::CountOf(RequestId id) const {
    return id >= 0 && id < REQ_COUNT ? m_kindCount[id] : 0;
}

std::vector<SimReply> SimRadio::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<SimReply> out;
    for (const std::uint8_t byte : bytes) {
        if (m_cableLost) {
            break;
        }
        m_pending[m_pendingLength++] = byte;
        Scan(out);
    }
    return out;
}

// Runs after every byte, so the buffer never holds more than one frame's length.
void SimRadio::Scan(std::vector<SimReply>& out) {
    while (m_pendingLength > 0 && !m_cableLost) {
        std::size_t length = 0;
        const Verdict verdict = Judge(length);
        if (verdict == Verdict::NeedMore) {
            return;
        }
        if (verdict == Verdict::Complete) {
            Frame frame;
            std::copy_n(m_pending.begin(), length, frame.bytes.begin());
            frame.length = length;
            Consume(length);
            Handle(frame, FindShape(frame.bytes[1], frame.bytes[2])->id, out);
            continue;
        }
        // Resynchronise at the next start byte after the one that led nowhere.
        std::size_t next = 1;
        while (next < m_pendingLength && m_pending[next] != FRAME_SOH) {
            ++next;
        }
        m_discarded += next;
        Consume(next);
    }
}

SimRadio::Verdict SimRadio::Judge(std::size_t& frameLength) const {
    if (m_pending[0] != FRAME_SOH) {
        return Verdict::Invalid;
    }
    if (m_pendingLength < 2) {
        return Verdict::NeedMore;
    }
    if (m_pending[1] != GROUP_DEVICE && m_pending[1] != GROUP_PROGRAM) {
        return Verdict::Invalid;
    }
    if (m_pendingLength < 3) {
        return Verdict::NeedMore;
    }
    const RequestShape* shape = FindShape(m_pending[1], m_pending[2]);
    if (shape == nullptr) {
        return Verdict::Invalid;
    }
    if (m_pendingLength < shape->length) {
        return Verdict::NeedMore;
    }
    const std::size_t n = shape->length;
    const std::uint16_t carried =
        static_cast<std::uint16_t>((m_pending[n - 3] << 8) | m_pending[n - 2]);
    if (m_pending[n - 1] != FRAME_EOT || FrameCrc(m_pending.data(), n - 3) != carried) {
        return Verdict::Invalid;
    }
    frameLength = n;
    return Verdict::Complete;
}

void SimRadio::Consume(std::size_t count) {
    std::copy(m_pending.begin() + static_cast<std::ptrdiff_t>(count),
              m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingLength), m_pending.begin());
    m_pendingLength -= count;
}

const Fault* SimRadio::FaultFor(RequestId id, std::size_t number) const {
    if (auto it = m_config.faultsByNumber.find(number); it != m_config.faultsByNumber.end()) {
        return &it->second;
    }
    if (auto it = m_config.faultsByKind.find(id); it != m_config.faultsByKind.end()) {
        // m_kindCount already includes this request.
        if (it->second.times == 0 || m_kindCount[id] <= it->second.times) {
            return &it->second;
        }
    }
    return nullptr;
}

void SimRadio::Handle(const Frame& frame, RequestId id, std::vector<SimReply>& out) {
    const std::size_t number = ++m_requestNumber;
    if (m_config.loseCableAt != 0 && number >= m_config.loseCableAt) {
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

    if (kind == FaultKind::Silence) {
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
    if (m_needsRecovery && !m_programming) {
        return Nak(NAK_NEEDS_RECOVERY);
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
