// The recovery records on disk: what a kit that was killed mid-run leaves for the next start,
// and what the next start makes of files it cannot trust.

#include <gtest/gtest.h>

#include <fstream>

#include "UpgradeTestSupport.h"
#include "upgrade/RecoveryRecords.h"

namespace kestro {
namespace {

// A device path that exists (a file stands in for it); records of absent devices are skipped.
std::string PresentDevice(const test::TempDir& dir) {
    const auto path = dir.path() / "ttyKestro0";
    std::ofstream(path) << "";
    return path.string();
}

TEST(RecoveryRecords, AMarkedPortIsFoundByDeviceOrNameUntilItIsCleared) {
    test::TempDir dir;
    const std::string present = PresentDevice(dir);
    const CRecoveryRecords records(dir.path() / "state");
    RecoveryRecord record{"COM97", present, "KS2\n4,\"x", 1765300000};
    ASSERT_TRUE(records.Mark(record));
    ASSERT_TRUE(records.Mark(record));  // marking again replaces the record

    const auto byDevice = records.Find("COM5", present);
    ASSERT_TRUE(byDevice.has_value());
    EXPECT_EQ(byDevice->portName, "COM97");
    EXPECT_EQ(byDevice->serial, "KS2?4,\"x");  // one printable line whatever the radio said
    EXPECT_EQ(byDevice->since, 1765300000);
    EXPECT_EQ(byDevice->PortArgument(), present);
    EXPECT_FALSE(records.Find("COM97", "/dev/ttyUSB3").has_value());  // another device
    EXPECT_TRUE(records.Find("COM97", "").has_value());               // the name alone

    RecoveryRecord windows{"COM4", "", "", 1};
    ASSERT_TRUE(records.Mark(windows));
    EXPECT_EQ(records.All().size(), 2U);
    records.Clear(record);
    EXPECT_FALSE(records.Find("COM97", present).has_value());
    EXPECT_EQ(records.Find("COM4", "")->PortArgument(), "COM4");
    // No temporary file is left beside the records.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(records.Folder())) ++files;
    EXPECT_EQ(files, 1U);
}

TEST(RecoveryRecords, FilesThatAreNotSoundRecordsAreSkippedWithOneNote) {
    test::TempDir dir;
    const std::string present = PresentDevice(dir);
    const auto folder = dir.path() / "state";
    const CRecoveryRecords records(folder);
    ASSERT_TRUE(records.Mark({"COM33", present, "", 5}));

    std::filesystem::create_directories(folder / "recovery-dir.state");
    const auto write = [&](const char* name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    };
    write("recovery-empty.state", "");
    write("recovery-binary.state", std::string("\x7F" "ELF\0\1\2\xFF", 8));
    write("recovery-huge.state", std::string(1 << 20, 'x'));
    write("recovery-foreign.state", "port=COM1\nsince=1\n");
    write("recovery-nosince.state", "kestro-upgrade-kit recovery record 1\nport=COM2\n");
    write("recovery-gone.state",
          "kestro-upgrade-kit recovery record 1\nport=COM40\ndevice=/dev/kestro-no-such\nsince=1\n");
    write("Kestro_UpdateKit_log.csv", "not a record\n");

    std::string note;
    const auto all = records.All(&note);
    ASSERT_EQ(all.size(), 1U);
    EXPECT_EQ(all[0].portName, "COM33");
    EXPECT_NE(note.find("ignoring the recovery record"), std::string::npos);
    EXPECT_EQ(note.find('\n'), std::string::npos);

    EXPECT_TRUE(CRecoveryRecords{}.All().empty());  // no folder: no records, nothing written
    EXPECT_FALSE(CRecoveryRecords{}.Mark({"COM1", "", "", 1}));
}

}  // namespace
}  // namespace kestro
