#pragma once
// The main window: a fixed size that follows the form, no maximise box, the title "Kestro Upgrade
// Kit", the menus File, View, Tools and Help, a one-button toolbar and a status bar. Upgrade and
// System Setup go to the form view; the window keeps the bars and the About box.

#include <QMainWindow>

#include "platform/Settings.h"
#include "upgrade/UpgradeHub.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace kestro {

class CDorvikUpgradeKitView;

class CMainFrame final : public QMainWindow {
    Q_OBJECT

  public:
    CMainFrame(ISettings& settings, CUpgradeHub::Options options, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CDorvikUpgradeKitView* View() const { return m_view; }
    QAction* UpgradeAction() const { return m_upgradeAction; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    // The status bar's panes: the main one (its text, or a hint where the user may be stuck) and
    // the recovery indicator on the right, shown while the next Upgrade goes straight to
    // programming.
    QLabel* MessagePane() const { return m_readyPane; }
    QLabel* RecoveryPane() const { return m_recoveryPane; }
    QMenu* FileMenu() const { return m_fileMenu; }

    // The About box, modal.
    void OnAppAbout();

  protected:
    // Refuses to close while a run is in progress: stopping between the erase and the boot swap
    // would leave the radio needing a recovery run. The user is told so.
    void closeEvent(QCloseEvent* event) override;
    // The refresh of the Upgrade command at the user's next input to this window.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void PreCreateWindow();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    bool IsUserInput(QObject* watched, const QEvent* event) const;
    void ShowRecoveryMode(bool armed);
    void ShowHint(const QString& text);
    // The window keeps the size its contents ask for, which a hint of two lines changes.
    void FitSize();

    CDorvikUpgradeKitView* m_view = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_readyPane = nullptr;
    QLabel* m_recoveryPane = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_upgradeAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_toolbarAction = nullptr;
    QAction* m_statusBarAction = nullptr;
    QAction* m_setupAction = nullptr;
    QAction* m_aboutAction = nullptr;
};

}  // namespace kestro
