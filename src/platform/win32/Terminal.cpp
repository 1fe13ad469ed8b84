#include "platform/Terminal.h"

#include <io.h>
#include <windows.h>

namespace kestro {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::_isatty(::_fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
    if (!IsTerminal(stream)) return 0;
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(console, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace kestro
