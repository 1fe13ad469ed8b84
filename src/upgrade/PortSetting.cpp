#include "upgrade/PortSetting.h"

#include <cctype>
#include <climits>

namespace kestro {

int LenientDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = INT_MAX;  // a hand-edited value must not overflow
    }
    return static_cast<int>(negative ? -value : value);
}

int PortNumberFromSettings(ISettings& settings, std::string* portSetting) {
    if (settings.GetString(kSettingsSection, kAutoValue) != "No") return 0;
    const std::string com = settings.GetString(kSettingsSection, kComValue);
    if (portSetting != nullptr) *portSetting = com;
    if (com.empty()) return 3;
    return LenientDecimal(com.size() > 3 ? com.substr(3) : std::string{});
}

}  // namespace kestro
