// The report's HTML page with its two inline SVG charts (radios by state; runs per day and
// bench), and its CSV.

#include "cli/report/ReportHtml.h"

#include <algorithm>
#include <set>

#include "log/UpgradeLog.h"

namespace kestro::cli {

namespace {

const char* Colour(RadioState state) {
    switch (state) {
        case RadioState::Confirmed: return "#2e7d32";
        case RadioState::UpgradedNotConfirmed: return "#f9a825";
        case RadioState::Failed: return "#c62828";
        case RadioState::NeedsRecovery: return "#6a1b9a";
        case RadioState::NotYetSeen: break;
    }
    return "#9e9e9e";
}

constexpr const char* kBenchColours[] = {"#1565c0", "#ef6c00", "#00838f", "#ad1457", "#558b2f",
                                         "#4e342e", "#5e35b1", "#00695c", "#f4511e", "#37474f"};

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string N(std::size_t value) { return std::to_string(value); }

std::string StateChart(const CampaignReport& report) {
    std::size_t most = 1;
    for (const auto& [state, count] : report.totals) most = std::max(most, count);
    const int rowHeight = 30;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"620\" height=\"" +
                      std::to_string(rowHeight * 5 + 10) + "\" role=\"img\" aria-label=\"Radios by state\">";
    int y = 5;
    for (const RadioState state : kRadioStates) {
        if (state == RadioState::NotYetSeen && !report.fleetGiven) continue;
        const auto it = report.totals.find(state);
        const std::size_t count = it == report.totals.end() ? 0 : it->second;
        const int width = static_cast<int>(380.0 * static_cast<double>(count) / static_cast<double>(most));
        svg += "<text x=\"170\" y=\"" + std::to_string(y + 19) + "\" text-anchor=\"end\">" +
               RadioStateName(state) + "</text>";
        svg += "<rect x=\"180\" y=\"" + std::to_string(y + 3) + "\" width=\"" + std::to_string(std::max(width, 1)) +
               "\" height=\"22\" fill=\"" + Colour(state) + "\"/>";
        svg += "<text x=\"" + std::to_string(186 + width) + "\" y=\"" + std::to_string(y + 19) + "\">" + N(count) +
               "</text>";
        y += rowHeight;
    }
    return svg + "</svg>";
}

std::string DayChart(const CampaignReport& report) {
    std::vector<std::string> benches;
    std::size_t most = 1;
    for (const auto& [day, perBench] : report.runsPerDay) {
        std::size_t total = 0;
        for (const auto& [bench, count] : perBench) {
            total += count;
            if (std::find(benches.begin(), benches.end(), bench) == benches.end()) benches.push_back(bench);
        }
        most = std::max(most, total);
    }
    std::sort(benches.begin(), benches.end());
    // Bars narrow as days are added, so that a month fits a page; a day's label where it fits.
    const int days = std::max(1, static_cast<int>(report.runsPerDay.size()));
    const int gap = 8;
    const int barWidth = std::clamp(880 / days - gap, 10, 48);
    const int labelEvery = (36 + barWidth + gap - 1) / (barWidth + gap);
    const int chartHeight = 200;
    const int width = std::max(620, 60 + days * (barWidth + gap));
    const int legendRows = static_cast<int>((benches.size() + 3) / 4);
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(chartHeight + 50 + legendRows * 20) +
                      "\" role=\"img\" aria-label=\"Runs per day and bench\">";
    svg += "<line x1=\"50\" y1=\"" + std::to_string(chartHeight + 10) + "\" x2=\"" + std::to_string(width - 10) +
           "\" y2=\"" + std::to_string(chartHeight + 10) + "\" stroke=\"#555\"/>";
    svg += "<text x=\"44\" y=\"20\" text-anchor=\"end\">" + N(most) + "</text>";
    int x = 60;
    int dayIndex = 0;
    for (const auto& [day, perBench] : report.runsPerDay) {
        double top = chartHeight + 10;
        std::size_t total = 0;
        for (std::size_t b = 0; b < benches.size(); ++b) {
            const auto it = perBench.find(benches[b]);
            if (it == perBench.end()) continue;
            total += it->second;
            const double h = static_cast<double>(chartHeight - 10) * static_cast<double>(it->second) / static_cast<double>(most);
            top -= h;
            svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(top) + "\" width=\"" +
                   std::to_string(barWidth) + "\" height=\"" + std::to_string(h) + "\" fill=\"" +
                   kBenchColours[b % std::size(kBenchColours)] + "\"><title>" + Escaped(benches[b]) + " " +
                   Escaped(day) + ": " + N(it->second) + "</title></rect>";
        }
        if (dayIndex % labelEvery == 0) {
            svg += "<text x=\"" + std::to_string(x + barWidth / 2) + "\" y=\"" + std::to_string(top - 4) +
                   "\" text-anchor=\"middle\" font-size=\"11\">" + N(total) + "</text>";
            svg += "<text x=\"" + std::to_string(x + barWidth / 2) + "\" y=\"" + std::to_string(chartHeight + 26) +
                   "\" text-anchor=\"middle\" font-size=\"11\">" + Escaped(day.substr(5)) + "</text>";
        }
        x += barWidth + gap;
        ++dayIndex;
    }
    for (std::size_t b = 0; b < benches.size(); ++b) {
        const int lx = 60 + static_cast<int>(b % 4) * 150;
        const int ly = chartHeight + 44 + static_cast<int>(b / 4) * 20;
        svg += "<rect x=\"" + std::to_string(lx) + "\" y=\"" + std::to_string(ly - 11) + "\" width=\"12\" height=\"12\" fill=\"" +
               kBenchColours[b % std::size(kBenchColours)] + "\"/><text x=\"" + std::to_string(lx + 18) + "\" y=\"" +
               std::to_string(ly) + "\">" + Escaped(benches[b]) + "</text>";
    }
    return svg + "</svg>";
}

}  // namespace

std::string ReportHtml(const CampaignReport& report, const ReportHeading& heading) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Upgrade campaign report</title><style>"
        "body{font-family:'DejaVu Sans',Arial,sans-serif;margin:24px;color:#222}"
        "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
        "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}"
        "th{background:#eee}.n{text-align:right}svg text{font-size:13px;fill:#222}"
        ".note{color:#555;font-size:13px}.sw{display:inline-block;width:10px;height:10px;margin-right:6px}"
        "</style></head><body>\n";
    html += "<h1>Upgrade campaign report</h1>\n<p class=\"note\">Made " + Escaped(heading.generated) + " from: ";
    for (std::size_t i = 0; i < heading.sources.size(); ++i) html += (i ? ", " : "") + Escaped(heading.sources[i]);
    html += "</p>\n<h2>Radios by state</h2>\n<table><tr><th>state</th><th>radios</th></tr>";
    std::size_t radios = 0;
    for (const RadioState state : kRadioStates) {
        if (state == RadioState::NotYetSeen && !report.fleetGiven) continue;
        const auto it = report.totals.find(state);
        const std::size_t count = it == report.totals.end() ? 0 : it->second;
        radios += count;
        html += "<tr><td><span class=\"sw\" style=\"background:" + std::string(Colour(state)) + "\"></span>" +
                RadioStateName(state) + "</td><td class=\"n\">" + N(count) + "</td></tr>";
    }
    html += "<tr><th>all radios</th><th class=\"n\">" + N(radios) + "</th></tr></table>\n";
    html += StateChart(report) + "\n<h2>Runs per day and bench</h2>\n" + DayChart(report) + "\n";
    html += "<p class=\"note\">" + N(report.historyRuns) + " runs from histories (each once by its run id";
    if (report.duplicateRuns > 0) html += "; " + N(report.duplicateRuns) + " given twice, counted once";
    html += "), " + N(report.logRuns) + " lines of CSV logs.";
    if (report.logRuns > 0) {
        html += " A CSV log gives only the date and local time, serial, version before and result of a "
                "run: its radios show no confirmation, and its bench is the log's file name.";
    }
    if (report.fleetGiven && report.outsideFleet > 0) {
        html += " " + N(report.outsideFleet) + " radios seen are not in the fleet list.";
    }
    html += "</p>\n<h2>Each radio's latest state</h2>\n<table><tr><th>serial</th><th>state</th><th>version</th>"
            "<th>where</th><th>when (UTC)</th><th class=\"n\">runs</th></tr>";
    for (const RadioLine& line : report.radios) {
        html += "<tr><td>" + Escaped(line.serial) + "</td><td><span class=\"sw\" style=\"background:" +
                Colour(line.state) + "\"></span>" + RadioStateName(line.state) +
                (line.fromLogOnly ? " (log only)" : "") + "</td><td>" + Escaped(line.version) + "</td><td>" +
                Escaped(line.bench) + "</td><td>" + Escaped(line.when) + "</td><td class=\"n\">" + N(line.runs) +
                "</td></tr>\n";
    }
    return html + "</table>\n</body></html>\n";
}

std::string ReportCsv(const CampaignReport& report) {
    std::string csv = "serial,state,version,where,when,runs\r\n";
    for (const RadioLine& line : report.radios) {
        csv += LogField(line.serial) + ",\"" + RadioStateName(line.state) + "\"," + LogField(line.version) + "," +
               LogField(line.bench) + "," + LogField(line.when) + "," + N(line.runs) + "\r\n";
    }
    return csv;
}

}  // namespace kestro::cli
