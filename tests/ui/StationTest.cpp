// The station with simulated radios on pseudo-terminals, in real time, through the run core's
// real serial engines and threads: four radios at once, cables that come and go with their runs
// started by themselves, a cable pulled mid-run, recovery by Finish, each row's own button, and
// closing. Set KESTRO_STATION_SCREENSHOT to a file path to save the station with six radios in
// several phases.

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "UiTestSupport.h"
#include "serial/FakeSysfs.h"
#include "firmware/CCommFile.h"
#include "firmware/FirmwareLoader.h"
#include "radio/posix/PtyRadioServer.h"
#include "radio/posix/SimulatedLine.h"
#include "upgrade/RecoveryRecords.h"
#include "ui/station/StationTexts.h"
#include "ui/station/StationWindow.h"
#include "upgrade/Texts.h"

using namespace kestro;
using namespace kestro::station;

namespace {

// Guards against a hang only.
constexpr int kRunTimeoutMs = 180000;

bool Until(const std::function<bool()>& condition) { return uitest::WaitUntil(condition, kRunTimeoutMs); }

}  // namespace

class StationTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_fullFirmware;
    QString m_shortFirmware;
    QString m_logPath;
    CCommFile m_image;  // the short firmware, decoded
    std::unique_ptr<StationWindow> m_window;

    Station& S() { return m_window->GetStation(); }
    const StationRow& Row(int id) { return *S().Model().Find(id); }
    int IdAt(int row) { return S().Model().Rows()[static_cast<std::size_t>(row)].id; }
    void Key(QKeySequence keys) { QTest::keySequence(m_window->Table(), keys); }

    // `autoStart`: the check box is set so; none: as the station remembered it.
    void Open(std::vector<std::string> simulated, const QString& firmware, std::optional<bool> autoStart = false) {
        StationOptions options;
        options.simulation = true;
        options.simulated = std::move(simulated);
        options.settings.firmware = firmware.toStdString();
        options.settings.log = m_logPath.toStdString();
        options.settle = std::chrono::milliseconds(100);
        m_window = std::make_unique<StationWindow>(std::move(options));
        if (autoStart) m_window->AutoStartBox()->setChecked(*autoStart);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    bool Ended(int id) { return Row(id).state == RowState::Ended; }
    // The simulated radio holds the short firmware, application rows and boot area, swapped in.
    bool HoldsFirmware(int id) {
        return S().SimulatedLineOf(id)->WithRadio([this](SimRadio& radio) {
            for (int p = 0; p < m_image.m_rowCount; ++p) {
                const auto& row = m_image.RowAt(p);
                const std::span<const std::uint8_t> stored =
                    p < m_image.m_appStartRow
                        ? radio.ActiveBootArea().subspan(16 * static_cast<std::size_t>(p), 16)
                        : std::span<const std::uint8_t>(radio.FlashRow(static_cast<std::uint16_t>((row[0] << 8) | row[1])));
                if (!std::equal(stored.begin(), stored.end(), row.begin() + 2)) return false;
            }
            return radio.BootSwapMatched() && radio.State() == RadioState::Normal;
        });
    }
    void SlowDown(int id) {
        S().SimulatedLineOf(id)->WithRadio([](SimRadio& radio) { radio.Config().latency = SimMillis{25}; });
    }

  private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);  // the remembered check box stays with the test
        m_fullFirmware = m_dir.filePath(QStringLiteral("zqt_upg.pvx"));
        QVERIFY(QFile::copy(QStringLiteral(KESTRO_SAMPLE_FIRMWARE), m_fullFirmware));
        m_shortFirmware = m_dir.filePath(QStringLiteral("short.pvx"));
        QVERIFY(uitest::WriteShortFirmware(m_fullFirmware, m_shortFirmware, 280));
        CFirmwareLoader loader;
        loader.LoadFirmwareFile(m_shortFirmware.toStdString(), m_image, [](const std::string&) {});
        QCOMPARE(loader.m_firmwareLoadFailed, 0);
    }
    void init() { m_logPath = m_dir.filePath(QStringLiteral("%1.csv").arg(QTest::currentTestFunction())); }
    void cleanup() { m_window.reset(); }

    void fourRadiosEachEndAsTheirOwnAndFinishRecoversThePulledOne() {
        Open({"normal", "normal", "battery-low", "cable-pulled"}, m_shortFirmware);
        uitest::ModalCloser closer;
        QCOMPARE(S().Model().rowCount(), 4);
        Key(QKeySequence(Qt::CTRL | Qt::Key_U));
        QVERIFY(Until([&] { return !S().AnyRunning(); }));

        QVERIFY(closer.Boxes().empty());  // results are never modal
        for (int i : {0, 1}) {
            QCOMPARE(Row(IdAt(i)).resultText, QStringLiteral("upgraded"));
            QCOMPARE(Row(IdAt(i)).result, RowResult::Upgraded);
            QVERIFY(HoldsFirmware(IdAt(i)));
            QVERIFY(!Row(IdAt(i)).needsRecovery);
        }
        const StationRow& low = Row(IdAt(2));
        QCOMPARE(low.resultText, QStringLiteral("Read Error #8"));
        QCOMPARE(low.message, uitest::Shown(texts::kReadError8));
        QVERIFY(!low.needsRecovery);
        const StationRow& pulled = Row(IdAt(3));
        QCOMPARE(pulled.result, RowResult::Failed);
        QVERIFY(pulled.needsRecovery);
        QCOMPARE(S().Counts().upgraded, 2);
        QCOMPARE(S().Counts().failed, 2);
        QCOMPARE(S().Counts().needingRecovery, 1);

        // The message's title is the row's result; its whole text is the tool tip and, for the
        // selected row, the detail pane; screen readers hear port, phase and result.
        const QModelIndex result = S().Model().index(2, StationModel::Result);
        QCOMPARE(result.data(Qt::DisplayRole).toString(), QStringLiteral("Read Error #8"));
        QCOMPARE(result.data(Qt::ToolTipRole).toString(), uitest::Shown(texts::kReadError8));
        m_window->Select(IdAt(2));
        QVERIFY(m_window->Detail()->toPlainText().contains(uitest::Shown(texts::kReadError8)));
        QCOMPARE(result.data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("%1, %2, Read Error #8").arg(low.PortText(), low.phase));
        QVERIFY(S().Model().index(3, StationModel::Recovery).data().toString().contains("needs recovery"));
        // Each row has its own button: Finish on the radio left needing recovery, else Upgrade;
        // a screen reader names it with what it does and for which port.
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(S().Model().index(i, StationModel::Action).data().toString(),
                     QLatin1String(i == 3 ? "Finish" : "Upgrade"));
        }
        QAccessibleInterface* cell =
            QAccessible::queryAccessibleInterface(m_window->Table())->tableInterface()->cellAt(3, StationModel::Action);
        QCOMPARE(cell->text(QAccessible::Name),
                 QStringLiteral("Finish the interrupted upgrade of the radio on %1").arg(pulled.PortText()));

        // Finish, on the pulled row only: its radio is finished straight from programming.
        m_window->Select(IdAt(3));
        QVERIFY(m_window->FinishAction()->isEnabled());
        Key(QKeySequence(Qt::CTRL | Qt::Key_R));
        QVERIFY(S().Running(IdAt(3)));
        QVERIFY(!S().Running(IdAt(2)));
        QVERIFY(Until([&] { return Ended(IdAt(3)); }));
        QCOMPARE(Row(IdAt(3)).resultText, QStringLiteral("upgraded"));
        QVERIFY(!Row(IdAt(3)).needsRecovery);
        QVERIFY(HoldsFirmware(IdAt(3)));
        QCOMPARE(S().Counts().upgraded, 3);
        QVERIFY(m_window->CountsLabel()->text().contains(QStringLiteral("Upgraded: 3")));

        // Under one header, a line for each upgraded radio and one for the recovery run, which
        // no record armed; neither the radio stopped by its battery nor the one whose run failed
        // while programming has one.
        const QStringList log = uitest::FileLines(m_logPath);
        QVERIFY2(log.size() == 4, qPrintable(log.join('\n')));
        QCOMPARE(log.filter(QStringLiteral("Date")).size(), 1);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral(",KS2400173[56],R0103,No,OK$"))).size(), 2);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d, [0-9:]{8},,,,OK$"))).size(), 1);

        // A row's own button starts that row alone: Space on its cell, or a click on it.
        QTableView* table = m_window->Table();
        const std::vector<std::pair<int, std::function<void()>>> presses = {
            {2, [&] {
                 table->setCurrentIndex(S().Model().index(2, StationModel::Action));
                 QTest::keyClick(table, Qt::Key_Space);
             }},
            {0, [&] {
                 const QRect cell = table->visualRect(S().Model().index(0, StationModel::Action));
                 QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
             }},
        };
        for (const auto& [row, press] : presses) {
            press();
            for (int i = 0; i < 4; ++i) QCOMPARE(S().Running(IdAt(i)), i == row);
            QVERIFY(Until([&] { return !S().AnyRunning(); }));
        }
        // Row 0's radio restarted on the firmware its first run wrote: its second run stops at
        // the version check.
        QCOMPARE(Row(IdAt(0)).resultText,
                 QStringLiteral("WARNING: The firmware version of device must be less than the R01.04."));
        QCOMPARE(Row(IdAt(2)).resultText, QStringLiteral("Read Error #8"));
    }

    void cablesThatArriveStartThemselvesAndAPulledOneTouchesNoOther() {
        Open({}, m_shortFirmware, /*autoStart=*/true);
        m_window.reset();
        // The choice is remembered; a cable there before the station opened waits for the user.
        Open({"normal"}, m_shortFirmware, std::nullopt);
        QVERIFY(m_window->AutoStartBox()->isChecked());
        uitest::ModalCloser closer;
        const int before = IdAt(0);
        Key(QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(S().Model().rowCount(), 2);
        QCOMPARE(m_window->SelectedId(), before);  // a plug-in leaves the user's selection
        const int first = IdAt(1);
        QVERIFY(Until([&] { return Ended(first); }));
        QCOMPARE(Row(first).resultText, QStringLiteral("upgraded"));
        QVERIFY(HoldsFirmware(first));
        QCOMPARE(Row(before).state, RowState::Idle);
        m_window->Select(before);
        Key(QKeySequence(Qt::CTRL | Qt::Key_D));
        // The result stays until the cable goes; the next radio plugged in starts by itself.
        QTest::qWait(300);
        QCOMPARE(Row(first).resultText, QStringLiteral("upgraded"));
        m_window->Select(first);
        Key(QKeySequence(Qt::CTRL | Qt::Key_D));
        QCOMPARE(S().Model().rowCount(), 0);
        Key(QKeySequence(Qt::CTRL | Qt::Key_N));
        Key(QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(S().Model().rowCount(), 2);
        const int pulled = IdAt(0);
        const int other = IdAt(1);
        SlowDown(pulled);  // its erase span lasts long enough to pull the cable in it
        QVERIFY(Until([&] { return S().Running(pulled) && S().Running(other); }));

        QVERIFY(Until([&] { return Row(pulled).phase == QString::fromLatin1(texts::kUpdatingDontPowerOff).trimmed(); }));
        m_window->Select(pulled);
        Key(QKeySequence(Qt::CTRL | Qt::Key_D));
        QVERIFY(Until([&] { return Ended(pulled) && Ended(other); }));
        QCOMPARE(Row(other).resultText, QStringLiteral("upgraded"));
        QVERIFY(HoldsFirmware(other));
        QCOMPARE(Row(pulled).result, RowResult::Failed);
        QVERIFY(!Row(pulled).message.isEmpty());
        QVERIFY(Row(pulled).needsRecovery);
        QVERIFY(!Row(pulled).present);
        QVERIFY(closer.Boxes().empty());
        QCOMPARE(S().Counts().upgraded, 2);
        QCOMPARE(S().Counts().needingRecovery, 1);
    }

    // A close asked for in the erase span waits, with a notice in the window naming the radio
    // (no box), and goes ahead by itself once the radio has ended; meanwhile a screen reader
    // hears the progress cell as a progress bar with the row's percent, and the counts' text.
    void closingWaitsForTheEraseSpanAndThenCloses() {
        Open({"normal", "normal"}, m_shortFirmware);
        SlowDown(IdAt(0));  // an erase span long enough to try closing in it
        uitest::ModalCloser closer;
        m_window->Select(IdAt(0));
        QTest::keyClick(m_window->Table(), Qt::Key_Return);
        QVERIFY(S().Running(IdAt(0)));
        QVERIFY(Until([&] { return S().AnyInEraseSpan() && Row(IdAt(0)).percent > 0; }));
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
        QVERIFY(closer.Boxes().empty());
        QVERIFY(m_window->CloseBanner()->isVisible());
        QCOMPARE(m_window->CloseNotice()->text(),
                 QString::fromLatin1(stationtexts::kCloseWaitsForOne).arg(Row(IdAt(0)).PortText()));
        QVERIFY(S().Running(IdAt(0)));

        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_window->Table());
        QAccessibleInterface* progress = table->tableInterface()->cellAt(0, StationModel::Progress);
        QCOMPARE(progress->role(), QAccessible::ProgressBar);
        QVERIFY(progress->valueInterface() != nullptr);
        const int percent = Row(IdAt(0)).percent;
        QVERIFY(std::abs(progress->valueInterface()->currentValue().toInt() - percent) <= 1);
        QCOMPARE(progress->valueInterface()->maximumValue().toInt(), 100);
        // Its index among the table's children is the one the view's own events give it.
        QCOMPARE(table->child(table->indexOfChild(progress)), progress);
        QCOMPARE(table->indexOfChild(progress), 1 * (StationModel::ColumnCount + 1) + StationModel::Progress + 1);
        QCOMPARE(QAccessible::queryAccessibleInterface(m_window->CountsLabel())->text(QAccessible::Name),
                 m_window->CountsLabel()->text());

        // The refused close stopped nothing in the span: the radio is finished, then the
        // station closes.
        QVERIFY(Until([&] { return !m_window->isVisible(); }));
        QCOMPARE(Row(IdAt(0)).resultText, QStringLiteral("upgraded"));
        QVERIFY(HoldsFirmware(IdAt(0)));
        QCOMPARE(Row(IdAt(1)).state, RowState::Idle);
        m_window.reset();

        Open({"normal", "normal"}, m_fullFirmware);
        QVERIFY(m_window->close());
    }

    // The window opens within the screen's free area whatever the scale factor (the test also
    // runs with QT_SCALE_FACTOR=2), and at 1024x600 every column shows without a horizontal
    // scroll bar, Phase and Result sharing what the other columns leave.
    void opensWithinTheScreenAndFitsItsWidth() {
        Open({"normal", "battery-low", "cable-pulled", "normal"}, m_fullFirmware);
        const QRect area = m_window->screen()->availableGeometry();
        QVERIFY2(area.contains(m_window->frameGeometry()),
                 qPrintable(QStringLiteral("%1x%2 on %3x%4").arg(m_window->frameGeometry().width())
                                .arg(m_window->frameGeometry().height()).arg(area.width()).arg(area.height())));
        m_window->resize(1024, 600);
        QTableView* table = m_window->Table();
        QVERIFY(Until([&] { return table->width() > 900; }));
        QCoreApplication::processEvents();
        QVERIFY(!table->horizontalScrollBar()->isVisible());
        int sum = 0;
        for (int c = 0; c < StationModel::ColumnCount; ++c) sum += table->columnWidth(c);
        QCOMPARE(sum, table->viewport()->width());
        const int phase = table->columnWidth(StationModel::Phase);
        QVERIFY(std::abs(phase - table->columnWidth(StationModel::Result)) <= 1);
        QVERIFY(phase > table->columnWidth(StationModel::TimeLeft));
        // The columns sized to their content show it whole.
        for (int c : {StationModel::Port, StationModel::Serial, StationModel::Recovery}) {
            for (int r = 0; r < S().Model().rowCount(); ++r) {
                const QString text = S().Model().index(r, c).data().toString();
                QVERIFY2(table->columnWidth(c) > table->fontMetrics().horizontalAdvance(text), qPrintable(text));
            }
        }
    }

    // Rows follow the programming cables in the device tree; a port added by hand stays.
    void rowsFollowTheCablesPresent() {
        test::FakeSysfs sysfs;
        sysfs.AddUsbTty("ttyUSB0", {});
        sysfs.AddUsbTty("ttyUSB1", {.vendor = "0403", .product = "6001"});  // no programming cable
        StationOptions options;
        options.sysfsRoot = sysfs.Root();
        options.scanInterval = std::chrono::milliseconds(20);
        Station station(options);
        const auto devices = [&] {
            QStringList list;
            for (const StationRow& row : station.Model().Rows()) list << row.device;
            return list.join(' ');
        };
        QCOMPARE(devices(), QStringLiteral("/dev/ttyUSB0"));
        station.AddPort("/dev/ttyS4");
        sysfs.AddUsbTty("ttyUSB2", {.serial = "0001"});
        // A few scans at most; the limit only guards against a hang.
        const auto seen = [&](const char* expected) {
            return uitest::WaitUntil([&] { return devices() == QLatin1String(expected); }, 10000);
        };
        QVERIFY(seen("/dev/ttyUSB0 /dev/ttyS4 /dev/ttyUSB2"));
        std::filesystem::remove(sysfs.Root() / "class" / "tty" / "ttyUSB0");
        QVERIFY(seen("/dev/ttyS4 /dev/ttyUSB2"));
    }

    // A radio that an earlier session left without firmware (its record is in the state folder)
    // waits on a cable: its row offers Finish from the start, still after a plain run that its
    // silence failed, and while its cable is out; Finish completes it and its record goes.
    void aRowWithARecordOffersFinishUntilItsRadioIsFinished() {
        QTemporaryDir state;
        const QByteArray before = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        SimRadioConfig config;
        config.latency = SimMillis{0};
        PtyRadioServer radio(config);
        std::string error;
        QVERIFY2(radio.Start(&error), error.c_str());
        radio.WithRadio([](SimRadio& sim) { sim.EnterNeedsRecovery(); });
        const std::string device = radio.SlavePath();
        const CRecoveryRecords records(DefaultRecoveryFolder());
        QVERIFY(records.Mark({device, device, "KS24001735", m_shortFirmware.toStdString(), 1, {}, {}, {}}));
        test::FakeSysfs sysfs;
        sysfs.AddUsbTty("ttyUSB0", {.devName = device.substr(5)});
        StationOptions options;
        options.sysfsRoot = sysfs.Root();
        options.scanInterval = std::chrono::milliseconds(20);
        options.settings.firmware = m_shortFirmware.toStdString();
        options.settings.log = m_logPath.toStdString();
        m_window = std::make_unique<StationWindow>(std::move(options));
        QCOMPARE(S().Model().rowCount(), 1);
        const int id = IdAt(0);
        const auto offersFinish = [&] {
            m_window->Select(id);
            return Row(id).Action() == RowAction::Finish && m_window->FinishAction()->isEnabled();
        };
        QVERIFY(offersFinish());
        QVERIFY(Row(id).notes.contains(QStringLiteral("KS24001735")));

        QVERIFY(S().Upgrade(id));  // Upgrade selected: a plain run, which the silent radio fails
        QVERIFY(Until([&] { return Ended(id); }));
        QCOMPARE(Row(id).result, RowResult::Failed);
        QVERIFY(offersFinish());
        std::filesystem::remove(sysfs.Root() / "class" / "tty" / "ttyUSB0");
        QVERIFY(Until([&] { return S().Model().Find(id) == nullptr || !Row(id).present; }));
        QVERIFY(S().Model().Find(id) != nullptr);  // the row stays while its radio needs recovery
        QVERIFY(offersFinish());
        sysfs.AddUsbTty("ttyUSB0", {.devName = device.substr(5)});
        QVERIFY(Until([&] { return Row(id).present; }));

        QVERIFY(S().Act(id));
        QVERIFY(Until([&] { return Ended(id); }));
        QCOMPARE(Row(id).resultText, QStringLiteral("upgraded"));
        QCOMPARE(Row(id).Action(), RowAction::Upgrade);
        QVERIFY(records.All().empty());
        QVERIFY(radio.WithRadio([](SimRadio& sim) { return sim.State() == RadioState::Normal && sim.BootSwapMatched(); }));
        m_window.reset();
        qputenv("XDG_STATE_HOME", before);
    }

    // A cable that arrives waits for its settle time before its run starts by itself.
    void anArrivingCableWaitsForItsSettleTime() {
        StationOptions options;
        options.simulation = true;
        options.autoStart = true;
        options.settle = std::chrono::hours(1);
        options.settings.firmware = m_shortFirmware.toStdString();
        Station station(options);
        const int id = station.PlugSimulated("normal");
        QTest::qWait(300);  // several ticks
        QCOMPARE(station.Model().Find(id)->state, RowState::Settling);
        QVERIFY(!station.Running(id));
    }

    void screenshotOfSixRadios() {
        const QByteArray path = qgetenv("KESTRO_STATION_SCREENSHOT");
        if (path.isEmpty()) QSKIP("set KESTRO_STATION_SCREENSHOT to save the picture");
        Open({"normal", "normal", "battery-low", "cable-pulled", "no-restore", "normal"}, m_fullFirmware);
        uitest::ModalCloser closer;
        SlowDown(IdAt(5));
        Key(QKeySequence(Qt::CTRL | Qt::Key_U));
        QVERIFY(Until([&] { return Ended(IdAt(2)) && Ended(IdAt(3)) && Row(IdAt(0)).percent >= 40; }));
        m_window->Select(IdAt(2));
        QVERIFY(uitest::SaveWindowPicture(m_window.get(), QString::fromLocal8Bit(path)));
    }
};

QTEST_MAIN(StationTest)
#include "StationTest.moc"
