#include "firmware/FirmwareLoader.h"

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
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    // A file that shrank while being read is taken as far as it reached.
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

void CFirmwareLoader::LoadFirmwareFile(const std::filesystem::path& path, CCommFile& file,
                                       const StatusTextSink& setStatusText) {
    if (auto bytes = ReadFirmwareFileBytes(path)) {
        m_firmwareText = DecodeFirmwareBytes(*bytes);
    }
    DecodeFirmwareText(file, setStatusText);
}

void CFirmwareLoader::LoadFirmwareFile(CCommFile& file, const StatusTextSink& setStatusText) {
    LoadFirmwareFile(DefaultFirmwarePath(), file, setStatusText);
}

void CFirmwareLoader::DecodeFirmwareText(CCommFile& file, const StatusTextSink& setStatusText) {
    if (FirmwareLineCount(m_firmwareText) == 1) {
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
