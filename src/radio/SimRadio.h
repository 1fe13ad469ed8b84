#pragma once
// The simulated radio: the device side of the link. It takes request bytes in any chunks, finds
// the request frames in them, answers as the real radio does and keeps what a run changes
// (codeplug, flash rows, boot area, programming state), with the faults of its SimRadioConfig.
//
// Memory model: 64 KiB of codeplug (erased value FF); flash rows 0x0000-0x3FFF of 16 bytes, all 00
// until the first erase (the "old firmware"), FF once erased; an active boot area of 4096 bytes
// and a new boot area that a boot erase opens and records with row numbers 0x0100-0x01FF fill.
// Replies of our own choosing: the unsolicited status report RSP_9A (body 80 9A 00 02, state,
// low byte of the request number) where state is 00 normal, 01 programming, 02 needs recovery;
// the NAK error bytes are listed in SimRadioConfig.h.
// Not thread-safe: one thread feeds it and reads its state (the pty server guards it).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/Frame.h"
#include "radio/SimRadioConfig.h"

namespace kestro {

inline constexpr std::size_t kFlashRows = 0x4000;
inline constexpr std::size_t kRowBytes = 16;
inline constexpr std::size_t kCodeplugSize = 0x10000;
inline constexpr std::uint16_t kNewBootFirstRow = 0x0100;
inline constexpr std::uint16_t kNewBootLastRow = 0x01FF;
// The request log keeps at most this many of the latest requests (several whole upgrades), so
// that a radio served for days does not grow without end; counts are kept apart and stay exact.
inline constexpr std::size_t kRequestLogLimit = std::size_t{1} << 17;

// Name of a request as the command table spells it ("REQ_DETECT"); "REQ_?" when out of range.
std::string_view RequestName(RequestId id);

class SimRadio {
  public:
    struct LoggedRequest {
        std::size_t number;  // 1 for the first request heard since the radio was created
        RequestId id;
        Frame frame;
        FaultKind fault;  // the fault that shaped its answer (None for a plain answer)
    };

    explicit SimRadio(SimRadioConfig config = {});

    // Puts the radio back into the state it was created in, with `config`, reusing its memory:
    // a new radio allocates a third of a megabyte, which adds up where thousands are made.
    void Reset(SimRadioConfig config = {});

    // Takes request bytes as they arrive; returns the replies to the requests completed in them,
    // in order. Bytes that cannot start or continue a known request are dropped, and a frame
    // with a wrong length, check or end byte is dropped whole (the scan resumes after its 01).
    // `heardAt` is when the last of them arrived, on the feeder's clock (any origin, never going
    // back); it times the radio's restart. Fed without a time, a restart (one that ends) is over.
    std::vector<SimReply> Feed(std::span<const std::uint8_t> bytes, std::chrono::microseconds heardAt);
    std::vector<SimReply> Feed(std::span<const std::uint8_t> bytes);

    // Changes take effect from the next request.
    SimRadioConfig& Config() { return m_config; }
    const SimRadioConfig& Config() const { return m_config; }

    RadioState State() const;
    // Whether its application firmware is in place: not from an erase (or EnterNeedsRecovery)
    // until a boot swap with the right checksum, programming or not. Without it only the boot
    // loader runs, which answers nothing but the programming requests.
    bool HasFirmware() const { return !m_needsRecovery; }
    // Between the acknowledgement of the end of programming and the end of its restart.
    bool Restarting() const { return m_restarting; }
    // Puts the radio into the state a failed programming run leaves: flash erased, boot swap
    // still owed.
    void EnterNeedsRecovery();

    // The cable is gone once a request reached `loseCableAt`: nothing is heard or answered.
    bool CableLost() const { return m_cableLost; }
    // The cable is plugged back in: the programming session is over (a radio that needs
    // recovery still does) and the cable-loss fault is disarmed.
    void Reconnect();
    // The line was idle long enough for the radio to give up on a request it has only part of.
    void ForgetUnfinishedRequest() { m_pendingLength = 0; }

