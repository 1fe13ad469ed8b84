#include "firmware/FirmwareLoader.h"

#include <gtest/gtest.h>

#include <vector>

#include "firmware/FirmwareText.h"
#include "firmware/FirmwareTexts.h"
#include "firmware/HexText.h"
#include "firmware/TempDir.h"
#include "platform/Paths.h"

namespace kestro {
namespace {

using test::Bytes;
using test::Data;
using test::kEof;

const std::string kSample =
    test::Segment(0) + Data(0x0100, Bytes(16, 0x3c)) + Data(0x2000, Bytes(16, 0xa5)) +
    test::Segment(0x1000) + Data(0x0000, Bytes(8, 0x7e)) + kEof;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Utf16(const std::string& text, bool bigEndian, bool mark) {
    std::string out;
    auto put = [&](unsigned unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    if (mark) {
        put(0xFEFF);
    }
    for (const char c : text) {
        put(static_cast<unsigned char>(c));
    }
    return out;
}

class FirmwareLoaderTest : public ::testing::Test {
protected:
    void Load(const std::filesystem::path& path) {
        m_statuses.clear();
        m_loader.LoadFirmwareFile(path, m_file,
                                  [this](const std::string& text) { m_statuses.push_back(text); });
    }

    test::TempDir m_dir;
    CFirmwareLoader m_loader;
    CCommFile m_file;
    std::vector<std::string> m_statuses;
};

TEST_F(FirmwareLoaderTest, ReadOnlyLowerCaseFileLoadsAndStaysUntouched) {
    const auto path = m_dir.Write("fw.pvx", Lower(kSample));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read);
    const auto writtenAt = std::filesystem::last_write_time(path);
    Load(path);
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 0);
    EXPECT_EQ(m_statuses, std::vector<std::string>{"Loading firmware file... Please wait it..."});
    EXPECT_EQ(m_loader.m_firmwareText, kSample);
    EXPECT_EQ(m_file.m_rowCount, 256 + 2);
    EXPECT_EQ(m_file.RowAt(256)[2], 0xA5);
    EXPECT_EQ(m_file.RowAt(257)[0], 0x10);
    EXPECT_EQ(test::ReadAll(path), Lower(kSample));
    EXPECT_EQ(std::filesystem::last_write_time(path), writtenAt);
}

TEST_F(FirmwareLoaderTest, Utf16FilesGiveTheSameTableAsTheir8BitTwin) {
    Load(m_dir.Write("fw8.pvx", kSample));
    ASSERT_EQ(m_loader.m_firmwareLoadFailed, 0);
    const auto expected = m_file.m_rowTable;
    for (const bool bigEndian : {false, true}) {
        for (const bool mark : {false, true}) {
            SCOPED_TRACE(testing::Message() << "big-endian " << bigEndian << " mark " << mark);
            const auto bytes = Utf16(Lower(kSample) + std::string(1, '\0') + "junk", bigEndian, mark);
            EXPECT_EQ(DetectTextEncoding(bytes),
                      bigEndian ? TextEncoding::kUtf16Be : TextEncoding::kUtf16Le);
            CCommFile fresh;
            m_file = std::move(fresh);
            Load(m_dir.Write("fw16.pvx", bytes));
            EXPECT_EQ(m_loader.m_firmwareLoadFailed, 0);
            EXPECT_EQ(m_loader.m_firmwareText, kSample);
            EXPECT_EQ(m_file.m_rowTable, expected);
        }
    }
}

TEST_F(FirmwareLoaderTest, TextEndsAtTheFirstNul) {
    Load(m_dir.Write("fw.pvx", kSample + std::string(1, '\0') + ":10000000GARBAGE\r\n"));
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 0);
    EXPECT_EQ(m_loader.m_firmwareText, kSample);
}

TEST_F(FirmwareLoaderTest, FailedReadDecodesThePreviousTextAgain) {
    const auto missing = m_dir.Path() / "missing.pvx";
    Load(missing);
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 1);
    EXPECT_EQ(m_statuses, std::vector<std::string>{"Firmware file can not open"});
    EXPECT_EQ(m_file.m_rowCount, 0);

    const auto path = m_dir.Write("fw.pvx", kSample);
    Load(path);
    ASSERT_EQ(m_loader.m_firmwareLoadFailed, 0);
    const auto table = m_file.m_rowTable;
    std::filesystem::remove(path);
    m_file = CCommFile{};
    Load(path);
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 0);
    EXPECT_EQ(m_statuses, std::vector<std::string>{"Loading firmware file... Please wait it..."});
    EXPECT_EQ(m_file.m_rowTable, table);

    // An empty file gives no new text either.
    Load(m_dir.Write("empty.pvx", ""));
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 0);
    EXPECT_EQ(m_file.m_rowTable, table);
}

TEST_F(FirmwareLoaderTest, SingleLineWithoutCrLfCanNotOpen) {
    Load(m_dir.Write("fw.pvx", kEof.substr(0, kEof.size() - 2)));
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 1);
    EXPECT_EQ(m_statuses, std::vector<std::string>{"Firmware file can not open"});
    // LF-only line breaks are no CR LF: the whole file is one line.
    Load(m_dir.Write("lf.pvx", Data(0x2000, {1}).substr(0, 13) + "\n" + ":00000001FF\n"));
    EXPECT_EQ(m_statuses, std::vector<std::string>{"Firmware file can not open"});
}

TEST_F(FirmwareLoaderTest, DamagedFileIsRefusedAndKeepsThePreviousImage) {
    Load(m_dir.Write("good.pvx", kSample));
    ASSERT_EQ(m_loader.m_firmwareLoadFailed, 0);
    const auto table = m_file.m_rowTable;
    std::string damaged = kSample;
    damaged.replace(damaged.find(":10200000") + 9, 2, "A6");
    Load(m_dir.Write("bad.pvx", damaged));
    EXPECT_EQ(m_loader.m_firmwareLoadFailed, 1);
    EXPECT_EQ(m_statuses,
              std::vector<std::string>{"Firmware file is damaged (line 3: checksum mismatch)"});
    EXPECT_EQ(m_file.m_rowTable, table);
}

TEST_F(FirmwareLoaderTest, DefaultPathFindsTheShippedSample) {
    const auto path = DefaultFirmwarePath();
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    m_loader.LoadFirmwareFile(m_file, [this](const std::string& t) { m_statuses.push_back(t); });
    ASSERT_EQ(m_loader.m_firmwareLoadFailed, 0) << m_statuses.front();
    EXPECT_GT(m_file.m_rowCount, 2000);
    const auto& appStart = m_file.RowAt(m_file.m_appStartRow);
    EXPECT_EQ(appStart[0] << 8 | appStart[1], 0x0200);
    EXPECT_EQ(std::string(appStart.begin() + 2, appStart.begin() + 9), "KSTRAPP");
}

TEST(FirmwareLineCount, CountsCrLfPairsPlusOne) {
    EXPECT_EQ(FirmwareLineCount(""), 1);
    EXPECT_EQ(FirmwareLineCount("a\nb\rc\n\r"), 1);
    EXPECT_EQ(FirmwareLineCount("a\r\n"), 2);
    EXPECT_EQ(FirmwareLineCount("\r\n\r\nx"), 3);
}

}  // namespace
}  // namespace kestro
