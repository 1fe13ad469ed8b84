// kestro-upgrade-station: several radios upgraded at once, one row per radio port, each started
// by the user or as its cable is plugged in.

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ui/Artwork.h"
#include "ui/UiTexts.h"
#include "ui/station/StationCommandLine.h"
#include "ui/station/StationSettingsDialog.h"
#include "ui/station/StationTexts.h"
#include "ui/station/StationWindow.h"

using namespace kestro;

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A serial line whose far end has gone must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (station::AsksForHelp(argc, argv)) {
        // Before the application: the usage needs no display.
        std::string usage;
        station::ParseStationCommandLine({"--help"}, usage);
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromLatin1(station::stationtexts::kApplicationName));
    app.setOrganizationName(QString::fromLatin1(uitexts::kOrganisation));
    app.setDesktopFileName(QStringLiteral("kestro-upgrade-station"));
    app.setWindowIcon(ApplicationIcon());

    std::vector<std::string> args;
    for (const QString& arg : app.arguments().mid(1)) args.push_back(arg.toStdString());
    std::string error;
    auto options = station::ParseStationCommandLine(args, error);
    if (!options) {
        std::fputs(error.c_str(), stderr);
        return error.find("Usage:") == 0 ? 0 : 2;
    }
    // The history server: the stored setting (File > Settings), else the environment's. The
    // station sends each run after its local commit, the unsent ones at start and every minute.
    std::string server = station::StoredHistoryServer().toStdString();
    if (const char* environment = std::getenv("KESTRO_HISTORY_SERVER"); server.empty() && environment != nullptr) {
        server = environment;
    }
    options->settings.historyServer = server;
    station::StationWindow window(std::move(*options));
    window.show();
    return app.exec();
}
