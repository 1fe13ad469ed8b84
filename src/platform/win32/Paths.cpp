// Where the kit's files are on Windows: the firmware file at its fixed Program Files path, the
// log (and the recovery records beside it) beside the program file, or in the user's local
// application data folder when the program's folder is not writable. The program's path is taken in UTF-16 and without a length limit,
// so that a folder whose name the ANSI code page cannot spell, or a path longer than MAX_PATH,
// still gives the log its real place.

#include "platform/Paths.h"

#include <windows.h>

#include <system_error>
#include <vector>

#include "platform/win32/WindowsPaths.h"

namespace kestro {
namespace win32 {

bool RunsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = ::GetModuleHandleA("kernel32");
    if (kernel == nullptr) {
        return false;
    }
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    BOOL underWow64 = FALSE;
    if (isWow64Process == nullptr || !isWow64Process(::GetCurrentProcess(), &underWow64)) {
        return false;
    }
    return underWow64 != FALSE;
}

std::filesystem::path FirmwarePathFor(bool underWow64) {
    return underWow64 ? kFirmwarePathWow64 : kFirmwarePathNative;
}

std::wstring LogPathBeside(const std::wstring& programPath) {
    const std::size_t cut = programPath.rfind(L'\\');
    std::wstring path = cut == std::wstring::npos ? std::wstring{} : programPath.substr(0, cut);
    path += L'\\';
    for (const char* c = kLogFileName; *c != '\0'; ++c) {
        path += static_cast<wchar_t>(*c);
    }
    return path;
}

}  // namespace win32

namespace {

// The program file's full path; empty when the system cannot tell it.
std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        // Cut to fit: try again with room to spare, up to the longest path Windows has.
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Whether a file can be created in `folder` now: a program installed per machine under Program
// Files cannot, for a user without administrator rights.
bool FolderTakesFiles(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\.kestro-probe-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE handle = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(handle);
    return true;
}

std::wstring LocalAppData() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(),
                                                   static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return {};
    return std::wstring(buffer.data(), length);
}

}  // namespace

std::filesystem::path ExecutablePath() { return ModulePath(); }

std::filesystem::path DefaultFirmwarePath() {
    return win32::FirmwarePathFor(win32::RunsUnderWow64());
}

std::filesystem::path DefaultLogPath() {
    const std::wstring beside = win32::LogPathBeside(ModulePath());
    const std::size_t cut = beside.rfind(L'\\');
    if (cut == std::wstring::npos || FolderTakesFiles(beside.substr(0, cut))) return beside;
    // Beside the program is not writable: the user's own local application data folder.
    const std::wstring local = LocalAppData();
    if (local.empty()) return beside;
    return std::filesystem::path(local) / kLocalStateFolderName / kLogFileName;
}

std::filesystem::path StateFolder() { return DefaultLogPath().parent_path(); }

bool PrepareStateFolder(std::string& error) {
    const std::filesystem::path folder = StateFolder();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) error = "cannot create the folder " + folder.string() + ": " + ec.message();
    return !ec;
}

bool DefaultLogLeftProgramFolder() {
    return DefaultLogPath() != std::filesystem::path(win32::LogPathBeside(ModulePath()));
}

}  // namespace kestro
