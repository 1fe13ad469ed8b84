// A COM port opened by another program refuses a second opener with ERROR_ACCESS_DENIED: the
// port is held. The probe closes its handle at once and changes nothing on the line.

#include "serial/PortProbe.h"

#include <windows.h>

namespace kestro {

bool PortHeldElsewhere(const std::string& device) {
    if (device.empty()) return false;
    const HANDLE port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
    ::CloseHandle(port);
    return false;
}

std::string PortOpenProblem(const std::string& device) {
    if (device.empty()) return "No port was named.";
    const HANDLE port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        switch (::GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND: return device + " does not exist.";
            case ERROR_ACCESS_DENIED: return device + " is in use by another program.";
            default: return device + " cannot be opened as a serial port.";
        }
    }
    const bool serial = ::GetFileType(port) == FILE_TYPE_CHAR;
    ::CloseHandle(port);
    return serial ? std::string() : device + " is not a serial port.";
}

}  // namespace kestro
