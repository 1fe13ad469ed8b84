#include "platform/Terminal.h"

#include <io.h>

namespace kestro {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::_isatty(::_fileno(stream)) != 0; }

}  // namespace kestro
