#include <QAction>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <dirent.h>

#include "appsupport.h"
#include "dialogabout.h"
#include "hlyxml.h"
#include "mainwindow.h"

namespace {

const char* kServerUuid   = "4d696e69-444c-164e-9d41-0000beac0031";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0032";
const char* kLightUuid    = "6c696768-7400-4000-8000-0000beac0033";
const char* kRendererName = "beaconry-gmediarender";

bool PeersAvailable()
{
    return testnet::Inside() && system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") == 0;
}

int ThreadCount()
{
    int  count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return -1;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') count++;
    }
    closedir(tasks);
    return count;
}

QString Text(const HLY_XmlElementNode* device, const char* tag)
{
    const HLY_XmlElementNode* child = device ? device->GetChild(tag, "*") : nullptr;
    const HLY_String*         text  = child ? child->GetText() : nullptr;
    return text ? QString::fromUtf8(text->GetChars()) : QString();
}

// the five facts as the device's own description states them, read with
// the runtime's plain HTTP client and XML parser
QStringList FactsOf(const std::string& url)
{
    std::string body = appsupport::HttpGet(url);
    if (body.empty()) return {};
    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    if (HLY_FAILED(parser.Parse(body.c_str(), tree)) || tree == nullptr) return {};
    const HLY_XmlElementNode* root   = tree->AsElementNode();
    const HLY_XmlElementNode* device = root ? root->GetChild("device", "*") : nullptr;
    QString                   udn    = Text(device, "UDN");
    if (udn.startsWith("uuid:")) udn.remove(0, 5);
    QStringList facts = {Text(device, "friendlyName"), udn, Text(device, "deviceType"), Text(device, "manufacturer"),
                         Text(device, "modelDescription")};
    delete tree;
    return facts;
}

std::unique_ptr<peers::Peer> StartLight()
{
    return appsupport::StartLight(kLightUuid, "beaconry-light");
}

