#include <QApplication>

#include "CvdConstants.h"
#include "beaconrycli.h"
#include "mainwindow.h"

static const char* const kUsage =
    "usage: beaconry [Qt options]\n"
    "  opens the window that lists the UPnP media servers and renderers of the\n"
    "  local network; it searches for them with SSDP multicast as it starts\n"
    "  --help      show this text; --version shows the version\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are passed to Qt.\n";

int main(int argc, char* argv[])
{
    // answered before Qt opens a display and before the window starts the engine
    BeaconryCli cli("beaconry", kUsage, " (" CVD_ENGINE_NAME " " CVD_ENGINE_VERSION ")");
    for (int i = 1; i < argc; ++i) {
        int status = 0;
        if (cli.IsStandard(argv[i], status)) return status;
    }

    QApplication application(argc, argv);
    // Qt has taken its own options: the window takes nothing else
    if (argc > 1) return cli.Unknown(argv[1]);
    MainWindow window;
    window.show();
    return application.exec();
}
