#include "UpgradeTestSupport.h"

#include <cstdlib>
#include <sstream>

#include "serial/PortNames.h"

namespace kestro::test {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LogLines(const std::filesystem::path& path) {
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (!lines.empty() && lines.front() == kLogHeader) lines.erase(lines.begin());
    return lines;
}

std::optional<std::vector<std::vector<std::string>>> CsvRecords(const std::filesystem::path& log) {
    const std::filesystem::path python = "/usr/bin/python3";
    if (!std::filesystem::exists(python)) return std::nullopt;
    // Each field in hexadecimal, so that any byte the reader hands back survives the trip.
    const auto script = log.parent_path() / "read-csv.py";
    std::ofstream(script) << "import csv, sys\n"
                             "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='latin-1')))\n"
                             "for r in rows[1:]:\n"
                             "    print(' '.join('x' + f.encode('latin-1').hex() for f in r))\n";
    const auto out = log.parent_path() / "read-csv.txt";
    const std::string command = python.string() + " " + script.string() + " " + log.string() + " > " + out.string();
    if (std::system(command.c_str()) != 0) return std::nullopt;
    std::vector<std::vector<std::string>> records;
    std::istringstream lines(ReadFile(out));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            std::string field;
            for (std::size_t i = 1; i + 1 < word.size(); i += 2) {
                field += static_cast<char>(std::stoi(word.substr(i, 2), nullptr, 16));
            }
            fields.push_back(field);
        }
        records.push_back(fields);
    }
    return records;
}

HexBuilder SmallFirmware(int appRows) {
    HexBuilder firmware;
    for (std::uint32_t row = 0; row < 256; row += 17) firmware.Filled(row);
    for (int i = 0; i < appRows; ++i) firmware.Filled(0x200 + static_cast<std::uint32_t>(i));
    return firmware;
}

VirtualRunFiles::VirtualRunFiles(int appRows)
    : firmware(SmallFirmware(appRows)),
      firmwarePath(dir.path() / "firmware.pvx"),
      logPath(dir.path() / "log" / "Kestro_UpdateKit_log.csv"),
      device((dir.path() / "ttyVirtual").string()) {
    firmware.WriteTo(firmwarePath);
    std::ofstream(device) << "";
}

VirtualRun::VirtualRun(int appRows)
    : VirtualRunFiles(appRows),
      kestro::VirtualRun(VirtualRunOptions{firmwarePath, logPath, dir.path() / "state", {}, &reporter}) {
    RegisterPortDevice(kPort, device);
    link.SetCablePort(kPort);
}

VirtualRun::~VirtualRun() {
    hub.reset();
    UnregisterPortDevice(kPort);
}

::testing::AssertionResult RadioHoldsFirmware(const CCommFile& image, const SimRadio& radio) {
    for (int p = image.m_appStartRow; p < image.m_rowCount; ++p) {
        const auto& row = image.RowAt(p);
        const std::uint16_t number = static_cast<std::uint16_t>((row[0] << 8) | row[1]);
        const auto stored = radio.FlashRow(number);
        if (!std::equal(stored.begin(), stored.end(), row.begin() + 2)) {
            return ::testing::AssertionFailure() << "flash row " << number << " differs";
        }
    }
    const auto boot = radio.ActiveBootArea();
    for (int k = 0; k < 256; ++k) {
        const auto& row = image.RowAt(k);
        if (!std::equal(row.begin() + 2, row.end(), boot.begin() + 16 * k)) {
            return ::testing::AssertionFailure() << "boot row " << k << " differs";
        }
    }
    if (!radio.BootSwapMatched()) return ::testing::AssertionFailure() << "boot swap mismatch";
    return ::testing::AssertionSuccess();
}

std::vector<RequestId> VirtualRun::RequestKinds() const {
    std::vector<RequestId> kinds;
    for (const auto& r : radio.Requests()) kinds.push_back(r.id);
    return kinds;
}

}  // namespace kestro::test
