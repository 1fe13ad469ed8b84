// kestro-upgrade-kit: the desktop window of the Kestro Upgrade Kit.

#include <csignal>

#include "ui/CDorvikUpgradeKitApp.h"

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A serial line whose far end has gone must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    kestro::CDorvikUpgradeKitApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    const int exitCode = app.exec();
    return app.ExitInstance(exitCode);
}
