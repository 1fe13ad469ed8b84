// The station with simulated radios on pseudo-terminals, in real time, through the run core's
// real serial engines and threads: four radios at once, cables that come and go with their runs
// started by themselves, a cable pulled mid-run, recovery by Finish (also of a radio that answers
// nothing), counts of radios rather than attempts, each row's own buttons, ports added and rows
// removed by hand, and closing. Set KESTRO_STATION_SCREENSHOT to a file path to save the station with six radios in
// several phases.

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <optional>
#include <set>

#include "UiTestSupport.h"
#include "serial/FakeSysfs.h"
#include "firmware/CCommFile.h"
#include "firmware/FirmwareLoader.h"
#include "radio/posix/PtyRadioServer.h"
#include "radio/posix/SimulatedLine.h"
#include "upgrade/RecoveryRecords.h"
#include "PgCluster.h"
#include "history/ServerHistory.h"
#include "history/SqliteHistory.h"
#include "ui/station/ActionDelegate.h"
#include "ui/station/RadioTally.h"
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
    void Open(std::vector<std::string> simulated, const QString& firmware, std::optional<bool> autoStart = false,
              const std::function<void(StationOptions&)>& more = {}) {
        StationOptions options;
        options.simulation = true;
        options.simulated = std::move(simulated);
        options.settings.firmware = firmware.toStdString();
        options.settings.log = m_logPath.toStdString();
        options.settle = std::chrono::milliseconds(100);
        if (more) more(options);
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
        QCOMPARE(S().Counts().failed, 1);
        QCOMPARE(S().Counts().needingRecovery, 1);

        // The result cell words the message's cause, with its number; its whole text is the tool
        // tip and, for the selected row, the detail pane; a screen reader hears the cell's own
        // column and value.
        const QModelIndex result = S().Model().index(2, StationModel::Result);
        QCOMPARE(result.data(Qt::DisplayRole).toString(), QStringLiteral("FAIL: Battery low: charge it (Read Error #8)"));
        QCOMPARE(result.data(Qt::ToolTipRole).toString(), uitest::Shown(texts::kReadError8));
        m_window->Select(IdAt(2));
        QVERIFY(m_window->Detail()->toPlainText().contains(uitest::Shown(texts::kReadError8)));
        QCOMPARE(result.data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Result: FAIL: Battery low: charge it (Read Error #8)"));
        QCOMPARE(low.PhaseText(), QStringLiteral("Stopped at: Checking the battery"));
        // In a window of a laptop's width the long port names give way so that where a run
        // stopped reads whole.
        m_window->resize(1366, 600);
        QVERIFY(Until([&] { return m_window->Table()->width() > 1200; }));
        QCoreApplication::processEvents();
        QVERIFY(m_window->Table()->columnWidth(StationModel::Phase) >
                m_window->Table()->fontMetrics().horizontalAdvance(low.PhaseText()));
        QVERIFY(m_window->Table()->columnWidth(StationModel::Port) <
                m_window->Table()->fontMetrics().horizontalAdvance(low.PortText()));
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
        QCOMPARE(S().Counts().needingRecovery, 0);
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

    // Check all reads each radio and changes nothing: the rows wait with their verdicts and count
    // nothing. The station's upgrade then goes into the history the command line's fleet adds
    // to, and the history reads all five back with their serial numbers and kinds.
    void aCheckChangesNothingAndEveryRunLandsInOneHistory() {
        const QString state = m_dir.filePath(QStringLiteral("state"));
        const std::string history = (state + QStringLiteral("/kestro-upgrade-kit/history.sqlite")).toStdString();
        Open({"normal", "battery-low", "new-firmware"}, m_shortFirmware, false, [&](StationOptions& options) {
            options.settings.historyFrontEnd = "station";
            options.settings.history = history;
        });
        Key(QKeySequence(Qt::CTRL | Qt::Key_K));
        QVERIFY(Until([&] { return !S().AnyRunning() && Row(IdAt(2)).phase == QStringLiteral("checked"); }));
        const char* verdicts[] = {"Check: an upgrade would run", "Check: an upgrade would stop: the battery is low",
                                  "Check: an upgrade would stop: the radio already runs R01.04"};
        for (int r = 0; r < 3; ++r) {
            QCOMPARE(Row(IdAt(r)).state, RowState::Idle);
            QVERIFY2(Row(IdAt(r)).ResultCell().startsWith(QLatin1String(verdicts[r])), qPrintable(Row(IdAt(r)).ResultCell()));
            // Nothing that writes, restores, resets or programs reached the radio.
            const std::set<RequestId> changing = {REQ_CP_PREPARE, REQ_CP_RESTORE, REQ_CP_WRITE, REQ_RESET_MODE};
            S().SimulatedLineOf(IdAt(r))->WithRadio([&](SimRadio& radio) {
                for (const auto& request : radio.Requests()) {
                    QVERIFY(request.frame.bytes[1] != GROUP_PROGRAM && !changing.count(request.id));
                }
            });
        }
        QCOMPARE(S().Counts().upgraded + S().Counts().failed + S().Counts().needingRecovery, 0);
        QVERIFY(!std::filesystem::exists(history));

        QVERIFY(S().Upgrade(IdAt(0)));
        QVERIFY(Until([&] { return Ended(IdAt(0)); }));
        QCOMPARE(S().Counts().upgraded, 1);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
        const auto kit = [&](const QStringList& args) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(KESTRO_UPGRADE_EXE), args);
            process.waitForFinished(kRunTimeoutMs);
            return QString::fromUtf8(process.readAllStandardOutput());
        };
        kit({QStringLiteral("--simulate=normal,battery-low,cable-pulled,keeps-old-firmware"), QStringLiteral("--firmware"),
             m_shortFirmware, QStringLiteral("--log"), m_logPath});
        std::multiset<std::string> runs;  // front end, serial, kind
        for (const QString& line : kit({QStringLiteral("history"), QStringLiteral("--json")}).split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject run = QJsonDocument::fromJson(line.toUtf8()).object();
            runs.insert((run["front_end"].toString() + " " + run["serial"].toString() + " " + run["kind"].toString()).toStdString());
        }
        const std::multiset<std::string> expected = {
            "station KS24001735 confirmed", "command line KS24001735 confirmed", "command line  failed_before_erase",
            "command line KS24001737 needs_recovery", "command line KS24001738 not_confirmed_old_version"};
        QCOMPARE(runs, expected);
    }

    // With a history server set, the station sends each run to it after its local commit, shows
    // a radio's latest run at another bench once its serial number is read, and says how many
    // runs wait while the server is away, sending them once it is back.
    void theSharedHistoryGetsEachRunAndTellsTheRadiosLastRunElsewhere() {
        if (test::PgCluster::BinDir().empty()) QSKIP("PostgreSQL server not installed");
        test::PgCluster cluster;
        QCOMPARE(QString::fromStdString(cluster.Error()), QString());
        const std::string server = cluster.Conninfo();
        ServerHistory shared(server);
        QVERIFY(shared.InitSchema().Ok());
        HistoryRun elsewhere;
        elsewhere.runId = NewRunId();
        elsewhere.started = elsewhere.ended = *ParseUtc("2026-12-01T10:14:00Z");
        elsewhere.frontEnd = kFrontEndStation;
        elsewhere.pcName = "BENCH-2";
        elsewhere.serial = SimulatedSerial(0);
        elsewhere.kind = RunKind::Confirmed;
        elsewhere.versionAfter = "R0104";
        QVERIFY(shared.Add(elsewhere).Ok());
        const std::string history = m_dir.filePath(QStringLiteral("shared.sqlite")).toStdString();
        Open({"normal", "normal"}, m_shortFirmware, false, [&](StationOptions& options) {
            options.settings.historyFrontEnd = "station";
            options.settings.history = history;
            options.settings.historyServer = server;
        });
        QVERIFY(S().Upgrade(IdAt(0)));
        QVERIFY(Until([&] { return Ended(IdAt(0)) && !Row(IdAt(0)).lastRunServer.isEmpty(); }));
        QCOMPARE(Row(IdAt(0)).lastRunServer, QStringLiteral("upgraded at BENCH-2 2026-12-01 10:14 UTC, confirmed R01.04"));
        const auto onServer = [&] { return shared.Runs({}).runs.size(); };
        QVERIFY(Until([&] { return onServer() == 2; }));

        QVERIFY(cluster.Stop());
        QVERIFY(S().Upgrade(IdAt(1)));
        QVERIFY(Until([&] { return Ended(IdAt(1)) && S().PendingRuns() == 1; }));
        QVERIFY(cluster.Start());
        S().SetHistoryServer(server);  // as the minute's push would
        QVERIFY(Until([&] { return S().PendingRuns() == 0 && onServer() == 3; }));
    }

    // Six radios: one retried twice, one finished after its cable was pulled mid-run, and one
    // that answers nothing (the radio an interrupted upgrade left without firmware elsewhere, no
    // record of it here) finished from its row. Each radio counts once, in its latest column.
    void sixRadiosCountOnceEachInTheColumnOfTheirLatestOutcome() {
        // The first radio was upgraded at this bench before.
        const QString history = m_dir.filePath(QStringLiteral("six.sqlite"));
        HistoryRun earlier;
        earlier.runId = NewRunId();
        earlier.started = earlier.ended = *ParseUtc("2026-12-01T09:00:00Z");
        earlier.frontEnd = kFrontEndStation;
        earlier.serial = SimulatedSerial(0);
        earlier.kind = RunKind::Confirmed;
        earlier.versionAfter = "R0104";
        QVERIFY(SqliteHistory(history.toStdString()).Add(earlier).Ok());
        Open({"normal", "battery-low", "cable-pulled", "needs-recovery", "normal", "normal"}, m_shortFirmware, false,
             [&](StationOptions& options) {
                 options.settings.historyFrontEnd = "station";
                 options.settings.history = history.toStdString();
             });
        uitest::ModalCloser closer;
        const auto counts = [&] {
            const StationCounts& c = S().Counts();
            return QStringLiteral("%1 %2 %3").arg(c.upgraded).arg(c.failed).arg(c.needingRecovery);
        };
        const auto cell = [&](int row, StationModel::Column column, int role = Qt::DisplayRole) {
            return S().Model().index(row, column).data(role).toString();
        };
        Key(QKeySequence(Qt::CTRL | Qt::Key_U));
        m_window->Select(IdAt(0));
        Key(QKeySequence::Delete);  // a running row stays
        QCOMPARE(S().Model().rowCount(), 6);
        QVERIFY(Until([&] { return !S().AnyRunning(); }));
        QCOMPARE(counts(), QStringLiteral("3 2 1"));

        const int silent = IdAt(3);
        QCOMPARE(cell(3, StationModel::Phase), QStringLiteral("Stopped at: Detecting the radio"));
        QCOMPARE(cell(3, StationModel::Result), QStringLiteral("FAIL: No radio answered (Communication Error #1)"));
        QVERIFY(cell(3, StationModel::Result, Qt::ToolTipRole).contains(QLatin1String(stationtexts::kSilentRadio)));
        QCOMPARE(cell(3, StationModel::Action), QStringLiteral("Upgrade"));
        QCOMPARE(cell(3, StationModel::Action, StationModel::SecondActionRole), QStringLiteral("Finish"));
        QCOMPARE(cell(0, StationModel::Action, StationModel::SecondActionRole), QString());
        m_window->Select(silent);
        QVERIFY(m_window->FinishAction()->isEnabled());
        QVERIFY(m_window->Detail()->toPlainText().contains(QLatin1String(stationtexts::kSilentRadio)));
        // What a pass shows, cell by cell, as seen and as heard.
        QCOMPARE(cell(0, StationModel::FirmwareAfter), QStringLiteral("R0104"));
        QCOMPARE(cell(1, StationModel::FirmwareAfter), QString());
        QCOMPARE(cell(0, StationModel::Result), QStringLiteral("PASS: upgraded"));
        QCOMPARE(cell(0, StationModel::Serial, Qt::AccessibleTextRole),
                 QStringLiteral("Serial number: %1").arg(Row(IdAt(0)).serial));
        QCOMPARE(cell(0, StationModel::Progress, Qt::AccessibleTextRole), QStringLiteral("Progress: none"));
        QVERIFY(!cell(0, StationModel::Elapsed).isEmpty());
        QCOMPARE(Row(IdAt(0)).lastRun, QStringLiteral("upgraded 2026-12-01, confirmed R01.04"));

        // The battery-low radio twice more: still one failed radio.
        const int low = IdAt(1);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QVERIFY(S().Act(low));
            QVERIFY(Until([&] { return Ended(low); }));
        }
        QCOMPARE(counts(), QStringLiteral("3 2 1"));

        // The pulled radio finished by its button, the silent one by its Finish beside Upgrade.
        QTableView* table = m_window->Table();
        const int pulled = IdAt(2);
        QCOMPARE(Row(pulled).Action(), RowAction::Finish);
        QVERIFY(S().Act(pulled));
        QVERIFY(Until([&] { return Ended(pulled); }));
        QCOMPARE(counts(), QStringLiteral("4 2 0"));
        QRect buttons = table->visualRect(S().Model().index(3, StationModel::Action));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(buttons.right() - 6, buttons.center().y()));
        QVERIFY(S().Running(silent));
        QVERIFY(Until([&] { return Ended(silent); }));
        QCOMPARE(Row(silent).result, RowResult::Upgraded);
        QVERIFY(HoldsFirmware(silent));
        QCOMPARE(counts(), QStringLiteral("5 1 0"));
        QCOMPARE(cell(3, StationModel::Action, StationModel::SecondActionRole), QString());
        QVERIFY(closer.Boxes().empty());
    }

    // Counting by serial number where read, else by the row and the radio on its cable.
    void theTallyTellsRadiosApart_data() {
        QTest::addColumn<QString>("outcomes");  // row:radio:serial:outcome, in turn
        QTest::addColumn<QString>("counts");    // upgraded failed needing-recovery
        QTest::newRow("one radio on two rows") << "1:0:KS1:F 2:0:KS1:U" << "1 0 0";
        QTest::newRow("two radios without serials") << "1:0::F 2:0::F" << "0 2 0";
        QTest::newRow("a serial read later") << "1:0::R 1:0:KS1:U" << "1 0 0";
        QTest::newRow("the next radio on a cable") << "1:0::F 1:1::U" << "1 1 0";
    }
    void theTallyTellsRadiosApart() {
        QFETCH(QString, outcomes);
        QFETCH(QString, counts);
        RadioTally tally;
        for (const QString& each : outcomes.split(' ')) {
            const QStringList f = each.split(':');
            const RadioOutcome outcome = f[3] == "U"   ? RadioOutcome::Upgraded
                                         : f[3] == "F" ? RadioOutcome::Failed
                                                       : RadioOutcome::NeedsRecovery;
            tally.Record(f[0].toInt(), f[1].toInt(), f[2].toStdString(), outcome);
        }
        const StationCounts& c = tally.Counts();
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(c.upgraded).arg(c.failed).arg(c.needingRecovery), counts);
    }

    // A port added by hand must be a character device that opens; any row not running goes.
    void aPortAddedByHandIsCheckedAndARowCanBeRemoved() {
        Open({}, m_shortFirmware);
        uitest::ModalCloser closer;
        QFile plain(m_dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        const std::vector<std::pair<QString, const char*>> refused = {
            {QStringLiteral("/dev/ttyNOPE9"), "does not exist"},
            {plain.fileName(), "not a serial port"},
            {m_dir.path(), "not a serial port"},
        };
        for (const auto& [path, why] : refused) {
            closer.Clear();
            QVERIFY(!m_window->AddPortNamed(path));
            QVERIFY(Until([&] { return !closer.Boxes().empty(); }));
            QVERIFY2(closer.Boxes()[0].text.contains(QLatin1String(why)), qPrintable(closer.Boxes()[0].text));
        }
        QCOMPARE(S().Model().rowCount(), 0);
        QVERIFY(m_window->AddPortNamed(QStringLiteral("/dev/null")));  // a character device that opens
        QCOMPARE(S().Model().rowCount(), 1);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_window->Select(IdAt(0));
        Key(QKeySequence::Delete);
        QCOMPARE(S().Model().rowCount(), 0);
    }

    void cablesThatArriveStartThemselvesAndAPulledOneTouchesNoOther() {
        Open({}, m_shortFirmware, /*autoStart=*/true);
        m_window.reset();
        // The choice is remembered; a cable there before the station opened waits for the user.
        // With a history that cannot be written: the runs go on, a banner says so.
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        Open({"normal"}, m_shortFirmware, std::nullopt, [&](StationOptions& options) {
            options.settings.historyFrontEnd = "station";
            options.settings.history = (blocker.fileName() + QStringLiteral("/history.sqlite")).toStdString();
        });
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
        QVERIFY(Until([&] { return m_window->HistoryBanner()->isVisibleTo(m_window.get()); }));
        QVERIFY(m_window->HistoryBanner()->text().contains(QStringLiteral("history of runs was not written")));
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
        QCOMPARE(S().Stop(IdAt(0)), QString::fromLatin1(stationtexts::kStopRefused));  // the row's Stop too
        // Before the erase a row's Stop ends its run, the radio untouched.
        QVERIFY(S().Act(IdAt(1)));
        QCOMPARE(S().Stop(IdAt(1)), QString());
        QVERIFY(Until([&] { return Ended(IdAt(1)); }));
        QCOMPARE(Row(IdAt(1)).ResultCell(), QStringLiteral("FAIL: Stopped: radio untouched"));
        QVERIFY(S().AnyInEraseSpan());
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
        QCOMPARE(Row(IdAt(1)).ResultCell(), QStringLiteral("FAIL: Stopped: radio untouched"));  // not started again
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
        // The columns sized to their content show it whole; a port's long name may give way, and
        // its tool tip holds it whole.
        for (int r = 0; r < S().Model().rowCount(); ++r) {
            const QModelIndex port = S().Model().index(r, StationModel::Port);
            QVERIFY(port.data(Qt::ToolTipRole).toString().startsWith(port.data().toString()));
        }
        for (int c : {StationModel::Serial, StationModel::FirmwareAfter, StationModel::Recovery}) {
            for (int r = 0; r < S().Model().rowCount(); ++r) {
                const QString text = S().Model().index(r, c).data().toString();
                QVERIFY2(table->columnWidth(c) > table->fontMetrics().horizontalAdvance(text), qPrintable(text));
            }
        }
        // A header that gives way wraps at its blanks, no word cut; a row's button shows its
        // text whole.
        const QFontMetrics header(table->horizontalHeader()->font());
        for (int c = 0; c < StationModel::ColumnCount; ++c) {
            for (const QString& word : StationModel::HeaderText(static_cast<StationModel::Column>(c)).split(' ')) {
                QVERIFY2(table->columnWidth(c) > header.horizontalAdvance(word), qPrintable(word));
            }
        }
        bool wraps = false;
        for (int c = 0; c < StationModel::ColumnCount; ++c) {
            wraps = wraps || table->columnWidth(c) < table->horizontalHeader()->sectionSizeHint(c);
        }
        QVERIFY(wraps);  // at this width some header does give way
        QVERIFY(table->horizontalHeader()->height() >= 2 * header.lineSpacing());
        QCOMPARE(S().Model().headerData(StationModel::FirmwareBefore, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                     Qt::TextWordWrap, int(Qt::TextWordWrap));
        auto* buttons = static_cast<ActionDelegate*>(table->itemDelegateForColumn(StationModel::Action));
        for (int r = 0; r < S().Model().rowCount(); ++r) {
            const QModelIndex cell = S().Model().index(r, StationModel::Action);
            QStyleOptionViewItem option;
            option.initFrom(table);
            option.rect = table->visualRect(cell);
            QVERIFY(buttons->ButtonRect(option, cell).width() > table->fontMetrics().horizontalAdvance(cell.data().toString()));
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
        // A cable keeps its slot when it comes back; a row the user removed stays away while its
        // cable is in, and comes back with the cable's next plug.
        const auto slotNumbers = [&] {
            QStringList list;
            for (const StationRow& row : station.Model().Rows()) list << QString::number(row.slot);
            return list.join(' ');
        };
        sysfs.AddUsbTty("ttyUSB0", {});
        QVERIFY(seen("/dev/ttyS4 /dev/ttyUSB2 /dev/ttyUSB0"));
        QCOMPARE(slotNumbers(), QStringLiteral("2 3 1"));
        QVERIFY(station.Remove(station.Model().Rows()[1].id));
        QTest::qWait(100);  // several scans
        QCOMPARE(devices(), QStringLiteral("/dev/ttyS4 /dev/ttyUSB0"));
        std::filesystem::remove(sysfs.Root() / "class" / "tty" / "ttyUSB2");
        QTest::qWait(100);
        sysfs.AddUsbTty("ttyUSB2", {.serial = "0001"});
        QVERIFY(seen("/dev/ttyS4 /dev/ttyUSB0 /dev/ttyUSB2"));
        QCOMPARE(slotNumbers(), QStringLiteral("2 1 3"));
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
