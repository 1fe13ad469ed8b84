#include "platform/Host.h"

#include <windows.h>

namespace kestro {

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) return {};
    return std::string(name, size);
}

}  // namespace kestro
