#pragma once
// What a terminal shows of a program's output: the pieces of text between line feeds and
// carriage returns, with the escape sequences (cursor moves, erasures) taken out.

#include <string>
#include <vector>

namespace kestro::test {

inline std::vector<std::string> VisibleLines(const std::string& output) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\033' && i + 1 < output.size() && output[i + 1] == '[') {
            i += 2;
            while (i < output.size() && !(output[i] >= '@' && output[i] <= '~')) ++i;
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (!lines.back().empty()) lines.emplace_back();
            continue;
        }
        lines.back() += c;
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

}  // namespace kestro::test
