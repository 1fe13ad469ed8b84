#pragma once
// The form view: the kit's versions, the status line and the progress bar, laid out on the form's
// dialog-unit grid. It owns the hub for the life of the window and is the hub's reporter and port
// owner: status, position and visibility are carried out on the UI thread before the calls
// return, message boxes are owned by the window and hold their caller until closed, and each
// received byte reaches the reply receiver on the UI thread while the port thread waits.

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <string>

#include "platform/Settings.h"
#include "protocol/PortEngine.h"
#include "ui/UiThreadBridge.h"
#include "upgrade/Reporter.h"
#include "upgrade/UpgradeHub.h"

class QAction;
class QLabel;
class QLineEdit;
class QTimer;

namespace kestro {

class CProgressEx;

class CDorvikUpgradeKitView final : public QWidget, public IReporter, public IPortOwner {
    Q_OBJECT

  public:
    CDorvikUpgradeKitView(ISettings& settings, CUpgradeHub::Options options,
                          QWidget* parent = nullptr);
    // Lets every thread waiting on the window go, then ends the run if one is still going and
    // waits for its worker; only then are the hub and the port released.
    ~CDorvikUpgradeKitView() override;

    // Once the frame has placed the view, before it is first shown: versions, bar, log.
    void OnInitialUpdate();

    // The Upgrade command's action: its state follows the enable rule.
    void SetUpgradeAction(QAction* action);
    // The enable rule, at each refresh: enabled exactly while no run is in progress, and then the
    // status line goes back to "Start the Upgrade". Returns whether the command is enabled.
    bool OnUpdateFileUpgrade();
    // The Upgrade command: refreshes its state first and drops the command when disabled.
    void OnUpgrade();
    // The System Setup command: the port settings dialog, modal; its result is not used.
    void OnSystemSetup();

    // A run is in progress: its worker still reports to the window.
    bool RunInProgress() const;

    // IReporter, from any thread.
    void SetStatusText(const std::string& text) override;
    void SetProgressText(const std::string& label) override;
    void SetProgress(int position) override;
    void ShowProgress(bool show) override;
    void MessageBox(const std::string& text, TitleKind title, Icon icon) override;
    void MessageBoxWithDetail(const std::string& text, TitleKind title, Icon icon,
                              const std::string& detail) override;
    void RecoveryModeChanged(bool armed) override;
    void Guide(Guidance kind, const std::string& text) override;

    // IPortOwner, on the port thread.
    void OnSerialRxChar(std::uint8_t byte, int portNumber) override;
    void OnPortError(const std::string& text, int portNumber) override;

    CUpgradeHub& Hub() { return m_hub; }
    bool RecoveryArmed() const { return m_hub.RecoveryFlag() == 1; }
    // The start-up notice of a radio that an unfinished upgrade left, while it is open.
    QMessageBox* RecoveryNotice() const { return m_recoveryNotice; }

  signals:
    // The recovery flag as the window shows it; emitted on the UI thread at every change.
    void RecoveryModeShown(bool armed);
    // One sentence for the status bar (empty: clear it): why the user may be stuck, what to do.
    void StatusHint(const QString& text);

  public:
    CProgressEx* Progress() const { return m_progress; }
    QLabel* StatusLine() const { return m_statusLine; }

    // The form's size on its grid, in dialog units.
    static constexpr int kFormWidth = 238;
    static constexpr int kFormHeight = 146;

  protected:
    // The recovery key: Ctrl+Alt+U with Shift up, while the keyboard focus is in the form, sets
    // the recovery flag before the main window's shortcut carries out the Upgrade command.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildForm();
    void PreTranslateMessage(QEvent* event);
    // Shows the command's state without the status reset: used where the flag changes and
    // nothing the user did asked for a refresh.
    void SyncUpgradeEnabled();
    void ShowMessageBoxNow(const std::string& text, TitleKind title, Icon icon,
                           const std::string& detail = {});
    // At start-up: a radio that a run left between erase and boot swap on the port the settings
    // choose arms recovery mode, and the user is told so once.
    void RestoreRememberedRecovery();
    // Once a run has ended: a hint where the outcome leaves the user stuck.
    void HintAfterRun();

    ISettings& m_settings;
    // Declared before the hub: it must outlive the hub's threads.
    UiThreadBridge m_bridge;
    CUpgradeHub m_hub;

    QLabel* m_statusLine = nullptr;
    CProgressEx* m_progress = nullptr;
    QLineEdit* m_firmwareVersionEdit = nullptr;
    QLineEdit* m_codeplugVersionEdit = nullptr;
    QPointer<QAction> m_upgradeAction;
    // While a run is in progress: re-enables the command once the worker has cleared the flag,
    // leaving the status line alone until the next refresh.
    QTimer* m_runWatch = nullptr;
    QPointer<QMessageBox> m_recoveryNotice;
};

}  // namespace kestro
