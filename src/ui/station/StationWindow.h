#pragma once
// The station's window: the firmware it installs at the top, the table of radio ports, each row
// with its own Upgrade, Finish or Stop button, the selected row's details beneath it, Upgrade
// all, the choice to start each radio when it is plugged in, the counts since the start, a
// banner when the history of runs fails, and (with simulated radios) plug and unplug. It only
// shows the rows and passes commands on; the station does the work.

#include <QMainWindow>
#include <memory>
#include <set>

#include "ui/station/Station.h"
#include "ui/station/StationTable.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace kestro::station {

class StationWindow final : public QMainWindow {
    Q_OBJECT

  public:
    explicit StationWindow(StationOptions options, QWidget* parent = nullptr);
    ~StationWindow() override;

    Station& GetStation() { return *m_station; }
    QTableView* Table() const { return m_table; }
    QPlainTextEdit* Detail() const { return m_detail; }
    QCheckBox* AutoStartBox() const { return m_autoStart; }
    QLabel* CountsLabel() const { return m_counts; }
    // The notice shown while a close waits for radios in their erase span.
    QFrame* CloseBanner() const { return m_closeBanner; }
    QLabel* CloseNotice() const { return m_closeNotice; }
    QAction* UpgradeAllAction() const { return m_upgradeAll; }
    QAction* FinishAction() const { return m_finish; }
    QAction* PlugAction() const { return m_plug; }
    QAction* RemoveAction() const { return m_remove; }
    QLabel* FirmwareLabel() const { return m_firmware; }
    QLabel* HistoryBanner() const { return m_historyBanner; }
    // Adds the port at `device` when it is a serial port that can be opened; otherwise says why
    // (a message box) and adds nothing. False then.
    bool AddPortNamed(const QString& device);
    QAction* UnplugAction() const { return m_unplug; }
    // The id of the selected row; 0 when none.
    int SelectedId() const;
    void Select(int id);

  protected:
    // Waits while a radio is between erase and boot swap, with a notice that names those
    // radios (not a box: nothing waits for OK), and closes by itself when they have ended unless
    // the user keeps the station open; radios before their erase are stopped.
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenus();
    void AddPortByHand();
    // The firmware line at the top and the history's banner, above the table.
    QWidget* BuildBanners(const RunSettings& settings);
    // The selected row's removal (Delete, the context menu) and the log of runs.
    void BuildRowCommands(QMenu* file);
    void RemoveSelected();
    void StopRow(int id);
    // A row's own button: the first does what the row offers, the second is Finish.
    void ButtonPressed(const QModelIndex& index, bool second);
    void OpenLogOfRuns();
    // The history server in a small dialog; stored, and used from the next run on.
    void EditSettings();
    void ShowPending(int runs);
    void Refresh();  // the selected row's details, the buttons and the counts
    QWidget* BuildCloseBanner();
    void ShowCloseBanner();
    // A close the user still wants goes ahead once no radio is in its erase span.
    void RetryClose();
    // Rows from `first` to `last` that have just ended tell screen readers their outcome.
    void AnnounceEnds(int first, int last);
    void SizeColumns();
    // Opens at its usual size, or the screen's free area when that is smaller, centred there.
    void FitToScreen();

    std::unique_ptr<Station> m_station;
    StationTable* m_table = nullptr;
    QPlainTextEdit* m_detail = nullptr;
    QCheckBox* m_autoStart = nullptr;
    QPushButton* m_upgradeAllButton = nullptr;
    QLabel* m_counts = nullptr;
    QAction* m_upgradeAll = nullptr;
    QAction* m_upgradeSelected = nullptr;
    QAction* m_finish = nullptr;
    QAction* m_plug = nullptr;
    QAction* m_unplug = nullptr;
    QFrame* m_closeBanner = nullptr;
    QLabel* m_closeNotice = nullptr;
    bool m_closeWanted = false;
    std::set<int> m_ended;  // rows whose end was announced
    QAction* m_remove = nullptr;
    QAction* m_checkAll = nullptr;
    QLabel* m_pending = nullptr;
    QAction* m_checkSelected = nullptr;
    QPushButton* m_checkAllButton = nullptr;
    QAction* m_stop = nullptr;
    QLabel* m_firmware = nullptr;
    QLabel* m_historyBanner = nullptr;
};

}  // namespace kestro::station
