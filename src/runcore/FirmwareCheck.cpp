#include "runcore/FirmwareCheck.h"

#include <fstream>
#include <system_error>

#include "firmware/CCommFile.h"
#include "firmware/FirmwareLoader.h"

namespace kestro {

std::string FirmwareProblem(const std::filesystem::path& path, bool decode) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return "it does not exist";
    if (!std::filesystem::is_regular_file(path, ec)) return "it is not a file";
    if (std::filesystem::file_size(path, ec) == 0 && !ec) return "it is empty";
    if (!decode) return std::ifstream(path, std::ios::binary) ? std::string{} : "it cannot be read";
    auto bytes = ReadFirmwareFileBytes(path);
    if (!bytes) return "it cannot be read";
    CFirmwareLoader loader;
    CCommFile file;
    std::string status;
    loader.LoadFirmwareBytes(std::move(*bytes), file, [&status](const std::string& text) { status = text; });
    return loader.m_firmwareLoadFailed != 0 ? status : std::string{};
}

}  // namespace kestro
