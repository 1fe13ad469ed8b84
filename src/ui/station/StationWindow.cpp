#include "ui/station/StationWindow.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "platform/Paths.h"
#include "runcore/RunWords.h"
#include "serial/PortProbe.h"
#include "ui/station/ActionDelegate.h"
#include "ui/station/ProgressDelegate.h"
#include "ui/station/StationSettingsDialog.h"
#include "ui/station/StationTable.h"
#include "ui/station/StationTexts.h"

namespace kestro::station {

namespace {

constexpr const char* kAutoStartKey = "Station/StartWhenPluggedIn";
constexpr int kFrameRoom = 32;  // a window manager's frame and title bar, at most

// The options with the remembered choice to start each radio when it is plugged in.
StationOptions Remembered(StationOptions options) {
    options.autoStart = QSettings().value(QString::fromLatin1(kAutoStartKey), false).toBool();
    return options;
}

}  // namespace

StationWindow::StationWindow(StationOptions options, QWidget* parent)
    : QMainWindow(parent), m_station(std::make_unique<Station>(Remembered(std::move(options)))) {
    QWidget* banners = BuildBanners(m_station->Settings());
    setWindowTitle(QString::fromLatin1(stationtexts::kTitle));

    m_table = new StationTable;
    m_table->setModel(&m_station->Model());
    m_table->setItemDelegateForColumn(StationModel::Progress, new ProgressDelegate(m_table));
    auto* actions = new ActionDelegate(m_table);
    m_table->setItemDelegateForColumn(StationModel::Action, actions);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    SizeColumns();
    m_table->setAccessibleName(QStringLiteral("Radios"));
    m_table->setAccessibleDescription(
        QStringLiteral("One row per radio port: port, serial number, firmware before, phase, progress, time left, "
                       "result, whether the radio needs recovery, and the row's own Upgrade or Finish button "
                       "(Space or Enter presses it)"));

    m_detail = new QPlainTextEdit;
    m_detail->setReadOnly(true);
    m_detail->setAccessibleName(QStringLiteral("Details of the selected radio"));
    m_detail->setPlaceholderText(QStringLiteral("The whole message of the selected radio shows here."));

    m_upgradeAllButton = new QPushButton(QStringLiteral("Upgrade &all"));
    m_upgradeAllButton->setToolTip(QStringLiteral("Upgrade every radio that waits (Ctrl+U)"));
    m_checkAllButton = new QPushButton(QStringLiteral("&Check all"));
    m_checkAllButton->setToolTip(QStringLiteral("Read every radio that waits and say what an upgrade would do; "
                                                "nothing is written to the radios (Ctrl+K)"));
    m_autoStart = new QCheckBox(QStringLiteral("Start each radio when &plugged in"));
    m_autoStart->setChecked(m_station->AutoStart());

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_upgradeAllButton);
    buttons->addWidget(m_checkAllButton);
    buttons->addStretch();
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(m_table);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(BuildCloseBanner());
    layout->addWidget(banners);
    layout->addLayout(buttons);
    // The choice on a line of its own, so that the window stays narrow enough for a small screen
    // at a large scale factor.
    layout->addWidget(m_autoStart);
    layout->addWidget(splitter);
    setCentralWidget(central);

    m_counts = new QLabel;
    // Its name is its text, so a screen reader hears the counts (and their change).
    m_counts->setAccessibleDescription(QStringLiteral("Counts since the station started"));
    m_counts->setToolTip(QString::fromLatin1(stationtexts::kCountsToolTip));
    m_pending = new QLabel;
    m_pending->setToolTip(QStringLiteral("Runs of this PC not yet on the history server: they are sent when it "
                                         "can be reached (after each run, and every minute)"));
    m_pending->hide();
    statusBar()->addPermanentWidget(m_pending);
    statusBar()->addPermanentWidget(m_counts);
    connect(m_station.get(), &Station::PendingChanged, this, [this](int runs) { ShowPending(runs); });
    connect(m_station.get(), &Station::RowDetailChanged, this, [this](int id) {
        if (id == SelectedId()) Refresh();
    });
    BuildMenus();

