// The main window and its form without a radio: texts and layout at start, menus, bars, keys,
// the About box, the enable rule of Upgrade and the recovery key. Upgrade is pointed at a
// firmware file that does not exist, so every command that gets through stops at the load with
// "Firmware file can not open", which shows that the command ran.

#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include "UiTestSupport.h"
#include "firmware/FirmwareTexts.h"
#include "ui/CAboutDlg.h"
#include "ui/CDorvikUpgradeKitView.h"
#include "ui/CMainFrame.h"
#include "ui/CProgressEx.h"
#include "ui/DialogUnits.h"
#include "ui/UiFonts.h"
#include "ui/UiTexts.h"
#include "upgrade/Texts.h"

using namespace kestro;

namespace {

const QString kLoadFailed = QString::fromLatin1(kFirmwareCanNotOpenText);
const QString kStart = QString::fromLatin1(texts::kStartTheUpgrade);

// How many pixels of an image differ clearly from its top-left pixel.
int InkPixels(const QImage& image) {
    const QColor ground = image.pixelColor(0, 0);
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.lightness() - ground.lightness()) > 60) ++ink;
        }
    }
    return ink;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    MemorySettings m_settings;
    std::unique_ptr<CMainFrame> m_frame;

    CDorvikUpgradeKitView& View() { return *m_frame->View(); }
    QString Status() { return View().StatusLine()->text(); }
    void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(&View(), key, modifiers);
    }
    void ClickForm() { QTest::mouseClick(&View(), Qt::LeftButton, {}, QPoint(5, 5)); }
    QAction* Action(const char* name) {
        return m_frame->findChild<QAction*>(QString::fromLatin1(name));
    }

  private slots:
    void init() {
        CUpgradeHub::Options options;
        options.firmwarePath = m_dir.filePath(QStringLiteral("missing/zqt_upg.pvx")).toStdString();
        options.logPath = m_dir.filePath(QStringLiteral("log.csv")).toStdString();
        m_frame = std::make_unique<CMainFrame>(m_settings, options);
        m_frame->show();
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QCOMPARE(QApplication::focusWidget(), m_frame->View());
    }
    void cleanup() { m_frame.reset(); }

    void formAtStart() {
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Kestro Upgrade Kit"));
        auto* firmware = View().findChild<QLineEdit*>(QStringLiteral("IDC_FIRMWARE_VERSION"));
        auto* codeplug = View().findChild<QLineEdit*>(QStringLiteral("IDC_CODEPLUG_VERSION"));
        QCOMPARE(firmware->text(), QStringLiteral("R01.04"));
        QCOMPARE(codeplug->text(), QStringLiteral("R01.00"));
        QVERIFY(firmware->isReadOnly() && codeplug->isReadOnly());
        QCOMPARE(firmware->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(Status(), kStart);
        QVERIFY(!View().Progress()->isVisible());
        QCOMPARE(View().Progress()->DrawMode(), CProgressEx::kTwoColourMode);

        QStringList labels;
        for (auto* label : View().findChildren<QLabel*>()) labels << label->text();
        QVERIFY(labels.contains(QStringLiteral("Welcom to Vantrel Kestro Upgrade Kit")));
        QVERIFY(labels.contains(QStringLiteral(" - Firmware Version : ")));
        QVERIFY(labels.contains(QStringLiteral(" - Codeplug Version : ")));
        QCOMPARE(View().findChild<QGroupBox*>()->title(), QStringLiteral("Description"));

        // The layout is the template's, on the grid of the form's font.
        QCOMPARE(View().font().family(), FormFont().family());
        QCOMPARE(View().font().pointSize(), 10);
        const DialogUnits du(View().font());
        QCOMPARE(View().size(), du.Size(238, 146));
        QCOMPARE(View().StatusLine()->geometry(), du.Rect(24, 104, 191, 11));
        QCOMPARE(View().Progress()->geometry(), du.Rect(24, 120, 191, 11));
        QCOMPARE(firmware->geometry(), du.Rect(153, 54, 42, 12));
        QCOMPARE(codeplug->geometry(), du.Rect(153, 71, 42, 12));

        // Fonts render: the welcome line leaves ink on the form.
        auto* welcome = View().findChild<QLabel*>(QStringLiteral("Welcome"));
        QVERIFY(InkPixels(welcome->grab().toImage()) > 100);
        QVERIFY(InkPixels(firmware->grab().toImage()) > 20);
    }

    void windowIsFixedWithoutMaximise() {
        QCOMPARE(m_frame->minimumSize(), m_frame->maximumSize());
        QVERIFY(!(m_frame->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(m_frame->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(m_frame->width() >= View().width());
        QVERIFY(!m_frame->windowIcon().isNull());
    }

    void menusAndBars() {
        QStringList menus;
        for (QAction* menu : m_frame->menuBar()->actions()) menus << menu->text();
        QCOMPARE(menus, (QStringList{"&File", "&View", "&Tools", "&Help"}));

        const QList<QAction*> file = m_frame->FileMenu()->actions();
        QCOMPARE(file.size(), 3);
        // The menu shows the entry's text and, after it, its shortcut: "Upgrade\tCtrl+U".
        const auto shown = [](QAction* action) {
            return action->text() + QLatin1Char('\t') + action->shortcut().toString(QKeySequence::NativeText);
        };
        QCOMPARE(shown(file[0]), QStringLiteral("Upgrade\tCtrl+U"));
        QVERIFY(file[1]->isSeparator());
        QCOMPARE(file[2]->text(), QStringLiteral("E&xit"));

        QAction* upgrade = Action("ID_FILE_UPGRADE");
        QCOMPARE(upgrade->shortcuts(),
                 (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_U),
                                      QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U)}));
        QVERIFY(upgrade->statusTip().isEmpty());
        QCOMPARE(shown(Action("ID_TOOLS_SYSTEM_SETUP")), QStringLiteral("System Setup\tCtrl+T"));
        QCOMPARE(Action("ID_TOOLS_SYSTEM_SETUP")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
        QCOMPARE(Action("ID_APP_ABOUT")->text(), QStringLiteral("&About Upgrade Kit..."));

        // One toolbar button, Upgrade, with its picture; "Ready" in the status bar.
        QCOMPARE(m_frame->ToolBar()->actions(), QList<QAction*>{upgrade});
        QVERIFY(!upgrade->icon().isNull());
        auto* ready = m_frame->statusBar()->findChild<QLabel*>(QStringLiteral("ReadyPane"));
        QCOMPARE(ready->text(), QStringLiteral("Ready"));
        QVERIFY(ready->isVisible());

        // What a screen reader hears: each entry's words without the tab and key, the toolbar
        // button's too, and a name for each version box.
        const auto heard = [](QObject* object, int child = -1) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
            if (child >= 0) iface = iface->child(child);
            return iface->text(QAccessible::Name);
        };
        auto* tools = m_frame->menuBar()->actions()[2]->menu();
        const std::vector<std::pair<QString, QString>> names = {
            {heard(m_frame->FileMenu(), 0), QStringLiteral("Upgrade")},
            {heard(tools, 0), QStringLiteral("System Setup")},
            {heard(m_frame->ToolBar()->widgetForAction(upgrade)), QStringLiteral("Upgrade")},
            {heard(View().findChild<QLineEdit*>(QStringLiteral("IDC_FIRMWARE_VERSION"))), QStringLiteral("Firmware version")},
            {heard(View().findChild<QLineEdit*>(QStringLiteral("IDC_CODEPLUG_VERSION"))), QStringLiteral("Codeplug version")},
        };
        for (const auto& [name, expected] : names) QCOMPARE(name, expected);
    }

    void hiddenBarsLeaveTheCommandsWorking() {
        QAction* toolbar = Action("ID_VIEW_TOOLBAR");
        QAction* statusBar = Action("ID_VIEW_STATUS_BAR");
        QVERIFY(toolbar->isCheckable() && toolbar->isChecked());
        toolbar->trigger();
        statusBar->trigger();
        QVERIFY(!m_frame->ToolBar()->isVisible());
        QVERIFY(!m_frame->statusBar()->isVisible());
        QVERIFY(!toolbar->isChecked() && !statusBar->isChecked());

        PressKey(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(Status(), kLoadFailed);
        toolbar->trigger();
        QVERIFY(m_frame->ToolBar()->isVisible());
    }

    void failedLoadTextStaysUntilTheNextInput() {
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(Status(), kLoadFailed);
        QTest::qWait(150);  // time passing and idle moments are no refresh
        QCOMPARE(Status(), kLoadFailed);
        QVERIFY(Action("ID_FILE_UPGRADE")->isEnabled());
        ClickForm();
        QCOMPARE(Status(), kStart);

        // Opening the File menu is a refresh too; the toolbar button runs the command.
        QTest::mouseClick(m_frame->ToolBar()->widgetForAction(Action("ID_FILE_UPGRADE")),
                          Qt::LeftButton);
        QCOMPARE(Status(), kLoadFailed);
        emit m_frame->FileMenu()->aboutToShow();
        QCOMPARE(Status(), kStart);
    }

    void commandIsDisabledWhileRunning() {
        // The worker's flag alone decides; a run is stood in for by setting it.
        View().Hub().SetUpgradeRunning(true);
        View().SetStatusText("Erase Flash ! ");
        ClickForm();  // a refresh while running: disabled, the worker's text stays
        QVERIFY(!Action("ID_FILE_UPGRADE")->isEnabled());
        QCOMPARE(Status(), QStringLiteral("Erase Flash ! "));

        PressKey(Qt::Key_U, Qt::ControlModifier);
        View().OnUpgrade();  // even a command that gets through is dropped
        QCOMPARE(Status(), QStringLiteral("Erase Flash ! "));

        // The recovery key sets the flag for a later run and starts nothing.
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(View().Hub().RecoveryFlag(), 1);
        QCOMPARE(Status(), QStringLiteral("Erase Flash ! "));

        View().Hub().SetUpgradeRunning(false);
        ClickForm();
        QVERIFY(Action("ID_FILE_UPGRADE")->isEnabled());
        QCOMPARE(Status(), kStart);
    }

    void recoveryKey() {
        CUpgradeHub& hub = View().Hub();
        // With Shift also down nothing happens at all.
        View().SetStatusText("untouched");
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(hub.RecoveryFlag(), 0);
        QVERIFY(Status() != kLoadFailed);

        // Ctrl+U alone starts Upgrade and leaves the flag as it is, either way.
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(Status(), kLoadFailed);
        QCOMPARE(hub.RecoveryFlag(), 0);
        hub.SetRecoveryMode(true);
        PressKey(Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(hub.RecoveryFlag(), 1);

        // Ctrl+Alt+U sets the flag before the command runs, and the command runs.
        hub.SetRecoveryMode(false);
        ClickForm();
        QCOMPARE(Status(), kStart);
        PressKey(Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(hub.RecoveryFlag(), 1);
        QCOMPARE(Status(), kLoadFailed);
    }

    void closingIsRefusedDuringARun() {
        uitest::ModalCloser closer;
        View().Hub().SetUpgradeRunning(true);
        QVERIFY(!m_frame->close());
        QVERIFY(m_frame->isVisible());
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, uitest::Shown(uitexts::kCloseDuringRun));
        QCOMPARE(closer.Boxes()[0].title, QStringLiteral("Kestro Upgrade Kit"));
        QCOMPARE(closer.Boxes()[0].icon, QMessageBox::Warning);
        View().Hub().SetUpgradeRunning(false);
        QVERIFY(m_frame->close());
    }

    void systemSetupAndAboutOpenModally() {
        uitest::ModalCloser closer;
        PressKey(Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].className, QStringLiteral("kestro::CSerialCommDlg"));
        QCOMPARE(closer.Boxes()[0].title, QStringLiteral("Dialog"));

        // The About box, with its texts, closed by OK.
        closer.OnSeen([](QWidget* about) {
            QStringList texts;
            for (auto* label : about->findChildren<QLabel*>()) texts << label->text();
            QVERIFY(texts.contains(QStringLiteral("Kestro Upgrade Kit")));
            QVERIFY(texts.contains(QString::fromLatin1(uitexts::kAboutVersion)));
            about->findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
        });
        Action("ID_APP_ABOUT")->trigger();
        QCOMPARE(closer.Boxes().size(), std::size_t{2});
        QCOMPARE(closer.Boxes()[1].title, QStringLiteral("About Kestro UpgradeKit"));
    }

    void aboutBoxClosesWithEnterAndEscape() {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            CAboutDlg about(m_frame.get());
            about.show();
            QVERIFY(QTest::qWaitForWindowExposed(&about));
            QTest::keyClick(&about, key);
            QVERIFY(!about.isVisible());
            QCOMPARE(about.result(),
                     key == Qt::Key_Return ? int(QDialog::Accepted) : int(QDialog::Rejected));
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
