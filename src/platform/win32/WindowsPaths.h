#pragma once
// The Windows rules behind Paths.h, one by one, so that each can be checked on its own: whether
// the process runs under WOW64, which firmware path that selects, and where the log goes beside a
// given program file.

#include <filesystem>
#include <string>

namespace kestro::win32 {

inline constexpr const char* kFirmwarePathWow64 =
    "C:\\Program Files (x86)\\Vantrel\\Kestro Upgrade\\samples\\zqt_upg.pvx";
inline constexpr const char* kFirmwarePathNative =
    "C:\\Program Files\\Vantrel\\Kestro Upgrade\\samples\\zqt_upg.pvx";

// True for a 32-bit process on 64-bit Windows. IsWow64Process is looked up by name at run time;
// a system without it, or a failed call, counts as not running under WOW64.
bool RunsUnderWow64();

std::filesystem::path FirmwarePathFor(bool underWow64);

// The program's path cut before its last backslash, then "\Kestro_UpdateKit_log.csv"; with no
// backslash the folder part is empty.
std::wstring LogPathBeside(const std::wstring& programPath);

}  // namespace kestro::win32
