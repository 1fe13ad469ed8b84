// Hostile firmware files, each given to a fresh hub's Upgrade command: every one ends the load
// with a clear status text, opens no port, and leaves the folder exactly as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "firmware/FirmwareTexts.h"
#include "firmware/TempDir.h"
#include "platform/Settings.h"
#include "platform/VirtualClock.h"
#include "protocol/PortEngine.h"
#include "upgrade/Reporter.h"
#include "upgrade/UpgradeHub.h"

namespace kestro {
namespace {

// Any port the hub tries to open is counted and refused.
struct CountingEngine final : IPortEngine {
    bool OpenPort(IPortOwner*, int) override { return ++opens, false; }
    bool StartPortThread() override { return false; }
    void ClosePort() override {}
    int PortNumber() const override { return 0; }
    void HandOff(const std::uint8_t*, std::size_t) override { ++handOffs; }
    int opens = 0;
    int handOffs = 0;
};

struct StatusReporter final : IReporter {
    void SetStatusText(const std::string& text) override { status = text; }
    void SetProgressText(const std::string&) override {}
    void SetProgress(int) override {}
    void ShowProgress(bool) override {}
    void MessageBox(const std::string& text, TitleKind, Icon) override { boxes.push_back(text); }
    std::string status;
    std::vector<std::string> boxes;
};

std::string Record(int type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes = {
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    bytes.push_back(static_cast<std::uint8_t>(-sum & 0xFF));
    std::string line = ":";
    for (auto b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\r\n";
}

// A sound file: two boot rows and an application row.
std::string GoodRecords() {
    return Record(0, 0x0000, std::vector<std::uint8_t>(16, 0x11)) +
           Record(0, 0x0010, std::vector<std::uint8_t>(16, 0x22)) +
           Record(0, 0x2000, std::vector<std::uint8_t>(16, 0x33));
}
const std::string kEof = ":00000001FF\r\n";

std::string Utf16Le(const std::string& text, bool mark) {
    std::string out = mark ? "\xFF\xFE" : "";
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

struct HostileFile {
    const char* name;
    // Puts the hostile thing at `path` (the firmware file's place); false: not possible here.
    std::function<bool(const test::TempDir&, const std::filesystem::path&)> make;
    const char* status;  // the status text it must end with, or its beginning (ends in "line ")
};

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return true;
}

auto Text(std::string bytes) {
    return [bytes](const test::TempDir&, const std::filesystem::path& path) {
        return WriteFile(path, bytes);
    };
}

// Size, time and, for files that are not huge, content of everything under `root`.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        std::string info = std::to_string(st.st_mode) + "/" + std::to_string(st.st_size) + "/" +
                           std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode) && st.st_size < (8 << 20) && (st.st_mode & S_IRUSR) != 0) {
            std::ifstream in(entry.path(), std::ios::binary);
            info += "/" + std::string(std::istreambuf_iterator<char>(in), {});
        }
        out[entry.path().string()] = info;
    }
    return out;
}

