#pragma once
// The texts the upgrade procedure shows, spelled exactly as the kit shows them, trailing blanks
// and "\r\n\r\n" included.

namespace kestro::texts {

// Status line
inline constexpr const char* kStartTheUpgrade = "Start the Upgrade";
inline constexpr const char* kCheckConnection = "Please check the connection.";
inline constexpr const char* kCheckingBattery = "Checking the Battery status";
inline constexpr const char* kCompareFirmware = "Compare the Firmware";
inline constexpr const char* kCheckingCodeplug = "Checking the codeplug file. Please wait....";
inline constexpr const char* kRestoringCodeplug = " Restoring codeplug file...";
inline constexpr const char* kCodeplugCompleted = "Completed the program codplug file. ";
inline constexpr const char* kPreparingUpdate = "Preparing to firmware update. Please wait....";
inline constexpr const char* kUpdatingFirmware = "Updating firmware to device...";
inline constexpr const char* kSelfProgram = "Start Self Program !";
inline constexpr const char* kEraseFlash = "Erase Flash ! ";
inline constexpr const char* kUpdatingDontPowerOff =
    "Updating firmware to device... Please Don't Power Off.";
inline constexpr const char* kBootErase = "Boot Erase Block ! ";
inline constexpr const char* kBootWriting = "Boot Writing !";
inline constexpr const char* kBootSwap = "Boot Swap ! ";
inline constexpr const char* kCompleted = "Completed the program firmware file.";
// The kit's own, after the end of programming, where a front end asks for a confirmation.
inline constexpr const char* kWaitingForRestart = "Waiting for the radio to restart...";

// Progress labels
inline constexpr const char* kFirmwareWriting = "Firmware Writing";
inline constexpr const char* kFirmwareWritingPrefix = "Firmware Writing ";
inline constexpr const char* kBootWritingPrefix = "Boot Writing ";

// Message boxes
inline constexpr const char* kNoDeviceDetected =
    "No device detected. Please check the connection and try again.";
inline constexpr const char* kUnableToTxThread = "Unable to TX Thread";
inline constexpr const char* kCommError1 =
    "Communication Error #1 \r\n\r\nUnable to detect applicable device. Check if a compatible "
    "programming cable is used. ";
inline constexpr const char* kReadError12 =
    "Read Error #12 \r\n\r\nUnable to read the device; radio is disabled state. ";
inline constexpr const char* kModelMismatch = "Unable to write. Mismatch model type and update file. ";
inline constexpr const char* kReadError8 =
    "Read Error #8 \r\n\r\nUnable to write. Battery power is low. Use a fully charged battery.";
inline constexpr const char* kErrorReadModel = "Error to Read Model Number.";
inline constexpr const char* kProgramError15 = "Program Error #15 \r\n\r\nUnsupported model number.";
inline constexpr const char* kErrorReadFirmware = "Error to Read Firmware Version.";
inline constexpr const char* kFirmwareNotOlder =
    "WARNING: The firmware version of device must be less than the R01.04. ";
inline constexpr const char* kErrorReadSerial = "Error to Read Serial Number.";
inline constexpr const char* kReadError1 =
    "Read Error #1 \r\n\r\nUnable to read the Device; connection timed out. Please try again.";
inline constexpr const char* kReadError2 = "Read Error #2 \r\n\r\nUnable to read the Device. Please try again.";
inline constexpr const char* kReadError4 = "Read Error #4 \r\n\r\nUnable to read the device. Please try again. ";
inline constexpr const char* kCodeplugWriteError2 = "Write Error #2 \r\n\r\nUnable to write. Please try again. ";
inline constexpr const char* kCodeplugWriteError3 = "Write Error #3 \r\n\r\nUnable to write. Please try again. ";
inline constexpr const char* kErrorResetMode = "Error to Reset Mode.";
inline constexpr const char* kWriteError10 = "Write Error #10 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError1 =
    "Write Error #1 \r\n\r\nUnable to write; connection timed out. Please try again.";
inline constexpr const char* kWriteError2 = "Write Error #2 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError3 = "Write Error #3 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError4 = "Write Error #4 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError5 = "Write Error #5 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError6 = "Write Error #6 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError7 = "Write Error #7 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kWriteError8 = "Write Error #8 \r\n\r\nUnable to write. Please try again.";
inline constexpr const char* kLogOpenFailed = "Failed to create or open the file!";

// Our own: a run that was asked to stop ends at its next wait with one of these.
inline constexpr const char* kInterrupted =
    "Upgrade interrupted. \r\n\r\nThe upgrade was stopped before it completed. Please try again.";
inline constexpr const char* kInterruptedNeedsRecovery =
    "Upgrade interrupted. \r\n\r\nThe radio was left between erase and boot swap and needs a "
    "recovery run: start the Upgrade again to finish programming it.";

// Our own: the recovery record could not be written, so the run ends before the erase. The
// folder and the reason follow as the box's detail.
inline constexpr const char* kRecordNotWritten =
    "Upgrade stopped. \r\n\r\nThe kit could not write its recovery record, so it did not erase "
    "the radio: the radio's firmware is as it was. Make the kit's state folder writable and try "
    "again.";

// Our own: guidance beside the messages of a run.
inline constexpr const char* kGuideRadioMayHaveNoFirmware =
    "The radio may now have no working firmware: the next Upgrade (Ctrl+U) finishes it.";
inline constexpr const char* kGuideNoRecoveryNeeded =
    "The radio answered and needed no recovery: recovery mode has ended.";

// Log results
inline constexpr const char* kLogOk = "OK";
inline constexpr const char* kLogError1 = "Error #1";
inline constexpr const char* kLogError2 = "Error #2";
inline constexpr const char* kLogError3 = "Error #3";
inline constexpr const char* kLogError5 = "Error #5";
inline constexpr const char* kLogError7 = "Error #7";

// The supported radio and the kit's own versions.
inline constexpr const char* kSupportedModel = "QXM27TPL4RC8ZN";
inline constexpr const char* kKitFirmwareVersion = "R01.04";
inline constexpr const char* kKitCodeplugVersion = "R01.00";

}  // namespace kestro::texts
