#pragma once
// Whether a path names a port that can be opened, and whether another run holds a port now: a run keeps its port open for exclusive use, with a lock
// that every kit takes, from the moment it opens the port until its run ends. A recovery record
// of a port that is held belongs to a run that is alive, not to an interrupted one.

#include <string>

namespace kestro {

// True when `device` is open for exclusive use elsewhere (another kit, or another program that
// locks serial ports). False when it is free, absent or cannot be looked at: absence and
// refusals are for the run's own open to report.
bool PortHeldElsewhere(const std::string& device);

// Why `device` cannot serve as a radio's port: it does not exist, is not a character device (a
// serial port) or cannot be opened, in a sentence. "" when it can be opened. Nothing is changed
// on the line.
std::string PortOpenProblem(const std::string& device);

}  // namespace kestro
