#pragma once
// The station's counts: radios, not attempts. Each radio of the session is counted once, in the
// column of its latest outcome, told apart by its serial number where it was read, else by its
// row (and the radio number of that row's cable). A radio first counted by its row moves to its
// serial number once that is read; a radio that fails and is then finished moves from Failed or
// Needing recovery to Upgraded.

#include <map>
#include <string>

namespace kestro::station {

struct StationCounts {
    int upgraded = 0;
    int failed = 0;
    int needingRecovery = 0;

    bool operator==(const StationCounts&) const = default;
};

enum class RadioOutcome { Upgraded, Failed, NeedsRecovery };

class RadioTally final {
  public:
    // The latest outcome of the radio on row `row` (its cable's `radio`th), with its serial
    // number where known.
    void Record(int row, int radio, const std::string& serial, RadioOutcome outcome);
    const StationCounts& Counts() const { return m_counts; }

  private:
    void Recount();

    std::map<std::string, RadioOutcome> m_latest;  // by "serial:..." or "row:<row>:<radio>"
    StationCounts m_counts;
};

}  // namespace kestro::station
