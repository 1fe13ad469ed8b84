#include "runcore/PortChoice.h"

#include <cctype>
#include <climits>

#include "serial/PortNames.h"

namespace kestro {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// n for "COMn" with n from 1 to INT_MAX; 0 for anything else.
int ComNumber(const std::string& text) {
    if (text.size() < 4 || Lower(text.substr(0, 3)) != "com") return 0;
    long long n = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        n = n * 10 + (text[i] - '0');
        if (n > INT_MAX) return 0;
    }
    return static_cast<int>(n);
}

}  // namespace

std::string PortFormProblem(const std::string& port) {
    if (Lower(port) == "auto" || ComNumber(port) > 0 || port.find('/') != std::string::npos) return {};
    return "--port must be auto, COMn (n from 1) or a device path such as /dev/ttyUSB0, not \"" + port + "\"";
}

std::optional<PortTarget> PortTargetFor(const std::string& port, std::string& error) {
    if (Lower(port) == "auto") return PortTarget{0, {}, {}};
    if (const int number = ComNumber(port); number > 0) return PortTarget{number, {}, port};
    if (port.find('/') != std::string::npos) {
        // A device path is opened as it is; its number by the port rule, where it has one.
        return PortTarget{PortNumberForDevice(port).value_or(0), port, port};
    }
    error = PortFormProblem(port);
    return std::nullopt;
}

}  // namespace kestro
