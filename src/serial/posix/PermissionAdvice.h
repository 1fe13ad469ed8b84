#pragma once
// What to tell a user who may not open a serial device. Joining the device's group helps only
// when that group may read and write it, and joining "root" would hand the user far more than
// the cable: in every other case the way in is the kit's udev rule, or sudo for a single run.

#include <string>

namespace kestro::posix {

// The device's permission bits and owner group, as far as they could be read.
struct DeviceAccess {
    bool known = false;
    unsigned mode = 0;  // the permission bits, e.g. 0660
    std::string group;  // the owner group's name
};

DeviceAccess AccessOf(const std::string& devicePath);

// "permission denied: ..." with the advice that fits `access`.
std::string PermissionAdvice(const std::string& devicePath, const DeviceAccess& access);

}  // namespace kestro::posix
