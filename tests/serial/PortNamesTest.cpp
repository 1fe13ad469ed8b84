// The Linux port-number rule and the mappings laid over it.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "serial/PortErrors.h"
#include "serial/PortNames.h"
#include "serial/posix/PermissionAdvice.h"

namespace kestro {
namespace {

class PortNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRegisteredPortDevices();
        ::unsetenv(kPortMapVariable);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(PortNamesTest, FixedRuleMapsEachRangeBothWays) {
    const struct {
        int number;
        const char* kernelName;
    } cases[] = {{1, "ttyS0"},    {32, "ttyS31"},   {33, "ttyUSB0"},
                 {64, "ttyUSB31"}, {65, "ttyACM0"}, {96, "ttyACM31"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FixedKernelName(c.number), c.kernelName) << c.number;
        EXPECT_EQ(FixedPortNumber(c.kernelName), c.number) << c.kernelName;
        EXPECT_EQ(DevicePathForPort(c.number), std::string("/dev/") + c.kernelName);
        EXPECT_EQ(PortNumberForDevice(std::string("/dev/") + c.kernelName), c.number);
    }
    for (int n = 1; n < kFirstFreePort; ++n) {
        const auto name = FixedKernelName(n);
        ASSERT_TRUE(name) << n;
        EXPECT_EQ(FixedPortNumber(*name), n);
    }
}

TEST_F(PortNamesTest, NumbersAndNamesOutsideTheRuleMapToNothing) {
    for (int n : {-1, 0, kFirstFreePort, 200}) {
        EXPECT_FALSE(FixedKernelName(n)) << n;
        EXPECT_FALSE(DevicePathForPort(n)) << n;
    }
    for (const char* name : {"ttyUSB32", "ttyS01", "ttySAC0", "ttyUSB", "ttyACM-1", "tty0",
                             "ttyAMA0", "ttyUSB0x"}) {
        EXPECT_FALSE(FixedPortNumber(name)) << name;
    }
    EXPECT_FALSE(PortNumberForDevice("ttyUSB0"));
    EXPECT_FALSE(PortNumberForDevice("/dev/pts/3"));
    EXPECT_EQ(PortName(33), "COM33");
}

TEST_F(PortNamesTest, PortMapTextSkipsMalformedItems) {
    const auto items = ParsePortMap(" 97=/dev/pts/5, COM98=/tmp/ttyX,x=/a,99=,=/b,0=/c,100");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (std::pair<int, std::string>{97, "/dev/pts/5"}));
    EXPECT_EQ(items[1], (std::pair<int, std::string>{98, "/tmp/ttyX"}));
    EXPECT_TRUE(ParsePortMap("").empty());
}

TEST_F(PortNamesTest, RegisteredMappingsWinOverTheEnvironmentAndTheRule) {
    ::setenv(kPortMapVariable, "97=/dev/pts/5,98=/tmp/ttyX,33=/dev/pts/9", 1);
    EXPECT_EQ(DevicePathForPort(97), "/dev/pts/5");
    EXPECT_EQ(PortNumberForDevice("/dev/tmp/none"), std::nullopt);
    EXPECT_EQ(PortNumberForDevice("/tmp/ttyX"), 98);

    RegisterPortDevice(97, "/dev/pts/7");
    EXPECT_EQ(DevicePathForPort(97), "/dev/pts/7");
    EXPECT_EQ(PortNumberForDevice("/dev/pts/5"), std::nullopt);

    // Port 33 now names the pseudo-terminal, so /dev/ttyUSB0 has no number any more.
    EXPECT_EQ(DevicePathForPort(33), "/dev/pts/9");
    EXPECT_EQ(PortNumberForDevice("/dev/ttyUSB0"), std::nullopt);

    UnregisterPortDevice(97);
    EXPECT_EQ(DevicePathForPort(97), "/dev/pts/5");
    const auto all = PortMappings();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all.front().first, 33);
    EXPECT_EQ(all.back().first, 98);
}

TEST(PortErrorsTest, ReasonsNameWhatTheUserCanDo) {
    const std::string denied = DescribeOpenFailure(EACCES, "/nonexistent/ttyUSB0");
    EXPECT_NE(denied.find("permission denied"), std::string::npos) << denied;
    EXPECT_NE(denied.find("dialout"), std::string::npos) << denied;
    const std::string busy = DescribeOpenFailure(EBUSY, "/dev/ttyUSB0");
    EXPECT_NE(busy.find("device busy"), std::string::npos) << busy;
    EXPECT_NE(busy.find("ModemManager"), std::string::npos) << busy;
    EXPECT_NE(DescribeOpenFailure(ENOENT, "/dev/ttyUSB0").find("no such device"),
              std::string::npos);
    EXPECT_EQ(SystemErrorText(EIO), "Input/output error");
}

// A group is suggested only when joining it opens the device and does not make the user root's
// equal; otherwise the udev rule and sudo are.
TEST(PortErrorsTest, PermissionAdviceNamesAGroupOnlyWhenJoiningItHelpsSafely) {
    struct Case {
        posix::DeviceAccess access;
        const char* group;  // the group suggested, or nullptr for the udev rule
    };
    const Case cases[] = {
        {{true, 0660, "dialout"}, "dialout"},
        {{true, 0660, "uucp"}, "uucp"},
        {{true, 0600, "root"}, nullptr},
        {{true, 0660, "root"}, nullptr},
        {{true, 0600, "dialout"}, nullptr},
        {{true, 0640, "dialout"}, nullptr},
        {{true, 0620, "tty"}, nullptr},
        {{false, 0, ""}, "dialout"},  // the device could not be looked at
    };
    for (const Case& c : cases) {
        const std::string advice = posix::PermissionAdvice("/dev/ttyUSB0", c.access);
        SCOPED_TRACE(advice);
        EXPECT_TRUE(advice.starts_with("permission denied: /dev/ttyUSB0"));
        if (c.group != nullptr) {
            EXPECT_NE(advice.find(std::string("sudo usermod -aG ") + c.group + " $USER"),
                      std::string::npos);
        } else {
            EXPECT_EQ(advice.find("usermod"), std::string::npos);
            EXPECT_NE(advice.find("60-kestro-programming-cable.rules"), std::string::npos);
            EXPECT_NE(advice.find("with sudo"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace kestro
