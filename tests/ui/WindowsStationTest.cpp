// The station on the Windows build, as a technician meets it: the cables it finds in the system's
// device registry, one present when it opens and one that appears while it runs (its port comes
// into HARDWARE\DEVICEMAP\SERIALCOMM, as Windows adds it at a plug-in), each upgraded to the end
// on Windows' serial driver. KESTRO_TEST_STATION_PORTS names the two COM numbers, each with a fresh
// simulated radio of its own serial number behind it and its cable's USB key in the registry
// (scripts/test-windows sets this up under Wine).

#include <windows.h>

#include <QCheckBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "UiTestSupport.h"
#include "platform/Paths.h"
#include "ui/station/StationWindow.h"

using namespace kestro;
using namespace kestro::station;

namespace {

constexpr int kRunTimeoutMs = 240000;  // guards against a hang only
constexpr const wchar_t* kSerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The SERIALCOMM value that names `port`, taken out of the key while the object lives (the port
// is then absent, as before its cable is plugged in) and put back by Plug() or at the end.
class UnpluggedPort {
  public:
    explicit UnpluggedPort(const std::wstring& port) : m_port(port) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            wchar_t data[64];
            DWORD nameLength = 256;
            DWORD dataSize = sizeof data;
            DWORD type = 0;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
                ERROR_SUCCESS) {
                break;
            }
            if (type == REG_SZ && m_port == std::wstring(data, wcsnlen(data, dataSize / sizeof(wchar_t)))) {
                m_name = name;
                break;
            }
        }
        if (m_name && RegDeleteValueW(key, m_name->c_str()) != ERROR_SUCCESS) m_name.reset();
        RegCloseKey(key);
    }
    ~UnpluggedPort() { Plug(); }
    UnpluggedPort(const UnpluggedPort&) = delete;
    UnpluggedPort& operator=(const UnpluggedPort&) = delete;

    bool Unplugged() const { return m_name.has_value() && !m_plugged; }
    bool Plug() {
        if (!m_name || m_plugged) return m_plugged;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
        const auto size = static_cast<DWORD>((m_port.size() + 1) * sizeof(wchar_t));
        m_plugged = RegSetValueExW(key, m_name->c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(m_port.c_str()),
                                   size) == ERROR_SUCCESS;
        RegCloseKey(key);
        return m_plugged;
    }

  private:
    std::wstring m_port;
    std::optional<std::wstring> m_name;
    bool m_plugged = false;
};

}  // namespace

class WindowsStationTest : public QObject {
    Q_OBJECT

  private slots:
    void aCableAtTheStartAndOneThatAppearsAreBothUpgraded() {
        const QStringList numbers = qEnvironmentVariable("KESTRO_TEST_STATION_PORTS").split(QLatin1Char(','));
        if (numbers.size() != 2) QSKIP("KESTRO_TEST_STATION_PORTS names no two COM ports with radios");
        const QString present = QStringLiteral("COM") + numbers[0];
        const QString arriving = QStringLiteral("COM") + numbers[1];

        QTemporaryDir dir;
        const QString firmware = dir.filePath(QStringLiteral("short.pvx"));
        QVERIFY(uitest::WriteShortFirmware(QString::fromStdWString(DefaultFirmwarePath().wstring()), firmware, 280));
        const QString logPath = dir.filePath(QStringLiteral("station.csv"));

        UnpluggedPort later(arriving.toStdWString());
        QVERIFY2(later.Unplugged(), qPrintable(arriving + QStringLiteral(" is not in SERIALCOMM")));

        StationOptions options;
        options.settings.firmware = firmware.toStdString();
        options.settings.log = logPath.toStdString();
        options.settle = std::chrono::milliseconds(300);
        StationWindow window(std::move(options));
        window.AutoStartBox()->setChecked(true);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Station& station = window.GetStation();
        const auto rowOf = [&](const QString& port) -> const StationRow* {
            for (const StationRow& row : station.Model().Rows()) {
                if (row.device == port) return &row;
            }
            return nullptr;
        };

        // The cable there at the start waits for the user, who presses its row's button.
        const StationRow* first = rowOf(present);
        QVERIFY2(first != nullptr, qPrintable(present + QStringLiteral(" has no row")));
        QVERIFY(rowOf(arriving) == nullptr);
        QCOMPARE(first->state, RowState::Idle);
        const int firstId = first->id;
        const int firstRow = station.Model().RowOf(firstId);
        window.Table()->setCurrentIndex(station.Model().index(firstRow, StationModel::Action));
        QTest::keyClick(window.Table(), Qt::Key_Space);
        QVERIFY(station.Running(firstId));

        // The other cable's port comes into the registry: the station's next look finds it, and
        // its run starts by itself once it has settled.
        QVERIFY(later.Plug());
        QVERIFY(uitest::WaitUntil([&] { return rowOf(arriving) != nullptr; }, 10000));
        const int secondId = rowOf(arriving)->id;
        QVERIFY(uitest::WaitUntil([&] { return station.Running(secondId); }, 10000));

        if (const QString signal = qEnvironmentVariable("KESTRO_STATION_SCREENSHOT_SIGNAL"); !signal.isEmpty()) {
            // Both at work, for the caller's picture of the screen: make the file, wait until it is gone.
            QVERIFY(uitest::WaitUntil([&] { return rowOf(arriving)->percent >= 20; }, kRunTimeoutMs));
            QFile(signal).open(QIODevice::WriteOnly);
            uitest::WaitUntil([&] { return !QFile::exists(signal); }, 20000);
        }
        QVERIFY(uitest::WaitUntil([&] { return !station.AnyRunning(); }, kRunTimeoutMs));
        for (const int id : {firstId, secondId}) {
            const StationRow& row = *station.Model().Find(id);
            QVERIFY2(row.result == RowResult::Upgraded, qPrintable(row.device + QStringLiteral(": ") + row.message));
            QCOMPARE(row.firmwareAfter, QStringLiteral("R0104"));
        }
        QCOMPARE(station.Counts(), (StationCounts{.upgraded = 2, .failed = 0, .needingRecovery = 0}));
        const QStringList log = uitest::FileLines(logPath);
        QVERIFY2(log.size() == 3 && log.filter(QRegularExpression(QStringLiteral(",R0103,No,OK$"))).size() == 2,
                 qPrintable(log.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    WindowsStationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowsStationTest.moc"
