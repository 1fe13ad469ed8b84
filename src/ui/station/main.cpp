// kestro-upgrade-station: several radios upgraded at once, one row per radio port, each started
// by the user or as its cable is plugged in.

#include <QApplication>
#include <csignal>
#include <cstdio>

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
    station::StationWindow window(std::move(*options));
    window.show();
    return app.exec();
}
