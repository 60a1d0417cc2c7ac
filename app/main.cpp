#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>

#include "CvdConstants.h"
#include "beaconrycli.h"
#include "mainwindow.h"

// Demo mode, for machines without a display (scripts/demo sets it up inside
// a private test network): BEACONRY_DEMO_DEVICES=N waits until N devices are
// listed, selects the first, saves the window as BEACONRY_DEMO_SHOT (if set),
// prints every row and quits; after BEACONRY_DEMO_TIMEOUT seconds (default 30)
// it prints what it has and fails.
static const int kDemoPollMs = 100; // how often the list is looked at

static void PrintRows(QTreeWidget* tree)
{
    for (int i = 0; i < tree->topLevelItemCount(); i++) {
        QUPnPDevice* device = tree->topLevelItem(i)->data(0, Qt::UserRole).value<QUPnPDevice*>();
        if (device == nullptr) continue;
        printf("listed: %s | %s | %s | %s | %s\n", qPrintable(device->m_FriendlyName), qPrintable(device->m_UUID),
               qPrintable(device->m_DeviceType), qPrintable(device->m_Manufacturer),
               qPrintable(device->m_ModelDescription.simplified()));
    }
    fflush(stdout);
}

static void StartDemo(MainWindow& window, int wanted)
{
    QTreeWidget* tree    = window.findChild<QTreeWidget*>("treeWidget");
    QString      shot    = qEnvironmentVariable("BEACONRY_DEMO_SHOT");
    int          seconds = qEnvironmentVariableIsSet("BEACONRY_DEMO_TIMEOUT")
                               ? qEnvironmentVariableIntValue("BEACONRY_DEMO_TIMEOUT") : 30;
    QTimer*      poll    = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [=, &window]() {
        if (tree->topLevelItemCount() < wanted) return;
        poll->stop();
        tree->setCurrentItem(tree->topLevelItem(0));
        // one more turn of the loop so that the fields are painted
        QTimer::singleShot(200, &window, [=, &window]() {
            int status = 0;
            if (!shot.isEmpty()) {
                if (window.grab().save(shot)) {
                    printf("screenshot: %s\n", qPrintable(shot));
                } else {
                    fprintf(stderr, "beaconry: cannot write %s\n", qPrintable(shot));
                    status = 1;
                }
            }
            PrintRows(tree);
            QCoreApplication::exit(status);
        });
    });
    poll->start(kDemoPollMs);
    QTimer::singleShot(seconds * 1000, &window, [=]() {
        if (!poll->isActive()) return;
        fprintf(stderr, "beaconry: %d of %d devices listed after %d s\n", tree->topLevelItemCount(), wanted, seconds);
        PrintRows(tree);
        QCoreApplication::exit(1);
    });
}

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
    int demo_devices = qEnvironmentVariableIntValue("BEACONRY_DEMO_DEVICES");
    if (demo_devices > 0) StartDemo(window, demo_devices);
    return application.exec();
}
