#include "serial/posix/PermissionAdvice.h"

#include <grp.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

namespace kestro::posix {

DeviceAccess AccessOf(const std::string& devicePath) {
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        return {};
    }
    std::vector<char> scratch(4096);
    group entry{};
    group* found = nullptr;
    const bool named =
        ::getgrgid_r(info.st_gid, &entry, scratch.data(), scratch.size(), &found) == 0 &&
        found != nullptr && found->gr_name != nullptr;
    // A group without a name is named by its number, which usermod takes as well.
    return {true, static_cast<unsigned>(info.st_mode & 07777),
            named ? std::string(found->gr_name) : std::to_string(info.st_gid)};
}

std::string PermissionAdvice(const std::string& devicePath, const DeviceAccess& access) {
    // A device that cannot be looked at is most likely a serial device the system gives to
    // "dialout", as Debian does.
    const std::string group = access.known ? access.group : "dialout";
    const bool groupMayUseIt = !access.known || (access.mode & 060) == 060;
    if (group != "root" && groupMayUseIt) {
        return "permission denied: " + devicePath + " belongs to the group \"" + group +
               "\"; add your user to it (sudo usermod -aG " + group +
               " $USER), then log out and in again";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", access.mode);
    return "permission denied: " + devicePath + " (group \"" + group + "\", mode " + mode +
           ") is open to no group you could join; the kit's udev rule "
           "60-kestro-programming-cable.rules lets the user at the seat open the cable: install "
           "the kit's package, or copy the rule from the kit's lib/udev/rules.d to "
           "/etc/udev/rules.d and run sudo udevadm control --reload-rules, then plug the cable in "
           "again; for a single run, start the kit with sudo";
}

}  // namespace kestro::posix
