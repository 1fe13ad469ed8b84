#pragma once
// Test support for whole runs: a reporter that records everything it is told, a builder of small
// firmware files, and a fixture that runs the hub in virtual time against the simulated radio.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Settings.h"
#include "radio/SimRadio.h"
#include "runcore/VirtualRun.h"
#include "upgrade/Reporter.h"
#include "upgrade/UpgradeHub.h"

namespace kestro::test {

// Called from the worker and the port thread; read the fields once the run has ended.
struct RecordingReporter final : IReporter {
    struct Box {
        std::string text;
        TitleKind title;
        Icon icon;
        std::string detail = {};
    };
    void SetStatusText(const std::string& text) override {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard lock(mutex);
            statuses.push_back(text);
            hook = onStatus;
        }
        if (hook) hook(text);
    }
    void SetProgressText(const std::string& label) override {
        std::lock_guard lock(mutex);
        labels.push_back(label);
    }
    void SetProgress(int position) override {
        std::lock_guard lock(mutex);
        positions.push_back(position);
    }
    void ShowProgress(bool show) override {
        std::lock_guard lock(mutex);
        progressVisible = show;
    }
    void MessageBox(const std::string& text, TitleKind title, Icon icon) override {
        MessageBoxWithDetail(text, title, icon, {});
    }
    void MessageBoxWithDetail(const std::string& text, TitleKind title, Icon icon,
                              const std::string& detail) override {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard lock(mutex);
            boxes.push_back({text, title, icon, detail});
            hook = onBox;
        }
        if (hook) hook(text);
    }
    void Guide(Guidance kind, const std::string& text) override {
        std::lock_guard lock(mutex);
        guides.push_back({kind, text});
    }
    std::string Status() const {
        std::lock_guard lock(mutex);
        return statuses.empty() ? std::string{} : statuses.back();
    }

    mutable std::mutex mutex;

    std::vector<std::string> statuses;
    std::vector<std::string> labels;
    std::vector<int> positions;
    std::vector<Box> boxes;
    std::vector<std::pair<Guidance, std::string>> guides;
    bool progressVisible = false;
    std::function<void(const std::string&)> onBox;
    std::function<void(const std::string&)> onStatus;  // called with each status, on its thread
};

// Writes Intel hexadecimal records with checksums, segment records as addresses need them.
class HexBuilder {
public:
    // 16 data bytes at byte address `address`.
    void Row(std::uint32_t address, const std::array<std::uint8_t, 16>& data) {
        m_rows[address] = data;
    }
    // A recognisable, non-erased row at row number `row`.
    void Filled(std::uint32_t row) {
        std::array<std::uint8_t, 16> data{};
        for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>((row * 7 + i * 13) & 0xFF);
        if (data[0] == 0xFF) data[0] = 0x00;
        Row(row * 16, data);
    }
    std::string Text() const {
        std::string out;
        std::uint32_t segmentBase = 0;
        for (const auto& [address, data] : m_rows) {
            const std::uint32_t base = address & 0xF0000;
            if (base != segmentBase) {
                const std::uint16_t segment = static_cast<std::uint16_t>(base >> 4);
                out += Record(0x02, 0, {static_cast<std::uint8_t>(segment >> 8),
                                         static_cast<std::uint8_t>(segment & 0xFF)});
                segmentBase = base;
            }
            out += Record(0x00, static_cast<std::uint16_t>(address - segmentBase),
                          std::vector<std::uint8_t>(data.begin(), data.end()));
        }
        out += ":00000001FF\r\n";
        return out;
    }
    void WriteTo(const std::filesystem::path& path) const {
        std::ofstream(path, std::ios::binary) << Text();
    }

private:
    static std::string Record(int type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                        static_cast<std::uint8_t>(address >> 8),
                                        static_cast<std::uint8_t>(address & 0xFF),
                                        static_cast<std::uint8_t>(type)};
        bytes.insert(bytes.end(), data.begin(), data.end());
        unsigned sum = 0;
        for (auto b : bytes) sum += b;
        bytes.push_back(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
        std::string line = ":";
        char hex[3];
        for (auto b : bytes) {
            std::snprintf(hex, sizeof hex, "%02X", b);
            line += hex;
        }
        return line + "\r\n";
    }
    std::map<std::uint32_t, std::array<std::uint8_t, 16>> m_rows;
};

// A folder of its own for each test (and for each further one a test makes), removed afterwards.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> made{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = std::filesystem::temp_directory_path() /
                 ("kestro-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
                  std::to_string(::getpid()) + "-" + std::to_string(made++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::string ReadFile(const std::filesystem::path& path);
// The log's records after the header as Python's csv reader reads them, each a list of fields;
// nullopt when there is no python3 to ask.
std::optional<std::vector<std::vector<std::string>>> CsvRecords(const std::filesystem::path& log);
std::vector<std::string> LogLines(const std::filesystem::path& path);  // without the header

// The radio's flash holds exactly the image's application rows and its boot area the boot rows,
// and the boot swap checksum matched.
::testing::AssertionResult RadioHoldsFirmware(const CCommFile& image, const SimRadio& radio);

// A firmware of boot rows 0..255 (a few filled) and `appRows` application rows from 0x0200.
HexBuilder SmallFirmware(int appRows);

// What a VirtualRun's hub works with, made before the hub: a folder of the test's own, the
// firmware written into it, the log's place, a file that stands in for the port's device, and a
// reporter that records everything.
struct VirtualRunFiles {
    explicit VirtualRunFiles(int appRows);

    TempDir dir;
    HexBuilder firmware;
    std::filesystem::path firmwarePath;
    std::filesystem::path logPath;
    std::string device;
    RecordingReporter reporter;
};

// The shared hub in virtual time against a simulated radio, on a port of its own, with its
// records in the test's folder.
class VirtualRun : public VirtualRunFiles, public kestro::VirtualRun {
public:
    // A firmware of boot rows 0..255 (a few filled) and `appRows` application rows from 0x0200.
    explicit VirtualRun(int appRows = 20);
    ~VirtualRun();

    // The port the run opens: a number of its own, mapped to `device`, so that its recovery
    // records name a present port.
    static constexpr int kPort = 250;

    HexBuilder& Firmware() { return firmware; }
    void WriteFirmware() { firmware.WriteTo(firmwarePath); }

    // The radio's flash holds exactly the table's application rows and its boot area the boot
    // rows, and the boot swap checksum matched.
    ::testing::AssertionResult RadioHoldsFirmware() const {
        return test::RadioHoldsFirmware(hub->CommFile(), radio);
    }

    std::vector<RequestId> RequestKinds() const;
};

}  // namespace kestro::test
