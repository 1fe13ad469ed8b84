// The port settings dialog and the QSettings store behind it: what opening, clicking, OK and
// Cancel write, and which entry gets selected.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "UiTestSupport.h"
#include "ui/CQtSettings.h"
#include "ui/CSerialCommDlg.h"
#include "ui/UiTexts.h"

using kestro::CQtSettings;
using kestro::CSerialCommDlg;
using kestro::PortEntry;

namespace {

std::vector<PortEntry> ThreePorts() {
    return {{1, "COM1", "/dev/ttyS0", "COM1 (/dev/ttyS0)"},
            {33, "COM33", "/dev/ttyUSB0", "COM33 (/dev/ttyUSB0)"},
            {97, "COM97", "/dev/pts/4", "COM97 (/dev/pts/4)"}};
}

}  // namespace

class SerialCommDlgTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<CQtSettings> m_settings;
    QString m_iniPath;

    std::unique_ptr<CSerialCommDlg> Open(std::vector<PortEntry> ports = ThreePorts()) {
        auto dialog =
            std::make_unique<CSerialCommDlg>(*m_settings, nullptr, [ports] { return ports; });
        dialog->OnInitDialog();
        dialog->show();
        return dialog;
    }
    std::string Stored(const char* name) { return m_settings->GetString("Settings", name); }
    bool Has(const char* name) { return m_settings->Contains("Settings", name); }
    static void Click(CSerialCommDlg& dialog, const char* button) {
        dialog.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }
    // The list and its label, which must always agree.
    enum Choice { Disabled, Enabled, Mixed };
    static Choice PortChoice(CSerialCommDlg& dialog) {
        const bool list = dialog.PortCombo()->isEnabled();
        if (list != dialog.PortLabel()->isEnabled()) return Mixed;
        return list ? Enabled : Disabled;
    }

  private slots:
    void init() {
        m_iniPath =
            m_dir.filePath(QStringLiteral("settings-%1.ini").arg(QTest::currentTestFunction()));
        QFile::remove(m_iniPath);
        m_settings = std::make_unique<CQtSettings>(m_iniPath);
    }

    void firstUseWritesAutoAtOnceAndCancelStoresNoPort() {
        auto dialog = Open();
        QCOMPARE(Stored("AUTO"), std::string("Yes"));  // written on opening, before any button
        QVERIFY(dialog->AutoDetectButton()->isChecked());
        QCOMPARE(PortChoice(*dialog), Disabled);
        QCOMPARE(dialog->PortCombo()->currentIndex(), 0);
        QCOMPARE(dialog->PortCombo()->currentText(), QStringLiteral("COM1 (/dev/ttyS0)"));

        Click(*dialog, "IDCANCEL");
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        m_settings->Sync();
        QCOMPARE(Stored("AUTO"), std::string("Yes"));
        QVERIFY(!Has("COM"));
    }

    void okStoresTheSelectionEvenWithAutomaticDetection() {
        auto dialog = Open();
        Click(*dialog, "IDOK");
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(Stored("AUTO"), std::string("Yes"));
        QCOMPARE(Stored("COM"), std::string("COM1"));  // the port's name, not its label

        // A fixed port: the box unchecked, another entry chosen.
        auto second = Open();
        second->AutoDetectButton()->click();
        QCOMPARE(PortChoice(*second), Enabled);
        second->PortCombo()->setCurrentIndex(2);
        Click(*second, "IDOK");
        QCOMPARE(Stored("AUTO"), std::string("No"));
        QCOMPARE(Stored("COM"), std::string("COM97"));

        // The values land where the Upgrade command and other tools look: group Settings.
        m_settings->Sync();
        QSettings file(m_iniPath, QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("Settings/AUTO")).toString(), QStringLiteral("No"));
        QCOMPARE(file.value(QStringLiteral("Settings/COM")).toString(), QStringLiteral("COM97"));
    }

    void storedPortIsSelectedOnlyOnAnExactMatch() {
        m_settings->SetString("Settings", "AUTO", "No");
        m_settings->SetString("Settings", "COM", "COM33");
        auto dialog = Open();
        QVERIFY(!dialog->AutoDetectButton()->isChecked());
        QCOMPARE(PortChoice(*dialog), Enabled);
        QCOMPARE(dialog->PortCombo()->currentIndex(), 1);

        // Letter case counts: a name that matches no present port is listed as not present.
        for (const char* stale : {"com33", "COM5", "COM3"}) {
            m_settings->SetString("Settings", "COM", stale);
            auto again = Open();
            QCOMPARE(again->PortCombo()->currentIndex(), 3);
            QCOMPARE(again->PortCombo()->currentText(),
                     QString::fromLatin1(stale) + " (not present)");
        }
    }

    // A saved port that is absent now (cable unplugged) stays listed and chosen: OK without a
    // change keeps it, with or without automatic detection, even when no port is present.
    void anAbsentSavedPortIsKeptByOk() {
        struct Case {
            const char* autoValue;
            std::vector<PortEntry> ports;
        };
        const Case cases[] = {{"Yes", ThreePorts()}, {"No", ThreePorts()}, {"No", {}}};
        for (const Case& c : cases) {
            m_settings->SetString("Settings", "AUTO", c.autoValue);
            m_settings->SetString("Settings", "COM", "COM5");
            kestro::uitest::ModalCloser closer;
            auto dialog = Open(c.ports);
            QCOMPARE(dialog->PortCombo()->count(), static_cast<int>(c.ports.size()) + 1);
            QCOMPARE(dialog->PortCombo()->currentText(), QStringLiteral("COM5 (not present)"));
            Click(*dialog, "IDOK");
            QCOMPARE(closer.Boxes().size(), std::size_t{0});
            QCOMPARE(Stored("COM"), std::string("COM5"));
            QCOMPARE(Stored("AUTO"), std::string(c.autoValue));
        }
        // Choosing a present port still replaces it.
        auto dialog = Open();
        dialog->PortCombo()->setCurrentIndex(1);
        Click(*dialog, "IDOK");
        QCOMPARE(Stored("COM"), std::string("COM33"));
    }

    void handEditedAutoShowsUncheckedAndWritesNothing() {
        m_settings->SetString("Settings", "AUTO", "no");
        auto dialog = Open();
        QVERIFY(!dialog->AutoDetectButton()->isChecked());
        QCOMPARE(PortChoice(*dialog), Enabled);
        Click(*dialog, "IDCANCEL");
        QCOMPARE(Stored("AUTO"), std::string("no"));
    }

    void clickingTheBoxTwiceRestoresTheStates() {
        for (const char* autoValue : {"Yes", "No"}) {
            m_settings->SetString("Settings", "AUTO", autoValue);
            auto dialog = Open();
            const Choice atStart = std::string(autoValue) == "No" ? Enabled : Disabled;
            QCOMPARE(PortChoice(*dialog), atStart);
            dialog->AutoDetectButton()->click();
            QCOMPARE(PortChoice(*dialog), atStart == Enabled ? Disabled : Enabled);
            dialog->AutoDetectButton()->click();
            QCOMPARE(PortChoice(*dialog), atStart);
            QCOMPARE(Stored("AUTO"), std::string(autoValue));  // only OK stores
            QVERIFY(!Has("COM"));
            Click(*dialog, "IDCANCEL");
        }
    }

    void okWithNoPortStoresNothingAndSaysWhy() {
        m_settings->SetString("Settings", "AUTO", "No");
        kestro::uitest::ModalCloser closer;
        auto dialog = Open({});
        QCOMPARE(dialog->PortCombo()->count(), 0);
        QCOMPARE(dialog->PortCombo()->currentIndex(), -1);
        dialog->AutoDetectButton()->click();  // would store "Yes" if anything were stored
        Click(*dialog, "IDOK");
        QCOMPARE(closer.Boxes().size(), std::size_t{1});
        QCOMPARE(closer.Boxes()[0].text, QString::fromLatin1(kestro::uitexts::kNoPortToStore));
        QCOMPARE(closer.Boxes()[0].title, QStringLiteral("Kestro UpgradeKit"));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Stored("AUTO"), std::string("No"));
        QVERIFY(!Has("COM"));
    }

    void layoutAndDefaultButton() {
        auto dialog = Open();
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("IDOK"));
        auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("IDCANCEL"));
        QVERIFY(ok->isDefault());
        // The box's text stands left of it; OK sits left of Cancel on one row.
        QCOMPARE(dialog->AutoDetectButton()->layoutDirection(), Qt::RightToLeft);
        QVERIFY(ok->geometry().right() < cancel->geometry().left());
        QCOMPARE(ok->geometry().top(), cancel->geometry().top());
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    }

    // "COM97 (/dev/pts/0)" in the closed list: both the port and the device stay readable, and
    // the tool tip has it whole. The box's text starts where the labels below it start.
    void closedListAndBoxTextAreReadable() {
        auto dialog = Open({{97, "COM97", "/dev/pts/0", "COM97 (/dev/pts/0)"},
                            {98, "COM98", "/dev/serial/by-id/usb-Kestro_Programming_Cable_0006-if00",
                             "COM98 (/dev/serial/by-id/usb-Kestro_Programming_Cable_0006-if00)"}});
        auto* combo = static_cast<kestro::PortComboBox*>(dialog->PortCombo());
        for (int i = 0; i < combo->count(); ++i) {
            combo->setCurrentIndex(i);
            const QString shown = combo->DisplayText();
            const QString whole = combo->itemText(i);
            QCOMPARE(combo->toolTip(), whole);
            QVERIFY2(shown.startsWith(whole.left(5)) && shown.endsWith(whole.right(3)), qPrintable(shown));
        }
        QVERIFY(combo->geometry().right() < dialog->findChild<QGroupBox*>()->geometry().right());

        // Where ink starts in the dialog's picture, within a widget's area.
        dialog->AutoDetectButton()->click();  // the label below is drawn in full colour
        const QImage picture = dialog->grab().toImage();
        if (const QByteArray path = qgetenv("KESTRO_UI_SCREENSHOT"); !path.isEmpty()) picture.save(QString::fromLocal8Bit(path));
        const auto firstInk = [&](QWidget* widget) {
            const QRect area = widget->geometry();
            const QColor ground = picture.pixelColor(area.left(), area.top());
            for (int x = area.left(); x <= area.right(); ++x) {
                for (int y = area.top(); y <= area.bottom(); ++y) {
                    if (std::abs(picture.pixelColor(x, y).lightness() - ground.lightness()) > 60) return x;
                }
            }
            return -1;
        };
        const int boxText = firstInk(dialog->AutoDetectButton());
        const int labelText = firstInk(dialog->PortLabel());
        QVERIFY2(labelText >= 0 && std::abs(boxText - labelText) <= 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(boxText).arg(labelText)));
    }

    void kitStoreUsesTheKitsNames() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        CQtSettings store;
        QVERIFY(
            store.FileName().contains(QStringLiteral("Local AppWizard-Generated Applications")));
        QVERIFY(store.FileName().contains(QStringLiteral("Kestro UpgradeKit")));
        QCOMPARE(store.GetString("Settings", "AUTO"), std::string());  // absent reads as empty
        store.SetString("Settings", "COM", "COM12");
        store.Sync();
        CQtSettings reread;
        QCOMPARE(reread.GetString("Settings", "COM"), std::string("COM12"));
    }
};

QTEST_MAIN(SerialCommDlgTest)
#include "SerialCommDlgTest.moc"
