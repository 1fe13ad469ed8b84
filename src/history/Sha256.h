#pragma once
// SHA-256 (FIPS 180-4), for the firmware file's fingerprint in the history: which exact file a run
// wrote, whatever it was called. Streaming, so a file is hashed as it is read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kestro {

class Sha256 {
public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    // The digest as 64 lowercase hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;  // bytes so far
};

// The hex digest of a whole file; nullopt where it cannot be opened or read.
std::optional<std::string> Sha256OfFile(const std::filesystem::path& path);

}  // namespace kestro
