#pragma once
// Recovery records: the kit's memory, across restarts, of radios that a run may have left between
// the erase and the boot swap. One small file per port in the kit's state folder, written before
// the erase goes out and removed once the boot swap is acknowledged, so that a kit that was
// closed, killed or lost power mid-run still knows which radio has no working firmware.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct RecoveryRecord {
    std::string portName;  // "COM33": how the settings and the command line name the port
    std::string device;    // the device opened ("/dev/ttyUSB0"); may be empty
    std::string serial;    // the radio's serial number when the run had read it; may be empty
    std::time_t since = 0; // when the erase was about to go out

    // The port as the command line takes it: the device path where there is one.
    std::string PortArgument() const { return device.empty() ? portName : device; }
    // "COM33 (/dev/ttyUSB0)", or the port name alone.
    std::string Describe() const;
    // "2026-12-09 19:30" in local time.
    std::string SinceText() const;
};

class CRecoveryRecords {
public:
    // An empty folder keeps no records: Mark, Clear and Find then do nothing.
    explicit CRecoveryRecords(std::filesystem::path folder = {}) : m_folder(std::move(folder)) {}

    void SetFolder(std::filesystem::path folder) { m_folder = std::move(folder); }
    const std::filesystem::path& Folder() const { return m_folder; }
    bool Enabled() const { return !m_folder.empty(); }

    // Writes the record for its port atomically (a temporary file, then a rename). Returns false
    // when it could not be written; the run goes on regardless.
    bool Mark(const RecoveryRecord& record) const;
    // Removes the record of the port, if any.
    void Clear(const RecoveryRecord& port) const;

    // Every readable record. Files that are damaged, foreign, too large, not regular files or
    // unreadable are skipped, and `note` (when given) gets one line that says so. Records of
    // devices that are no longer present are skipped the same way.
    std::vector<RecoveryRecord> All(std::string* note = nullptr) const;
    // The record for this port, matched by device when both have one, else by port name.
    std::optional<RecoveryRecord> Find(const std::string& portName, const std::string& device,
                                       std::string* note = nullptr) const;

    // The file that holds the record of a port.
    std::filesystem::path FileFor(const RecoveryRecord& port) const;

private:
    std::filesystem::path m_folder;
};

// Parses the text of a record file; nullopt for anything that is not a record of this kit.
std::optional<RecoveryRecord> ParseRecoveryRecord(const std::string& text);
std::string FormatRecoveryRecord(const RecoveryRecord& record);

// The folder for records: the log's default folder, whatever log file a front end was told to use.
std::filesystem::path DefaultRecoveryFolder();

}  // namespace kestro
