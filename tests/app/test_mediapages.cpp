// The window's media tabs against real peers of the test network (minidlna
// serving a tree the test writes, gmediarender) and fake servers on the peer
// host: browse, details, search, "Play on", the transport bar, errors, and a
// container of 20,000 objects with the GUI thread's longest stall measured.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>

#include "appsupport.h"
#include "browsepage.h"
#include "fake_media_server.h"
#include "mainwindow.h"
#include "qupnpdevice.h"
#include "peers.h"
#include "rendererpage.h"

using appsupport::Child;

namespace {

const char* kServerUuid   = "4d696e69-444c-164e-9d41-0000beac0041";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0042";
const char* kBigUuid      = "b1600000-0000-4000-8000-0000beac0043";
const char* kBrokenUuid   = "b2000000-0000-4000-8000-0000beac0044";
const char* kServerName   = "beaconry-media";
const char* kRendererName = "beaconry-media-renderer";

bool PeersAvailable()
{
    return testnet::Inside() && system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") == 0;
}

QTreeWidgetItem* Find(QTreeWidgetItem* parent, const QString& title)
{
    for (int i = 0; i < parent->childCount(); i++) {
        if (parent->child(i)->text(0) == title) return parent->child(i);
    }
    return nullptr;
}

QStringList Titles(QTreeWidgetItem* parent)
{
    QStringList titles;
    for (int i = 0; i < parent->childCount(); i++) titles << parent->child(i)->text(0);
    titles.sort();
    return titles;
}

// selects a listed device by UUID; false when it is not listed
bool Select(MainWindow& w, const QString& uuid)
{
    QTreeWidget* list = Child<QTreeWidget>(&w, "treeWidget");
    for (int i = 0; i < list->topLevelItemCount(); i++) {
        if (list->topLevelItem(i)->data(0, Qt::UserRole).value<QUPnPDevice*>()->m_UUID != uuid) continue;
        list->setCurrentItem(list->topLevelItem(i));
        return true;
    }
    return false;
}

// the largest gap between the ticks of a 5 ms timer on the GUI thread
class StallProbe : public QObject
{
public:
    StallProbe()
    {
        m_Timer.setInterval(5);
        QObject::connect(&m_Timer, &QTimer::timeout, this, [this]() {
            m_Longest = std::max(m_Longest, m_Clock.restart());
        });
        m_Clock.start();
        m_Timer.start();
    }
    qint64 Longest() const { return m_Longest; }

private:
    QTimer        m_Timer;
    QElapsedTimer m_Clock;
    qint64        m_Longest = 0;
};

// a renderer's own account, asked by a controller of the test's
struct RendererProbe : CVD_MediaControllerDelegate
{
    std::mutex lock;
    int        volume = -1;
    int        mute   = -1;
    void OnGetVolumeResult(HLY_Result r, CVD_DeviceDataReference&, const char*, HLY_UInt32 v, void*) override
    {
        std::lock_guard<std::mutex> guard(lock);
        volume = HLY_SUCCEEDED(r) ? (int)v : -2;
    }
    void OnGetMuteResult(HLY_Result r, CVD_DeviceDataReference&, const char*, bool m, void*) override
    {
        std::lock_guard<std::mutex> guard(lock);
        mute = HLY_SUCCEEDED(r) ? (int)m : -2;
    }
};

void Shoot(QWidget& w, const char* name)
{
    const char* dir = getenv("BEACONRY_MEDIA_SHOTS");
    if (dir == nullptr || *dir == '\0') return;
    QString path = QString("%1/%2").arg(dir, name);
    if (w.grab().save(path)) printf("screenshot: %s\n", qPrintable(path));
}

} // namespace

class TestMediaPages : public QObject
{
    Q_OBJECT

private:
    // expands row (the root: shows device) and waits for its listing to end
    static bool Open(BrowsePage* page, QTreeWidgetItem* row, int ms = 20000)
    {
        QSignalSpy loaded(page, &BrowsePage::ContainerLoaded);
        row->setExpanded(true);
        return loaded.wait(ms);
    }
    static bool Wait(QSignalSpy& spy, const QString& first, int ms = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            for (const QList<QVariant>& call : spy) {
                if (call.value(0).toString() == first) return true;
            }
            spy.wait(100);
        }
        return false;
    }

