// The window as a device inspector, against real peers in the private test
// network: the light (cvd-light), minidlna and gmediarender.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include "appsupport.h"
#include "descriptionpage.h"
#include "eventspage.h"
#include "invokedialog.h"
#include "mainwindow.h"
#include "servicespage.h"

using appsupport::Child;

namespace {

const char* kServerUuid   = "4d696e69-444c-164e-9d41-0000beac0041";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0042";
const char* kLightUuid    = "6c696768-7400-4000-8000-0000beac0043";
const char* kHiddenUuid   = "6c696768-7400-4000-8000-0000beac0044";
const char* kLightName    = "inspector-light";
const char* kRendererName = "inspector-gmediarender";
const char* kSwitchPower  = "urn:upnp-org:serviceId:SwitchPower:1";
const char* kDimming      = "urn:upnp-org:serviceId:Dimming:1";
const char* kAVTransport  = "urn:upnp-org:serviceId:AVTransport";
const int   kHiddenPort   = 1901;

bool PeersAvailable()
{
    return testnet::Inside() && system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") == 0;
}

std::string PeerUrl(int port, const char* path)
{
    return std::string("http://") + testnet::Env("TESTNET_PEER_ADDR") + ":" + std::to_string(port) + path;
}

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& text, int column = 0)
{
    QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchStartsWith | Qt::MatchRecursive, column);
    return found.isEmpty() ? nullptr : found.first();
}

QStringList Children(QTreeWidgetItem* item)
{
    QStringList names;
    for (int i = 0; item && i < item->childCount(); i++) names << item->child(i)->text(0);
    return names;
}

} // namespace

class TestInspector : public QObject
{
    Q_OBJECT

    std::unique_ptr<peers::Peer> m_Light, m_Server, m_Renderer;
    std::unique_ptr<MainWindow>  m_Window;

    QTreeWidget* All() { return Child<QTreeWidget>(m_Window.get(), "treeWidgetAll"); }

    // selects a device in the list of all devices, once it is there
    bool Select(const QString& name)
    {
        if (!QTest::qWaitFor([&]() { return FindItem(All(), name) != nullptr; }, 20000)) return false;
        All()->setCurrentItem(FindItem(All(), name));
        return true;
    }

    InvokeDialog* Open(const char* service, const char* action)
    {
        return Child<ServicesPage>(m_Window.get(), "pageServices")->OpenInvokeDialog(service, action);
    }

    // invokes and waits for the answer; the result line
    QString Run(InvokeDialog* dialog)
    {
        if (!dialog->Invoke()) return Child<QLabel>(dialog, "labelResult")->text();
        QLabel* result = Child<QLabel>(dialog, "labelResult");
        (void)QTest::qWaitFor([&]() { return !result->text().startsWith("Sent"); }, 15000);
        return result->text();
    }

    // with INSPECTOR_SHOTS=DIR (scripts/devicetab-shots) the tab, or the
    // dialog, is saved as DIR/devicetab-NAME.png
    void Shot(const char* page, const char* name, QWidget* dialog = nullptr)
    {
        QString dir = qEnvironmentVariable("INSPECTOR_SHOTS");
        if (dir.isEmpty()) return;
        QTabWidget* tabs = Child<QTabWidget>(m_Window.get(), "tabWidgetDevice");
        tabs->setCurrentWidget(Child<QWidget>(m_Window.get(), page));
        QTest::qWait(300);
        QWidget* shown = dialog ? dialog : m_Window.get();
        QString  path  = dir + "/devicetab-" + name + ".png";
        if (!shown->grab().save(path)) qWarning("cannot write %s", qPrintable(path));
    }

    static QString Output(InvokeDialog* dialog, const char* name)
    {
        QTreeWidgetItem* item = FindItem(Child<QTreeWidget>(dialog, "treeWidgetOutputs"), name);
        return item ? item->text(1) : QString("(none)");
    }

private slots:
    void initTestCase()
    {
        if (!PeersAvailable()) QSKIP("needs scripts/testnet with minidlna and gmediarender installed");
        m_Light    = appsupport::StartLight(kLightUuid, kLightName);
        m_Server   = peers::StartMinidlna(kServerUuid, 8205);
        m_Renderer = peers::StartGmediarender(kRendererUuid, 49499, kRendererName);
        QVERIFY(m_Light && m_Server && m_Renderer);
        m_Window.reset(new MainWindow());
        // this light answers no search of ours: only its URL brings it in
        m_Window->GetCtrlPoint()->IgnoreUUID(kHiddenUuid);
        m_Window->resize(1000, 640);
        m_Window->show();
    }

