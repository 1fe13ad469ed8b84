#pragma once
// What the campaign report reads: CSV logs of runs, a fleet list, and which kind of source a
// --from value names (a CSV log, a history file, or else a history server's connection string).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/report/CampaignReport.h"

namespace kestro::cli {

enum class SourceKind { CsvLog, HistoryFile, Server };
SourceKind KindOfSource(const std::string& from);

// The lines of a CSV log of runs (the window's, the command line's, the station's). False, with
// `error`, where the file cannot be read or is no such log.
bool ReadLogRuns(const std::filesystem::path& file, std::vector<LogRun>& out, std::string& error);

// A fleet list: one radio a line, its serial the first field; a first line "serial..." is a
// header. False, with `error`, where the file cannot be read.
bool ReadFleet(const std::filesystem::path& file, std::vector<std::string>& out, std::string& error);

}  // namespace kestro::cli
