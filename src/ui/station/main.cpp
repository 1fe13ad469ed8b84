// kestro-upgrade-station: several radios upgraded at once, one row per radio port, each started
// by the user or as its cable is plugged in.

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "history/HistoryPush.h"
#include "ui/Artwork.h"
#include "ui/UiTexts.h"
#include "ui/station/StationCommandLine.h"
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
    // The history server: the stored setting, else the environment's. Each run is sent after
    // its local commit, the unsent ones at start and every minute, by the pusher's own thread.
    std::string server = QSettings().value(QStringLiteral("historyServer")).toString().toStdString();
    if (const char* environment = std::getenv("KESTRO_HISTORY_SERVER"); server.empty() && environment != nullptr) {
        server = environment;
    }
    std::unique_ptr<HistoryPusher> pusher;
    QTimer everyMinute;
    if (!server.empty()) {
        pusher = std::make_unique<HistoryPusher>(DefaultHistoryPath(), server);
        options->settings.historyAdded = [&pusher] { pusher->Request(); };
        QObject::connect(&everyMinute, &QTimer::timeout, [&pusher] { pusher->Request(); });
        everyMinute.start(60 * 1000);
        pusher->Request();
    }
    station::StationWindow window(std::move(*options));
    window.show();
    return app.exec();
}
