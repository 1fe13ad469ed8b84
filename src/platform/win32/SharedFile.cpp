#include "platform/SharedFile.h"

#include <windows.h>

#include <chrono>
#include <string>

namespace kestro {

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() > 0x10000000 ? 0x10000000 : bytes.size());
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

CreateResult CreateFileWith(const std::filesystem::path& path, std::string_view firstBytes) {
    // Written under a private name, then moved into place without replacing: the move fails when
    // the name is taken, so exactly one of two writers starting together puts its file there.
    const std::wstring temp =
        path.wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
        std::to_wstring(::GetCurrentThreadId()) + L".tmp";
    HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return CreateResult::Failed;
    const bool written = WriteAll(file, firstBytes) && ::FlushFileBuffers(file);
    ::CloseHandle(file);
    CreateResult result = CreateResult::Failed;
    if (written) {
        if (::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return CreateResult::Created;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) result = CreateResult::Exists;
    }
    ::DeleteFileW(temp.c_str());
    return result;
}

bool AppendLocked(const std::filesystem::path& path, std::string_view bytes) {
    // LockFileEx needs write access, not append access alone; every writer moves to the end
    // once it holds the lock.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Writers of this kind hold the lock for one write; a program that keeps the file locked
    // longer is not waited for beyond kLockWait (Windows then refuses the write).
    OVERLAPPED whole{};
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    bool locked = false;
    while (!(locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                   MAXDWORD, MAXDWORD, &whole) != 0) &&
           std::chrono::steady_clock::now() < deadline) {
        ::Sleep(1);
    }
    LARGE_INTEGER end{};
    const bool written = ::SetFilePointerEx(file, end, nullptr, FILE_END) && WriteAll(file, bytes);
    if (locked) ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
    return written;
}

}  // namespace kestro