    connect(m_upgradeAllButton, &QPushButton::clicked, this, [this] { m_station->UpgradeAll(); });
    connect(m_checkAllButton, &QPushButton::clicked, this, [this] { m_station->CheckAll(); });
    // Enter or a double click anywhere on a row, Space on its button, or a click on it.
    const auto act = [this](const QModelIndex& index) { m_station->Act(m_station->Model().IdAt(index.row())); };
    connect(m_table, &QTableView::activated, this, act);
    connect(actions, &ActionDelegate::Pressed, this, &StationWindow::ButtonPressed);
    connect(m_autoStart, &QCheckBox::toggled, this, [this](bool on) {
        m_station->SetAutoStart(on);
        QSettings().setValue(QString::fromLatin1(kAutoStartKey), on);
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { Refresh(); });
    connect(&m_station->Model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                AnnounceEnds(first.row(), last.row());
                Refresh();
            });
    connect(&m_station->Model(), &QAbstractItemModel::rowsRemoved, this, [this] { Refresh(); });
    connect(&m_station->Model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (SelectedId() == 0) m_table->selectRow(0);
        Refresh();
    });
    connect(m_station.get(), &Station::CountsChanged, this, [this] { Refresh(); });
    connect(m_station.get(), &Station::CountsChanged, this, [this] { RetryClose(); });
    connect(&m_station->Model(), &QAbstractItemModel::dataChanged, this, [this] { RetryClose(); });
    if (m_station->Model().rowCount() > 0) m_table->selectRow(0);
    m_table->setFocus();
    FitToScreen();
    Refresh();
}

StationWindow::~StationWindow() {
    m_table->setModel(nullptr);  // the view goes with the window, after the station's model
}

void StationWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    m_upgradeAll = file->addAction(QStringLiteral("Upgrade &all"), this, [this] { m_station->UpgradeAll(); });
    m_upgradeAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    // Upgrade selected also starts a plain upgrade on a row whose button offers Finish (another
    // radio may have been plugged into that cable); Finish only where the row offers it.
    m_upgradeSelected = file->addAction(QStringLiteral("&Upgrade selected"), this, [this] { m_station->Upgrade(SelectedId()); });
    m_finish = file->addAction(QStringLiteral("&Finish selected (recovery)"), this, [this] { m_station->Finish(SelectedId()); });
    m_finish->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_checkAll = file->addAction(QStringLiteral("&Check all"), this, [this] { m_station->CheckAll(); });
    m_checkAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    m_checkSelected = file->addAction(QStringLiteral("Check selecte&d"), this, [this] { m_station->Check(SelectedId()); });
    BuildRowCommands(file);
    file->addSeparator();
    QAction* addPort = file->addAction(QStringLiteral("Add &port..."), this, [this] { AddPortByHand(); });
    addPort->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P));
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"), this, [this] { close(); });
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* simulate = menuBar()->addMenu(QStringLiteral("&Simulate"));
    m_plug = simulate->addAction(QStringLiteral("&Plug in a simulated radio"), this,
                                 [this] { m_station->PlugSimulated(); });  // the user's selection stays
    m_plug->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_unplug = simulate->addAction(QStringLiteral("&Unplug the selected radio's cable"), this,
                                   [this] { m_station->UnplugSimulated(SelectedId()); });
    m_unplug->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
#if !KESTRO_HAVE_SIMULATION
    simulate->menuAction()->setVisible(false);
#endif
}

int StationWindow::SelectedId() const {
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    return current.isValid() ? m_station->Model().IdAt(current.row()) : 0;
}

void StationWindow::Select(int id) {
    const int row = m_station->Model().RowOf(id);
    if (row >= 0) m_table->selectRow(row);
}

