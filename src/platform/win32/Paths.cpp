// Where the kit's files are on Windows: the firmware file at its fixed Program Files path, the
// log beside the program file. The program's path is taken in UTF-16 and without a length limit,
// so that a folder whose name the ANSI code page cannot spell, or a path longer than MAX_PATH,
// still gives the log its real place.

#include "platform/Paths.h"

#include <windows.h>

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

}  // namespace

std::filesystem::path ExecutablePath() { return ModulePath(); }

std::filesystem::path DefaultFirmwarePath() {
    return win32::FirmwarePathFor(win32::RunsUnderWow64());
}

std::filesystem::path DefaultLogPath() { return win32::LogPathBeside(ModulePath()); }

}  // namespace kestro
