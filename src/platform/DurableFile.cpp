#include "platform/DurableFile.h"

#include <system_error>

#include "platform/Paths.h"

namespace kestro {

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

bool CreateFolderOf(const std::filesystem::path& path, std::string& error) {
    const std::filesystem::path folder = FolderOf(path);
    // The kit's own folder is checked at each write: another user may have put something there.
    if (const auto state = StateFolder(); !state.empty() && folder == state) return PrepareStateFolder(error);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) error = "cannot create the folder " + folder.string() + ": " + ec.message();
    return !ec;
}

}  // namespace kestro
