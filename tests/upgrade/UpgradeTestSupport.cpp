#include "UpgradeTestSupport.h"

#include <sstream>

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

HexBuilder SmallFirmware(int appRows) {
    HexBuilder firmware;
    for (std::uint32_t row = 0; row < 256; row += 17) firmware.Filled(row);
    for (int i = 0; i < appRows; ++i) firmware.Filled(0x200 + static_cast<std::uint32_t>(i));
    return firmware;
}

VirtualRun::VirtualRun(int appRows) : m_firmware(SmallFirmware(appRows)) {
    firmwarePath = dir.path() / "firmware.pvx";
    logPath = dir.path() / "log" / "Kestro_UpdateKit_log.csv";
    WriteFirmware();

    CUpgradeHub::Options options;
    options.firmwarePath = firmwarePath;
    options.logPath = logPath;
    options.engine = &link;
    options.clock = &clock;
    options.runWorkerInline = true;
    options.recoveryFolder = dir.path() / "state";
    hub = std::make_unique<CUpgradeHub>(reporter, settings, options);
    hub->OnInitialUpdate();
}

StartResult VirtualRun::Upgrade() { return hub->OnUpgrade(); }

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
