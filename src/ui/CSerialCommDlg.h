#pragma once
// The port settings dialog of System Setup: automatic detection of the cable's port, or a fixed
// port from the list of ports present. OK stores "AUTO" ("Yes"/"No") and "COM" (the chosen port's
// name) in section "Settings"; the Upgrade command reads them at its next start.

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "platform/Settings.h"
#include "serial/PortDiscovery.h"

class QCheckBox;
class QLabel;

namespace kestro {

// A closed port list that keeps both ends of a long entry readable ("COM97 (/de...pts/0)" would
// hide the device): it elides the middle, and its tool tip holds the whole entry.
class PortComboBox final : public QComboBox {
  public:
    using QComboBox::QComboBox;
    // The text the closed box shows for its current entry.
    QString DisplayText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class CSerialCommDlg final : public QDialog {
    Q_OBJECT

  public:
    using PortLister = std::function<std::vector<PortEntry>()>;

    // Without a lister the list shows the ports present on this system.
    explicit CSerialCommDlg(ISettings& settings, QWidget* parent = nullptr, PortLister lister = {});

    // OnInitDialog, then the dialog runs modally. Returns QDialog::Accepted or Rejected.
    int DoModal();

    // Reads the stored values, fills the list, sets the box and the list, selects an entry.
    bool OnInitDialog();
    // The box was clicked: the list and its label follow its state.
    void OnAutoDetectClicked();
    void OnOK();
    void OnCancel();

    // true: controls into members; false: members into controls.
    void DoDataExchange(bool saveAndValidate);
    void FillPortList();

    QComboBox* PortCombo() const { return m_portCombo; }
    QCheckBox* AutoDetectButton() const { return m_autoDetectButton; }
    QLabel* PortLabel() const { return m_portLabel; }

    std::string m_comSetting;
    std::string m_autoSetting;
    int m_autoDetect = 1;

  public slots:
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

  private:
    void BuildControls();
    void EnablePortChoice(bool enable);

    ISettings& m_settings;
    PortLister m_lister;
    QComboBox* m_portCombo = nullptr;
    QCheckBox* m_autoDetectButton = nullptr;
    QLabel* m_portLabel = nullptr;
};

}  // namespace kestro
