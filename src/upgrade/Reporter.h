#pragma once
// What a front end gives the upgrade procedure: the status line, the progress bar with its label,
// and blocking message boxes. The worker calls these from its own thread; a front end must carry
// them out safely (the window forwards them to its UI thread before returning).

#include <string>

namespace kestro {

enum class TitleKind {
    Kit,          // "Kestro Upgrade Kit"
    Application,  // "Kestro UpgradeKit", the application's name, for boxes that name no caption
    PortError     // "Application Error", for failures of the port itself
};

enum class Icon { None = 0, Error = 0x10, Warning = 0x30, Information = 0x40 };

inline constexpr const char* kKitTitle = "Kestro Upgrade Kit";
inline constexpr const char* kApplicationTitle = "Kestro UpgradeKit";
inline constexpr const char* kPortErrorTitle = "Application Error";

inline const char* TitleText(TitleKind kind) {
    switch (kind) {
        case TitleKind::Kit: return kKitTitle;
        case TitleKind::Application: return kApplicationTitle;
        case TitleKind::PortError: return kPortErrorTitle;
    }
    return kApplicationTitle;
}

inline const char* IconName(Icon icon) {
    switch (icon) {
        case Icon::Error: return "error";
        case Icon::Warning: return "warning";
        case Icon::Information: return "information";
        case Icon::None: return "none";
    }
    return "none";
}

// Sentences of guidance that a run gives beside its messages, which stay exactly as they are.
enum class Guidance {
    RadioMayHaveNoFirmware,  // a run failed between erase and boot swap
    NoRecoveryNeeded,        // a recovery run's radio answered and refused programming
    OtherRadiosRecordKept,   // the radio on this port is not the one a record there names
};

class IReporter {
public:
    virtual ~IReporter() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetProgressText(const std::string& label) = 0;
    virtual void SetProgress(int position) = 0;  // 0..100
    virtual void ShowProgress(bool show) = 0;
    // Modal, one OK button; returns when the user has closed it.
    virtual void MessageBox(const std::string& text, TitleKind title, Icon icon) = 0;
    // The same box with a longer explanation (what the kit tried, what to do) that a front end
    // shows beside the text, which stays exactly as it is. By default the detail is left out.
    virtual void MessageBoxWithDetail(const std::string& text, TitleKind title, Icon icon,
                                      const std::string& /*detail*/) {
        MessageBox(text, title, icon);
    }
    // The recovery flag changed: while it is set, the next run goes straight to programming.
    // Called on whichever thread changed it.
    virtual void RecoveryModeChanged(bool /*armed*/) {}
    // One sentence of guidance; `text` is the kit's own wording, which a front end may replace
    // with one that names its own way to go on. Called on the worker's thread.
    virtual void Guide(Guidance /*kind*/, const std::string& /*text*/) {}
};

}  // namespace kestro
