#pragma once
// One hub in virtual time against the simulated radio: a virtual clock, the simulated radio on
// its virtual link, settings kept in memory and the hub, its worker run inline inside the
// Upgrade command, built in the order in which they must live and go. The soak, the benchmarks
// and the tests of whole runs without a line all build on this one assembly; the shipped
// programs do not link it.

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/Settings.h"
#include "platform/VirtualClock.h"
#include "radio/SimRadio.h"
#include "radio/VirtualLink.h"
#include "upgrade/UpgradeHub.h"

namespace kestro {

// Tells no one anything; a base for reporters that keep only what they need.
class SilentReporter : public IReporter {
public:
    void SetStatusText(const std::string&) override {}
    void SetProgressText(const std::string&) override {}
    void SetProgress(int) override {}
    void ShowProgress(bool) override {}
    void MessageBox(const std::string&, TitleKind, Icon) override {}
};

struct VirtualRunOptions {
    std::filesystem::path firmwarePath;    // the firmware file the hub loads at each run
    std::filesystem::path logPath;         // the CSV log; empty: the platform's log
    std::filesystem::path recoveryFolder;  // where recovery records go; empty: none are kept
    SimRadioConfig radio;                  // how the simulated radio behaves
    IReporter* reporter = nullptr;         // what the hub tells; null: no one
};

// What a rebuilt hub does differently from the one the options describe.
struct VirtualHubChanges {
    IPortEngine* engine = nullptr;     // stands between the hub and the link (a damaged line)
    IPortOwner* portOwner = nullptr;   // receives the link's bytes before the hub
    std::optional<std::filesystem::path> logPath = std::nullopt;  // the log elsewhere
    Millis confirmWait{0};             // a confirmation after the upgrade (CUpgradeHub::Options)
};

class VirtualRun {
public:
    explicit VirtualRun(VirtualRunOptions options);
    ~VirtualRun();
    VirtualRun(const VirtualRun&) = delete;
    VirtualRun& operator=(const VirtualRun&) = delete;

    // Replaces the hub with one built from the options and `changes`, shown as the window shows
    // its own (OnInitialUpdate); the earlier hub and what it had armed go.
    CUpgradeHub& RebuildHub(const VirtualHubChanges& changes);
    // One Upgrade command: the whole run, in virtual time, before this returns.
    StartResult Upgrade() { return hub->OnUpgrade(); }

    VirtualClock clock;
    SimRadio radio;
    VirtualLink link{clock, radio};
    MemorySettings settings;
    std::unique_ptr<CUpgradeHub> hub;

private:
    VirtualRunOptions m_options;
    SilentReporter m_silent;  // the reporter when the options give none
};

}  // namespace kestro
