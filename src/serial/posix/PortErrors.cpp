// Reasons worded for the person at the keyboard. The group named is the device's real owner
// group when it can be read, since that is the group the user has to join.

#include "serial/PortErrors.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kestro {
namespace {

std::string OwnerGroupOf(const std::string& devicePath) {
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        return "dialout";
    }
    std::vector<char> scratch(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, scratch.data(), scratch.size(), &found) != 0 ||
        found == nullptr || found->gr_name == nullptr) {
        return "dialout";
    }
    return found->gr_name;
}

}  // namespace

std::string SystemErrorText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

std::string DescribeOpenFailure(int error, const std::string& devicePath) {
    switch (error) {
        case EACCES:
        case EPERM: {
            const std::string group = OwnerGroupOf(devicePath);
            return "permission denied: " + devicePath + " belongs to the group \"" + group +
                   "\"; add your user to it (sudo usermod -aG " + group +
                   " $USER), then log out and in again";
        }
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
