#pragma once
// The application: its name, organisation and icon, the per-user settings store, and the one
// main window with its form view.

#include <QApplication>
#include <memory>

#include "ui/CQtSettings.h"

namespace kestro {

class CMainFrame;

class CDorvikUpgradeKitApp final : public QApplication {
    Q_OBJECT

  public:
    CDorvikUpgradeKitApp(int& argc, char** argv);
    ~CDorvikUpgradeKitApp() override;

    // Creates the settings store and the main window and shows it. false: the program ends.
    bool InitInstance();
    // Releases the main window before the application object; returns the exit code.
    int ExitInstance(int exitCode);

    CMainFrame* MainFrame() const { return m_mainFrame.get(); }

  private:
    std::unique_ptr<CQtSettings> m_settings;
    std::unique_ptr<CMainFrame> m_mainFrame;
};

}  // namespace kestro
