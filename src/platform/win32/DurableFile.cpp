#include "platform/DurableFile.h"

#include <windows.h>

#include <atomic>
#include <system_error>

namespace kestro {

namespace {

std::string SystemText(DWORD code) { return std::system_category().message(static_cast<int>(code)); }

std::string Reason(const std::string& what, const std::filesystem::path& where, DWORD code) {
    return what + " " + where.string() + ": " + SystemText(code);
}

// Flushing a folder needs a handle opened for writing with backup semantics; where the file
// system does not allow it, the write-through rename is what we have.
void FlushFolder(const std::filesystem::path& folder) {
    const HANDLE handle =
        ::CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
}

}  // namespace

bool WriteFileDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    if (!CreateFolderOf(path, error)) return false;
    const std::filesystem::path folder = FolderOf(path);
    // A name no other writer uses: this process's id and a counter of its own.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary = path;
    temporary += L".tmp" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = Reason("cannot create a file in", folder, ::GetLastError());
        return false;
    }
    bool ok = true;
    std::string_view left = bytes;
    while (ok && !left.empty()) {
        DWORD written = 0;
        if (!::WriteFile(handle, left.data(), static_cast<DWORD>(left.size()), &written, nullptr) ||
            written == 0) {
            error = Reason("cannot write", temporary, ::GetLastError());
            ok = false;
            break;
        }
        left.remove_prefix(written);
    }
    if (ok && !::FlushFileBuffers(handle)) {
        error = Reason("cannot flush", temporary, ::GetLastError());
        ok = false;
    }
    ::CloseHandle(handle);
    if (ok && !::MoveFileExW(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Reason("cannot rename a file to", path, ::GetLastError());
        ok = false;
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    FlushFolder(folder);
    return true;
}

bool RemoveFileDurably(const std::filesystem::path& path, std::string& error) {
    if (!::DeleteFileW(path.c_str())) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
        error = Reason("cannot remove", path, code);
        return false;
    }
    FlushFolder(FolderOf(path));
    return true;
}

}  // namespace kestro
