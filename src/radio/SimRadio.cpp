// The simulated radio: its state, and how it hears frames in the bytes it is fed. What it
// answers is in SimRadioAnswers.cpp.

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

    m_now = std::chrono::microseconds{0};
    m_restartOwed = false;
    m_restarting = false;
    m_awakeAt = std::chrono::microseconds{0};

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
    m_config.loseCableAtRecord = 0;
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

std::vector<SimReply> SimRadio::Feed(std::span<const std::uint8_t> bytes,
                                     std::chrono::microseconds heardAt) {
    m_now = std::max(m_now, heardAt);
    if (m_restarting && m_now >= m_awakeAt) {
        EndRestart();
    }
    std::vector<SimReply> out;
    if (m_restarting) {
        // Its receiver is not running yet: the bytes are lost, not queued.
        m_discarded += bytes.size();
        return out;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (m_cableLost) {
            break;
        }
        if (m_restarting) {
            m_discarded += bytes.size() - i;  // what followed the end of programming
            break;
        }
        m_pending[m_pendingLength++] = bytes[i];
        Scan(out);
    }
    return out;
}

std::vector<SimReply> SimRadio::Feed(std::span<const std::uint8_t> bytes) {
    if (m_restarting && m_config.restart != kNeverRestarts) {
        EndRestart();
    }
    return Feed(bytes, m_now);
}

void SimRadio::BeginRestart(SimMillis replyDelay) {
    m_restartOwed = false;
    m_restarting = true;
    m_pendingLength = 0;
    // A swap that went in runs the new firmware; otherwise the old one comes back. No one hears
    // the version before the restart ends, and a config set meanwhile is the one that counts.
    if (m_bootSwapMatched && !m_needsRecovery) {
        m_config.version = m_config.programmedVersion;
    }
    m_awakeAt = m_config.restart == kNeverRestarts
                    ? std::chrono::microseconds::max()
                    : m_now + std::chrono::microseconds{replyDelay} +
                          std::chrono::microseconds{m_config.restart};
}

void SimRadio::EndRestart() { m_restarting = false; }

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

}  // namespace kestro
