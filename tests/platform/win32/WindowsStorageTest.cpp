// Where the kit keeps its files on Windows and how it reads and writes them there: the firmware
// path by WOW64, the log beside the program, byte-exact CR LF on both files.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "firmware/FirmwareLoader.h"
#include "firmware/HexText.h"
#include "log/UpgradeLog.h"
#include "platform/Paths.h"
#include "platform/win32/WindowsPaths.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the user's temporary folder, removed afterwards.
class TempFolder {
  public:
    TempFolder() {
        m_path = fs::temp_directory_path() /
                 ("kestro-storage-" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(++s_count));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }

  private:
    static inline int s_count = 0;
    fs::path m_path;
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(WindowsPaths, TheFirmwareComesFromTheProgramFilesOfTheProcessWidth) {
#if defined(_WIN64)
    // A 64-bit process never runs under WOW64, whatever the system.
    EXPECT_FALSE(win32::RunsUnderWow64());
    EXPECT_EQ(DefaultFirmwarePath(), fs::path(win32::kFirmwarePathNative));
#else
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    EXPECT_EQ(win32::RunsUnderWow64(), wow64 != FALSE);
    EXPECT_EQ(DefaultFirmwarePath(),
              fs::path(wow64 ? win32::kFirmwarePathWow64 : win32::kFirmwarePathNative));
#endif
    EXPECT_EQ(win32::FirmwarePathFor(true).string(),
              "C:\\Program Files (x86)\\Vantrel\\Kestro Upgrade\\samples\\zqt_upg.pvx");
    EXPECT_EQ(win32::FirmwarePathFor(false).string(),
              "C:\\Program Files\\Vantrel\\Kestro Upgrade\\samples\\zqt_upg.pvx");
}

TEST(WindowsPaths, TheLogLivesBesideTheProgramFile) {
    EXPECT_EQ(win32::LogPathBeside(L"C:\\Kit\\bin\\kestro-upgrade.exe"),
              L"C:\\Kit\\bin\\Kestro_UpdateKit_log.csv");
    EXPECT_EQ(win32::LogPathBeside(L"C:\\kestro-upgrade.exe"), L"C:\\Kestro_UpdateKit_log.csv");
    // Only a backslash cuts: with none the folder part is empty.
    EXPECT_EQ(win32::LogPathBeside(L"kestro-upgrade.exe"), L"\\Kestro_UpdateKit_log.csv");
    EXPECT_EQ(win32::LogPathBeside(L""), L"\\Kestro_UpdateKit_log.csv");

    const fs::path program = ExecutablePath();
    ASSERT_FALSE(program.empty());
    EXPECT_TRUE(fs::is_regular_file(program)) << program;
    EXPECT_EQ(program.extension(), ".exe");
    EXPECT_EQ(DefaultLogPath(), program.parent_path() / kLogFileName);
}

TEST(WindowsFiles, FirmwareFilesAreReadByteExactInEveryEncoding) {
    const std::string text = test::Segment(0) + test::Data(0x2000, test::Bytes(16, 0xA0)) +
                             test::Data(0x0010, test::Bytes(16, 0x3C, 3)) + test::kEof;
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    auto utf16 = [&](bool mark) {
        std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
        for (const char c : text) {
            bytes += c;
            bytes += '\0';
        }
        return bytes;
    };

    CFirmwareLoader reference;
    CCommFile expected;
    reference.m_firmwareText = text;
    reference.DecodeFirmwareText(expected, [](const std::string&) {});
    ASSERT_EQ(reference.m_firmwareLoadFailed, 0);

    TempFolder folder;
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {{"8-bit", text},
                 {"lower case", lower},
                 {"UTF-16 with mark", utf16(true)},
                 {"UTF-16 without mark", utf16(false)}};
    for (const auto& file : files) {
        const fs::path path = folder.Path() / "zqt_upg.pvx";
        WriteBytes(path, file.bytes);
        CFirmwareLoader loader;
        CCommFile image;
        std::vector<std::string> statuses;
        loader.LoadFirmwareFile(path, image,
                                [&](const std::string& status) { statuses.push_back(status); });
        EXPECT_EQ(loader.m_firmwareLoadFailed, 0) << file.what;
        EXPECT_EQ(loader.m_firmwareText, text) << file.what;
        EXPECT_EQ(image.m_rowTable, expected.m_rowTable) << file.what;
        EXPECT_EQ(ReadBytes(path), file.bytes) << file.what << ": the file itself was changed";
    }
}

TEST(WindowsFiles, LogLinesEndInOneCarriageReturnLineFeed) {
    TempFolder folder;
    CUpgradeLog log;
    log.SetPath(folder.Path() / "logs" / kLogFileName);
    log.m_localTime = [] {
        std::tm when{};
        when.tm_year = 2023 - 1900;
        when.tm_mon = 1;
        when.tm_mday = 3;
        when.tm_hour = 9;
        when.tm_min = 5;
        return when;
    };
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.WriteHeaderIfMissing());
    ASSERT_TRUE(log.AppendLogLine("KS24001735,R0103,Yes,", "OK"));
    EXPECT_EQ(ReadBytes(log.Path()),
              " Date, Time, Serial Number, Pre FW Ver, CP, FW\r\n"
              "2023/02/03, 09:05:00,KS24001735,R0103,Yes,OK\r\n");
}

}  // namespace
}  // namespace kestro
