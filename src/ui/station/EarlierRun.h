#pragma once
// A radio's latest earlier run, as the local history of runs holds it, in a few words for its
// row: "upgraded 2026-12-01, confirmed R01.04".

#include <QString>
#include <string>

#include "history/RunHistory.h"
#include "runcore/RadioTarget.h"

namespace kestro::station {

struct EarlierRun {
    QString text;   // "" when the history holds no run of the radio
    QString error;  // why the history could not be read; "" when it was
};

// The run in words.
QString EarlierRunText(const HistoryRun& run);

// The newest run of `serial` in the history the station's runs are written to. A history that
// is not kept (no front end is set) or not there yet holds none; it is never created here.
EarlierRun LatestEarlierRun(const RunSettings& settings, const std::string& serial);

}  // namespace kestro::station
