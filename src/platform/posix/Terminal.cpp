#include "platform/Terminal.h"

#include <unistd.h>

namespace kestro {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) == 1; }

}  // namespace kestro