bool Known(MainWindow& w, const char* uuid)
{
    CVD_DeviceDataReference device;
    return HLY_SUCCEEDED(w.GetCtrlPoint()->FindDevice(uuid, device));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    template <typename T> static T* Child(QObject* parent, const char* name)
    {
        return appsupport::Child<T>(parent, name);
    }
    static QUPnPDevice* Record(const char* uuid, const char* name, const char* description = "A media server")
    {
        return new QUPnPDevice(uuid, name, "ACME", "urn:schemas-upnp-org:device:MediaServer:1", description);
    }
    static QStringList Row(QTreeWidget* tree, const QString& name)
    {
        for (int i = 0; i < tree->topLevelItemCount(); i++) {
            if (tree->topLevelItem(i)->text(0) != name) continue;
            QUPnPDevice* d = tree->topLevelItem(i)->data(0, Qt::UserRole).value<QUPnPDevice*>();
            return {d->m_FriendlyName, d->m_UUID, d->m_DeviceType, d->m_Manufacturer, d->m_ModelDescription};
        }
        return {};
    }
    static QStringList Names(QTreeWidget* tree)
    {
        QStringList names;
        for (int i = 0; i < tree->topLevelItemCount(); i++) names << tree->topLevelItem(i)->text(0);
        return names;
    }
    static QStringList Fields(MainWindow& w)
    {
        return {Child<QLineEdit>(&w, "lineEditDeviceName")->text(), Child<QLineEdit>(&w, "lineEditUID")->text(),
                Child<QLineEdit>(&w, "lineEditDeviceType")->text(),
                Child<QLineEdit>(&w, "lineEditManufacturer")->text(),
                Child<QTextEdit>(&w, "textEditDescription")->toPlainText()};
    }

private slots:
    void resourceIconIsLinkedIn()
    {
        MainWindow w;
        QVERIFY(QFile::exists(":/UPnP_ico"));
        QVERIFY(!QIcon(":/UPnP_ico").availableSizes().isEmpty());
        QVERIFY(!w.windowIcon().isNull());
    }

    void formMatchesTheDesign()
    {
        MainWindow w;
        QCOMPARE(w.objectName(), QString("MainWindow"));
        QCOMPARE(w.windowTitle(), QString("Beaconry"));
        QCOMPARE(w.size(), QSize(625, 385));

        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        QVERIFY(tree->isHeaderHidden());
        QCOMPARE(tree->columnCount(), 1);
        QCOMPARE(tree->minimumSize(), QSize(256, 0));
        QCOMPARE(tree->maximumWidth(), 400);
        QVERIFY(!tree->isSortingEnabled());

        auto* grid = Child<QGridLayout>(&w, "gridLayout_2");
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
        int row, column, row_span, column_span;
        grid->getItemPosition(grid->indexOf(tree), &row, &column, &row_span, &column_span);
        QCOMPARE(QList<int>({row, column, row_span, column_span}), QList<int>({0, 0, 2, 1}));

        const char* labels[][2] = {{"labelDeviceName", "Device Name:"}, {"labelUID", "UID:"},
                                   {"labelDeviceType", "Type:"}, {"labelManufacturer", "Manufacturer:"},
                                   {"labelDescription", "Description:"}};
        auto* fields = Child<QGridLayout>(&w, "gridLayout");
        for (int i = 0; i < 5; i++) {
            QLabel* label = Child<QLabel>(&w, labels[i][0]);
            QCOMPARE(label->text(), QString(labels[i][1]));
            fields->getItemPosition(fields->indexOf(label), &row, &column, &row_span, &column_span);
            QCOMPARE(row, i);
            QCOMPARE(column, 0);
        }
        QTextEdit* description = Child<QTextEdit>(&w, "textEditDescription");
        QCOMPARE(description->minimumWidth(), 100);
        QCOMPARE(description->maximumHeight(), 100);

        QCOMPARE(Child<QAction>(&w, "actionQuit")->text(), QString("Exit"));
        QCOMPARE(Child<QAction>(&w, "actionAbout")->text(), QString("About..."));
        QMenuBar* bar = Child<QMenuBar>(&w, "menuBar");
        QList<QAction*> menus = bar->actions();
        // File, the inspector's View, Help
        QCOMPARE(menus.size(), 3);
        QCOMPARE(menus[0]->menu()->objectName(), QString("menuFile"));
        QCOMPARE(menus[0]->text(), QString("File"));
        QCOMPARE(menus[1]->menu()->objectName(), QString("menuView"));
        QCOMPARE(menus[2]->menu()->objectName(), QString("menuHelp"));
        QCOMPARE(menus[2]->text(), QString("Help"));
        QCOMPARE(menus[0]->menu()->actions(),
                 QList<QAction*>({Child<QAction>(&w, "actionAddDeviceByUrl"), Child<QAction>(&w, "actionQuit")}));
        QCOMPARE(menus[1]->menu()->actions(), QList<QAction*>({Child<QAction>(&w, "actionShowAllDevices")}));
        QCOMPARE(menus[2]->menu()->actions(), QList<QAction*>({Child<QAction>(&w, "actionAbout")}));
        QVERIFY(w.findChild<QStatusBar*>("statusBar") != nullptr);
        // by default the media list, and no device tab until a device is selected
        QVERIFY(!Child<QAction>(&w, "actionShowAllDevices")->isChecked());
        QVERIFY(!tree->isHidden());
        QVERIFY(Child<QTreeWidget>(&w, "treeWidgetAll")->isHidden());
        QVERIFY(Child<QWidget>(&w, "tabWidgetDevice")->isHidden());
    }

    void slotsHaveTheirIndexes()
    {
        const QMetaObject* meta = &MainWindow::staticMetaObject;
        int base = meta->methodOffset();
        QCOMPARE(meta->methodCount() - base, 3);
        QCOMPARE(QByteArray(meta->method(base + 0).methodSignature()), QByteArray("SlotClose()"));
        QCOMPARE(QByteArray(meta->method(base + 1).methodSignature()), QByteArray("SlotOpenAbout()"));
        QCOMPARE(QByteArray(meta->method(base + 2).methodSignature()), QByteArray("SlotItemSelectionChanged()"));
    }

    void startsEmptyWithReadOnlyFields()
    {
        MainWindow w;
        QCOMPARE(Child<QTreeWidget>(&w, "treeWidget")->topLevelItemCount(), 0);
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
        for (const char* name : {"lineEditDeviceName", "lineEditUID", "lineEditDeviceType", "lineEditManufacturer"}) {
            QVERIFY2(Child<QLineEdit>(&w, name)->isReadOnly(), name);
        }
        QVERIFY(Child<QTextEdit>(&w, "textEditDescription")->isReadOnly());
    }

    void insertionListsEachDistinctRecordOnce_data()
    {
        // each record: uuid, friendly name, description; rows expected in arrival order
        QTest::addColumn<QList<QStringList>>("records");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("same record twice") << QList<QStringList>{{"uuid:1", "Living room", "d"},
                                                                 {"uuid:1", "Living room", "d"}}
                                           << QStringList{"Living room"};
        QTest::newRow("description differs") << QList<QStringList>{{"uuid:1", "Living room", "d"},
                                                                   {"uuid:1", "Living room", "changed"}}
                                             << QStringList{"Living room", "Living room"};
        QTest::newRow("names differ, arrival order, empty name")
            << QList<QStringList>{{"uuid:1", "Zebra", "d"}, {"uuid:1", "Aardvark", "d"}, {"uuid:2", "", "d"}}
            << QStringList{"Zebra", "Aardvark", ""};
    }
    void insertionListsEachDistinctRecordOnce()
    {
        QFETCH(QList<QStringList>, records);
        QFETCH(QStringList, rows);
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        for (const QStringList& r : records) w.InsertDevice(Record(qPrintable(r[0]), qPrintable(r[1]), qPrintable(r[2])));
        for (int i = 0; i < tree->topLevelItemCount(); i++) QCOMPARE(tree->topLevelItem(i)->childCount(), 0);
        QCOMPARE(Names(tree), rows);
    }

    void recordIsBuiltFromTheEngineDevice_data()
    {
        // name, manufacturer, description as the engine holds them (UTF-8)
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("manufacturer");
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("ascii") << QByteArray("Hall") << QByteArray("ACME") << QByteArray("A renderer");
        QTest::newRow("not ascii") << QByteArray("Küche – Wohnzimmer") << QByteArray("Ōsaka Ltd") << QByteArray("ü");
        QTest::newRow("empty texts") << QByteArray("") << QByteArray("") << QByteArray("");
    }
    void recordIsBuiltFromTheEngineDevice()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, manufacturer);
        QFETCH(QByteArray, description);
        CVD_DeviceDataReference device(new CVD_DeviceData(HLY_HttpUrl("http://10.0.0.1:80/d.xml"), "4d696e69-1",
                                                          HLY_TimeInterval(1800.0),
                                                          "urn:schemas-upnp-org:device:MediaRenderer:1", name));
        device->m_Manufacturer     = manufacturer.constData();
        device->m_ModelDescription = description.constData();
        MainWindow   w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        // as the controller does, from an engine thread; a device that is both
        // a server and a renderer is reported twice with the same facts
        bool     accepted = false;
        QThread* engine   = QThread::create([&]() { accepted = w.AddUPnPDevice(device) && w.AddUPnPDevice(device); });
        engine->start();
        QVERIFY(engine->wait(10000));
        delete engine;
        QVERIFY(accepted);
        QTRY_COMPARE(tree->topLevelItemCount(), 1);
        QTest::qWait(50);
        QCOMPARE(tree->topLevelItemCount(), 1);
        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(Fields(w), QStringList({QString::fromUtf8(name), "4d696e69-1",
                                         "urn:schemas-upnp-org:device:MediaRenderer:1",
                                         QString::fromUtf8(manufacturer), QString::fromUtf8(description)}));
        QCOMPARE(tree->topLevelItem(0)->text(0), QString::fromUtf8(name));
    }

    void selectionFillsAndClearingEmptiesTheFields()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        w.InsertDevice(new QUPnPDevice("uuid:abc", "Kitchen", "Maker Inc", "urn:x:device:MediaRenderer:1",
                                       "Line one\nline two <b>not bold</b>"));
        w.InsertDevice(new QUPnPDevice("uuid:def", "Hall", "Other", "urn:x:device:MediaServer:1", ""));
        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(Fields(w), QStringList({"Kitchen", "uuid:abc", "urn:x:device:MediaRenderer:1", "Maker Inc",
                                         "Line one\nline two <b>not bold</b>"}));

        tree->setCurrentItem(tree->topLevelItem(1));
        QCOMPARE(Fields(w), QStringList({"Hall", "uuid:def", "urn:x:device:MediaServer:1", "Other", ""}));

        tree->setCurrentItem(nullptr);
        tree->clearSelection();
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
    }

    void itemWithoutRecordIsSkippedAndClearsFields()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList("stray")));
        w.InsertDevice(Record("uuid:1", "Real"));
        QCOMPARE(tree->topLevelItemCount(), 2);
        tree->setCurrentItem(tree->topLevelItem(1));
        QCOMPARE(Fields(w)[0], QString("Real"));
        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(Fields(w), QStringList({"", "", "", "", ""}));
    }

    void insertionFromAnotherThreadArrivesThroughTheEventLoop()
    {
        MainWindow w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        QThread* worker = QThread::create([&w]() {
            for (int i = 0; i < 50; i++) w.InsertDevice(Record("uuid:t", "From a thread"));
            w.InsertDevice(Record("uuid:u", "Second"));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        // nothing touched the widgets from the worker thread
        QCOMPARE(tree->topLevelItemCount(), 0);
        QTRY_COMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("From a thread"));
        QCOMPARE(tree->topLevelItem(1)->text(0), QString("Second"));
    }

    void windowClosedWithInsertionsStillQueued()
    {
        // the records of calls that never ran go with the window (checked for
        // leaks under valgrind); nothing may touch the window afterwards
        MainWindow* w      = new MainWindow();
        QThread*    worker = QThread::create([w]() {
            for (int i = 0; i < 20; i++) w->InsertDevice(Record("uuid:late", "Late"));
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        delete w;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }

    void listsTheMediaDevicesOfTheNetworkOnly()
    {
        if (!PeersAvailable()) QSKIP("needs scripts/testnet with minidlna and gmediarender installed");
        std::unique_ptr<peers::Peer> light    = StartLight();
        std::unique_ptr<peers::Peer> server   = peers::StartMinidlna(kServerUuid, 8203);
        std::unique_ptr<peers::Peer> renderer = peers::StartGmediarender(kRendererUuid, 49497, kRendererName);
        QVERIFY(light && server && renderer);

        MainWindow   w;
        QTreeWidget* tree = Child<QTreeWidget>(&w, "treeWidget");
        QTRY_VERIFY2_WITH_TIMEOUT(!Row(tree, "beaconry-minidlna").isEmpty() && !Row(tree, kRendererName).isEmpty(),
                                  qPrintable("listed: " + Names(tree).join(", ")), 20000);
        std::string peer = std::string("http://") + testnet::Env("TESTNET_PEER_ADDR");
        QStringList server_facts = FactsOf(peer + ":8203/rootDesc.xml");
        QStringList renderer_facts = FactsOf(peer + ":49497/description.xml");
        QCOMPARE(server_facts.value(1), QString(kServerUuid));
        QCOMPARE(renderer_facts.value(0), QString(kRendererName));
        QCOMPARE(Row(tree, "beaconry-minidlna"), server_facts);
        QCOMPARE(Row(tree, kRendererName), renderer_facts);

        // the light is described by the engine but never listed
        QTRY_VERIFY_WITH_TIMEOUT(Known(w, kLightUuid), 20000);
        QTest::qWait(300);
        QCOMPARE(tree->topLevelItemCount(), 2);

        // a renderer that says goodbye is dropped by the engine, not by the window
        QVERIFY(Known(w, kRendererUuid));
        renderer->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!Known(w, kRendererUuid), 10000);
        QTest::qWait(200);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(Row(tree, kRendererName), renderer_facts);
    }

    void windowClosedWhileDevicesAreInspected_data()
    {
        // the descriptions are fetched 0.5 s after the first answer, the
        // services 0.1 s later: close before, between and after
        QTest::addColumn<int>("closeAfterMs");
        for (int ms : {0, 300, 550, 700, 1500}) QTest::newRow(qPrintable(QString("%1 ms").arg(ms))) << ms;
    }
    void windowClosedWhileDevicesAreInspected()
    {
        // no engine thread outlives the window (and, under valgrind, nothing leaks)
        if (!PeersAvailable()) QSKIP("needs scripts/testnet with minidlna and gmediarender installed");
        QFETCH(int, closeAfterMs);
        std::unique_ptr<peers::Peer> server   = peers::StartMinidlna(kServerUuid, 8204);
        std::unique_ptr<peers::Peer> renderer = peers::StartGmediarender(kRendererUuid, 49498);
        QVERIFY(server && renderer);
        // the runtime's one lasting thread (the HTTP connection pool) exists before we count
        FactsOf(std::string("http://") + testnet::Env("TESTNET_PEER_ADDR") + ":49498/description.xml");
        int before = ThreadCount();

        MainWindow* w = new MainWindow();
        QVERIFY(ThreadCount() > before); // the engine runs
        QTest::qWait(closeAfterMs);
        w->close();
        delete w;
        QCoreApplication::sendPostedEvents();
        QCOMPARE(ThreadCount(), before);
    }

    void aboutBoxIsBuiltAsDesigned()
    {
        DialogAbout about;
        QCOMPARE(about.objectName(), QString("DialogAbout"));
        QCOMPARE(about.windowTitle(), QString("About Beaconry"));
        QCOMPARE(about.size(), QSize(344, 239));
        QCOMPARE(about.minimumSize(), QSize(344, 239));
        QCOMPARE(about.maximumSize(), QSize(344, 239));
        QVERIFY(!(about.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(!about.windowIcon().isNull());

        QLabel* name = Child<QLabel>(&about, "labelAppName");
        QCOMPARE(name->text(), QString("Beaconry"));
        QVERIFY(name->font().bold());
        QCOMPARE(Child<QLabel>(&about, "labelVersion")->text(), QString("Version: 1.0.0 (Corvid 1.0.5.13)"));
        QVERIFY(!Child<QLabel>(&about, "labelCopyright")->text().isEmpty());
        QVERIFY(!Child<QLabel>(&about, "labelAuthor")->text().isEmpty());

        QLabel* link = Child<QLabel>(&about, "labelLink");
        QVERIFY(link->openExternalLinks());
        QVERIFY(link->text().contains("<a href="));
        QVERIFY(link->text().contains("#325ab4"));
        QVERIFY(link->text().contains("8pt"));

        QTextBrowser* browser = Child<QTextBrowser>(&about, "textBrowser");
        QVERIFY(browser->toPlainText().contains("UPnP media servers"));
        QCOMPARE(browser->toHtml().count("<p"), 3);

        about.show();
        QVERIFY(about.isVisible());
        QTest::mouseClick(Child<QPushButton>(&about, "pushButtonOk"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }

    void aboutMenuOpensAModalBoxThatOkCloses()
    {
        MainWindow w;
        w.show();
        bool seen = false;
        QTimer::singleShot(0, [&seen]() {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->objectName() == "DialogAbout") {
                seen = true;
                QTest::mouseClick(modal->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            } else if (modal) {
                modal->close();
            }
        });
        Child<QAction>(&w, "actionAbout")->trigger();
        QVERIFY(seen);
        QCOMPARE(w.findChildren<DialogAbout*>().size(), 0); // destroyed after exec
    }

    void exitClosesTheWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(w.isVisible());
        Child<QAction>(&w, "actionQuit")->trigger();
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