    std::span<const std::uint8_t, kRowBytes> FlashRow(std::uint16_t row) const;
    bool RowWritten(std::uint16_t row) const { return row < kFlashRows && m_rowWritten[row] != 0; }
    std::size_t RowsWritten() const { return m_rowsWritten; }  // distinct rows since the erase
    std::span<const std::uint8_t, kBootImageSize> ActiveBootArea() const { return m_activeBoot; }
    std::span<const std::uint8_t, kBootImageSize> NewBootArea() const { return m_newBoot; }
    // Whether the last boot swap carried the checksum of the new boot area (false before any).
    bool BootSwapMatched() const { return m_bootSwapMatched; }
    std::size_t BootSwaps() const { return m_bootSwaps; }  // successful ones
    std::uint8_t CodeplugByte(std::uint16_t address) const { return m_codeplug[address]; }
    void SetCodeplugByte(std::uint16_t address, std::uint8_t value) { m_codeplug[address] = value; }

    // Called with each request heard, before it is answered (for tests that look at the world as
    // the radio receives a request).
    void SetRequestObserver(std::function<void(const LoggedRequest&)> observer) {
        m_observer = std::move(observer);
    }

    // The requests heard, oldest first; beyond kRequestLogLimit the oldest half is dropped.
    const std::vector<LoggedRequest>& Requests() const { return m_log; }
    // Requests of kind `id` heard since the radio was created (dropped log entries included).
    std::size_t CountOf(RequestId id) const;
    std::size_t RequestsSeen() const { return m_requestNumber; }  // heard or not
    std::size_t BufferedBytes() const { return m_pendingLength; }
    std::size_t DiscardedBytes() const { return m_discarded; }

  private:
    enum class Verdict { NeedMore, Complete, Invalid };

    void Scan(std::vector<SimReply>& out);
    Verdict Judge(std::size_t& frameLength) const;
    void Consume(std::size_t count);
    void Handle(const Frame& frame, RequestId id, std::vector<SimReply>& out);
    // Carries out a request and returns its proper reply frame.
    std::vector<std::uint8_t> Execute(const Frame& frame, RequestId id);
    std::vector<std::uint8_t> ExecuteProgramming(const Frame& frame, RequestId id);
    std::vector<std::uint8_t> WriteRecord(const Frame& frame);
    std::vector<std::uint8_t> BootSwap(const Frame& frame);
    const Fault* FaultFor(RequestId id, std::size_t number) const;
    void Damage(std::vector<std::uint8_t>& bytes);
    void BeginRestart(SimMillis replyDelay);
    void EndRestart();

    SimRadioConfig m_config;

    std::array<std::uint8_t, kMaxFrameLength> m_pending{};
    std::size_t m_pendingLength = 0;
    std::size_t m_discarded = 0;

    std::vector<std::uint8_t> m_codeplug;
    // Rows back to back, so that creating and erasing the flash is one fill each.
    std::vector<std::uint8_t> m_flash;
    std::vector<std::uint8_t> m_rowWritten;  // 1 for a row written since the erase
    std::size_t m_rowsWritten = 0;
    std::array<std::uint8_t, kBootImageSize> m_activeBoot{};
    std::array<std::uint8_t, kBootImageSize> m_newBoot{};
    bool m_newBootOpen = false;
    bool m_bootSwapMatched = false;
    std::size_t m_bootSwaps = 0;

    bool m_programming = false;
    bool m_needsRecovery = false;
    bool m_cableLost = false;

    std::chrono::microseconds m_now{0};  // the latest instant a feeder gave
    bool m_restartOwed = false;          // the end of programming was just carried out
    bool m_restarting = false;
    std::chrono::microseconds m_awakeAt{0};

    std::size_t m_requestNumber = 0;
    std::array<std::size_t, REQ_COUNT> m_kindCount{};
    std::vector<LoggedRequest> m_log;
    std::function<void(const LoggedRequest&)> m_observer;

    std::mt19937 m_random;
    std::uint32_t m_seededWith = 0;
};

}  // namespace kestro
