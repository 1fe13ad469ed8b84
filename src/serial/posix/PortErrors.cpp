// Reasons worded for the person at the keyboard.

#include "serial/PortErrors.h"

#include <cerrno>
#include <cstring>

#include "serial/posix/PermissionAdvice.h"

namespace kestro {

std::string SystemErrorText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

std::string DescribeOpenFailure(int error, const std::string& devicePath) {
    switch (error) {
        case EACCES:
        case EPERM:
            return posix::PermissionAdvice(devicePath, posix::AccessOf(devicePath));
        case EBUSY:
        case EWOULDBLOCK:
            return "device busy: another program holds " + devicePath +
                   " (often ModemManager; stop it or close the other program)";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device: " + devicePath + " (is the cable plugged in?)";
        default:
            return devicePath + ": " + SystemErrorText(error);
    }
}

}  // namespace kestro
