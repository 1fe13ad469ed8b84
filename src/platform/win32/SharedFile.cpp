#include "platform/SharedFile.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <system_error>

namespace kestro {

namespace {

// Writes all of `bytes`; on failure returns the system error (ERROR_WRITE_FAULT for a write that
// took nothing), with `written` telling how many went in before it.
DWORD WriteAll(HANDLE file, std::string_view bytes, std::size_t& written) {
    written = 0;
    while (!bytes.empty()) {
        DWORD taken = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() > 0x10000000 ? 0x10000000 : bytes.size());
        if (!::WriteFile(file, bytes.data(), chunk, &taken, nullptr)) return ::GetLastError();
        if (taken == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(taken);
        written += taken;
    }
    return ERROR_SUCCESS;
}

bool Failed(std::string* failure, const std::string& reason) {
    if (failure != nullptr) *failure = reason;
    return false;
}

std::string ErrorText(DWORD error) {
    return std::system_category().message(static_cast<int>(error));
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
    std::size_t taken = 0;
    const bool written =
        WriteAll(file, firstBytes, taken) == ERROR_SUCCESS && ::FlushFileBuffers(file);
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

bool CanOpenForAppend(const std::filesystem::path& path, std::string* failure) {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(failure, ErrorText(::GetLastError()));
    ::CloseHandle(file);
    return true;
}

bool AppendLocked(const std::filesystem::path& path, std::string_view bytes,
                  std::string* failure) {
    return AppendLockedAfterHead(path, {}, bytes, failure);
}

bool AppendLockedAfterHead(const std::filesystem::path& path, std::string_view head,
                           std::string_view bytes, std::string* failure) {
    // LockFileEx needs write access, not append access alone; every writer moves to the end
    // once it holds the lock.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(failure, ErrorText(::GetLastError()));
    // Writers of this kind hold the lock for one append; a program that keeps the file locked
    // longer is not waited for beyond kLockWait (Windows then refuses the write).
    OVERLAPPED whole{};
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    bool locked = false;
    while (!(locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                   MAXDWORD, MAXDWORD, &whole) != 0) &&
           std::chrono::steady_clock::now() < deadline) {
        ::Sleep(1);
    }
    // The end found under the lock stays the end until the lock goes: cutting back to it takes
    // only this writer's bytes.
    LARGE_INTEGER before{};
    const LARGE_INTEGER end{};
    DWORD error = ERROR_SUCCESS;
    std::size_t written = 0;
    std::string withHead;
    if (!::SetFilePointerEx(file, end, &before, FILE_END)) {
        error = ::GetLastError();
    } else {
        if (!head.empty() && before.QuadPart == 0) {
            withHead.reserve(head.size() + bytes.size());
            withHead.append(head).append(bytes);
            bytes = withHead;
        }
        error = WriteAll(file, bytes, written);
    }
    bool undone = written == 0;
    if (error != ERROR_SUCCESS && written > 0 && locked) {
        undone = ::SetFilePointerEx(file, before, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    }
    if (locked) ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
    if (error == ERROR_SUCCESS) return true;
    std::string reason = ErrorText(error);
    if (!undone) reason += "; the file may end in part of the bytes";
    return Failed(failure, reason);
}

}  // namespace kestro
