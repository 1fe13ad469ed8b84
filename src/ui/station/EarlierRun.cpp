#include "ui/station/EarlierRun.h"

#include <filesystem>
#include <system_error>

#include "history/SqliteHistory.h"

namespace kestro::station {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "R0104" as the kit writes its versions: "R01.04".
QString Version(const std::string& reported) {
    return Q(reported.size() == 5 ? reported.substr(0, 3) + "." + reported.substr(3) : reported);
}

QString FirstLine(const std::string& text) {
    const QString line = Q(text).section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.isEmpty() ? QStringLiteral("no message") : line;
}

}  // namespace

QString EarlierRunText(const HistoryRun& run) {
    const QString day = Q(FormatUtc(run.started).substr(0, 10));
    switch (run.kind) {
        case RunKind::Upgraded: return QStringLiteral("upgraded %1").arg(day);
        case RunKind::Confirmed: return QStringLiteral("upgraded %1, confirmed %2").arg(day, Version(run.versionAfter));
        case RunKind::NotConfirmedOldVersion:
            return QStringLiteral("upgraded %1, but still reported %2 after it").arg(day, Version(run.versionAfter));
        case RunKind::NotConfirmedNoAnswer:
        case RunKind::NotConfirmedOtherSerial: return QStringLiteral("upgraded %1, not confirmed").arg(day);
        case RunKind::StoppedBeforeErase: return QStringLiteral("stopped before the erase %1").arg(day);
        case RunKind::NeedsRecovery: return QStringLiteral("left needing recovery %1").arg(day);
        case RunKind::FailedBeforeErase: return QStringLiteral("failed %1: %2").arg(day, FirstLine(run.message));
        case RunKind::FailedAfterProgramming: return QStringLiteral("failed after programming %1").arg(day);
        case RunKind::NotStarted: return QStringLiteral("not started %1").arg(day);
    }
    return day;
}

EarlierRun LatestEarlierRun(const RunSettings& settings, const std::string& serial) {
    if (settings.historyFrontEnd.empty() || serial.empty()) return {};
    const std::filesystem::path file = settings.history.empty() ? DefaultHistoryPath() : settings.history;
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return {};
    SqliteHistory history(file);
    const HistoryRuns runs = history.Latest(serial);
    if (!runs.Ok()) return {{}, Q(runs.error)};
    if (runs.runs.empty()) return {};
    return {EarlierRunText(runs.runs.front()), {}};
}

}  // namespace kestro::station
