#include "ui/station/RadioTally.h"

namespace kestro::station {

void RadioTally::Record(int row, int radio, const std::string& serial, RadioOutcome outcome) {
    const std::string byRow = "row:" + std::to_string(row) + ":" + std::to_string(radio);
    if (serial.empty()) {
        m_latest[byRow] = outcome;
    } else {
        m_latest.erase(byRow);  // the same radio, counted by its row until its serial was read
        m_latest["serial:" + serial] = outcome;
    }
    Recount();
}

void RadioTally::Recount() {
    m_counts = {};
    for (const auto& [key, outcome] : m_latest) {
        switch (outcome) {
            case RadioOutcome::Upgraded: ++m_counts.upgraded; break;
            case RadioOutcome::Failed: ++m_counts.failed; break;
            case RadioOutcome::NeedsRecovery: ++m_counts.needingRecovery; break;
        }
    }
}

}  // namespace kestro::station
