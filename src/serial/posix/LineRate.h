#pragma once
// Setting the line to an exact bit rate that the classic termios rate list lacks (76 800), and
// its driver's low-latency mode.
// Kept apart because the kernel's termios2 header clashes with <termios.h>.

namespace kestro::posix {

// Sets input and output rate of the open tty `fd` to `rate` bit/s, keeping every other
// setting. Returns 0 or the system error number.
int SetExactLineRate(int fd, unsigned rate);

// Asks the driver to pass received bytes on at once rather than holding them for a few
// milliseconds (USB-serial bridges do). Where the driver has no such mode (a pseudo-terminal),
// nothing changes and nothing is reported: the line works either way.
void RequestLowLatency(int fd);

// Reads the output rate back; 0 when it cannot be read.
unsigned ReadLineRate(int fd);

}  // namespace kestro::posix
