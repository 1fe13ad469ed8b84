#include "firmware/FirmwareLoader.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "firmware/FirmwareText.h"
#include "firmware/FirmwareTexts.h"
#include "platform/Paths.h"

namespace kestro {

std::optional<std::string> ReadFirmwareFileBytes(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return std::nullopt;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > kMaxFirmwareFileBytes) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary | std::ios::in);
    if (!in) {
        return std::nullopt;
    }
    // Read through a small buffer into reserved room: a string sized up front would be filled
    // with zeros first, only to be overwritten at once.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    char chunk[64 * 1024];
    // A file that shrank while being read is taken as far as it reached, one that grew as far
    // as its size when it was looked at.
    while (bytes.size() < size) {
        const auto want = std::min<std::uintmax_t>(sizeof chunk, size - bytes.size());
        in.read(chunk, static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(in.gcount());
        bytes.append(chunk, got);
        if (got < want) {
            break;
        }
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

void CFirmwareLoader::LoadFirmwareFile(const std::filesystem::path& path, CCommFile& file,
                                       const StatusTextSink& setStatusText) {
    if (auto bytes = ReadFirmwareFileBytes(path)) {
        LoadFirmwareBytes(std::move(*bytes), file, setStatusText);
        return;
    }
    DecodeFirmwareText(file, setStatusText);
}

void CFirmwareLoader::LoadFirmwareBytes(std::string bytes, CCommFile& file,
                                        const StatusTextSink& setStatusText) {
    m_firmwareText = DecodeFirmwareBytes(std::move(bytes));
    DecodeFirmwareText(file, setStatusText);
}

void CFirmwareLoader::LoadFirmwareFile(CCommFile& file, const StatusTextSink& setStatusText) {
    LoadFirmwareFile(DefaultFirmwarePath(), file, setStatusText);
}

void CFirmwareLoader::DecodeFirmwareText(CCommFile& file, const StatusTextSink& setStatusText) {
    // One line only (no CR LF anywhere) is no firmware file.
    if (m_firmwareText.find("\r\n") == std::string::npos) {
        setStatusText(kFirmwareCanNotOpenText);
        m_firmwareLoadFailed = 1;
        return;
    }
    HexParseError error;
    if (!file.ParseHexRecords(m_firmwareText, error)) {
        setStatusText(FirmwareDamagedText(error));
        m_firmwareLoadFailed = 1;
        return;
    }
    setStatusText(kFirmwareLoadingText);
    file.BuildRowTable();
    m_firmwareLoadFailed = 0;
}

}  // namespace kestro
