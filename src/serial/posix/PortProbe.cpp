// A port is held when its exclusive mode refuses a new opener (EBUSY) or its lock is taken. The
// probe takes the lock for a moment and gives it back; it neither configures the line nor reads.

#include "serial/PortProbe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestro {

bool PortHeldElsewhere(const std::string& device) {
    if (device.empty()) return false;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // gives the lock back when this descriptor took it
    return held;
}

std::string PortOpenProblem(const std::string& device) {
    struct stat info {};
    if (device.empty() || ::stat(device.c_str(), &info) != 0) {
        return device + " does not exist" + (device.empty() ? "" : std::string(": ") + std::strerror(errno)) + ".";
    }
    if (!S_ISCHR(info.st_mode)) return device + " is not a serial port (not a character device).";
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return device + " cannot be opened: " + std::strerror(errno) + ".";
    ::close(fd);
    return {};
}

}  // namespace kestro
