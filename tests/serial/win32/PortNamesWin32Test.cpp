// Port numbers and devices on Windows: port n is "\\.\COMn" unless a mapping names another device.

#include <gtest/gtest.h>

#include "serial/PortNames.h"

namespace kestro {
namespace {

class PortNamesWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearRegisteredPortDevices();
        ::_putenv_s(kPortMapVariable, "");
    }
    void TearDown() override { SetUp(); }
};

TEST_F(PortNamesWin32, APortNumberNamesItsComDeviceBothWays) {
    EXPECT_EQ(DevicePathForPort(5), "\\\\.\\COM5");
    EXPECT_EQ(DevicePathForPort(256), "\\\\.\\COM256");
    EXPECT_FALSE(DevicePathForPort(0));
    EXPECT_FALSE(DevicePathForPort(-3));

    EXPECT_EQ(PortNumberForDevice("\\\\.\\COM12"), 12);
    EXPECT_EQ(PortNumberForDevice("//./COM3"), 3);
    EXPECT_EQ(PortNumberForDevice("COM7"), 7);
    EXPECT_EQ(PortNumberForDevice("com9"), 9);
    for (const char* odd : {"\\\\.\\COM0", "\\\\.\\COM05", "\\\\.\\COM", "\\\\.\\COM5x", "LPT1"}) {
        EXPECT_FALSE(PortNumberForDevice(odd)) << odd;
    }
}

TEST_F(PortNamesWin32, AMappingWinsOverTheComDeviceAndLeadsBack) {
    RegisterPortDevice(5, "\\\\.\\CNCA0");
    EXPECT_EQ(DevicePathForPort(5), "\\\\.\\CNCA0");
    EXPECT_EQ(PortNumberForDevice("\\\\.\\CNCA0"), 5);
    EXPECT_FALSE(PortNumberForDevice("\\\\.\\COM5")) << "COM5 no longer names port 5";

    ::_putenv_s(kPortMapVariable, "COM6=\\\\.\\CNCB0, 5=\\\\.\\ignored");
    EXPECT_EQ(DevicePathForPort(6), "\\\\.\\CNCB0");
    EXPECT_EQ(DevicePathForPort(5), "\\\\.\\CNCA0") << "a registered mapping wins";
    UnregisterPortDevice(5);
    EXPECT_EQ(DevicePathForPort(5), "\\\\.\\ignored");
}

}  // namespace
}  // namespace kestro
