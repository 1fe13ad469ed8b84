// Reasons for a port that cannot be opened, worded for the Windows user: a COM port that is
// "denied" is nearly always held by another program.

#include "serial/PortErrors.h"

#include <windows.h>

namespace kestro {

std::string SystemErrorText(int error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr) {
        result.assign(text, length);
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(error) : result;
}

std::string DescribeOpenFailure(int error, const std::string& devicePath) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "device busy: another program holds " + devicePath +
                   " (close the other program and try again)";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
            return "no such device: " + devicePath + " (is the cable plugged in?)";
        default:
            return devicePath + ": " + SystemErrorText(error);
    }
}

}  // namespace kestro
