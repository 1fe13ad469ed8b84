#pragma once
// The texts of the window itself: menus, prompts, tool tips, the About box and the port settings
// dialog, spelled exactly as the kit shows them. The upgrade's own texts live in upgrade/Texts.h.

namespace kestro::uitexts {

inline constexpr const char* kMainTitle = "Kestro Upgrade Kit";
inline constexpr const char* kApplicationName = "Kestro UpgradeKit";
inline constexpr const char* kOrganisation = "Local AppWizard-Generated Applications";
inline constexpr const char* kReady = "Ready";

// Menus
inline constexpr const char* kFileMenu = "&File";
inline constexpr const char* kViewMenu = "&View";
inline constexpr const char* kToolsMenu = "&Tools";
inline constexpr const char* kHelpMenu = "&Help";
inline constexpr const char* kUpgradeItem = "Upgrade\tCtrl+U";
inline constexpr const char* kExitItem = "E&xit";
inline constexpr const char* kToolbarItem = "&Toolbar";
inline constexpr const char* kStatusBarItem = "&Status Bar";
inline constexpr const char* kSystemSetupItem = "System Setup\tCtrl+T";
inline constexpr const char* kAboutItem = "&About Upgrade Kit...";

// Status-bar prompts and tool tips
inline constexpr const char* kSetupPrompt = "Configure serial communication port";
inline constexpr const char* kSetupTip = "Setup";
inline constexpr const char* kExitPrompt = "Quit the application; prompts to save documents";
inline constexpr const char* kExitTip = "Exit";
inline constexpr const char* kToolbarPrompt = "Show or hide the toolbar";
inline constexpr const char* kToolbarTip = "Toggle ToolBar";
inline constexpr const char* kStatusBarPrompt = "Show or hide the status bar";
inline constexpr const char* kStatusBarTip = "Toggle Status Bar";
inline constexpr const char* kAboutPrompt =
    "Display program information, version number and copyright";
inline constexpr const char* kAboutTip = "About";

// The form
inline constexpr const char* kWelcome = "Welcom to Vantrel Kestro Upgrade Kit";
inline constexpr const char* kDescription = "Description";
inline constexpr const char* kFirmwareVersionLabel = " - Firmware Version : ";
inline constexpr const char* kCodeplugVersionLabel = " - Codeplug Version : ";
// What screen readers call the two version boxes (not shown).
inline constexpr const char* kFirmwareVersionName = "Firmware version";
inline constexpr const char* kCodeplugVersionName = "Codeplug version";
inline constexpr const char* kFormFontFamily = "Microsoft Sans Serif";
inline constexpr int kFormFontPoints = 10;

// The About box
inline constexpr const char* kAboutTitle = "About Kestro UpgradeKit";
inline constexpr const char* kAboutName = "Kestro Upgrade Kit";
inline constexpr const char* kAboutVersion =
    "Version R01.04                      Build date : September 6th, 2022";
inline constexpr const char* kOk = "OK";
inline constexpr int kDialogFontPoints = 8;

// The port settings dialog
inline constexpr const char* kSetupCaption = "Dialog";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kSetupGroup = "Serial Communication Setting";
inline constexpr const char* kAutoDetect = "Auto Detect COM Port";
inline constexpr const char* kSelectPort = "Select COM Port";
inline constexpr const char* kBaudRate = "Baud Rate :  76,800 bps";
inline constexpr const char* kYes = "Yes";
inline constexpr const char* kNo = "No";

// Our own: OK pressed with no port in the list, and a close refused during a run.
inline constexpr const char* kNoPortToStore =
    "No serial port is present, so the port setting was not changed.";
// Our own: after a saved port's name when that port is not present now.
inline constexpr const char* kNotPresentSuffix = " (not present)";
inline constexpr const char* kCloseDuringRun =
    "An upgrade is in progress. \r\n\r\nClosing the kit now could leave the radio between erase "
    "and boot swap, needing a recovery run. Please wait until the upgrade has ended.";

// Our own: recovery mode, made visible, and hints where the user could be stuck.
inline constexpr const char* kRecoveryPane = "Recovery: next Upgrade programs at once";
inline constexpr const char* kRecoveryTip =
    "An upgrade stopped between \"Erase Flash\" and \"Boot Swap\" (or Ctrl+Alt+U was pressed), so "
    "the radio may have no working firmware.\nThe next Upgrade skips detection and the checks "
    "and goes straight to programming.\nA completed upgrade ends this mode; so does a radio that "
    "answers and refuses programming, since no interrupted upgrade left it waiting.";
// %1 the radio ("the radio KS24001735 on COM33 (/dev/ttyUSB0)"), %2 when it stopped.
inline constexpr const char* kRecoveryRemembered =
    "An upgrade of %1 did not finish (it stopped between erase and boot swap on %2), so that "
    "radio may have no working firmware.\n\nThe next Upgrade goes straight to programming and "
    "finishes it: connect that radio and choose Upgrade.";
// The same for a port that the next Upgrade does not open; %3 the port it opens, %4 the
// record's port.
inline constexpr const char* kRecoveryElsewhereAuto =
    "An upgrade of %1 did not finish (it stopped between erase and boot swap on %2), so that "
    "radio may have no working firmware.\n\nAuto Detect finds %3. To finish that radio, plug it "
    "into the cable that Auto Detect finds and press Ctrl+Alt+U, or choose %4 in System Setup "
    "(Ctrl+T) and choose Upgrade.";
inline constexpr const char* kRecoveryElsewhereFixed =
    "An upgrade of %1 did not finish (it stopped between erase and boot swap on %2), so that "
    "radio may have no working firmware.\n\nThe next Upgrade opens %3. To finish that radio, "
    "choose %4 in System Setup (Ctrl+T) and choose Upgrade.";
// Records of the port the next Upgrade opens while another run holds that port; %1 the port.
inline constexpr const char* kRecoveryRunInProgress =
    "A run is in progress on %1: another Kestro Upgrade Kit (or another program) holds that port. "
    "Its recovery records belong to that run, so this window does not take them over; the next "
    "Upgrade checks the radio as usual.";
inline constexpr const char* kCableOnPort = "the programming cable on %1";
inline constexpr const char* kNoCableFound = "no programming cable now";
inline constexpr const char* kRecoveryRememberedTitle = "Kestro Upgrade Kit";
inline constexpr const char* kSilentRadioHint =
    "A radio that an interrupted upgrade left without firmware answers nothing; Ctrl+Alt+U "
    "finishes it.";

}  // namespace kestro::uitexts