    void showAllDevicesListsTheLightToo()
    {
        QTreeWidget* media = Child<QTreeWidget>(m_Window.get(), "treeWidget");
        Child<QAction>(m_Window.get(), "actionShowAllDevices")->setChecked(true);
        QVERIFY(media->isHidden() && !All()->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(FindItem(All(), kLightName) && FindItem(All(), kRendererName) &&
                                     FindItem(All(), "beaconry-minidlna"),
                                 20000);
        // the media list never shows the light
        QVERIFY(media->findItems(kLightName, Qt::MatchExactly).isEmpty());
        QLabel* status = Child<QLabel>(m_Window.get(), "labelStatus");
        QVERIFY2(status->text().startsWith(QString("%1 device").arg(All()->topLevelItemCount())), qPrintable(status->text()));
        QVERIFY2(status->text().contains("searching on: ") && status->text().contains("10.213.0."),
                 qPrintable(status->text()));

        // minidlna offers icons, fetched in the background; the light has
        // none and keeps the default one
        QImage standard = m_Window->style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(16).toImage();
        auto   image    = [&](const char* name) { return FindItem(All(), name)->icon(0).pixmap(16).toImage(); };
        QTRY_VERIFY_WITH_TIMEOUT(!image("beaconry-minidlna").isNull() && image("beaconry-minidlna") != standard, 10000);
        QCOMPARE(image(kLightName), standard);

        QVERIFY(Select(kLightName));
        QCOMPARE(Child<QLineEdit>(m_Window.get(), "lineEditUID")->text(), QString(kLightUuid));
        QTabWidget* tabs = Child<QTabWidget>(m_Window.get(), "tabWidgetDevice");
        QVERIFY(!tabs->isHidden());
        QStringList shown;
        for (int i = 0; i < tabs->count(); i++) {
            if (tabs->isTabVisible(i)) shown << tabs->tabText(i);
        }
        QCOMPARE(shown, QStringList({"Services", "Events", "Description"}));
    }

    void servicesTabShowsActionsAndVariables()
    {
        QVERIFY(Select(kLightName));
        QTreeWidget* tree = Child<QTreeWidget>(m_Window.get(), "treeWidgetServices");
        QCOMPARE(tree->topLevelItemCount(), 2);
        QTreeWidgetItem* power = FindItem(tree, kSwitchPower);
        QVERIFY(power && FindItem(tree, kDimming));
        QCOMPARE(Children(power->child(0)), QStringList({"SetTarget", "GetTarget", "GetStatus"}));
        QCOMPARE(Children(power->child(1)), QStringList({"Target", "Status"}));
        QCOMPARE(power->child(0)->child(0)->child(0)->text(1), QString("in boolean"));
        QVERIFY(power->child(1)->child(1)->text(1).contains(", evented"));
        QVERIFY(power->child(1)->child(0)->text(1).contains(", not evented, default 0"));
        // a range reads as such
        QTreeWidgetItem* dimming = FindItem(tree, kDimming);
        QCOMPARE(dimming->child(0)->child(0)->child(0)->text(1), QString("in ui1 [0..100]"));
    }

    void setTargetFromTheDialogTurnsTheLightOnAndIsEvented()
    {
        QVERIFY(Select(kLightName));
        EventsPage* events = Child<EventsPage>(m_Window.get(), "pageEvents");
        QVERIFY(events->SetSubscribed(kSwitchPower, true));
        QTreeWidget* log = Child<QTreeWidget>(m_Window.get(), "treeWidgetEvents");
        // the initial event: the light is off
        QTRY_VERIFY_WITH_TIMEOUT(FindItem(log, "Status", 2) && FindItem(log, "Status", 2)->text(3) == "0", 10000);

        InvokeDialog* set = Open(kSwitchPower, "SetTarget");
        QVERIFY(set);
        QCheckBox* target = Child<QCheckBox>(set, "input_newTargetValue");
        target->setChecked(true);
        QVERIFY2(Run(set).startsWith("OK (round trip "), qPrintable(Child<QLabel>(set, "labelResult")->text()));
        Shot("pageServices", "invoke", set);
        set->close();

        InvokeDialog* get = Open(kSwitchPower, "GetStatus");
        QVERIFY(Run(get).startsWith("OK"));
        QCOMPARE(Output(get, "ResultStatus"), QString("1"));
        get->close();

        // the change arrives as an event with the next SEQ, and updates the services tab
        QTRY_VERIFY_WITH_TIMEOUT(log->findItems("1", Qt::MatchExactly, 3).size() >= 1, 10000);
        QTreeWidgetItem* on = log->findItems("1", Qt::MatchExactly, 3).last();
        QCOMPARE(on->text(2), QString("Status"));
        QCOMPARE(on->text(1), QString(kSwitchPower));
        QVERIFY(on->text(4).toUInt() >= 1);
        QTreeWidgetItem* status = FindItem(Child<QTreeWidget>(m_Window.get(), "treeWidgetServices"), "Status");
        QCOMPARE(status->text(2), QString("1"));
        Shot("pageServices", "services");
        Shot("pageEvents", "events");

        // the filter hides what does not match, and the log shows the selected device's events
        Child<QLineEdit>(m_Window.get(), "lineEditEventFilter")->setText("LoadLevel");
        QVERIFY(on->isHidden());
        Child<QLineEdit>(m_Window.get(), "lineEditEventFilter")->setText("");
        QVERIFY(!on->isHidden());
        QVERIFY(Select(kRendererName));
        QVERIFY(on->isHidden());
        QVERIFY(Select(kLightName));
        QVERIFY(!on->isHidden());
        QVERIFY(events->SetSubscribed(kSwitchPower, false));
    }

    void valuesAreCheckedBeforeSendingAndDeviceErrorsShown()
    {
        QVERIFY(Select(kRendererName));
        // a seek mode the renderer does not list is refused before anything is sent
        InvokeDialog* seek = Open(kAVTransport, "Seek");
        QVERIFY(seek);
        QComboBox* unit = Child<QComboBox>(seek, "input_Unit");
        QVERIFY(unit->findText("REL_TIME") >= 0);
        unit->setCurrentText("SIDEWAYS");
        Child<QLineEdit>(seek, "input_Target")->setText("0:00:10");
        QVERIFY(!seek->Invoke());
        QCOMPARE(Child<QLabel>(seek, "labelResult")->text(), QString("Not sent: \"SIDEWAYS\" is not a valid value of Unit."));
        unit->setCurrentText("REL_TIME");
        QVERIFY(Run(seek).startsWith("OK"));
        seek->close();

        // the device's own error, with its code: there is nothing to play
        InvokeDialog* play = Open(kAVTransport, "Play");
        QVERIFY(play);
        QCOMPARE(Child<QComboBox>(play, "input_Speed")->currentText(), QString("1"));
        QString result = Run(play);
        QVERIFY2(QRegularExpression("^UPnP error 501: Playing failed \\(round trip \\d+ ms\\)$").match(result).hasMatch(),
                 qPrintable(result));
        QCOMPARE(Child<QTreeWidget>(play, "treeWidgetOutputs")->topLevelItemCount(), 0);
        play->close();

        // LastChange: the document as sent, and beneath it the values it carries
        QVERIFY(Child<EventsPage>(m_Window.get(), "pageEvents")->SetSubscribed(kAVTransport, true));
        QTreeWidget* log = Child<QTreeWidget>(m_Window.get(), "treeWidgetEvents");
        // the initial event after our subscription carries the whole state
        auto with_state = [&]() -> QTreeWidgetItem* {
            for (QTreeWidgetItem* row : log->findItems("LastChange", Qt::MatchExactly, 2)) {
                for (int i = 0; i < row->childCount(); i++) {
                    if (row->child(i)->text(2) == "TransportState") return row;
                }
            }
            return nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(with_state() != nullptr, 10000);
        QTreeWidgetItem* last_change = with_state();
        QVERIFY2(last_change->text(3).contains("<Event"), qPrintable(last_change->text(3)));
        QVERIFY(!last_change->isHidden());
        // every value beneath it comes out of that document
        for (int i = 0; i < last_change->childCount(); i++) {
            QVERIFY(last_change->text(3).contains("<" + last_change->child(i)->text(2) + " "));
        }
        QTreeWidgetItem* state = nullptr;
        for (int i = 0; i < last_change->childCount() && !state; i++) {
            if (last_change->child(i)->text(2) == "TransportState") state = last_change->child(i);
        }
        QCOMPARE(state->text(3), QString("STOPPED"));
    }

    void descriptionTabShowsTheDocumentsAsSent()
    {
        QVERIFY(Select(kLightName));
        QComboBox*      documents = Child<QComboBox>(m_Window.get(), "comboBoxDocument");
        QPlainTextEdit* text      = Child<QPlainTextEdit>(m_Window.get(), "plainTextEditDocument");
        QCOMPARE(documents->count(), 3);
        CVD_DeviceDataReference light;
        QVERIFY(HLY_SUCCEEDED(m_Window->GetCtrlPoint()->FindDevice(kLightUuid, light)));
        std::string sent = appsupport::HttpGet(std::string(light->GetDescriptionURL().ToString()));
        QVERIFY(!sent.empty());
        QCOMPARE(documents->currentData().toString().toStdString(), sent);
        QVERIFY(text->toPlainText().contains(kLightName));
        documents->setCurrentIndex(1);
        QVERIFY(text->toPlainText().contains("<scpd"));
        QVERIFY(text->toPlainText().contains("<name>SetTarget</name>"));
        documents->setCurrentIndex(0);
        Shot("pageDescription", "description");
        documents->setCurrentIndex(1);
        QString path = QDir::temp().filePath("devicetab-scpd.xml");
        QVERIFY(Child<DescriptionPage>(m_Window.get(), "pageDescription")->SaveTo(path));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()), documents->currentData().toString());
        saved.remove();
    }

