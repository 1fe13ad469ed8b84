#include "ui/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include "ui/Artwork.h"
#include "ui/CAboutDlg.h"
#include "ui/CDorvikUpgradeKitView.h"
#include "ui/UiTexts.h"

namespace kestro {
namespace {

QString Text(const char* text) { return QString::fromLatin1(text); }

// A menu entry's text without the key after its tab: the menu shows the action's own shortcut
// there, the same words, and screen readers hear the entry's name without a literal tab.
QString EntryText(const char* text) { return Text(text).section(QLatin1Char('\t'), 0, 0); }

// Keeps a widget from showing a tool tip of its own.
class NoToolTip final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) return true;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

CMainFrame::CMainFrame(ISettings& settings, CUpgradeHub::Options options, QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("IDR_MAINFRAME"));
    PreCreateWindow();
    m_view = new CDorvikUpgradeKitView(settings, std::move(options), this);
    setCentralWidget(m_view);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    m_view->SetUpgradeAction(m_upgradeAction);
    m_view->OnInitialUpdate();

    FitSize();
    m_view->setFocus(Qt::OtherFocusReason);
    qApp->installEventFilter(this);
}

CMainFrame::~CMainFrame() { qApp->removeEventFilter(this); }

void CMainFrame::FitSize() {
    // The window takes the size the form asks for, and keeps it.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(sizeHint());
}

void CMainFrame::PreCreateWindow() {
    // No maximise box and no sizing border: minimise and close only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(Text(uitexts::kMainTitle));
    setWindowIcon(ApplicationIcon());
}

void CMainFrame::CreateActions() {
    m_upgradeAction = new QAction(EntryText(uitexts::kUpgradeItem), this);
    m_upgradeAction->setObjectName(QStringLiteral("ID_FILE_UPGRADE"));
    m_upgradeAction->setIcon(QIcon(UpgradeButtonPixmap()));
    // Ctrl+Alt+U is the recovery key: the form has set its flag by the time this runs.
    m_upgradeAction->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_U), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U)});
    m_upgradeAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_upgradeAction, &QAction::triggered, m_view, &CDorvikUpgradeKitView::OnUpgrade);

    m_exitAction = new QAction(Text(uitexts::kExitItem), this);
    m_exitAction->setObjectName(QStringLiteral("ID_APP_EXIT"));
    m_exitAction->setStatusTip(Text(uitexts::kExitPrompt));
    m_exitAction->setToolTip(Text(uitexts::kExitTip));
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);

    m_toolbarAction = new QAction(Text(uitexts::kToolbarItem), this);
    m_toolbarAction->setObjectName(QStringLiteral("ID_VIEW_TOOLBAR"));
    m_toolbarAction->setCheckable(true);
    m_toolbarAction->setChecked(true);
    m_toolbarAction->setStatusTip(Text(uitexts::kToolbarPrompt));
    m_toolbarAction->setToolTip(Text(uitexts::kToolbarTip));

    m_statusBarAction = new QAction(Text(uitexts::kStatusBarItem), this);
    m_statusBarAction->setObjectName(QStringLiteral("ID_VIEW_STATUS_BAR"));
    m_statusBarAction->setCheckable(true);
    m_statusBarAction->setChecked(true);
    m_statusBarAction->setStatusTip(Text(uitexts::kStatusBarPrompt));
    m_statusBarAction->setToolTip(Text(uitexts::kStatusBarTip));

    m_setupAction = new QAction(EntryText(uitexts::kSystemSetupItem), this);
    m_setupAction->setObjectName(QStringLiteral("ID_TOOLS_SYSTEM_SETUP"));
    m_setupAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    m_setupAction->setShortcutContext(Qt::WindowShortcut);
    m_setupAction->setStatusTip(Text(uitexts::kSetupPrompt));
    m_setupAction->setToolTip(Text(uitexts::kSetupTip));
    connect(m_setupAction, &QAction::triggered, m_view, &CDorvikUpgradeKitView::OnSystemSetup);

    m_aboutAction = new QAction(Text(uitexts::kAboutItem), this);
    m_aboutAction->setObjectName(QStringLiteral("ID_APP_ABOUT"));
    m_aboutAction->setStatusTip(Text(uitexts::kAboutPrompt));
    m_aboutAction->setToolTip(Text(uitexts::kAboutTip));
    connect(m_aboutAction, &QAction::triggered, this, &CMainFrame::OnAppAbout);

    // The actions live on the window, so their keys work with the bars hidden.
    addActions({m_upgradeAction, m_setupAction});
}

