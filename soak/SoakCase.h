#pragma once
// One soak case: a complete upgrade in virtual time through the simulated radio with the faults
// of a drawn FaultPlan, checked against the specified ends; then, when the run left the radio
// needing recovery, a fault-free recovery run, and after any other failure a fault-free normal
// run, each of which must complete with exactly the firmware in the radio.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "firmware/CCommFile.h"

namespace kestro::soak {

struct CaseResult {
    std::string outcome;           // the end the faulted run took (a RunEnd name)
    bool recovery = false;         // a recovery run followed
    bool followUp = false;         // a fault-free normal run followed
    bool recoveryRefused = false;  // a radio that needed no recovery refused the recovery run
    std::string description;       // the image size and the faults drawn
    std::chrono::milliseconds virtualTime{0};  // virtual time the case's runs took
    std::vector<std::string> violations;
    // Findings of runs in which the radio took a request that the kit never sent: line damage
    // that the check bytes could not see. They are no fault of the kit and no violation.
    std::size_t forgedRequests = 0;
    std::vector<std::string> forgedFindings;
};

// Ways for tests to make a case go wrong behind the kit's back, to show the checks catch it.
struct SoakHooks {
    // Called with every request the kit sends, after the line's damage.
    std::function<void(std::vector<std::uint8_t>&)> rewriteRequest;
};

class SoakRunner {
  public:
    // Writes the firmware files of every soak image size into `folder`, which must exist.
    explicit SoakRunner(std::filesystem::path folder, SoakHooks hooks = {});

    // Case `index` of the soak seeded with `seed`: the same pair always draws the same case.
    CaseResult RunCase(std::uint64_t seed, std::size_t index) const;

  private:
    struct Image {
        std::size_t applicationRows;
        std::filesystem::path path;
        CCommFile file;  // the table the kit must build from it
    };

    std::filesystem::path m_folder;
    SoakHooks m_hooks;
    std::vector<Image> m_images;
};

}  // namespace kestro::soak
