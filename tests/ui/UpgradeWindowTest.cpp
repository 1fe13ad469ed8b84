// Whole runs from the window against the simulated radio on a pseudo-terminal, in real time, with
// the real serial engine and its threads: a full upgrade, a failure whose message box the test
// closes, a recovery run started by the recovery key, a cable lost mid-run, and a window
// destroyed mid-run. Set KESTRO_UI_SCREENSHOT to a file path to save the window during the run.

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

#include "UiTestSupport.h"
#include "radio/Scenarios.h"
#include "radio/posix/PtyRadioServer.h"
#include "serial/CSerialPort.h"
#include "serial/PortNames.h"
#include "ui/CDorvikUpgradeKitView.h"
#include "ui/CMainFrame.h"
#include "ui/CProgressEx.h"
#include "ui/UiTexts.h"
#include "upgrade/Texts.h"

using namespace kestro;

namespace {

constexpr int kPort = kFirstFreePort;
// Guards against a hang only; the runs themselves take a few seconds.
constexpr int kRunTimeoutMs = 180000;

QString Q(const char* text) { return QString::fromLatin1(text); }

}  // namespace

class UpgradeWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_fullFirmware;
    QString m_shortFirmware;
    QString m_logPath;
    MemorySettings m_settings;
    std::unique_ptr<PtyRadioServer> m_radio;
    std::unique_ptr<CMainFrame> m_frame;

    CDorvikUpgradeKitView& View() { return *m_frame->View(); }
    CUpgradeHub& Hub() { return View().Hub(); }
    QString Status() { return View().StatusLine()->text(); }
    QAction* Upgrade() { return m_frame->UpgradeAction(); }
    void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(&View(), key, modifiers);
    }
    void ClickForm() { QTest::mouseClick(&View(), Qt::LeftButton, {}, QPoint(5, 5)); }
    template <typename Action>
    auto Radio(Action&& action) {
        return m_radio->WithRadio(std::forward<Action>(action));
    }

    // A radio on a fresh pseudo-terminal, chosen as the stored fixed port.
    void StartRadio(const char* scenario, std::size_t loseCableAt = 0) {
        SimRadioConfig config;
        config.latency = SimMillis{0};
        config.loseCableAt = loseCableAt;
        m_radio = std::make_unique<PtyRadioServer>(config);
        QVERIFY(Radio([scenario](SimRadio& radio) { return ApplyScenario(radio, scenario); }));
        std::string error;
        QVERIFY2(m_radio->Start(&error), error.c_str());
        RegisterPortDevice(kPort, m_radio->SlavePath());
        m_settings.SetString("Settings", "AUTO", "No");
        m_settings.SetString("Settings", "COM", PortName(kPort));
    }
    void OpenWindow(const QString& firmware, const QString& recoveryFolder = {}) {
        CUpgradeHub::Options options;
        options.firmwarePath = firmware.toStdString();
        options.logPath = m_logPath.toStdString();
        options.recoveryFolder = recoveryFolder.toStdString();
        m_frame = std::make_unique<CMainFrame>(m_settings, options);
        m_frame->show();
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
    }
    QStringList LogLines() { return uitest::FileLines(m_logPath); }
    bool RecoveryShown() { return m_frame->RecoveryPane()->isVisible(); }
    // After a box has closed, the window takes its keys again once it is active.
    void Activate() {
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
    }
    static bool Until(const std::function<bool()>& condition) {
        return uitest::WaitUntil(condition, kRunTimeoutMs);
    }

  private slots:
    void initTestCase() {
        // Copies, since the loader may rewrite the file it reads.
        m_fullFirmware = m_dir.filePath(QStringLiteral("zqt_upg.pvx"));
        QVERIFY(QFile::copy(QStringLiteral(KESTRO_SAMPLE_FIRMWARE), m_fullFirmware));
        m_shortFirmware = m_dir.filePath(QStringLiteral("short.pvx"));
        QVERIFY(uitest::WriteShortFirmware(m_fullFirmware, m_shortFirmware, 280));
    }
    void init() {
        m_logPath = m_dir.filePath(QStringLiteral("%1.csv").arg(QTest::currentTestFunction()));
    }
    void cleanup() {
        m_frame.reset();
        if (m_radio) m_radio->Stop();
        m_radio.reset();
        UnregisterPortDevice(kPort);
    }

    void fullUpgrade() {
        StartRadio("normal");
        OpenWindow(m_fullFirmware);
        uitest::ModalCloser closer;

        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Hub().UpgradeRunning());
        QVERIFY(!Upgrade()->isEnabled());

        QVERIFY(Until([&] {
            return Status() == Q(texts::kUpdatingDontPowerOff) && View().Progress()->Pos() >= 45;
        }));
        QVERIFY(View().Progress()->isVisible());
        QVERIFY(QString::fromStdString(View().Progress()->Label()).startsWith("Firmware Writing "));
        if (const QByteArray path = qgetenv("KESTRO_UI_SCREENSHOT"); !path.isEmpty()) {
            QVERIFY(uitest::SaveWindowPicture(m_frame.get(), QString::fromLocal8Bit(path)));
        }

        // During the run: input refreshes nothing but the disabled state, the recovery key only
        // sets the flag, and the window will not close.
        ClickForm();
        QVERIFY(!Upgrade()->isEnabled());
        QVERIFY(Status() != Q(texts::kStartTheUpgrade));
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(Hub().RecoveryFlag(), 1);
        QVERIFY(!m_frame->close());
        QVERIFY(m_frame->isVisible());
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(uitexts::kCloseDuringRun));

        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(Hub().LastOutcome(), RunOutcome::Completed);
        QCOMPARE(Status(), Q(texts::kCompleted));
        QVERIFY(!View().Progress()->isVisible());
        QCOMPARE(Hub().RecoveryFlag(), 0);  // the successful end cleared it
        QCOMPARE(closer.Boxes().size(), std::size_t{1});

        const QStringList log = LogLines();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log[1].endsWith(QStringLiteral(",KS24001735,R0103,No,OK")), qPrintable(log[1]));
        QVERIFY(Radio([](SimRadio& radio) {
            return radio.CountOf(REQ_UPDATE_END) == 1 && radio.BootSwaps() == 1 &&
                   radio.BootSwapMatched() && radio.State() == RadioState::Normal;
        }));

        // Afterwards the command comes back, and the final text stays until the user acts.
        QVERIFY(Until([&] { return Upgrade()->isEnabled(); }));
        QTest::qWait(100);
        QCOMPARE(Status(), Q(texts::kCompleted));
        ClickForm();
        QCOMPARE(Status(), Q(texts::kStartTheUpgrade));
    }

    void failureShowsTheWorkersBox() {
        StartRadio("battery-low");
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;
        QString statusWhileOpen;
        bool runningWhileOpen = false;
        closer.OnSeen([&](QWidget*) {
            statusWhileOpen = Status();
            runningWhileOpen = Hub().UpgradeRunning();
        });

        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(texts::kReadError8));
        QCOMPARE(closer.Boxes()[0].title, QStringLiteral("Kestro Upgrade Kit"));
        QCOMPARE(closer.Boxes()[0].icon, QMessageBox::Critical);
        // The worker waited on the open box before it ended the run.
        QVERIFY(runningWhileOpen);
        QCOMPARE(statusWhileOpen, Q(texts::kCheckingBattery));

        QCOMPARE(Hub().LastOutcome(), RunOutcome::Failed);
        QCOMPARE(Status(), Q(texts::kStartTheUpgrade));
        QVERIFY(!View().Progress()->isVisible());
        QCOMPARE(LogLines().size(), 1);  // the header only
        QVERIFY(Until([&] { return Upgrade()->isEnabled(); }));
    }

    void recoveryKeyStartsARecoveryRun() {
        StartRadio("needs-recovery");
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;

        QVERIFY(!RecoveryShown());
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(Hub().RecoveryFlag(), 1);
        QVERIFY(Hub().UpgradeRunning());
        QVERIFY(Until([&] { return RecoveryShown(); }));
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));

        QVERIFY(closer.Boxes().empty());
        QCOMPARE(Hub().LastOutcome(), RunOutcome::Completed);
        QCOMPARE(Hub().RecoveryFlag(), 0);
        QVERIFY(Until([&] { return !RecoveryShown(); }));
        QVERIFY(Radio([](SimRadio& radio) {
            return !radio.Requests().empty() && radio.Requests().front().id == REQ_UPDATE_START &&
                   radio.CountOf(REQ_DETECT) == 0 && radio.State() == RadioState::Normal;
        }));
        // A run that started at programming reads no device fields: no record armed it, so its
        // serial, version and codeplug columns stay empty.
        const QStringList log = LogLines();
        QCOMPARE(log.size(), 2);
        QVERIFY2(
            QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d, \\d\\d:\\d\\d:\\d\\d,,,,OK$"))
                .match(log[1])
                .hasMatch(),
            qPrintable(log[1]));
    }

    void cableLostDuringProgramming() {
        // A radio left needing recovery, and a recovery run that loses the cable a few records
        // after the erase.
        StartRadio("needs-recovery", 12);
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;
        Hub().SetRecoveryMode(true);

        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(closer.Boxes().size(), std::size_t{2});
        // The port's own report, from the port thread, and the worker's failure.
        QStringList titles;
        QStringList texts;
        for (const auto& box : closer.Boxes()) {
            titles << box.title;
            texts << box.text;
        }
        QVERIFY2(titles.contains(QStringLiteral("Application Error")),
                 qPrintable(titles.join('|')));
        QVERIFY(texts.contains(uitest::Shown(texts::kWriteError4)));
        QCOMPARE(Hub().LastOutcome(), RunOutcome::Failed);
        QCOMPARE(Hub().RecoveryFlag(), 1);  // the radio still needs its recovery run
        QCOMPARE(Status(), Q(texts::kStartTheUpgrade));
        QVERIFY(RecoveryShown());
        // The guidance beside the recovery pane reads in two lines at most, and whole in its
        // tool tip.
        QLabel* hint = m_frame->MessagePane();
        QVERIFY(Until([&] { return hint->text() == Q(texts::kGuideRadioMayHaveNoFirmware); }));
        QCOMPARE(hint->toolTip(), hint->text());
        const auto lines = [&] { return hint->heightForWidth(hint->width()) / hint->fontMetrics().lineSpacing(); };
        QVERIFY(uitest::WaitUntil([&] { return lines() <= 2; }, 2000));  // once the status bar is laid out
    }

    // A radio that answers and refuses programming was not left waiting: recovery mode ends.
    void recoveryKeyOnAHealthyRadioEndsRecoveryMode() {
        StartRadio("normal");
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(texts::kWriteError10));
        QCOMPARE(Hub().RecoveryFlag(), 0);
        QVERIFY(Until([&] { return !RecoveryShown(); }));
    }

    // The radio answers nothing: the box is the kit's own, the status bar says what may be wrong.
    void silentRadioGetsAHint() {
        StartRadio("silent");
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(texts::kCommError1));
        QVERIFY(Until([&] { return m_frame->MessagePane()->text() == Q(uitexts::kSilentRadioHint); }));
        Activate();
        PressKey(Qt::Key_U, Qt::ControlModifier);  // the next run starts without the hint
        QCOMPARE(m_frame->MessagePane()->text(), Q(uitexts::kReady));
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
    }

    // A port that cannot be opened: the kit's box, with the reason and what to do beneath it.
    void portFailureSaysWhy() {
        StartRadio("normal");
        CSerialPort holder;  // another program holds the radio's port
        QVERIFY(holder.OpenPort(nullptr, kPort));
        OpenWindow(m_shortFirmware);
        uitest::ModalCloser closer;
        PressKey(Qt::Key_U, Qt::ControlModifier);
        holder.ClosePort();
        RegisterPortDevice(kPort, "/dev/kestro-no-such-device");
        Activate();
        PressKey(Qt::Key_U, Qt::ControlModifier);

        QCOMPARE(closer.Boxes().size(), std::size_t{2});
        const QString device = QString::fromStdString(m_radio->SlavePath());
        for (const auto& box : closer.Boxes()) QCOMPARE(box.text, uitest::Shown(texts::kNoDeviceDetected));
        QVERIFY2(closer.Boxes()[0].detail.contains(QStringLiteral("device busy")) &&
                     closer.Boxes()[0].detail.contains(device),
                 qPrintable(closer.Boxes()[0].detail));
        QVERIFY2(closer.Boxes()[1].detail.contains(QStringLiteral("no such device: /dev/kestro-no-such-device")),
                 qPrintable(closer.Boxes()[1].detail));
        QVERIFY(!Hub().UpgradeRunning());
    }

    // A command-line kit killed outright in the middle of the rows; the window started afterwards
    // knows that the radio has no working firmware, says so, and its Upgrade finishes the radio.
    void windowAfterAKilledKitArmsRecovery() {
        StartRadio("normal");
        const QString stateHome = m_dir.filePath(QStringLiteral("state"));
        QProcess kit;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
        kit.setProcessEnvironment(environment);
        kit.setProcessChannelMode(QProcess::MergedChannels);
        kit.start(QStringLiteral(KESTRO_UPGRADE_EXE),
                  {QStringLiteral("--port"), QString::fromStdString(m_radio->SlavePath()),
                   QStringLiteral("--firmware"), m_shortFirmware, QStringLiteral("--log"), m_logPath});
        QByteArray output;
        QVERIFY(Until([&] {
            output += kit.readAll();
            return output.contains("Please Don't Power Off.") || kit.state() == QProcess::NotRunning;
        }));
        kit.kill();  // SIGKILL: no end sequence, no hint
        QVERIFY(kit.waitForFinished());
        QCOMPARE(kit.exitStatus(), QProcess::CrashExit);
        Radio([](SimRadio& radio) { radio.Reconnect(); });

        OpenWindow(m_shortFirmware, stateHome + QStringLiteral("/kestro-upgrade-kit"));
        QCOMPARE(Hub().RecoveryFlag(), 1);
        QVERIFY(RecoveryShown());
        QVERIFY(Until([&] { return View().RecoveryNotice() != nullptr && View().RecoveryNotice()->isVisible(); }));
        QVERIFY2(View().RecoveryNotice()->text().contains(QString::fromStdString(m_radio->SlavePath())),
                 qPrintable(View().RecoveryNotice()->text()));
        // Centred on the window where it shows (under a window manager too, once it has placed
        // the window).
        const QPoint off = View().RecoveryNotice()->geometry().center() - m_frame->geometry().center();
        QVERIFY2(off.manhattanLength() < 40, qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
        if (const QByteArray path = qgetenv("KESTRO_UI_NOTICE_SCREENSHOT"); !path.isEmpty()) {
            QVERIFY(uitest::SaveScreenPicture(m_frame.get(), QString::fromLocal8Bit(path)));
        }
        View().RecoveryNotice()->accept();
        Activate();

        uitest::ModalCloser closer;
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QVERIFY(closer.Boxes().empty());
        QCOMPARE(Hub().LastOutcome(), RunOutcome::Completed);
        QVERIFY(Until([&] { return !RecoveryShown(); }));
        QVERIFY(Hub().RecoveryRecords().All().empty());
        QVERIFY(Radio([](SimRadio& radio) { return radio.State() == RadioState::Normal && radio.BootSwapMatched(); }));
    }

    // Records for two ports, the one the window opens torn by a crash: the window arms only for
    // its own port, names it in a notice centred on the window, and a radio there that answers
    // and refuses programming takes only that record with it.
    void startupArmsOnlyForThePortItOpens() {
        StartRadio("normal");
        const QString folder = m_dir.filePath(QStringLiteral("records-two-ports"));
        const CRecoveryRecords records(folder.toStdString());
        const std::string otherDevice = m_dir.filePath(QStringLiteral("ttyOther")).toStdString();
        QFile(QString::fromStdString(otherDevice)).open(QIODevice::WriteOnly);
        const RecoveryRecord mine{PortName(kPort), m_radio->SlavePath(), "KS1", "", 1, {}, {}, {}};
        const RecoveryRecord other{"COM98", otherDevice, "KS2", "", 2, {}, {}, {}};
        QVERIFY(records.Mark(mine) && records.Mark(other));
        std::filesystem::resize_file(records.FileFor(mine), 0);

        OpenWindow(m_shortFirmware, folder);
        QCOMPARE(Hub().RecoveryFlag(), 1);
        QVERIFY(Hub().ArmedRecord().has_value());
        QCOMPARE(Hub().ArmedRecord()->device, m_radio->SlavePath());
        QVERIFY(Until([&] { return View().RecoveryNotice() != nullptr && View().RecoveryNotice()->isVisible(); }));
        QMessageBox* notice = View().RecoveryNotice();
        const QString text = notice->text();
        QVERIFY2(text.contains(QString::fromStdString(m_radio->SlavePath())) &&
                     text.contains(QStringLiteral("the record is empty")) && !text.contains(QStringLiteral("KS2")),
                 qPrintable(text));
        QCOMPARE(notice->parentWidget(), m_frame.get());
        const QPoint offset = notice->frameGeometry().center() - m_frame->frameGeometry().center();
        QVERIFY2(offset.manhattanLength() < 40, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        notice->accept();
        Activate();

        uitest::ModalCloser closer;
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QVERIFY(Until([&] { return !Hub().UpgradeRunning(); }));
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(texts::kWriteError10));
        QCOMPARE(Hub().RecoveryFlag(), 0);
        QVERIFY(Until([&] { return m_frame->MessagePane()->text() == Q(texts::kGuideNoRecoveryNeeded); }));
        const auto left = records.All();
        QCOMPARE(left.size(), std::size_t{1});
        QCOMPARE(left[0].serial, std::string("KS2"));
    }

    void windowDestroyedMidRunDoesNotHang() {
        StartRadio("needs-recovery");
        OpenWindow(m_fullFirmware);
        uitest::ModalCloser closer;
        Hub().SetRecoveryMode(true);
        PressKey(Qt::Key_U, Qt::ControlModifier);
        // Deep in the stream of records, where the port thread is nearly always delivering.
        QVERIFY(Until([&] { return View().Progress()->Pos() >= 5; }));

        m_frame.reset();
        QVERIFY(closer.Boxes().empty());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        const std::size_t written = Radio([](SimRadio& radio) { return radio.RowsWritten(); });
        QTest::qWait(200);
        // The run has really stopped: no more records reach the radio.
        QCOMPARE(Radio([](SimRadio& radio) { return radio.RowsWritten(); }), written);
        QVERIFY(Radio([](SimRadio& radio) { return radio.BootSwaps() == 0; }));
    }
};

QTEST_MAIN(UpgradeWindowTest)
#include "UpgradeWindowTest.moc"