private slots:
    void browseSearchAndPlayOnGmediarender()
    {
        if (!PeersAvailable()) QSKIP("runs inside scripts/testnet with minidlna and gmediarender");
        std::map<std::string, std::string> files;
        // songs of 20 to 40 seconds: long enough to seek in and to see the position move
        auto server   = peers::StartMinidlnaTree(files, kServerUuid, 8203, kServerName, 10);
        auto renderer = peers::StartGmediarender(kRendererUuid, 49497, kRendererName, true);
        QVERIFY(server && renderer);

        MainWindow w;
        w.resize(900, 640);
        w.show();
        auto* tabs   = Child<QTabWidget>(&w, "tabWidgetDevice");
        auto* browse = Child<BrowsePage>(&w, "browsePage");
        auto* player = Child<RendererPage>(&w, "rendererPage");
        auto* tree   = Child<QTreeWidget>(browse, "browseTree");
        auto* search = Child<QLineEdit>(browse, "browseSearch");
        QTRY_VERIFY_WITH_TIMEOUT(Select(w, kServerUuid), 20000);
        QVERIFY(tabs->isTabVisible(tabs->indexOf(browse)));
        QVERIFY(!tabs->isTabVisible(tabs->indexOf(player)));
        CVD_DeviceDataReference server_device;
        QCOMPARE(w.GetCtrlPoint()->FindDevice(kServerUuid, server_device), HLY_SUCCESS);

        // minidlna scans beside serving: reopen the tree until both folders are listed
        QTreeWidgetItem* root = tree->invisibleRootItem();
        QTreeWidgetItem *jazz = nullptr, *rock = nullptr;
        QElapsedTimer    scan;
        scan.start();
        while ((jazz == nullptr || rock == nullptr) && scan.elapsed() < 20000) {
            QSignalSpy loaded(browse, &BrowsePage::ContainerLoaded);
            browse->ShowDevice(CVD_DeviceDataReference());
            browse->ShowDevice(server_device);
            QVERIFY(loaded.wait(10000));
            QTreeWidgetItem* folders = Find(root, "Browse Folders");
            QVERIFY2(folders, qPrintable(Titles(root).join(",")));
            QVERIFY(Open(browse, folders));
            jazz = Find(folders, "Jazz");
            rock = Find(folders, "Rock");
            if (jazz == nullptr || rock == nullptr) QTest::qWait(500);
        }
        QVERIFY(jazz && rock);
        QVERIFY(Open(browse, jazz));
        QVERIFY(Open(browse, rock));
        QCOMPARE(Titles(jazz), QStringList({"blue", "green"}));
        QCOMPARE(Titles(rock), QStringList({"black", "cover", "red"}));

        // the details of an item: its own facts and its resource
        tree->setCurrentItem(Find(jazz, "green"));
        QCOMPARE(Child<QLabel>(browse, "browseTitle")->text(), QString("green"));
        QVERIFY(Child<QLabel>(browse, "browseClass")->text().startsWith("object.item.audioItem"));
        auto* resources = Child<QTreeWidget>(browse, "browseResources");
        QVERIFY(resources->topLevelItemCount() >= 1);
        QTreeWidgetItem* res = resources->topLevelItem(0);
        struct stat info;
        QCOMPARE(stat(files["Jazz/green.wav"].c_str(), &info), 0);
        QVERIFY2(res->text(0).startsWith("http://"), qPrintable(res->text(0)));
        QVERIFY2(res->text(1).contains(":audio/"), qPrintable(res->text(1)));
        QCOMPARE(res->text(2), QString::number(info.st_size));
        QCOMPARE(res->text(3), QString("0:00:30"));
        tabs->setCurrentWidget(browse);
        Shoot(w, "media-browse.png");

        // minidlna searches by title: the box is offered and finds green and red
        QTRY_VERIFY_WITH_TIMEOUT(search->isVisible(), 10000);
        {
            QSignalSpy loaded(browse, &BrowsePage::ContainerLoaded);
            search->setText("re");
            QTest::keyClick(search, Qt::Key_Return);
            QVERIFY(loaded.wait(10000));
        }
        QStringList found = Titles(root);
        QVERIFY2(found.contains("green") && found.contains("red") && !found.contains("blue"), qPrintable(found.join(",")));

        // "Play on" lists the renderer once its sinks are known; choosing it plays the item
        QTreeWidgetItem* red    = Find(root, "red");
        QAction*         target = nullptr;
        std::unique_ptr<QMenu> menu;
        QTRY_VERIFY_WITH_TIMEOUT(([&]() {
            menu.reset(browse->ContextMenuFor(red));
            QMenu* play_on = menu ? menu->actions().value(0)->menu() : nullptr;
            target         = nullptr;
            for (QAction* a : play_on ? play_on->actions() : QList<QAction*>()) {
                if (a->text() == kRendererName) target = a;
            }
            return target != nullptr;
        }()), 20000);
        QSignalSpy started(browse, &BrowsePage::PlayStarted);
        target->trigger();
        QVERIFY(started.wait(10000));
        QCOMPARE(started.first().value(0).toString(), QString(kRendererUuid));

        // the renderer's own account, through a controller of the test's
        struct Probe : RendererProbe
        {
            bool OnMediaRendererAdded(CVD_DeviceDataReference&) override { return false; }
        } probe;
        CVD_CtrlPointReference ctrl_point = w.GetCtrlPoint();
        CVD_MediaController    checker(ctrl_point, &probe);
        CVD_DeviceDataReference renderer_device;
        QCOMPARE(w.GetCtrlPoint()->FindDevice(kRendererUuid, renderer_device), HLY_SUCCESS);
        checker.OnDeviceAdded(renderer_device);
        auto evented_state = [&]() {
            HLY_String state;
            checker.GetTransportState(kRendererUuid, state);
            return QString(state.GetChars());
        };
        QTRY_COMPARE_WITH_TIMEOUT(evented_state(), QString("PLAYING"), 10000);

        // the Renderer tab shows the track and follows its position
        QVERIFY(Select(w, kRendererUuid));
        QVERIFY(tabs->isTabVisible(tabs->indexOf(player)));
        QVERIFY(!tabs->isTabVisible(tabs->indexOf(browse)));
        tabs->setCurrentWidget(player);
        QTRY_COMPARE_WITH_TIMEOUT(player->TransportState(), QString("PLAYING"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(player, "rendererTrack")->text(), QString("red"), 10000);
        auto* position = Child<QSlider>(player, "rendererPosition");
        QTRY_COMPARE_WITH_TIMEOUT(position->maximum(), 40, 10000);
        int before = position->value();
        QTRY_VERIFY_WITH_TIMEOUT(position->value() >= before + 2, 10000);
        printf("position polled while playing: %s\n", player->IsPolling() ? "yes" : "no (evented)");
        Shoot(w, "media-renderer.png");

        QSignalSpy done(player, &RendererPage::ActionDone);
        // pause: the renderer's events say so, and polling stops
        QTest::mouseClick(Child<QPushButton>(player, "rendererPause"), Qt::LeftButton);
        QVERIFY(Wait(done, "Pause"));
        QTRY_COMPARE_WITH_TIMEOUT(evented_state(), QString("PAUSED_PLAYBACK"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(player->TransportState(), QString("PAUSED_PLAYBACK"), 10000);
        QVERIFY(!player->IsPolling());

        // seek by dragging the slider, then play on from there
        position->setSliderDown(true);
        position->setValue(30);
        position->setSliderDown(false); // releasing the handle seeks
        QVERIFY(Wait(done, "Seek"));
        QTest::mouseClick(Child<QPushButton>(player, "rendererPlay"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(evented_state(), QString("PLAYING"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(position->value() >= 30, 10000);

        // a click on the groove seeks as well (here: back to the start)
        done.clear();
        position->triggerAction(QAbstractSlider::SliderToMinimum);
        QVERIFY(Wait(done, "Seek"));
        QVERIFY(done.last().value(1).toBool());

        // volume and mute reach the renderer
        Child<QSlider>(player, "rendererVolume")->setValue(37);
        QVERIFY(Wait(done, "SetVolume"));
        Child<QCheckBox>(player, "rendererMute")->setChecked(true);
        QVERIFY(Wait(done, "SetMute"));
        QCOMPARE(checker.GetVolume(renderer_device, 0, "Master", nullptr), HLY_SUCCESS);
        QCOMPARE(checker.GetMute(renderer_device, 0, "Master", nullptr), HLY_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(([&]() { std::lock_guard<std::mutex> g(probe.lock); return probe.volume == 37 && probe.mute == 1; }()), 10000);

        QTest::mouseClick(Child<QPushButton>(player, "rendererStop"), Qt::LeftButton);
        QVERIFY(Wait(done, "Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(evented_state(), QString("STOPPED"), 10000);
        for (const char* action : {"Seek", "SetVolume", "SetMute", "Stop"}) {
            bool ok = false;
            for (const QList<QVariant>& call : done) {
                if (call.value(0).toString() == action) ok = call.value(1).toBool();
            }
            QVERIFY2(ok, action);
        }

        // a renderer that died without a word: the action fails on the network,
        // the tab says so, the window goes on
        kill(renderer->Pid(), SIGKILL);
        StallProbe probe_gui;
        done.clear();
        QTest::mouseClick(Child<QPushButton>(player, "rendererPlay"), Qt::LeftButton);
        QVERIFY(Wait(done, "Play", 20000));
        QCOMPARE(done.last().value(1).toBool(), false);
        QString error = Child<QLabel>(player, "rendererStatus")->text();
        QVERIFY(!error.isEmpty());
        QTest::qWait(200);
        printf("failed Play: \"%s\"; longest GUI stall: %lld ms\n", qPrintable(error), (long long)probe_gui.Longest());
        QVERIFY(probe_gui.Longest() > 0 && probe_gui.Longest() < 1000);
    }

    void fakeServersBigAndBroken()
    {
        if (!testnet::Inside()) QSKIP("runs inside scripts/testnet");
        const int            total = 20000;
        cptest::FakeServer   big(total, kBigUuid, 8331);
        cptest::FakeServer   broken(30, kBrokenUuid, 8332, true);
        QVERIFY(big.Ok() && broken.Ok());
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QByteArray png;
        QBuffer    buffer(&png);
        picture.save(&buffer, "PNG");
        big.SetAlbumArt(png.toStdString());

        MainWindow w;
        w.resize(900, 640);
        w.show();
        for (auto* fake : {&big, &broken}) {
            QCOMPARE(w.GetCtrlPoint()->InspectDevice(HLY_HttpUrl(fake->Location().c_str()),
                                                     fake == &big ? kBigUuid : kBrokenUuid, HLY_TimeInterval(1800.0)),
                     HLY_SUCCESS);
        }
        auto* browse   = Child<BrowsePage>(&w, "browsePage");
        auto* tree     = Child<QTreeWidget>(browse, "browseTree");
        auto* progress = Child<QProgressBar>(browse, "browseProgress");
        auto* status   = Child<QLabel>(browse, "browseStatus");

        // an answer that is not DIDL-Lite: an error, an empty tree, a live window
        QTRY_VERIFY_WITH_TIMEOUT(Select(w, kBrokenUuid), 20000);
        {
            StallProbe stall;
            QTRY_VERIFY_WITH_TIMEOUT(!status->text().isEmpty(), 10000);
            QVERIFY(stall.Longest() < 1000);
        }
        QCOMPARE(tree->topLevelItemCount(), 0);
        QVERIFY(!progress->isVisible());
        // it has no search action: no search box
        QTest::qWait(300);
        QVERIFY(!Child<QLineEdit>(browse, "browseSearch")->isVisible());

        // 20,000 objects: the tree fills page by page while the GUI thread keeps ticking
        QElapsedTimer clock;
        int           progress_max = 0;
        qint64        first_rows   = -1;
        qint64        loading;
        {
            StallProbe stall;
            QSignalSpy loaded(browse, &BrowsePage::ContainerLoaded);
            clock.start();
            QVERIFY(Select(w, kBigUuid));
            while (loaded.isEmpty() && clock.elapsed() < 120000) {
                QTest::qWait(5);
                if (first_rows < 0 && tree->topLevelItemCount() > 0) first_rows = clock.elapsed();
                if (progress->isVisible()) progress_max = std::max(progress_max, progress->maximum());
            }
            loading = stall.Longest();
        }
        qint64 load_ms = clock.elapsed();
        QCOMPARE(tree->topLevelItemCount(), total);
        QCOMPARE(progress_max, total);
        QVERIFY(status->text().isEmpty());
        QCOMPARE(tree->topLevelItem(total - 1)->text(0), QString("Track %1").arg(total - 1));

        qint64 scrolling;
        {
            StallProbe  stall;
            QScrollBar* bar = tree->verticalScrollBar();
            for (int step = 0; step <= 200; step++) {
                bar->setValue(bar->maximum() * step / 200);
                QTest::qWait(2);
            }
            scrolling = stall.Longest();
        }
        printf("[ bench    ] %d objects: first rows after %lld ms, all after %lld ms; longest GUI-thread stall: "
               "%lld ms while loading, %lld ms while scrolling\n",
               total, (long long)first_rows, (long long)load_ms, (long long)loading, (long long)scrolling);

        // the selected item's album art comes over HTTP
        tree->setCurrentItem(tree->topLevelItem(7));
        QCOMPARE(Child<QLabel>(browse, "browseTitle")->text(), QString("Track 7"));
        QTRY_VERIFY_WITH_TIMEOUT(!Child<QLabel>(browse, "browseAlbumArt")->pixmap().isNull(), 10000);
    }
};

QTEST_MAIN(TestMediaPages)
#include "test_mediapages.moc"