void StationWindow::AddPortByHand() {
    bool ok = false;
    const QString device = QInputDialog::getText(this, QStringLiteral("Add port"),
                                                 QStringLiteral("Device of the port (for example /dev/ttyUSB3):"),
                                                 QLineEdit::Normal, {}, &ok);
    if (ok && !device.trimmed().isEmpty()) AddPortNamed(device.trimmed());
}

bool StationWindow::AddPortNamed(const QString& device) {
    const std::string problem = PortOpenProblem(device.toStdString());
    if (!problem.empty()) {
        QMessageBox::warning(this, QStringLiteral("Add port"),
                             QString::fromStdString(problem) + QStringLiteral("\n\nNo row was added."));
        return false;
    }
    Select(m_station->AddPort(device.toStdString()));
    return true;
}

QWidget* StationWindow::BuildBanners(const RunSettings& settings) {
    const std::filesystem::path file = settings.firmware.empty() ? DefaultFirmwarePath() : settings.firmware;
    m_firmware = new QLabel(QStringLiteral("Firmware: %1, installs %2")
                                .arg(QString::fromStdString(file.filename().string()),
                                     QString::fromStdString(KitFirmwareVersion())));
    m_firmware->setToolTip(QString::fromStdString(file.string()));
    m_firmware->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_historyBanner = new QLabel;
    m_historyBanner->setWordWrap(true);
    m_historyBanner->setStyleSheet(QStringLiteral("QLabel { background: #fff0c0; color: #503000; padding: 4px; }"));
    m_historyBanner->setAccessibleName(QStringLiteral("History of runs"));
    m_historyBanner->hide();
    connect(m_station.get(), &Station::HistoryProblem, this, [this](const QString& text) {
        m_historyBanner->setText(text + QStringLiteral(" The upgrades themselves go on."));
        m_historyBanner->show();
    });
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_firmware);
    layout->addWidget(m_historyBanner);
    return box;
}

void StationWindow::BuildRowCommands(QMenu* file) {
    m_stop = file->addAction(QStringLiteral("&Stop selected"), this, [this] { StopRow(SelectedId()); });
    m_remove = file->addAction(QStringLiteral("&Remove selected row"), this, [this] { RemoveSelected(); });
    m_remove->setShortcut(QKeySequence::Delete);
    m_remove->setShortcutContext(Qt::WindowShortcut);
    file->addAction(QStringLiteral("Open &log of runs"), this, [this] { OpenLogOfRuns(); });
    file->addAction(QStringLiteral("Se&ttings..."), this, [this] { EditSettings(); });
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = m_table->indexAt(at);
        if (!index.isValid()) return;
        m_table->selectRow(index.row());
        QMenu menu(this);
        menu.addAction(m_upgradeSelected);
        menu.addAction(m_finish);
        menu.addAction(m_checkSelected);
        menu.addAction(m_stop);
        menu.addAction(m_remove);
        menu.exec(m_table->viewport()->mapToGlobal(at));
    });
}

void StationWindow::RemoveSelected() {
    if (m_station->Remove(SelectedId())) return;
    if (SelectedId() != 0) statusBar()->showMessage(QStringLiteral("A row whose run goes on cannot be removed: stop it first."), 10000);
}

void StationWindow::StopRow(int id) {
    const QString refused = m_station->Stop(id);
    if (!refused.isEmpty()) statusBar()->showMessage(refused, 15000);
}

void StationWindow::ButtonPressed(const QModelIndex& index, bool second) {
    const int id = m_station->Model().IdAt(index.row());
    const StationRow* row = m_station->Model().Find(id);
    if (row == nullptr) return;
    if (second) {
        m_station->Finish(id);
    } else if (row->Action() == RowAction::Stop) {
        StopRow(id);
    } else {
        m_station->Act(id);
    }
}

