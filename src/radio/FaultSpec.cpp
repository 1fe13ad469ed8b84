#include "radio/FaultSpec.h"

#include <cctype>
#include <charconv>
#include <string>

#include "radio/SimRadio.h"

namespace kestro {

namespace {

template <typename Number>
std::optional<Number> ReadNumber(std::string_view text, int base = 10) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Splits "a:b:c" into at most `count` parts; false when there are more.
bool Split(std::string_view text, std::string_view (&parts)[3], std::size_t& count) {
    count = 0;
    while (true) {
        if (count == 3) {
            return false;
        }
        const std::size_t colon = text.find(':');
        parts[count++] = text.substr(0, colon);
        if (colon == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(colon + 1);
    }
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text) {
    Fault fault;
    if (const std::size_t star = text.find('*'); star != std::string_view::npos) {
        const auto times = ReadNumber<std::size_t>(text.substr(star + 1));
        if (!times || *times == 0) {
            return std::nullopt;
        }
        fault.times = *times;
        text = text.substr(0, star);
    }
    std::string_view parts[3];
    std::size_t count = 0;
    if (!Split(text, parts, count)) {
        return std::nullopt;
    }
    const std::string_view kind = parts[0];
    const auto args = count - 1;
    if (kind == "silence" && args == 0) {
        fault.kind = FaultKind::Silence;
    } else if (kind == "twice" && args == 0) {
        fault.kind = FaultKind::Twice;
    } else if (kind == "status-first" && args == 0) {
        fault.kind = FaultKind::StatusFirst;
    } else if (kind == "nak" && args <= 1) {
        fault.kind = FaultKind::Nak;
        if (args == 1) {
            const auto bytes = parts[1].size() == 4 ? ReadNumber<std::uint16_t>(parts[1], 16)
                                                    : std::nullopt;
            if (!bytes) {
                return std::nullopt;
            }
            fault.errorBytes = {static_cast<std::uint8_t>(*bytes >> 8),
                                static_cast<std::uint8_t>(*bytes & 0xFF)};
        }
    } else if (kind == "late" && args == 1) {
        const auto ms = ReadNumber<unsigned>(parts[1]);
        if (!ms) {
            return std::nullopt;
        }
        fault.kind = FaultKind::Late;
        fault.delay = SimMillis{*ms};
    } else if (kind == "corrupt" && args == 1) {
        const auto index = ReadNumber<std::size_t>(parts[1]);
        if (!index) {
            return std::nullopt;
        }
        fault.kind = FaultKind::Corrupt;
        fault.index = *index;
    } else if (kind == "drop" && (args == 1 || args == 2)) {
        const auto index = ReadNumber<std::size_t>(parts[1]);
        const auto dropped = args == 2 ? ReadNumber<std::size_t>(parts[2]) : std::size_t{1};
        if (!index || !dropped || *dropped == 0) {
            return std::nullopt;
        }
        fault.kind = FaultKind::Drop;
        fault.index = *index;
        fault.count = *dropped;
    } else if (kind == "wrong-code" && args <= 1) {
        fault.kind = FaultKind::WrongCode;
        if (args == 1) {
            const auto code = parts[1].size() == 2 ? ReadNumber<std::uint8_t>(parts[1], 16)
                                                   : std::nullopt;
            if (!code || *code == 0) {
                return std::nullopt;
            }
            fault.code = *code;
        }
    } else {
        return std::nullopt;
    }
    return fault;
}

std::optional<RequestId> ParseRequestName(std::string_view text) {
    std::string upper;
    for (const char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!upper.starts_with("REQ_")) {
        upper = "REQ_" + upper;
    }
    for (int id = 0; id < REQ_COUNT; ++id) {
        if (RequestName(static_cast<RequestId>(id)) == upper) {
            return static_cast<RequestId>(id);
        }
    }
    return std::nullopt;
}

}  // namespace kestro
