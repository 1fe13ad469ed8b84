#include "ui/CDorvikUpgradeKitApp.h"

#include <QMessageBox>

#include "platform/Paths.h"
#include "ui/Artwork.h"
#include "ui/CMainFrame.h"
#include "ui/UiTexts.h"
#include "upgrade/Texts.h"

namespace kestro {

CDorvikUpgradeKitApp::CDorvikUpgradeKitApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The application name is also the caption of every message box that names none.
    setApplicationName(QString::fromLatin1(uitexts::kApplicationName));
    setOrganizationName(QString::fromLatin1(uitexts::kOrganisation));
    setApplicationVersion(QString::fromLatin1(texts::kKitFirmwareVersion));
    setDesktopFileName(QStringLiteral("kestro-upgrade-kit"));
    setWindowIcon(ApplicationIcon());
}

CDorvikUpgradeKitApp::~CDorvikUpgradeKitApp() = default;

bool CDorvikUpgradeKitApp::InitInstance() {
    if (StateFolder().empty()) {
        // The log and the recovery records would have nowhere safe to go: no window, no run.
        QMessageBox::critical(nullptr, applicationName(),
                              QString::fromLatin1("The Kestro Upgrade Kit cannot start: ") +
                                  QString::fromLatin1(kNoStateFolder) + QLatin1Char('.'));
        return false;
    }
    m_settings = std::make_unique<CQtSettings>();
    CUpgradeHub::Options options;
    options.recoveryFolder = DefaultRecoveryFolder();
    m_mainFrame = std::make_unique<CMainFrame>(*m_settings, options);
    m_mainFrame->show();
    m_mainFrame->activateWindow();
    return true;
}

int CDorvikUpgradeKitApp::ExitInstance(int exitCode) {
    m_mainFrame.reset();
    m_settings.reset();
    return exitCode;
}

}  // namespace kestro