// The log's file where it is there, else its folder: the desktop's own handler opens it.
void StationWindow::OpenLogOfRuns() {
    const std::filesystem::path log =
        m_station->Settings().log.empty() ? DefaultLogPath() : m_station->Settings().log;
    const QString path = QString::fromStdString(log.string());
    const QFileInfo info(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.exists() ? path : info.absolutePath()));
}

void StationWindow::Refresh() {
    const int id = SelectedId();
    const StationRow* row = m_station->Model().Find(id);
    const bool running = row != nullptr && m_station->Running(id);
    m_upgradeSelected->setEnabled(row != nullptr && !running && row->present);
    m_checkSelected->setEnabled(row != nullptr && !running && row->present);
    m_finish->setEnabled(row != nullptr && row->Offers(RowAction::Finish));
    m_remove->setEnabled(row != nullptr && !running);
    m_stop->setEnabled(running);
    m_unplug->setEnabled(row != nullptr && row->Simulated() && row->present);
    QString detail;
    if (row != nullptr) {
        detail = row->PortText();
        if (!row->serial.isEmpty()) detail += QStringLiteral("\nSerial number: ") + row->serial;
        if (!row->lastRun.isEmpty()) detail += QStringLiteral("\nLatest earlier run: ") + row->lastRun;
        if (!row->lastRunServer.isEmpty()) detail += QStringLiteral("\nLatest run in the shared history: ") + row->lastRunServer;
        if (!row->message.isEmpty()) detail += QStringLiteral("\n\n") + row->message;
        if (!row->notes.isEmpty()) detail += QStringLiteral("\n\n") + row->notes;
    }
    if (m_detail->toPlainText() != detail) m_detail->setPlainText(detail);
    const StationCounts& counts = m_station->Counts();
    m_counts->setText(QStringLiteral("Upgraded: %1    Failed: %2    Needing recovery: %3")
                          .arg(counts.upgraded)
                          .arg(counts.failed)
                          .arg(counts.needingRecovery));
}

void StationWindow::closeEvent(QCloseEvent* event) {
    // The hub never lets a stop and the entry into the erase span both pass: a radio that got
    // there first is left to finish, and the window stays until it has.
    if (m_station->AnyInEraseSpan() || !m_station->StopBeforeErase()) {
        event->ignore();
        m_closeWanted = true;
        ShowCloseBanner();
        return;
    }
    m_closeWanted = false;
    m_closeBanner->hide();
    QMainWindow::closeEvent(event);
}

QWidget* StationWindow::BuildCloseBanner() {
    m_closeBanner = new QFrame;
    m_closeBanner->setFrameShape(QFrame::StyledPanel);
    m_closeBanner->setAutoFillBackground(true);
    QPalette palette = m_closeBanner->palette();
    palette.setColor(QPalette::Window, QColor(0xff, 0xf1, 0xc4));
    palette.setColor(QPalette::WindowText, QColor(0x3d, 0x2c, 0x00));
    m_closeBanner->setPalette(palette);
    m_closeNotice = new QLabel;
    m_closeNotice->setWordWrap(true);
    m_closeNotice->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    auto* keepOpen = new QPushButton(QStringLiteral("&Keep the station open"));
    keepOpen->setAccessibleDescription(QStringLiteral("The station does not close when these radios have ended"));
    connect(keepOpen, &QPushButton::clicked, this, [this] {
        m_closeWanted = false;
        m_closeBanner->hide();
    });
    auto* layout = new QHBoxLayout(m_closeBanner);
    layout->addWidget(m_closeNotice, 1);
    layout->addWidget(keepOpen);
    m_closeBanner->hide();
    return m_closeBanner;
}

