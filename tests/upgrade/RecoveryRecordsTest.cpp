// The recovery records on disk: what a kit that was killed mid-run leaves for the next start,
// and what the next start makes of files it cannot trust.

#include <gtest/gtest.h>

#include <fstream>

#include "UpgradeTestSupport.h"
#include "serial/FakeSysfs.h"
#include "serial/PortDiscovery.h"
#include "upgrade/RecoveryRecords.h"

namespace kestro {
namespace {

// A device path that exists (a file stands in for it); records of absent devices are skipped.
std::string PresentDevice(const test::TempDir& dir) {
    const auto path = dir.path() / "ttyKestro0";
    std::ofstream(path) << "";
    return path.string();
}

std::size_t FilesIn(const std::filesystem::path& folder) {
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++files;
    return files;
}

// Two radios swapped on one cable: each keeps its own record, found by device or by name, and
// clearing one leaves the other. The serial number comes back byte for byte.
TEST(RecoveryRecords, EachRadioOnAPortKeepsItsOwnRecord) {
    test::TempDir dir;
    const std::string present = PresentDevice(dir);
    const CRecoveryRecords records(dir.path() / "state");
    const std::string odd("KS2\n4,\"x\0\xFF", 10);
    RecoveryRecord first{"COM97", present, odd, "/fw/a.pvx", 1765300000, {}, {}, {}};
    RecoveryRecord second{"COM97", present, "KS24001736", "", 1765300100, {}, {}, {}};
    std::string error;
    ASSERT_TRUE(records.Mark(first, error)) << error;
    ASSERT_TRUE(records.Mark(first, error)) << error;  // marking again replaces the record
    ASSERT_TRUE(records.Mark(second, error)) << error;
    ASSERT_TRUE(records.Mark({"COM4", "", "", "", 1, {}, {}, {}}, error)) << error;

    auto here = records.ForPort(PortRecord("COM5", present));  // by device
    ASSERT_EQ(here.size(), 2U);
    EXPECT_EQ(here[0].serial, odd);
    EXPECT_EQ(here[0].firmware, "/fw/a.pvx");
    EXPECT_EQ(here[0].since, 1765300000);
    EXPECT_EQ(here[0].ShownSerial(), "KS2\\x0A4,\"x\\x00\\xFF");
    EXPECT_EQ(here[1].serial, "KS24001736");
    EXPECT_TRUE(records.ForPort(PortRecord("COM97", "/dev/ttyUSB3")).empty());  // another device
    EXPECT_EQ(records.ForPort(PortRecord("COM97", "")).size(), 2U);            // the name alone
    EXPECT_EQ(records.ForPort(PortRecord("COM4", "")).at(0).PortArgument(), "COM4");

    records.Clear(first);
    here = records.ForPort(PortRecord("COM97", present));
    ASSERT_EQ(here.size(), 1U);
    EXPECT_EQ(here[0].serial, "KS24001736");
    EXPECT_EQ(FilesIn(records.Folder()), 2U);  // no temporary file is left beside the records

    // A record of an earlier kit, with its serial number as text only, still reads.
    std::ofstream(records.Folder() / "recovery-COM6.state", std::ios::binary)
        << "kestro-upgrade-kit recovery record 1\nport=COM6\ndevice=\nserial=KS9\nsince=7\n";
    EXPECT_EQ(records.ForPort(PortRecord("COM6", "")).at(0).serial, "KS9");
}

// A record cut short by a crash after its rename still names its port and radio (from its file
// name) and is returned as damaged; files that are not records of the kit are skipped, with one
// note for them all.
TEST(RecoveryRecords, TornRecordsAreReportedAndForeignFilesSkipped) {
    test::TempDir dir;
    const std::string present = PresentDevice(dir);
    const auto folder = dir.path() / "state";
    const CRecoveryRecords records(folder);
    const RecoveryRecord empty{"COM33", present, "KS1", "", 5, {}, {}, {}};
    const RecoveryRecord cut{"COM34", "", "", "", 6, {}, {}, {}};
    ASSERT_TRUE(records.Mark(empty));
    ASSERT_TRUE(records.Mark(cut));
    std::filesystem::resize_file(records.FileFor(empty), 0);
    std::filesystem::resize_file(records.FileFor(cut), 50);

    std::filesystem::create_directories(folder / "recovery-dir.state");
    const auto write = [&](const char* name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    };
    write("recovery-binary.state", std::string("\x7F" "ELF\0\1\2\xFF", 8));
    write("recovery-huge.state", std::string(1 << 20, 'x'));
    write("recovery-foreign.state", "port=COM1\nsince=1\n");
    write("recovery-gone.state",
          "kestro-upgrade-kit recovery record 1\nport=COM40\ndevice=/dev/kestro-no-such\nsince=1\n");
    write("Kestro_UpdateKit_log.csv", "not a record\n");

    std::string note;
    const auto all = records.All(&note);
    ASSERT_EQ(all.size(), 2U);
    for (const auto& record : all) EXPECT_TRUE(record.Damaged()) << record.Describe();
    const auto torn = records.ForPort(PortRecord("COM33", present));
    ASSERT_EQ(torn.size(), 1U);
    EXPECT_EQ(torn[0].device, present);
    EXPECT_EQ(torn[0].serial, "KS1");
    EXPECT_EQ(torn[0].damage, "the record is empty");
    EXPECT_EQ(records.ForPort(PortRecord("COM34", "")).at(0).damage, "the record is cut short");
    EXPECT_NE(note.find("ignoring the recovery record"), std::string::npos);
    EXPECT_EQ(note.find('\n'), std::string::npos);

    records.Clear(torn[0]);  // a finished radio takes its torn record with it
    EXPECT_TRUE(records.ForPort(PortRecord("COM33", present)).empty());

    EXPECT_TRUE(CRecoveryRecords{}.All().empty());  // no folder: no records, nothing written
}

// A folder that cannot take a record says so, naming the folder and the reason.
TEST(RecoveryRecords, AnUnwritableFolderIsNamed) {
    test::TempDir dir;
    const auto blocked = dir.path() / "state";
    std::ofstream(blocked) << "a file where the folder should be";
    const CRecoveryRecords records(blocked / "kestro-upgrade-kit");
    std::string probeError;
    std::string markError;
    EXPECT_FALSE(records.CanWrite(probeError));
    EXPECT_FALSE(records.Mark({"COM1", "", "", "", 1, {}, {}, {}}, markError));
    for (const std::string& error : {probeError, markError}) {
        EXPECT_NE(error.find(records.Folder().string()), std::string::npos) << error;
    }
}

#ifndef _WIN32
// A port is known again under any name of its device (a link, a relative path), and a cable that
// comes back under a new device name by its identity: only while its old device is gone, and only
// when exactly one present cable has that identity (cables of one kind often share a serial string).
TEST(RecoveryRecords, ARecordFollowsItsDeviceUnderAnyNameAndItsCableUnderANewOne) {
    test::TempDir dir;
    const std::string present = PresentDevice(dir);
    const auto link = dir.path() / "usb-cable-if00";
    std::filesystem::create_symlink(present, link);
    const CRecoveryRecords records(dir.path() / "state");
    RecoveryRecord byLink = PortRecord("COM97", link.string());
    EXPECT_EQ(byLink.device, present);
    byLink.serial = "KSA";
    byLink.since = 1;
    ASSERT_TRUE(records.Mark(byLink));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const RecoveryRecord relative = PortRecord("", "./ttyKestro0");
    std::filesystem::current_path(cwd);
    for (const RecoveryRecord& port : {PortRecord("", present), PortRecord("", link.string()), relative}) {
        const auto found = records.ForPort(port);
        ASSERT_EQ(found.size(), 1U) << port.device;
        EXPECT_EQ(found[0].PortArgument(), present);  // an absolute path, for the printed command
    }

    test::FakeSysfs sysfs;
    ::setenv("KESTRO_SYSFS_ROOT", sysfs.Root().c_str(), 1);
    sysfs.AddUsbTty("ttyUSB90", {.serial = "A1B2"});
    RecoveryRecord cable = PortRecord("COM33", "/dev/ttyUSB90");
    ASSERT_FALSE(cable.cable.empty());
    cable.serial = "KSB";
    cable.since = 2;
    ASSERT_TRUE(records.Mark(cable));
    std::filesystem::remove(sysfs.Root() / "class" / "tty" / "ttyUSB90");  // unplugged...
    sysfs.AddUsbTty("ttyUSB91", {.serial = "A1B2"});                       // ...and back under a new name
    sysfs.AddUsbTty("ttyUSB92", {.serial = "C3D4"});                       // another cable
    auto found = records.ForPort(PortRecord("COM34", "/dev/ttyUSB91"));
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].serial, "KSB");
    EXPECT_EQ(found[0].PortArgument(), "/dev/ttyUSB91");
    EXPECT_TRUE(records.ForPort(PortRecord("COM35", "/dev/ttyUSB92")).empty());
    records.Clear(found[0]);  // the record is removed under the name it was written with
    EXPECT_EQ(records.All().size(), 1U);

    ASSERT_TRUE(records.Mark(cable));
    sysfs.AddUsbTty("ttyUSB93", {.serial = "A1B2"});  // two cables with that identity: neither is it
    EXPECT_TRUE(records.ForPort(PortRecord("COM34", "/dev/ttyUSB91")).empty());
    ::unsetenv("KESTRO_SYSFS_ROOT");
}
#endif

}  // namespace
}  // namespace kestro
