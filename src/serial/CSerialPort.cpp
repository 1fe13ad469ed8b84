// The engine's one face for both platforms: each call goes to the platform's back end.

#include "serial/CSerialPort.h"

#include "serial/PortDiscovery.h"
#include "serial/PortOpening.h"
#if defined(_WIN32)
#include "serial/win32/SerialEngine.h"
#else
#include "serial/posix/SerialEngine.h"
#endif

namespace kestro {

CSerialPort::CSerialPort() : m_engine(std::make_unique<Engine>()) {}
CSerialPort::~CSerialPort() = default;

bool CSerialPort::OpenPort(IPortOwner* owner, int portNumber) { return OpenTarget(owner, PortTarget{portNumber, {}, {}}); }

// Which ports are tried is PortOpening's; how one is opened, the platform's.
bool CSerialPort::OpenTarget(IPortOwner* owner, const PortTarget& target) {
    std::string error;
    const bool opened = OpenWithFallback(
        Engine::AsOpened(target), m_engine->m_cableFallback,
        [](const char* instance) { return FindUsbPortNumber(instance); },
        [this, owner](const PortAttempt& port) { return m_engine->OpenOne(owner, port); }, error);
    m_engine->SetOpenError(std::move(error));
    return opened;
}
void CSerialPort::SetCableFallback(bool enabled) { m_engine->m_cableFallback = enabled; }
bool CSerialPort::StartPortThread() { return m_engine->StartPortThread(); }
void CSerialPort::ClosePort() { m_engine->ClosePort(); }
int CSerialPort::PortNumber() const { return m_engine->m_portNumber.load(); }
std::string CSerialPort::LastOpenError() const { return m_engine->LastOpenError(); }
void CSerialPort::HandOff(const std::uint8_t* bytes, std::size_t length) { m_engine->HandOff(bytes, length); }

int CSerialPort::FindUsbPortNumber(const char* instanceId) {
    return FindUsbPortNumberIn(DefaultSysfsRoot(), instanceId);
}

int CSerialPort::AutomaticPortNumber() const {
    const int number = FindUsbPortNumber(kAutomaticInstance);
    return number > 0 ? number : 0;
}

}  // namespace kestro
