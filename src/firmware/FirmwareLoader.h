#pragma once
// Loads the firmware file at the start of every Upgrade: reads it read-only, keeps its text
// between loads (a failed read decodes the previous text again) and rebuilds the row table.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "firmware/CCommFile.h"

namespace kestro {

using StatusTextSink = std::function<void(const std::string&)>;

// The largest firmware file read. The 256 KiB image written one byte per record takes about
// 3.4 MB of records; anything far larger is no firmware file, and reading it whole could
// exhaust memory.
inline constexpr std::uintmax_t kMaxFirmwareFileBytes = 64u << 20;

// The whole content of a regular, non-empty file of at most kMaxFirmwareFileBytes; nothing when
// it cannot be read. The file is opened for reading only and never written.
std::optional<std::string> ReadFirmwareFileBytes(const std::filesystem::path& path);

class CFirmwareLoader {
public:
    // Reads the file read-only, decodes it into `file`, calls setStatusText with the status texts.
    // Afterwards m_firmwareLoadFailed says whether the upgrade may go on (0) or not (1).
    void LoadFirmwareFile(const std::filesystem::path& path, CCommFile& file,
                          const StatusTextSink& setStatusText);

    // The same from a file's content already read.
    void LoadFirmwareBytes(std::string bytes, CCommFile& file, const StatusTextSink& setStatusText);

    // The same from the kit's one fixed firmware file.
    void LoadFirmwareFile(CCommFile& file, const StatusTextSink& setStatusText);

    // Decodes m_firmwareText into `file`; a refused text leaves the row table as it was.
    void DecodeFirmwareText(CCommFile& file, const StatusTextSink& setStatusText);

    int m_firmwareLoadFailed = 0;
    std::string m_firmwareText;  // the text kept from the last successful read
};

}  // namespace kestro
