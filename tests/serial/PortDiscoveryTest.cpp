// Listing present ports and finding the cable's port on fake sysfs trees.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "serial/FakeSysfs.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"

namespace kestro {
namespace {

using test::FakeSysfs;

class PortDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRegisteredPortDevices();
        ::unsetenv(kPortMapVariable);
    }
    void TearDown() override { SetUp(); }

    FakeSysfs m_sysfs;
};

std::vector<std::string> Labels(const std::vector<PortEntry>& ports) {
    std::vector<std::string> labels;
    for (const PortEntry& port : ports) {
        labels.push_back(port.label);
    }
    return labels;
}

TEST_F(PortDiscoveryTest, ListsDeviceBackedTtysByNumber) {
    m_sysfs.AddUsbTty("ttyUSB0", {});
    m_sysfs.AddUart("ttyS1", 0);  // an empty UART slot
    m_sysfs.AddUart("ttyS0", 4);
    m_sysfs.AddUsbTty("ttyACM1", {.vendor = "2341", .product = "0043", .serial = "x"});
    m_sysfs.AddVirtualTty("tty0");
    m_sysfs.AddVirtualTty("ttyS5");   // no device behind it
    m_sysfs.AddUart("ttyAMA0", 1);    // a real UART without a COM number

    const auto ports = ListPresentPorts(m_sysfs.Root());
    EXPECT_EQ(Labels(ports), (std::vector<std::string>{"COM1 (/dev/ttyS0)", "COM33 (/dev/ttyUSB0)",
                                                       "COM66 (/dev/ttyACM1)"}));
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[1].number, 33);
    EXPECT_EQ(ports[1].name, "COM33");
    EXPECT_EQ(ports[1].device, "/dev/ttyUSB0");
}

TEST_F(PortDiscoveryTest, MissingTreeGivesNoPortsAndNoCable) {
    EXPECT_TRUE(ListPresentPorts(m_sysfs.Root() / "absent").empty());
    EXPECT_TRUE(ListPresentPorts(m_sysfs.Root()).empty());
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root() / "absent", "0006"), -1);
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), -1);
}

TEST_F(PortDiscoveryTest, MappedDevicesAreListedWhenPresentDuplicatesIncluded) {
    const auto device = m_sysfs.Root() / "ttyFake";
    std::ofstream(device) << "";
    m_sysfs.AddUsbTty("ttyUSB0", {});
    m_sysfs.AddUsbTty("ttyUSB1", {.serial = "0001"});
    RegisterPortDevice(98, device.string());
    RegisterPortDevice(97, device.string());
    ::setenv(kPortMapVariable, ("99=" + (m_sysfs.Root() / "gone").string() + ",34=" +
                                device.string()).c_str(), 1);

    // COM34 now names the mapped device, so ttyUSB1 is not listed under it; COM99 is absent.
    const auto ports = ListPresentPorts(m_sysfs.Root());
    const std::string fake = " (" + device.string() + ")";
    EXPECT_EQ(Labels(ports), (std::vector<std::string>{"COM33 (/dev/ttyUSB0)", "COM34" + fake,
                                                       "COM97" + fake, "COM98" + fake}));
}

TEST_F(PortDiscoveryTest, FindsEachInstanceOfTheCable) {
    m_sysfs.AddUsbTty("ttyUSB3", {.serial = "0006"});
    m_sysfs.AddUsbTty("ttyACM2", {.serial = "0001"});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 36);
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0001"), 67);
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0002"), -1);
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "000"), -1);
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), nullptr), -1);
}

TEST_F(PortDiscoveryTest, SkipsOtherVendorsAndProducts) {
    m_sysfs.AddUsbTty("ttyUSB0", {.vendor = "0403", .product = "ea60"});
    m_sysfs.AddUsbTty("ttyUSB1", {.vendor = "10c4", .product = "ea70"});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), -1);
    m_sysfs.AddUsbTty("ttyUSB2", {});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 35);
}

TEST_F(PortDiscoveryTest, EveryCableIsFoundWhateverItsSerialStringAndNothingElse) {
    m_sysfs.AddUsbTty("ttyUSB3", {.serial = "0006"});
    m_sysfs.AddUsbTty("ttyACM2", {.serial = "0001"});
    m_sysfs.AddUsbTty("ttyUSB1", {.serial = "A7Z"});
    m_sysfs.AddUsbTty("ttyUSB0", {.vendor = "0403", .product = "ea60"});
    m_sysfs.AddUsbTty("ttyUSB4", {.interfaces = 2, .interfaceNumber = 1});
    m_sysfs.AddUart("ttyS0", 4);
    EXPECT_EQ(FindCablePortsIn(m_sysfs.Root()),
              (std::vector<std::string>{"/dev/ttyACM2", "/dev/ttyUSB1", "/dev/ttyUSB3"}));
}

TEST_F(PortDiscoveryTest, CompositeDeviceCountsOnlyItsFirstInterface) {
    m_sysfs.AddUsbTty("ttyUSB4", {.interfaces = 2, .interfaceNumber = 1});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), -1);
    m_sysfs.AddUsbTty("ttyUSB5", {.interfaces = 2, .interfaceNumber = 0});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 38);
}

TEST_F(PortDiscoveryTest, CableOnATtyWithoutNumberGivesZero) {
    m_sysfs.AddUsbTty("ttyUSB40", {});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 0);
    // A numbered match beats the unnumbered one, and the lowest of two numbered ones wins.
    m_sysfs.AddUsbTty("ttyUSB9", {});
    m_sysfs.AddUsbTty("ttyUSB7", {});
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 40);
    // A mapping gives the unnumbered tty a number, which then competes like any other.
    RegisterPortDevice(97, "/dev/ttyUSB40");
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 40);
    RegisterPortDevice(39, "/dev/ttyUSB40");
    EXPECT_EQ(FindUsbPortNumberIn(m_sysfs.Root(), "0006"), 39);
}

TEST_F(PortDiscoveryTest, LookupUsesTheRootFromTheEnvironment) {
    ::setenv(kSysfsRootVariable, m_sysfs.Root().c_str(), 1);
    EXPECT_EQ(DefaultSysfsRoot(), m_sysfs.Root());
    ::setenv(kSysfsRootVariable, "", 1);
    EXPECT_EQ(DefaultSysfsRoot(), "/sys");
    ::unsetenv(kSysfsRootVariable);
    EXPECT_EQ(DefaultSysfsRoot(), "/sys");
}

}  // namespace
}  // namespace kestro