void StationWindow::ShowCloseBanner() {
    QStringList ports;
    for (int id : m_station->InEraseSpan()) {
        if (const StationRow* row = m_station->Model().Find(id)) ports << row->PortText();
    }
    const QString notice = QString::fromLatin1(ports.size() == 1 ? stationtexts::kCloseWaitsForOne
                                                                 : stationtexts::kCloseWaitsForMany)
                               .arg(ports.join(QStringLiteral(", ")));
    if (m_closeNotice->text() != notice) {
        m_closeNotice->setText(notice);
        m_closeNotice->setAccessibleName(notice);
    }
    if (!m_closeBanner->isVisible()) {
        m_closeBanner->show();
        if (QAccessible::isActive()) {
            QAccessibleEvent alert(m_closeNotice, QAccessible::Alert);
            QAccessible::updateAccessibility(&alert);
        }
    }
}

void StationWindow::RetryClose() {
    if (!m_closeWanted) return;
    if (m_station->AnyInEraseSpan()) {
        ShowCloseBanner();  // the radios it waits for now
        return;
    }
    // Out of the model's signal: closing stops the runs that wait before their erase.
    QTimer::singleShot(0, this, [this] {
        if (m_closeWanted) close();
    });
}

void StationWindow::AnnounceEnds(int first, int last) {
    for (int at = first; at <= last; ++at) {
        const int id = m_station->Model().IdAt(at);
        const StationRow* row = m_station->Model().Find(id);
        if (row == nullptr) continue;
        const bool ended = row->state == RowState::Ended;
        const bool was = m_ended.contains(id);
        if (ended == was) continue;
        if (!ended) {
            m_ended.erase(id);
            continue;
        }
        m_ended.insert(id);
        if (!QAccessible::isActive()) continue;
        // A row that ends says so: its result cell's name changes to the outcome, and the row
        // as a whole is renamed.
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_table);
        QAccessibleTableInterface* cells = table != nullptr ? table->tableInterface() : nullptr;
        QAccessibleInterface* result = cells != nullptr ? cells->cellAt(at, StationModel::Result) : nullptr;
        if (result == nullptr) continue;
        QAccessibleEvent renamed(result, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
        QAccessibleEvent ended_(result, QAccessible::Alert);
        QAccessible::updateAccessibility(&ended_);
    }
}

void StationWindow::SizeColumns() {
    // Phase and Result hold long texts: they share the width left and elide. The progress bar
    // has a fixed width; every other column is as wide as what it holds, and gives way when the
    // window is narrow (the buttons to one button's width).
    std::vector<ColumnSizing> sizing(StationModel::ColumnCount, ColumnSizing::Content);
    sizing[StationModel::Phase] = ColumnSizing::Stretch;
    sizing[StationModel::Result] = ColumnSizing::Stretch;
    sizing[StationModel::Progress] = ColumnSizing::Bar;
    sizing[StationModel::Action] = ColumnSizing::Buttons;
    m_table->SetColumnSizing(std::move(sizing));
    m_table->SetProgressColumn(StationModel::Progress);
}

void StationWindow::FitToScreen() {
    // The size it would like, within the screen's free area (in the scaled pixels the window
    // is laid out in), leaving room for a window manager's frame.
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    QSize wanted(1340, 440);
    if (shown != nullptr) {
        const QRect area = shown->availableGeometry();
        const QSize room = (area.size() - QSize(kFrameRoom, 2 * kFrameRoom)).expandedTo(QSize(1, 1));
        wanted = wanted.boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room));
        resize(wanted);
        move(area.center() - QPoint(wanted.width() / 2, wanted.height() / 2));
        return;
    }
    resize(wanted);
}

void StationWindow::ShowPending(int runs) {
    m_pending->setText(QStringLiteral("pending: %1 runs not yet sent").arg(runs));
    m_pending->setAccessibleName(m_pending->text());
    m_pending->setVisible(runs > 0);
}

void StationWindow::EditSettings() {
    StationSettingsDialog dialog(QString::fromStdString(m_station->Settings().historyServer), this);
    if (dialog.exec() != QDialog::Accepted) return;
    StoreHistoryServer(dialog.Server());
    m_station->SetHistoryServer(dialog.Server().toStdString());
}

}  // namespace kestro::station