void CMainFrame::CreateMenus() {
    m_fileMenu = menuBar()->addMenu(Text(uitexts::kFileMenu));
    m_fileMenu->setObjectName(QStringLiteral("FileMenu"));
    m_fileMenu->addAction(m_upgradeAction);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_exitAction);
    // Opening the menu is a refresh of the command's state.
    connect(m_fileMenu, &QMenu::aboutToShow, m_view, &CDorvikUpgradeKitView::OnUpdateFileUpgrade);

    QMenu* viewMenu = menuBar()->addMenu(Text(uitexts::kViewMenu));
    viewMenu->setObjectName(QStringLiteral("ViewMenu"));
    viewMenu->addAction(m_toolbarAction);
    viewMenu->addAction(m_statusBarAction);

    QMenu* toolsMenu = menuBar()->addMenu(Text(uitexts::kToolsMenu));
    toolsMenu->setObjectName(QStringLiteral("ToolsMenu"));
    toolsMenu->addAction(m_setupAction);

    QMenu* helpMenu = menuBar()->addMenu(Text(uitexts::kHelpMenu));
    helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    helpMenu->addAction(m_aboutAction);
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("ToolBar"));
    m_wndToolBar->setIconSize(QSize(32, 32));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->addAction(m_upgradeAction);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    // The button has neither a tool tip nor a prompt.
    if (QWidget* button = m_wndToolBar->widgetForAction(m_upgradeAction)) {
        button->installEventFilter(new NoToolTip(button));
    }

    connect(m_toolbarAction, &QAction::toggled, m_wndToolBar, &QWidget::setVisible);
    connect(m_wndToolBar, &QToolBar::visibilityChanged, m_toolbarAction, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar() {
    m_readyPane = new QLabel(Text(uitexts::kReady), this);
    m_readyPane->setObjectName(QStringLiteral("ReadyPane"));
    statusBar()->addWidget(m_readyPane, 1);
    // Where the lock-key panes stood: the recovery indicator.
    m_recoveryPane = new QLabel(Text(uitexts::kRecoveryPane), this);
    m_recoveryPane->setObjectName(QStringLiteral("RecoveryPane"));
    m_recoveryPane->setToolTip(Text(uitexts::kRecoveryTip));
    m_recoveryPane->setFrameShape(QFrame::Panel);
    m_recoveryPane->setFrameShadow(QFrame::Sunken);
    statusBar()->addPermanentWidget(m_recoveryPane);
    statusBar()->setSizeGripEnabled(false);
    ShowRecoveryMode(m_view->RecoveryArmed());
    connect(m_view, &CDorvikUpgradeKitView::RecoveryModeShown, this, &CMainFrame::ShowRecoveryMode);
    connect(m_view, &CDorvikUpgradeKitView::StatusHint, this, &CMainFrame::ShowHint);
    connect(m_statusBarAction, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

void CMainFrame::ShowRecoveryMode(bool armed) {
    // The flag may have changed again since this was sent: show what holds now.
    const bool shown = armed && m_view->RecoveryArmed();
    m_recoveryPane->setVisible(shown);
    // The pane is the one sign that the next Upgrade programs at once: while it is shown, the
    // status bar that carries it is shown too, whatever View > Status Bar said before.
    if (shown && !m_statusBarAction->isChecked()) m_statusBarAction->setChecked(true);
}

void CMainFrame::ShowHint(const QString& text) {
    const bool wasHint = m_readyPane->wordWrap();
    m_readyPane->setWordWrap(!text.isEmpty());
    m_readyPane->setText(text.isEmpty() ? Text(uitexts::kReady) : text);
    // The whole sentence in one piece as well, where the pane wraps it in the window's width.
    m_readyPane->setToolTip(text);
    // While guidance shows, the recovery pane beside it takes two lines and a third of the
    // width, leaving the sentence two thirds: two lines, not three.
    m_recoveryPane->setWordWrap(!text.isEmpty());
    if (text.isEmpty()) {
        m_recoveryPane->setMinimumWidth(0);
        m_recoveryPane->setMaximumWidth(QWIDGETSIZE_MAX);
    } else {
        m_recoveryPane->setFixedWidth(width() / 3);
    }
    if (wasHint != m_readyPane->wordWrap() && isVisible()) FitSize();
}

void CMainFrame::OnAppAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_view != nullptr && m_view->RunInProgress()) {
        event->ignore();
        m_view->MessageBox(uitexts::kCloseDuringRun, TitleKind::Kit, Icon::Warning);
        return;
    }
    QMainWindow::closeEvent(event);
}

bool CMainFrame::IsUserInput(QObject* watched, const QEvent* event) const {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            break;
        default:
            return false;
    }
    // Only input to this window: clicking a message box's OK is not a refresh of the form.
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && widget->window() == this;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (m_view != nullptr && IsUserInput(watched, event)) m_view->OnUpdateFileUpgrade();
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace kestro
