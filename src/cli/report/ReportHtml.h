#pragma once
// The campaign report written out: one HTML file that opens offline (its styles and SVG charts
// inline, no script, nothing fetched), and a CSV of each radio's latest state.

#include <string>
#include <vector>

#include "cli/report/CampaignReport.h"

namespace kestro::cli {

struct ReportHeading {
    std::string generated;             // UTC, FormatUtc's form
    std::vector<std::string> sources;  // as they may be shown (a server's password masked)
};

std::string ReportHtml(const CampaignReport& report, const ReportHeading& heading);
std::string ReportCsv(const CampaignReport& report);

}  // namespace kestro::cli
