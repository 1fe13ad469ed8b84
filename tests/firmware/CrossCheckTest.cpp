// Checks the decoded row table against an independent reader (python3-intelhex) on files written
// by our sample generator and by srec_cat from random binaries.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "firmware/FirmwareLoader.h"
#include "firmware/TempDir.h"

namespace kestro {
namespace {

bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }

// The Debian package installs intelhex for the system interpreter, which a python3 earlier on the
// PATH may not see.
std::string PythonWithIntelHex() {
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        if (Succeeds(std::string(candidate) + " -c 'import intelhex' >/dev/null 2>&1")) {
            return candidate;
        }
    }
    return {};
}

std::string RandomBinary(std::mt19937& rng, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(rng() & 0xFF);
    }
    // Erased stretches, as flash images have them: their rows must be left out of the table.
    for (std::size_t start = 0x300; start + 0x200 < size; start += 0x1700) {
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), 0x200, '\xFF');
    }
    return bytes;
}

class FirmwareCrossCheck : public ::testing::Test {
protected:
    void SetUp() override {
        m_python = PythonWithIntelHex();
        if (m_python.empty()) {
            GTEST_SKIP() << "python3 with the intelhex module (Debian python3-intelhex) is missing";
        }
        if (!Succeeds("srec_cat -version >/dev/null 2>&1")) {
            GTEST_SKIP() << "srec_cat (Debian srecord) is missing";
        }
    }

    // Decodes `hexFile` both ways and compares every byte and the row selection.
    void Compare(const std::filesystem::path& hexFile) {
        SCOPED_TRACE(hexFile.filename().string());
        const auto binFile = m_dir.Path() / "reference.bin";
        ASSERT_TRUE(Succeeds(m_python + " " KESTRO_INTELHEX_DUMP " '" + hexFile.string() + "' '" +
                             binFile.string() + "'"));
        const std::string reference = test::ReadAll(binFile);
        ASSERT_EQ(reference.size(), CCommFile::kImageBytes);

        CFirmwareLoader loader;
        CCommFile file;
        std::string status;
        loader.LoadFirmwareFile(hexFile, file, [&](const std::string& text) { status = text; });
        ASSERT_EQ(loader.m_firmwareLoadFailed, 0) << status;

        std::string ours(CCommFile::kImageBytes, '\xFF');
        std::vector<bool> present(CCommFile::kMaxRows, false);
        for (int p = 0; p < file.m_rowCount; ++p) {
            const auto& row = file.RowAt(p);
            const int number = row[0] << 8 | row[1];
            present[static_cast<std::size_t>(number)] = true;
            std::copy(row.begin() + 2, row.end(),
                      ours.begin() + static_cast<std::ptrdiff_t>(number) * 16);
        }
        ASSERT_EQ(ours.size(), reference.size());
        for (std::size_t a = 0; a < ours.size(); ++a) {
            ASSERT_EQ(ours[a], reference[a]) << "first difference at byte address " << a;
        }
        for (int r = 0; r < CCommFile::kMaxRows; ++r) {
            const bool erased =
                reference.compare(static_cast<std::size_t>(r) * 16, 16, std::string(16, '\xFF')) ==
                0;
            ASSERT_EQ(present[static_cast<std::size_t>(r)], r < CCommFile::kBootRows || !erased)
                << "row " << r;
        }
        m_compared += 1;
    }

    std::string m_python;
    test::TempDir m_dir;
    int m_compared = 0;
};

TEST_F(FirmwareCrossCheck, GeneratedSamplesMatchIntelHex) {
    const std::vector<std::string> variants = {"--seed 1", "--seed 7 --app-kib 200 --linear",
                                               "--seed 3 --app-kib 20 --lower",
                                               "--seed 11 --app-kib 248"};
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const auto hexFile = m_dir.Path() / ("gen" + std::to_string(i) + ".hex");
        ASSERT_TRUE(Succeeds(m_python + " " KESTRO_FIRMWARE_GEN " " + variants[i] + " -o '" +
                             hexFile.string() + "'"));
        Compare(hexFile);
    }
    EXPECT_EQ(m_compared, 4);
}

TEST_F(FirmwareCrossCheck, SrecCatFilesWithLinearRecordsMatchIntelHex) {
    std::mt19937 rng(20240611);
    struct Layout {
        unsigned bootOffset;
        std::size_t bootSize;
        unsigned appOffset;
        std::size_t appSize;
        const char* blockSize;
    };
    // Blocks of 16 and 32 bytes; the second file's records straddle row boundaries.
    const Layout layouts[] = {{0x0000, 0x0C00, 0x2000, 0x24000, "16"},
                              {0x0204, 0x0333, 0x1FF7, 0x3E009, "32"}};
    int index = 0;
    for (const auto& layout : layouts) {
        const auto boot = m_dir.Write("boot.bin", RandomBinary(rng, layout.bootSize));
        const auto app = m_dir.Write("app.bin", RandomBinary(rng, layout.appSize));
        const auto hexFile = m_dir.Path() / ("srec" + std::to_string(index++) + ".hex");
        ASSERT_TRUE(Succeeds("srec_cat '" + boot.string() + "' -binary -offset " +
                             std::to_string(layout.bootOffset) + " '" + app.string() +
                             "' -binary -offset " + std::to_string(layout.appOffset) + " -o '" +
                             hexFile.string() + "' -intel -line-termination=crlf -obs=" +
                             layout.blockSize));
        ASSERT_NE(test::ReadAll(hexFile).find(":02000004"), std::string::npos);
        Compare(hexFile);
    }
    EXPECT_EQ(m_compared, 2);
}

}  // namespace
}  // namespace kestro
