#include "platform/Host.h"

#include <unistd.h>

namespace kestro {

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace kestro