const HostileFile kFiles[] = {
    {"BinaryJunk",
     [](const test::TempDir&, const std::filesystem::path& path) {
         std::mt19937 random(7);
         std::string junk;
         for (int i = 0; i < 65536; ++i) {
             junk += i % 40 == 39 ? "\r\n" : std::string(1, static_cast<char>(1 + random() % 255));
         }
         return WriteFile(path, junk);
     },
     "Firmware file is damaged (line 1: "},
    {"HundredMegabytes",
     [](const test::TempDir&, const std::filesystem::path& path) {
         WriteFile(path, GoodRecords() + kEof);
         std::filesystem::resize_file(path, std::uintmax_t{100} << 20);  // sparse
         return true;
     },
     kFirmwareCanNotOpenText},
    {"OneMegabyteLine", Text(":" + std::string(1 << 20, 'A')), kFirmwareCanNotOpenText},
    {"OddLengthUtf16CutInTheLastRecord",
     Text(Utf16Le(GoodRecords() + kEof, true).substr(0, 2 * (GoodRecords().size() + 10) + 3)),
     "Firmware file is damaged (line 4: "},
    {"OddLengthUtf16WithoutMark", Text(Utf16Le(GoodRecords() + kEof, false) + "X"),
     kFirmwareCanNotOpenText},
    {"LineFeedsOnly", Text([] {
         std::string out;
         for (char c : GoodRecords() + kEof)
             if (c != '\r') out += c;
         return out;
     }()),
     kFirmwareCanNotOpenText},
    {"CarriageReturnsOnly", Text([] {
         std::string out;
         for (char c : GoodRecords() + kEof)
             if (c != '\n') out += c;
         return out;
     }()),
     kFirmwareCanNotOpenText},
    {"SegmentPastTheImage",
     Text(GoodRecords() + Record(2, 0, {0x3F, 0xFF}) + Record(0, 0x0010, {0xAA}) + kEof),
     "Firmware file is damaged (line 5: data beyond"},
    {"LinearPastTheImage",
     Text(GoodRecords() + Record(4, 0, {0x00, 0x04}) + Record(0, 0x0000, {0xAA}) + kEof),
     "Firmware file is damaged (line 5: data beyond"},
    {"LinearAddressThatWrapsAround",
     Text(GoodRecords() + Record(4, 0, {0xFF, 0xFF}) + Record(0, 0xFFFF, {0xAA, 0xBB}) + kEof),
     "Firmware file is damaged (line 5: data beyond"},
    {"ByteCountLargerThanTheLine", Text(GoodRecords() + ":10200000AABB75\r\n" + kEof),
     "Firmware file is damaged (line 4: record shorter"},
    {"NonHexByteCount", Text(":1G000000" + std::string(32, '0') + "F0\r\n" + kEof),
     "Firmware file is damaged (line 1: non-hexadecimal"},
    {"NonHexAddress", Text(GoodRecords() + ":1000Z000" + std::string(32, '0') + "F0\r\n" + kEof),
     "Firmware file is damaged (line 4: non-hexadecimal"},
    {"NonHexType", Text(":100000-0" + std::string(32, '0') + "F0\r\n" + kEof),
     "Firmware file is damaged (line 1: non-hexadecimal"},
    {"NonHexData", Text(GoodRecords() + ":10000000" + std::string(31, '0') + "GF0\r\n" + kEof),
     "Firmware file is damaged (line 4: non-hexadecimal"},
    {"NonHexChecksum", Text(":10000000" + std::string(32, '0') + "F?\r\n" + kEof),
     "Firmware file is damaged (line 1: non-hexadecimal"},
    {"NoEndOfFileRecord", Text(GoodRecords()), "Firmware file is damaged (line 4: no end-of-file"},
    {"EmptyFile", Text(""), kFirmwareCanNotOpenText},
    {"Directory",
     [](const test::TempDir&, const std::filesystem::path& path) {
         std::filesystem::create_directories(path / "inner");
         return true;
     },
     kFirmwareCanNotOpenText},
    {"NoReadPermission",
     [](const test::TempDir&, const std::filesystem::path& path) {
         if (::geteuid() == 0) return false;  // root reads it anyway
         WriteFile(path, GoodRecords() + kEof);
         std::filesystem::permissions(path, std::filesystem::perms::none);
         return true;
     },
     kFirmwareCanNotOpenText},
    {"NamedPipe",  // opening it for reading would wait for a writer for ever
     [](const test::TempDir&, const std::filesystem::path& path) {
         return ::mkfifo(path.c_str(), 0600) == 0;
     },
     kFirmwareCanNotOpenText},
};

class HostileFiles : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileFiles, EndTheLoadWithAStatusTextOpenNoPortAndChangeNothingOnDisk) {
    const HostileFile& file = GetParam();
    test::TempDir dir;
    const auto folder = dir.Path() / "samples";
    std::filesystem::create_directories(folder);
    const auto path = folder / "zqt_upg.pvx";
    if (!file.make(dir, path)) GTEST_SKIP() << "cannot be made on this machine";
    const auto before = Snapshot(folder);

    StatusReporter reporter;
    MemorySettings settings;
    CountingEngine engine;
    VirtualClock clock;
    CUpgradeHub::Options options;
    options.firmwarePath = path;
    options.logPath = dir.Path() / "log" / "log.csv";
    options.engine = &engine;
    options.clock = &clock;
    options.runWorkerInline = true;
    CUpgradeHub hub(reporter, settings, options);
    hub.OnInitialUpdate();

    EXPECT_EQ(hub.OnUpgrade(), StartResult::LoadFailed);
    const std::string expected = file.status;
    EXPECT_EQ(reporter.status.substr(0, expected.size()), expected) << reporter.status;
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(engine.opens, 0);
    EXPECT_EQ(engine.handOffs, 0);
    EXPECT_EQ(hub.UpgradeRunningFlag(), 0);
    EXPECT_TRUE(Snapshot(folder) == before) << "the firmware folder changed";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileFiles, AGoodFileAfterAHostileOneLoadsAsIfNothingHadHappened) {
    test::TempDir dir;
    const auto path = dir.Write("zqt_upg.pvx", GoodRecords() + Record(4, 0, {0xFF, 0xFF}) +
                                                   Record(0, 0xFFFF, {0xAA}) + kEof);
    CFirmwareLoader loader;
    CCommFile file;
    std::string status;
    loader.LoadFirmwareFile(path, file, [&status](const std::string& s) { status = s; });
    ASSERT_EQ(loader.m_firmwareLoadFailed, 1) << status;
    EXPECT_EQ(file.m_rowCount, 0);

    dir.Write("zqt_upg.pvx", GoodRecords() + kEof);
    loader.LoadFirmwareFile(path, file, [&status](const std::string& s) { status = s; });
    EXPECT_EQ(loader.m_firmwareLoadFailed, 0);
    EXPECT_EQ(status, kFirmwareLoadingText);
    ASSERT_EQ(file.m_rowCount, 257);
    EXPECT_EQ(file.RowAt(file.m_appStartRow)[2], 0x33);
    EXPECT_EQ(file.RowAt(0)[2], 0x11);
    EXPECT_EQ(file.RowAt(2)[2], 0xFF);
}

}  // namespace
}  // namespace kestro
