// The end of a run in text: the table of every radio and the recovery advice.
#include "cli/console/SummaryTable.h"

#include <algorithm>
#include <cstdio>

#include "cli/console/RadioState.h"

namespace kestro::cli::console {

namespace {

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::vector<std::string> Table(const std::vector<RadioSummary>& radios, int columns) {
    enum { kPort, kSerial, kBefore, kCodeplug, kResult, kTime };
    std::vector<std::vector<std::string>> rows{
        {"PORT", "SERIAL", "FW BEFORE", "CODEPLUG RESTORED", "RESULT", "TIME"}};
    for (const RadioSummary& r : radios) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", r.seconds);
        rows.push_back({r.port, r.serial.empty() ? "-" : r.serial,
                        r.firmwareBefore.empty() ? "-" : r.firmwareBefore,
                        r.codeplug.empty() ? "-" : r.codeplug,
                        r.result + (r.NeedsRecovery() ? ", needs recovery" : ""), seconds});
    }
    auto render = [&rows](const std::vector<int>& shown) {
        std::vector<std::size_t> widths(shown.size(), 0);
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < shown.size(); ++c) widths[c] = std::max(widths[c], row[shown[c]].size());
        }
        std::vector<std::string> lines;
        for (const auto& row : rows) {
            std::string line;
            for (std::size_t c = 0; c < shown.size(); ++c) {
                line += c + 1 < shown.size() ? Pad(row[shown[c]], widths[c] + 2) : row[shown[c]];
            }
            lines.push_back(line);
        }
        return lines;
    };
    auto fits = [columns](const std::vector<std::string>& lines) {
        return columns <= 0 || std::all_of(lines.begin(), lines.end(), [columns](const std::string& line) {
                   return static_cast<int>(line.size()) <= columns - 1;
               });
    };
    // Narrower and narrower: a shorter heading, then the least needed columns go; the port and
    // the result stay, and the result is cut at the edge as a last resort.
    std::vector<int> shown{kPort, kSerial, kBefore, kCodeplug, kResult, kTime};
    std::vector<std::string> lines = render(shown);
    if (fits(lines)) return lines;
    rows[0][kCodeplug] = "RESTORED";
    for (const int dropped : {-1, int{kTime}, int{kBefore}, int{kCodeplug}, int{kSerial}}) {
        std::erase(shown, dropped);
        lines = render(shown);
        if (fits(lines)) return lines;
    }
    for (std::string& line : lines) line = Fit(std::move(line), columns);
    return lines;
}

std::vector<std::string> SummaryLines(const std::vector<RadioSummary>& radios, const RecoveryAdvice& advice,
                                      int columns) {
    std::vector<std::string> needing;
    std::size_t simulatedNeeding = 0;
    for (const RadioSummary& r : radios) {
        if (!r.NeedsRecovery()) continue;
        if (r.simulated) {
            ++simulatedNeeding;
        } else {
            needing.push_back(r.port);
        }
    }
    // A simulated radio's pseudo-terminal is gone with this run: no command can reach it again,
    // but the same recovery can be tried on fresh simulated radios.
    const std::string simulatedAdvice =
        "Simulated radios vanish with the run; to try the same recovery on simulated radios: " +
        advice.simulatedCommand;
    std::vector<std::string> lines;
    if (radios.size() == 1) {
        // One radio: its messages said it all; only a radio left unfinished needs a word.
        if (!needing.empty()) {
            lines.push_back("The radio was left between erase and boot swap and does not start as it is. "
                            "Finish it with: " + advice.command);
        } else if (simulatedNeeding > 0) {
            lines.push_back("The simulated radio was left between erase and boot swap. " + simulatedAdvice);
        }
        return lines;
    }
    lines = Table(radios, columns);
    if (!needing.empty()) {
        std::string text = "Left needing recovery:";
        for (const std::string& port : needing) text += " " + port;
        lines.push_back(text);
        lines.push_back("Finish them with: " + advice.command);
    }
    if (simulatedNeeding > 0) {
        lines.push_back(std::to_string(simulatedNeeding) + " simulated radio" + (simulatedNeeding > 1 ? "s" : "") +
                        " left needing recovery. " + simulatedAdvice);
    }
    return lines;
}

}  // namespace kestro::cli::console