    void addByUrlListsADeviceThatAnswersNoSearch()
    {
        std::unique_ptr<peers::Peer> hidden = appsupport::StartLight(kHiddenUuid, "inspector-hidden", kHiddenPort);
        QVERIFY(hidden);
        QVERIFY(QTest::qWaitFor([&]() { return !appsupport::HttpGet(PeerUrl(kHiddenPort, "/description.xml")).empty(); },
                                10000));
        QTest::qWait(1500);
        QVERIFY(FindItem(All(), "inspector-hidden") == nullptr);

        QStatusBar* bar = m_Window->statusBar();
        m_Window->AddDeviceByUrl(QString::fromStdString(PeerUrl(kHiddenPort, "/description.xml")));
        QTRY_VERIFY_WITH_TIMEOUT(FindItem(All(), "inspector-hidden") != nullptr, 15000);
        QVERIFY2(bar->currentMessage().startsWith("Inspecting \"inspector-hidden\""), qPrintable(bar->currentMessage()));

        // a closed port and an address where nobody answers
        struct Case { std::string url; const char* message; } cases[] = {
            {PeerUrl(1, "/description.xml"), "Could not read"},
            {"http://10.213.0.77:8080/description.xml", "Could not read"},
            {PeerUrl(kHiddenPort, "/nothing-here.xml"), "Could not read"},
            {"ftp://10.213.0.2/x", "Not an http:// URL"},
        };
        for (const Case& c : cases) {
            m_Window->AddDeviceByUrl(QString::fromStdString(c.url));
            QTRY_VERIFY2_WITH_TIMEOUT(bar->currentMessage().startsWith(c.message), qPrintable(bar->currentMessage()),
                                      15000);
        }
    }

    void aDeviceThatLeavesStaysListedGreyed()
    {
        QVERIFY(Select(kLightName));
        m_Light->Stop();
        QTreeWidgetItem* light = FindItem(All(), kLightName);
        QTRY_VERIFY_WITH_TIMEOUT(light->text(0).startsWith(QString(kLightName) + " (left "), 10000);
        QVERIFY(Child<QTabWidget>(m_Window.get(), "tabWidgetDevice")->isHidden());
        QCOMPARE(Child<QLineEdit>(m_Window.get(), "lineEditUID")->text(), QString(kLightUuid));
    }

    void cleanupTestCase()
    {
        m_Window.reset();
        m_Light.reset();
        m_Server.reset();
        m_Renderer.reset();
    }
};

QTEST_MAIN(TestInspector)
#include "test_devicetabs.moc"
