#pragma once
// A throw-away sysfs tree shaped like the kernel's: /class/tty entries linking into /devices,
// USB devices with their interface folders, and UART slots with a "type" attribute.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kestro::test {

class FakeSysfs {
public:
    struct Usb {
        std::string vendor = "10c4";
        std::string product = "ea60";
        std::string serial = "0006";
        int interfaces = 1;
        int interfaceNumber = 0;
        // The node's name below /dev, when it differs from the tty's ("pts/3" lets a test put a
        // pseudo-terminal behind a fake bridge).
        std::string devName{};
    };

    FakeSysfs() {
        std::random_device seed;
        m_root = std::filesystem::temp_directory_path() /
                 ("kestro-sysfs-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(m_root / "class" / "tty");
    }
    ~FakeSysfs() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    const std::filesystem::path& Root() const { return m_root; }

    // A tty behind a USB interface; `ttyName` ttyUSB* gets the usb-serial port folder between
    // interface and tty, as cp210x does; ttyACM* hangs off the interface directly.
    void AddUsbTty(const std::string& ttyName, const Usb& usb) {
        const std::string busPort = "1-" + std::to_string(++m_usbCount);
        const auto device = m_root / "devices" / "pci0000:00" / "usb1" / busPort;
        const auto interface =
            device / (busPort + ":1." + std::to_string(usb.interfaceNumber));
        Write(device / "idVendor", usb.vendor);
        Write(device / "idProduct", usb.product);
        Write(device / "serial", usb.serial);
        Write(device / "bNumInterfaces", (usb.interfaces < 10 ? " " : "") +
                                             std::to_string(usb.interfaces));
        char number[3];
        std::snprintf(number, sizeof number, "%02x", usb.interfaceNumber);
        Write(interface / "bInterfaceNumber", number);
        const bool usbSerial = ttyName.rfind("ttyUSB", 0) == 0;
        const auto portDevice = usbSerial ? interface / ttyName : interface;
        AddTty(ttyName, portDevice, usb.devName);
    }

    // A UART slot; type 0 means no UART answered there.
    void AddUart(const std::string& ttyName, int type) {
        const auto device = m_root / "devices" / "platform" / "serial8250";
        AddTty(ttyName, device);
        Write(m_root / "class" / "tty" / ttyName / "type", std::to_string(type));
    }

    // A tty with no device behind it (consoles, pseudo-terminals).
    void AddVirtualTty(const std::string& ttyName) {
        std::filesystem::create_directories(m_root / "devices" / "virtual" / "tty" / ttyName);
        std::filesystem::create_directory_symlink(m_root / "devices" / "virtual" / "tty" / ttyName,
                                                  m_root / "class" / "tty" / ttyName);
    }

private:
    void AddTty(const std::string& ttyName, const std::filesystem::path& portDevice,
                const std::string& devName = {}) {
        const auto ttyFolder = portDevice / "tty" / ttyName;
        std::filesystem::create_directories(ttyFolder);
        std::ofstream(ttyFolder / "uevent")
            << "MAJOR=188\nMINOR=" << m_usbCount << "\nDEVNAME=" << (devName.empty() ? ttyName : devName)
            << "\n";
        std::filesystem::create_directory_symlink(portDevice, ttyFolder / "device");
        std::filesystem::create_directory_symlink(ttyFolder, m_root / "class" / "tty" / ttyName);
    }

    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }

    std::filesystem::path m_root;
    int m_usbCount = 0;
};

}  // namespace kestro::test
