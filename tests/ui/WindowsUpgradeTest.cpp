// The Windows window as a technician meets it, on the Windows build: the application object the
// program starts with, its settings in the registry, the firmware file at its fixed path and the
// log beside the program. System Setup chooses the radio's COM port (KESTRO_TEST_WINDOW_RADIO_PORT,
// a simulated radio behind Wine's port table); Ctrl+U then upgrades it to the end. The caller reads
// the stored port back from the registry on its own (scripts/test-windows).

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "UiTestSupport.h"
#include "platform/Paths.h"
#include "ui/CDorvikUpgradeKitApp.h"
#include "ui/CDorvikUpgradeKitView.h"
#include "ui/CMainFrame.h"
#include "ui/CProgressEx.h"
#include "ui/CQtSettings.h"
#include "upgrade/Texts.h"

using namespace kestro;

class WindowsUpgradeTest : public QObject {
    Q_OBJECT

  private slots:
    void systemSetupThenAFullUpgrade() {
        const QByteArray port = qgetenv("KESTRO_TEST_WINDOW_RADIO_PORT");
        if (port.isEmpty()) QSKIP("KESTRO_TEST_WINDOW_RADIO_PORT names no COM port with a radio");
        const QString comName = QStringLiteral("COM") + QString::fromLatin1(port);
        const QString logPath = QString::fromStdWString(DefaultLogPath().wstring());
        const int linesBefore = uitest::FileLines(logPath).size();

        auto& app = static_cast<CDorvikUpgradeKitApp&>(*QCoreApplication::instance());
        QVERIFY(app.InitInstance());
        CMainFrame& frame = *app.MainFrame();
        QVERIFY(QTest::qWaitForWindowActive(&frame));

        // System Setup (Ctrl+T): Auto Detect off, the radio's port, OK.
        uitest::ModalCloser closer;
        bool chosen = false;
        closer.OnSeen([&](QWidget* dialog) {
            auto* autoDetect = dialog->findChild<QCheckBox*>(QStringLiteral("IDC_AUTO_DETECT"));
            auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("IDC_PORT_COMBO"));
            if (autoDetect == nullptr || combo == nullptr) return;
            if (autoDetect->isChecked()) autoDetect->click();
            const int index = combo->findText(comName);
            if (index < 0) return;  // the closer cancels the dialog; the check below fails
            combo->setCurrentIndex(index);
            dialog->findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
            chosen = true;
        });
        QTest::keyClick(frame.View(), Qt::Key_T, Qt::ControlModifier);
        QVERIFY2(chosen, qPrintable(comName + QStringLiteral(" was not offered by System Setup")));
        QCOMPARE(QString::fromStdString(CQtSettings().GetString("Settings", "COM")), comName);
        closer.OnSeen({});
        closer.Clear();

        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(frame.View(), Qt::Key_U, Qt::ControlModifier);
        CUpgradeHub& hub = frame.View()->Hub();
        if (const QString signal = qEnvironmentVariable("KESTRO_SCREENSHOT_SIGNAL");
            !signal.isEmpty()) {
            // Mid-run, for the caller's picture of the screen: make the file, wait until it is gone.
            QVERIFY(uitest::WaitUntil([&] { return frame.View()->Progress()->Pos() >= 45; },
                                      180000));
            QFile(signal).open(QIODevice::WriteOnly);
            uitest::WaitUntil([&] { return !QFile::exists(signal); }, 20000);
        }
        QVERIFY(uitest::WaitUntil([&] { return !hub.UpgradeRunning(); }, 180000));
        QCOMPARE(frame.View()->StatusLine()->text(), QString::fromLatin1(texts::kCompleted));
        QVERIFY2(closer.Boxes().empty(), qPrintable(closer.Boxes().empty()
                                                        ? QString()
                                                        : closer.Boxes()[0].text));

        const QStringList log = uitest::FileLines(logPath);
        QCOMPARE(log.size(), linesBefore == 0 ? 2 : linesBefore + 1);
        QVERIFY2(log.last().endsWith(QStringLiteral(",No,OK")), qPrintable(log.last()));
        QCOMPARE(app.ExitInstance(0), 0);
    }
};

int main(int argc, char** argv) {
    CDorvikUpgradeKitApp app(argc, argv);
    WindowsUpgradeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowsUpgradeTest.moc"
