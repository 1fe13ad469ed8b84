#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace kestro {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) == 1; }

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (stream == nullptr || ::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace kestro
