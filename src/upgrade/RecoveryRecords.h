#pragma once
// Recovery records: the kit's memory, across restarts, of radios that a run may have left between
// the erase and the boot swap. One small file per radio (its port and its serial number) in the
// kit's state folder, on the disk before the erase goes out and removed once that radio's boot
// swap is acknowledged, so that a kit that was closed, killed or lost power mid-run still knows
// which radio has no working firmware, and a second radio on the same cable never erases the
// first one's record.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct RecoveryRecord {
    std::string portName;  // "COM33": how the settings and the command line name the port
    std::string device;    // the device opened, by its canonical path ("/dev/ttyUSB0"); may be empty
    std::string serial;    // the radio's serial number, its bytes exactly as read; empty: unknown
    std::string firmware;  // the firmware file the run wrote; may be empty
    std::time_t since = 0; // when the erase was about to go out
    // Not empty for a record file that was torn (empty or cut short): why it cannot be read.
    // Its port comes from the file's name; its serial number is not known.
    std::string damage;
    std::string cable;     // the cable's stable identity (CableIdentityIn); "" where it has none
    // Not kept in the file: the device that the record's cable has now, when it came back under
    // another name than `device` (ttyUSB0 re-plugged as ttyUSB1).
    std::string movedTo;

    bool Damaged() const { return !damage.empty(); }
    // The port as the command line takes it: the device path where there is one (the one the
    // cable has now, when it moved).
    std::string PortArgument() const { return !movedTo.empty() ? movedTo : device.empty() ? portName : device; }
    // "COM33 (/dev/ttyUSB0)", or the port name alone (the device alone when no name is known);
    // "..., now /dev/ttyUSB1" when the cable moved.
    std::string Describe() const;
    // "2026-12-09 19:30" in local time.
    std::string SinceText() const;
    // The serial number as text: printable characters as they are, any other byte as \xHH.
    std::string ShownSerial() const;
    // "the radio KS24001735 on COM33 (/dev/ttyUSB0)", or "the radio on ..." when not known.
    std::string RadioText() const;
    // Whether this record is for `port` (a record with no serial number, as the hub names a
    // port): the same device under any of its names when both name one, else the same port
    // name; or the same cable, come back under another device name.
    bool OnPort(const RecoveryRecord& port) const;
    // Whether two records are kept in the same file: the same port and the same radio.
    bool SameRadio(const RecoveryRecord& other) const;
};

class CRecoveryRecords {
public:
    // An empty folder keeps no records: Mark and Clear then do nothing, All finds nothing.
    explicit CRecoveryRecords(std::filesystem::path folder = {}) : m_folder(std::move(folder)) {}

    void SetFolder(std::filesystem::path folder) { m_folder = std::move(folder); }
    const std::filesystem::path& Folder() const { return m_folder; }
    bool Enabled() const { return !m_folder.empty(); }

    // Whether a record can be written into the folder now: a probe record is written durably and
    // removed. False with `error` naming the folder and the reason.
    bool CanWrite(std::string& error) const;
    // Writes the record of its radio durably (on the disk when this returns true), replacing an
    // earlier one of the same port and serial number. False with `error` naming the folder and
    // the reason.
    bool Mark(const RecoveryRecord& record, std::string& error) const;
    bool Mark(const RecoveryRecord& record) const {
        std::string ignored;
        return Mark(record, ignored);
    }
    // Removes the record of the same port and serial number (the torn file itself for a damaged
    // record), if any.
    void Clear(const RecoveryRecord& record) const;

    // Every record, oldest first. Torn record files are returned as damaged records. Files that
    // are foreign, too large, not regular files or unreadable are skipped, and `note` (when given)
    // gets one line that says so; so are records of devices that are no longer present.
    std::vector<RecoveryRecord> All(std::string* note = nullptr) const;
    // The records of one port (see RecoveryRecord::OnPort), oldest first.
    std::vector<RecoveryRecord> ForPort(const RecoveryRecord& port, std::string* note = nullptr) const;

    // The file that holds the record of a radio.
    std::filesystem::path FileFor(const RecoveryRecord& record) const;

private:
    std::filesystem::path m_folder;
};

// Parses the text of a record file; nullopt for anything that is not a whole record of this kit.
std::optional<RecoveryRecord> ParseRecoveryRecord(const std::string& text);
std::string FormatRecoveryRecord(const RecoveryRecord& record);

// A port as records name it: `device` by its canonical path and its cable's identity, under
// `portName`.
RecoveryRecord PortRecord(std::string portName, const std::string& device);

// The folder for records: the log's default folder, whatever log file a front end was told to use.
std::filesystem::path DefaultRecoveryFolder();

// "the radio KS1 on COM33, the radio KS2 on COM33": every record, for a line of text.
std::string DescribeRadios(const std::vector<RecoveryRecord>& records);

}  // namespace kestro
