// The termios2 path: BOTHER in c_cflag lets the driver take c_ispeed and c_ospeed literally.

#include "serial/posix/LineRate.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace kestro::posix {

int SetExactLineRate(int fd, unsigned rate) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return errno;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = rate;
    settings.c_ospeed = rate;
    if (::ioctl(fd, TCSETS2, &settings) != 0) {
        return errno;
    }
    // Some drivers round to the nearest rate they can make; the line must run at exactly this one.
    struct termios2 check {};
    if (::ioctl(fd, TCGETS2, &check) != 0) {
        return errno;
    }
    return check.c_ospeed == rate ? 0 : EINVAL;
}

void RequestLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) {
        return;
    }
    info.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

unsigned ReadLineRate(int fd) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return settings.c_ospeed;
}

}  // namespace kestro::posix
