// Port discovery against a registry tree of the test's own (under HKEY_CURRENT_USER, removed
// afterwards), and against the machine's own keys where the environment describes them.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>

#include "serial/CSerialPort.h"
#include "serial/PortDiscovery.h"
#include "serial/win32/RegistryPorts.h"
#include "serial/win32/WindowsLines.h"

namespace kestro::win32 {
namespace {

class RegistryTree : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = "Software\\KestroTests\\RegistryPorts-" + std::to_string(::GetCurrentProcessId());
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_root.c_str());
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, m_root.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (m_key != nullptr) {
            ::RegCloseKey(m_key);
        }
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_root.c_str());
    }

    void SetText(const std::string& key, const std::string& name, const std::string& value) {
        ASSERT_EQ(::RegSetKeyValueA(m_key, key.c_str(), name.c_str(), REG_SZ, value.c_str(),
                                    static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    void MakeKey(const std::string& key) {
        HKEY made = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(m_key, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &made, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(made);
    }

    // The value names of `key` in the registry's own order, however long.
    std::vector<std::string> EnumeratedNames(const std::string& key) {
        std::vector<std::string> names;
        HKEY opened = nullptr;
        if (::RegOpenKeyExA(m_key, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
            return names;
        }
        for (DWORD i = 0;; ++i) {
            char name[512];
            DWORD length = sizeof name;
            if (::RegEnumValueA(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            names.emplace_back(name, length);
        }
        ::RegCloseKey(opened);
        return names;
    }

    std::vector<std::string> ListPorts() { return ReadSerialCommPortNames(m_key, "SERIALCOMM"); }
    int Find(const char* instance) {
        return FindUsbPortNumberInRegistry(instance, m_key, "System\\");
    }

    static constexpr const char* kPlain =
        "System\\Enum\\USB\\Vid_10c4&Pid_ea60\\0006\\Device Parameters";
    static constexpr const char* kComposite =
        "System\\Enum\\USB\\Vid_10c4&Pid_ea60&MI_00\\0006_00\\Device Parameters";

    std::string m_root;
    HKEY m_key = nullptr;
};

TEST_F(RegistryTree, PortsAreListedInTheRegistrysOrderWithDuplicatesAndNoSorting) {
    EXPECT_TRUE(ListPorts().empty()) << "no SERIALCOMM key: no ports";
    MakeKey("SERIALCOMM");
    EXPECT_TRUE(ListPorts().empty());

    const std::map<std::string, std::string> values = {
        {"\\Device\\Serial2", "COM3"},
        {"\\Device\\Serial0", "COM1"},
        {"\\Device\\Silabser0", "COM3"},
        {"\\Device\\VCP0", "COM1234567890123456"},   // 19 characters: fits
        {"\\Device\\VCP1", "COM12345678901234567"},  // 20: does not fit, the entry is empty
    };
    for (const auto& [name, data] : values) {
        SetText("SERIALCOMM", name, data);
    }
    std::vector<std::string> expected;
    for (const std::string& name : EnumeratedNames("SERIALCOMM")) {
        const std::string& data = values.at(name);
        expected.push_back(data.size() < 20 ? data : "");
    }
    ASSERT_EQ(expected.size(), values.size());
    EXPECT_EQ(ListPorts(), expected);
}

TEST_F(RegistryTree, EnumerationStopsAtAValueNameOfAHundredCharacters) {
    const std::map<std::string, std::string> values = {
        {"\\Device\\Serial0", "COM1"},
        {std::string(99, 'm'), "COM2"},   // the longest name the buffer holds
        {std::string(100, 'n'), "COM8"},  // one too long
        {"\\Device\\Serial9", "COM9"},
    };
    for (const auto& [name, data] : values) {
        SetText("SERIALCOMM", name, data);
    }
    std::vector<std::string> expected;
    for (const std::string& name : EnumeratedNames("SERIALCOMM")) {
        if (name.size() >= 100) {
            break;
        }
        expected.push_back(values.at(name));
    }
    EXPECT_EQ(ListPorts(), expected);
}

TEST_F(RegistryTree, TheBridgeIsFoundByItsPlainKeyAndItsNameGivesTheNumber) {
    EXPECT_EQ(Find("0006"), -1) << "no keys at all";
    MakeKey("System\\Enum\\USB");
    EXPECT_EQ(Find("0006"), -1) << "no device key";

    const struct {
        const char* portName;
        int number;
    } cases[] = {{"COM7", 7},  {"COM12", 12}, {"COM007", 7}, {"COM", 0},
                 {"COM 5", 0}, {"COM-5", 0},  {"XYZ9", 9},   {"COM5x", 5}};
    for (const auto& c : cases) {
        SetText(kPlain, "PortName", c.portName);
        EXPECT_EQ(Find("0006"), c.number) << c.portName;
    }
    EXPECT_EQ(Find("0001"), -1) << "another instance is not this one";
    EXPECT_EQ(Find(nullptr), -1);
}

TEST_F(RegistryTree, KeyNamesMatchWithoutRegardToLetterCase) {
    SetText("System\\Enum\\USB\\VID_10C4&PID_EA60\\0006\\Device Parameters", "PortName", "COM4");
    EXPECT_EQ(Find("0006"), 4);
}

TEST_F(RegistryTree, TheCompositeFormIsTriedOnlyWhenThePlainKeyLacksPortName) {
    SetText(kComposite, "PortName", "COM9");
    EXPECT_EQ(Find("0006"), -1) << "no plain key: the composite one is not looked at";

    MakeKey(kPlain);
    EXPECT_EQ(Find("0006"), 9);

    SetText(kPlain, "PortName", "COM3");
    EXPECT_EQ(Find("0006"), 3) << "the plain key's own PortName wins";
}

TEST(PortNumberFromName, ReadsTheDigitsAfterTheFirstThreeCharacters) {
    EXPECT_EQ(PortNumberFromName(""), 0);
    EXPECT_EQ(PortNumberFromName("CO"), 0);
    EXPECT_EQ(PortNumberFromName("COM255"), 255);
    EXPECT_EQ(PortNumberFromName("COM99999999999"), INT_MAX);
}

// The machine's own keys, as the test run set them up (Wine's port mappings appear under
// SERIALCOMM; the USB keys were added for the cable's bridge).
TEST(MachineRegistry, ListsTheMappedPortsAndFindsTheBridge) {
    const auto usb = test::UsbPortsFromEnvironment();
    const auto pair = test::PortPairFromEnvironment();
    if (usb.empty() || !pair) {
        GTEST_SKIP() << "KESTRO_TEST_USB_PORTS and KESTRO_TEST_PORT_PAIR describe no set-up";
    }
    const auto ports = ListPresentPorts(DefaultSysfsRoot());
    auto listed = [&](int number) {
        return std::any_of(ports.begin(), ports.end(), [&](const PortEntry& p) {
            return p.number == number && p.name == "COM" + std::to_string(number) &&
                   p.device == "\\\\.\\COM" + std::to_string(number);
        });
    };
    EXPECT_TRUE(listed(pair->engine));
    EXPECT_TRUE(listed(pair->peer));
    for (const auto& [instance, number] : usb) {
        EXPECT_EQ(CSerialPort::FindUsbPortNumber(instance.c_str()), number) << instance;
        EXPECT_TRUE(listed(number)) << "COM" << number;
    }
    EXPECT_EQ(CSerialPort::FindUsbPortNumber("0002"), -1);
}

}  // namespace
}  // namespace kestro::win32
