#include "upgrade/RecoveryRecords.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "log/UpgradeLog.h"
#include "platform/DurableFile.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"

namespace kestro {
namespace {

constexpr const char* kMagic = "kestro-upgrade-kit recovery record 1";
constexpr const char* kPrefix = "recovery-";
constexpr const char* kSuffix = ".state";
constexpr char kSerialMark = '+';  // never kept as itself in a key, so it parts port and serial
// A record is a few short lines; anything larger is not one of ours.
constexpr std::uintmax_t kMaxRecordBytes = 4096;

bool Printable(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

bool KeptInKey(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The port's device or name as a file name: letters, digits, '.', '_' and '-' stay, every other
// byte becomes %XX, so that two ports never share a file.
std::string FileKey(const RecoveryRecord& port) {
    const std::string& key = port.device.empty() ? port.portName : port.device;
    std::string out;
    for (const char c : key) {
        if (KeptInKey(c)) {
            out += c;
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        }
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char code[3];
    for (const char c : bytes) {
        std::snprintf(code, sizeof code, "%02X", static_cast<unsigned char>(c));
        out += code;
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> FromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

// What the name of a record file tells: its port and its radio's serial number.
std::optional<RecoveryRecord> FromFileName(const std::string& name) {
    std::string stem = name.substr(std::string(kPrefix).size(),
                                   name.size() - std::string(kPrefix).size() - std::string(kSuffix).size());
    RecoveryRecord record;
    if (const auto mark = stem.find(kSerialMark); mark != std::string::npos) {
        auto serial = FromHex(stem.substr(mark + 1));
        if (!serial) return std::nullopt;
        record.serial = std::move(*serial);
        stem.erase(mark);
    }
    std::string key;
    for (std::size_t i = 0; i < stem.size(); ++i) {
        if (stem[i] != '%') {
            key += stem[i];
            continue;
        }
        auto byte = i + 2 < stem.size() ? FromHex(stem.substr(i + 1, 2)) : std::nullopt;
        if (!byte) return std::nullopt;
        key += *byte;
        i += 2;
    }
    if (key.empty()) return std::nullopt;
    if (key.find_first_of("/\\") != std::string::npos) {  // a device path, not a port name
        record.device = key;
        if (const auto number = PortNumberForDevice(key)) record.portName = PortName(*number);
    } else {
        record.portName = key;
    }
    return record;
}

// A file that holds the first part of a record and then ends: a write torn by a crash.
bool TornRecord(const std::string& text) {
    const std::string magic = kMagic;
    if (text.size() <= magic.size()) return magic.compare(0, text.size(), text) == 0;
    return text.compare(0, magic.size(), magic) == 0 && text[magic.size()] == '\n';
}

std::time_t ModifiedAt(const std::filesystem::path& path) {
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
}

// A device named by a path that is gone: the cable was unplugged, or the record is stale.
bool DeviceGone(const RecoveryRecord& record) {
    if (record.device.empty() || record.device.front() != '/') return false;
    std::error_code ec;
    return !std::filesystem::exists(record.device, ec);
}

// A device path by its canonical name, so that a link to a device (/dev/serial/by-id/..., a
// pseudo-terminal's alias) and a relative path name the device itself; other names (COM5, a
// Windows device) as they are.
std::string Canonical(const std::string& device) {
    if (device.empty() || device.find('/') == std::string::npos) return device;
    std::error_code ec;
    const auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(device, ec), ec);
    return ec ? device : path.string();
}

// The one present device of the record's cable, when its own device is gone; "" when none or
// several (cables of one kind often share their serial string).
std::string MovedTo(const RecoveryRecord& record) {
    if (record.cable.empty() || !DeviceGone(record)) return {};
    const auto devices = DevicesWithIdentityIn(DefaultSysfsRoot(), record.cable);
    return devices.size() == 1 && devices.front() != record.device ? devices.front() : std::string{};
}

void AddNote(std::string* note, const std::string& text) {
    // One line at most, however many files are odd.
    if (note != nullptr && note->empty()) *note = text;
}

}  // namespace

std::string RecoveryRecord::Describe() const {
    const std::string moved = movedTo.empty() ? std::string{} : ", now " + movedTo;
    if (portName.empty()) return movedTo.empty() ? device : device + " (now " + movedTo + ")";
    if (device.empty() || device == portName) return portName;
    return portName + " (" + device + moved + ")";
}

std::string RecoveryRecord::SinceText() const {
    const std::tm local = LocalTime(since);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string RecoveryRecord::ShownSerial() const { return ShownBytes(serial); }

std::string RecoveryRecord::RadioText() const {
    return (serial.empty() ? std::string("the radio on ") : "the radio " + ShownSerial() + " on ") +
           Describe();
}

bool RecoveryRecord::OnPort(const RecoveryRecord& port) const {
    if (!device.empty() && !port.device.empty()) {
        if (device == port.device || Canonical(device) == Canonical(port.device)) return true;
        // The same cable under a new name: only while its old device is gone, since two cables
        // present at once may share an identity.
        return !cable.empty() && cable == port.cable && DeviceGone(*this);
    }
    return !port.portName.empty() && portName == port.portName;
}

bool RecoveryRecord::SameRadio(const RecoveryRecord& other) const {
    return OnPort(other) && serial == other.serial;
}

RecoveryRecord PortRecord(std::string portName, const std::string& device) {
    RecoveryRecord port;
    port.portName = std::move(portName);
    port.device = Canonical(device);
    if (!port.device.empty()) port.cable = CableIdentityIn(DefaultSysfsRoot(), port.device);
    return port;
}

std::string FormatRecoveryRecord(const RecoveryRecord& record) {
    // A value is one line of printable text; the serial number's own bytes go in hexadecimal.
    const auto value = [](std::string text) {
        for (char& c : text) {
            if (!Printable(std::string(1, c))) c = '?';
        }
        return text;
    };
    std::ostringstream out;
    out << kMagic << '\n'
        << "port=" << value(record.portName) << '\n'
        << "device=" << value(record.device) << '\n'
        << "cable=" << value(record.cable) << '\n'
        << "serial=" << value(record.ShownSerial()) << '\n'
        << "serial-hex=" << Hex(record.serial) << '\n'
        << "firmware=" << value(record.firmware) << '\n'
        << "since=" << static_cast<long long>(record.since) << '\n';
    return out.str();
}

std::optional<RecoveryRecord> ParseRecoveryRecord(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return std::nullopt;
    RecoveryRecord record;
    bool haveSince = false;
    std::optional<std::string> rawSerial;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (!Printable(value)) return std::nullopt;
        if (key == "port") {
            record.portName = std::move(value);
        } else if (key == "device") {
            record.device = std::move(value);
        } else if (key == "cable") {
            record.cable = std::move(value);
        } else if (key == "serial") {
            record.serial = std::move(value);  // records of earlier kits carry only this
        } else if (key == "serial-hex") {
            rawSerial = FromHex(value);
            if (!rawSerial) return std::nullopt;
        } else if (key == "firmware") {
            record.firmware = std::move(value);
        } else if (key == "since") {
            try {
                std::size_t used = 0;
                const long long seconds = std::stoll(value, &used);
                if (used != value.size() || seconds < 0) return std::nullopt;
                record.since = static_cast<std::time_t>(seconds);
                haveSince = true;
            } catch (const std::exception&) {
                return std::nullopt;
            }
        }
        // Other keys may come from a later kit; they do not make the record unusable.
    }
    if (rawSerial) record.serial = std::move(*rawSerial);
    // The last line ends with its line break: a record cut inside it is not whole.
    if (record.portName.empty() || !haveSince || text.back() != '\n') return std::nullopt;
    return record;
}

std::filesystem::path CRecoveryRecords::FileFor(const RecoveryRecord& record) const {
    std::string name = kPrefix + FileKey(record);
    if (!record.serial.empty()) name += kSerialMark + Hex(record.serial);
    return m_folder / (name + kSuffix);
}

bool CRecoveryRecords::CanWrite(std::string& error) const {
    if (!Enabled()) return true;
    const auto probe = m_folder / "probe.tmp";
    std::string detail;
    if (!WriteFileDurably(probe, "probe\n", detail)) {
        error = "The recovery record cannot be written in " + m_folder.string() + ": " + detail;
        return false;
    }
    RemoveFileDurably(probe, detail);
    return true;
}

bool CRecoveryRecords::Mark(const RecoveryRecord& record, std::string& error) const {
    if (!Enabled()) return true;
    std::string detail;
    if (!WriteFileDurably(FileFor(record), FormatRecoveryRecord(record), detail)) {
        error = "The recovery record cannot be written in " + m_folder.string() + ": " + detail;
        return false;
    }
    return true;
}

void CRecoveryRecords::Clear(const RecoveryRecord& record) const {
    if (!Enabled()) return;
    std::string ignored;
    RemoveFileDurably(FileFor(record), ignored);
}

std::vector<RecoveryRecord> CRecoveryRecords::All(std::string* note) const {
    std::vector<RecoveryRecord> records;
    if (!Enabled()) return records;
    std::error_code ec;
    std::filesystem::directory_iterator it(m_folder, ec);
    if (ec) return records;  // no folder yet: no records
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto& path = it->path();
        const std::string name = path.filename().string();
        if (name.rfind(kPrefix, 0) != 0 || name.size() <= std::string(kPrefix).size() + std::string(kSuffix).size() ||
            name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) != 0) {
            continue;  // not a record file (the log, a temporary file, something else's)
        }
        const std::string ignored = "ignoring the recovery record " + path.string() + ": ";
        std::error_code fileError;
        if (!std::filesystem::is_regular_file(path, fileError)) {
            AddNote(note, ignored + "it is not a file");
            continue;
        }
        const auto size = std::filesystem::file_size(path, fileError);
        if (fileError || size > kMaxRecordBytes) {
            AddNote(note, ignored + (fileError ? "it cannot be read" : "it is too large"));
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in && size != 0) {
            AddNote(note, ignored + "it cannot be read");
            continue;
        }
        auto record = ParseRecoveryRecord(text.str());
        if (!record && TornRecord(text.str())) {
            // The kit was cut off while it wrote: the radio on that port may need recovery all
            // the same, and the file's name still says which port (and radio) it was.
            record = FromFileName(name);
            if (record) {
                record->damage = text.str().empty() ? "the record is empty" : "the record is cut short";
                record->since = ModifiedAt(path);
            }
        }
        if (!record) {
            AddNote(note, ignored + "it is damaged or not the kit's");
            continue;
        }
        record->movedTo = MovedTo(*record);
        if (record->movedTo.empty() && DeviceGone(*record)) {
            AddNote(note, ignored + record->device + " is not present");
            continue;
        }
        records.push_back(std::move(*record));
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const RecoveryRecord& a, const RecoveryRecord& b) { return a.since < b.since; });
    return records;
}

std::vector<RecoveryRecord> CRecoveryRecords::ForPort(const RecoveryRecord& port, std::string* note) const {
    std::vector<RecoveryRecord> found;
    for (auto& record : All(note)) {
        if (record.OnPort(port)) found.push_back(std::move(record));
    }
    return found;
}

std::filesystem::path DefaultRecoveryFolder() { return DefaultLogPath().parent_path(); }

std::string DescribeRadios(const std::vector<RecoveryRecord>& records) {
    std::string text;
    for (const RecoveryRecord& record : records) {
        if (!text.empty()) text += ", ";
        text += record.RadioText();
        if (record.Damaged()) text += " (" + record.damage + ")";
    }
    return text;
}

}  // namespace kestro
