// The AV layer against real peers of the test network: minidlna serving a
// tree the test writes (browsed, searched, downloaded from), gmediarender
// driven through every renderer action, and a fake media server on the
// peer host for paging, big containers and broken downloads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <fstream>
#include <set>

#include "ctrlpoint_support.h"
#include "CvdDidl.h"
#include "CvdDownloader.h"
#include "CvdHttpServer.h"
#include "CvdMediaController.h"
#include "CvdSyncMediaBrowser.h"
#include "fake_media_server.h"
#include "hlyfile.h"
#include "peers.h"
#include "av_support.h"

using namespace cptest;
using testsupport::Eventually;

namespace {

const char* kServerUuid   = "4d696e69-444c-164e-9d41-0000beac0021";
const char* kRendererUuid = "676d7264-7265-6e64-9d41-0000beac0022";
const char* kFakeUuid     = "fa4e5e72-0000-4000-8000-0000beac0023";
const int   kFakePort     = 8321;

std::string ReadFile(const std::string& path)
{
    HLY_DataBuffer data;
    HLY_File::Load(path.c_str(), data);
    return std::string((const char*)data.GetData(), data.GetDataSize());
}

/*----------------------------------------------------------------------
|   fixture: an engine with a control point, a sync browser and a
|   renderer controller on it
+---------------------------------------------------------------------*/
class AvPeers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!testnet::Inside()) GTEST_SKIP() << "runs only inside scripts/testnet";
        if (system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") != 0) {
            GTEST_SKIP() << "minidlna or gmediarender is not installed (scripts/install-deps)";
        }
        m_Browser.reset(new CVD_SyncMediaBrowser(m_CtrlPointRef, true));
        m_Controller.reset(new CVD_MediaController(m_CtrlPointRef, &m_Record));
        m_Engine.AddCtrlPoint(m_UPnPRef);
        ASSERT_EQ(m_Engine.Start(), HLY_SUCCESS);
    }
    void TearDown() override
    {
        if (m_Engine.IsStarted()) m_Engine.Stop();
        m_Controller.reset();
        m_Browser.reset();
    }

    CVD_DeviceDataReference WaitServer(const char* uuid, int ms = 20000)
    {
        CVD_DeviceDataReference device;
        Eventually([&]() { return HLY_SUCCEEDED(m_Browser->FindServer(uuid, device)); }, ms);
        return device;
    }

    // every object below a container, depth first
    void Walk(CVD_DeviceDataReference& server, const char* id, std::vector<CVD_MediaObject*>& items,
              std::vector<CVD_MediaObjectListReference>& keep, int depth = 0)
    {
        CVD_MediaObjectListReference list;
        ASSERT_EQ(m_Browser->BrowseSync(server, id, list), HLY_SUCCESS) << id;
        if (list.IsNull()) return;
        keep.push_back(list);
        for (CVD_MediaObjectList::Iterator it = list->GetFirstItem(); it; ++it) {
            if ((*it)->IsContainer()) {
                if (depth < 6) Walk(server, (*it)->m_ObjectID, items, keep, depth + 1);
            } else {
                items.push_back(*it);
            }
        }
    }

    // runs a downloader to its end; its state and what it wrote
    int Download(const std::string& url, std::string& data)
    {
        HLY_HttpUrl               target(url.c_str());
        HLY_MemoryStream*         memory = new HLY_MemoryStream();
        HLY_OutputStreamReference output(memory);
        CVD_TaskManager           manager;
        CVD_Downloader*           task = new CVD_Downloader(target, output);
        EXPECT_EQ(manager.StartTask(task, nullptr, false), HLY_SUCCESS);
        Eventually([&]() { return task->GetState() >= CVD_Downloader::CVD_DOWNLOADER_ERROR; }, 20000);
        int state = task->GetState();
        task->Kill();
        data.assign((const char*)memory->GetData(), memory->GetDataSize());
        return state;
    }

    CVD_CtrlPoint*                        m_CtrlPoint = new CVD_CtrlPoint();
    CVD_CtrlPointReference                m_CtrlPointRef{m_CtrlPoint};
    CVD_UPnPCtrlPointReference            m_UPnPRef{m_CtrlPointRef};
    CVD_UPnP                              m_Engine;
    std::unique_ptr<CVD_SyncMediaBrowser> m_Browser;
    std::unique_ptr<CVD_MediaController>  m_Controller;
    avtest::RendererRecord                m_Record;
};

TEST_F(AvPeers, MinidlnaTreeIsBrowsedSearchedAndDownloaded)
{
    std::map<std::string, std::string> files;
    std::unique_ptr<peers::Peer>        server = peers::StartMinidlnaTree(files, kServerUuid, 8202, "beaconry-av");
    ASSERT_TRUE(server);
    CVD_DeviceDataReference device = WaitServer(kServerUuid);
    ASSERT_FALSE(device.IsNull()) << server->Log();

    // the scan runs beside the server: walk until every file is listed
    std::map<std::string, CVD_MediaObject*>  found;
    std::vector<CVD_MediaObjectListReference> keep;
    Eventually([&]() {
        std::vector<CVD_MediaObject*> items;
        keep.clear();
        found.clear();
        m_Browser->GetCache().Clear(kServerUuid);
        Walk(device, "0", items, keep);
        for (CVD_MediaObject* item : items) found[Text(item->m_Title)] = item;
        return found.size() >= files.size();
    }, 15000);
    for (auto& file : files) {
        std::string title = file.first.substr(file.first.find('/') + 1);
        title             = title.substr(0, title.rfind('.'));
        ASSERT_TRUE(found.count(title)) << title;
        CVD_MediaObject* item = found[title];
        ASSERT_GT(item->m_Resources.GetItemCount(), 0u) << title;
        CVD_MediaItemResource& res = *item->m_Resources.GetFirstItem();
        struct stat info;
        ASSERT_EQ(stat(file.second.c_str(), &info), 0);
        EXPECT_EQ(res.m_Size, (HLY_UInt64)info.st_size) << title;
        if (file.first.find(".wav") != std::string::npos) {
            EXPECT_TRUE(item->m_ObjectClass.m_Type.StartsWith("object.item.audioItem")) << Text(item->m_ObjectClass.m_Type);
            EXPECT_EQ(Text(res.m_ProtocolInfo.GetContentType()).find("audio/"), 0u) << Text(res.m_ProtocolInfo.ToString());
            int seconds = file.first == "Jazz/green.wav" ? 3 : file.first == "Rock/red.wav" ? 4 : 2;
            EXPECT_EQ(res.m_Duration, seconds) << title;
        } else {
            EXPECT_TRUE(item->m_ObjectClass.m_Type.StartsWith("object.item.imageItem"));
            EXPECT_EQ(Text(res.m_ProtocolInfo.GetContentType()), "image/jpeg");
        }
    }
    EXPECT_TRUE(m_Browser->IsCached(kServerUuid, "0"));

    // Search, with criteria minidlna understands
    struct SearchCase
    {
        const char* criteria;
        size_t      expected;
    } searches[] = {{"upnp:class derivedfrom \"object.item.audioItem\"", 4},
                    {"dc:title contains \"re\"", 2}, // green, red
                    {"upnp:class derivedfrom \"object.item.imageItem\"", 1}};
    struct Collector : CVD_MediaBrowserDelegate
    {
        std::mutex                   lock;
        bool                         done = false;
        HLY_Result                   result = 0;
        std::set<std::string>        titles;
        void OnBrowseResult(HLY_Result r, CVD_DeviceDataReference&, CVD_BrowseInfo* info, void*) override
        {
            std::lock_guard<std::mutex> guard(lock);
            result = r;
            if (info) {
                for (CVD_MediaObjectList::Iterator it = info->items->GetFirstItem(); it; ++it) {
                    if (!(*it)->IsContainer()) titles.insert(Text((*it)->m_Title));
                }
            }
            done = true;
        }
        std::string caps;
        void OnGetSearchCapabilitiesResult(HLY_Result r, CVD_DeviceDataReference&, const char* c, void*) override
        {
            std::lock_guard<std::mutex> guard(lock);
            result = r;
            caps   = c;
            done   = true;
        }
    };
    for (const SearchCase& c : searches) {
        Collector          collector;
        CVD_MediaBrowser   searcher(m_CtrlPointRef, &collector);
        // the searcher hears the server's arrival only from now on: use the known one
        searcher.OnDeviceAdded(device);
        ASSERT_EQ(searcher.Search(device, "0", c.criteria, 0, 100, "*"), HLY_SUCCESS);
        ASSERT_TRUE(Eventually([&]() { std::lock_guard<std::mutex> g(collector.lock); return collector.done; }, 10000));
        std::lock_guard<std::mutex> g(collector.lock);
        EXPECT_EQ(collector.result, HLY_SUCCESS) << c.criteria;
        std::string heard;
        for (const std::string& t : collector.titles) heard += t + ";";
        EXPECT_EQ(collector.titles.size(), c.expected) << c.criteria << ": " << heard;
    }

    // minidlna can search by class and title, which is what the window's search box asks for
    {
        Collector        collector;
        CVD_MediaBrowser asker(m_CtrlPointRef, &collector);
        asker.OnDeviceAdded(device);
        ASSERT_EQ(asker.GetSearchCapabilities(device), HLY_SUCCESS);
        ASSERT_TRUE(Eventually([&]() { std::lock_guard<std::mutex> g(collector.lock); return collector.done; }, 10000));
        std::lock_guard<std::mutex> g(collector.lock);
        EXPECT_EQ(collector.result, HLY_SUCCESS);
        EXPECT_NE(collector.caps.find("dc:title"), std::string::npos) << collector.caps;
        EXPECT_NE(collector.caps.find("upnp:class"), std::string::npos) << collector.caps;
    }

    // the downloader copies a file byte for byte; a missing one is an error
    CVD_MediaObject* green = found["green"];
    std::string      url   = Text(green->m_Resources.GetFirstItem()->m_Uri);
    std::string      data;
    EXPECT_EQ(Download(url, data), CVD_Downloader::CVD_DOWNLOADER_DONE) << url;
    std::string original = ReadFile(files["Jazz/green.wav"]);
    EXPECT_EQ(data.size(), original.size());
    EXPECT_TRUE(data == original) << "the copy differs from the file";
    std::string missing = url.substr(0, url.rfind('/') + 1) + "999999.wav";
    EXPECT_EQ(Download(missing, data), CVD_Downloader::CVD_DOWNLOADER_ERROR) << missing;
    EXPECT_TRUE(data.empty());
}

TEST_F(AvPeers, FakeServerPagesBigContainersAndBreaksDownloads)
{
    struct PagingCase
    {
        int                              total;
        HLY_Cardinal                     max;
        size_t                           objects;
        std::vector<std::pair<int, int>> pages;
    } cases[] = {{65, 0, 65, {{0, 30}, {30, 30}, {60, 30}}}, {65, 40, 60, {{0, 30}, {30, 30}}}};
    for (const PagingCase& c : cases) {
        FakeServer fake(c.total, kFakeUuid, kFakePort);
        ASSERT_TRUE(fake.Ok());
        CVD_SyncMediaBrowser browser(m_CtrlPointRef, false);
        CVD_DeviceDataReference device;
        ASSERT_EQ(m_CtrlPoint->InspectDevice(HLY_HttpUrl(fake.Location().c_str()), kFakeUuid, HLY_TimeInterval(1800.0)),
                  HLY_SUCCESS);
        ASSERT_TRUE(Eventually([&]() { return HLY_SUCCEEDED(browser.FindServer(kFakeUuid, device)); }, 10000));
        // a server without the action cannot be asked what it searches
        EXPECT_EQ(browser.GetSearchCapabilities(device), HLY_ERROR_INVALID_PARAMETERS);
        CVD_MediaObjectListReference list;
        ASSERT_EQ(browser.BrowseSync(device, "c", list, false, 0, c.max), HLY_SUCCESS);
        ASSERT_FALSE(list.IsNull());
        EXPECT_EQ(list->GetItemCount(), c.objects);
        EXPECT_EQ(fake.Pages(), c.pages);
        EXPECT_EQ(Text((*list->GetLastItem())->m_Title), "Track " + std::to_string(c.objects - 1));

        if (c.max == 0) {
            std::string data;
            EXPECT_EQ(Download("http://" + std::string(testnet::Env("TESTNET_PEER_ADDR")) + ":" +
                                   std::to_string(kFakePort) + "/cut.bin", data),
                      CVD_Downloader::CVD_DOWNLOADER_ERROR);
            EXPECT_EQ(Download("http://10.213.0.99:8000/file.bin", data), CVD_Downloader::CVD_DOWNLOADER_ERROR);
            EXPECT_TRUE(data.empty());
        }
        m_CtrlPoint->RemoveDevice(device);
    }
}

TEST_F(AvPeers, BigContainerPagesDoNotSlowDown)
{
    const int  total = 20000;
    FakeServer fake(total, kFakeUuid, kFakePort);
    ASSERT_TRUE(fake.Ok());
    CVD_DeviceDataReference device;
    ASSERT_EQ(m_CtrlPoint->InspectDevice(HLY_HttpUrl(fake.Location().c_str()), kFakeUuid, HLY_TimeInterval(1800.0)),
              HLY_SUCCESS);
    ASSERT_TRUE(Eventually([&]() { return HLY_SUCCEEDED(m_Browser->FindServer(kFakeUuid, device)); }, 10000));
    CVD_MediaObjectListReference list;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(m_Browser->BrowseSync(device, "c", list), HLY_SUCCESS);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(list->GetItemCount(), (HLY_Cardinal)total);
    std::vector<double> times = fake.Times();
    ASSERT_EQ(times.size(), (size_t)(total + 29) / 30);
    auto mean = [&](size_t from, size_t to) { return (times[to] - times[from]) / (to - from); };
    printf("[ bench    ] %d items in %zu pages: %.0f ms; ms per page: first 100 %.2f, middle 100 %.2f, last 100 %.2f\n",
           total, times.size(), ms, mean(0, 100), mean(times.size() / 2, times.size() / 2 + 100),
           mean(times.size() - 101, times.size() - 1));
    // the cache keeps the container, within its bound
    EXPECT_TRUE(m_Browser->IsCached(kFakeUuid, "c"));
    EXPECT_LE(m_Browser->GetCache().GetWeight(), (HLY_Cardinal)CVD_MEDIA_CACHE_MAX_OBJECTS);
}

// serves one file from our own HTTP server, with its MIME type and DLNA headers
class FileHandler : public HLY_HttpRequestHandler
{
public:
    explicit FileHandler(const std::string& path) : m_Path(path.c_str()) {}
    HLY_Result SetupResponse(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                             HLY_HttpResponse& response) override
    {
        ++m_Hits;
        return CVD_HttpServer::ServeFile(request, context, response, m_Path);
    }
    std::atomic<int> m_Hits{0};

private:
    HLY_String m_Path;
};

TEST_F(AvPeers, GmediarenderIsDrivenThroughEveryAction)
{
    std::unique_ptr<peers::Peer> renderer = peers::StartGmediarender(kRendererUuid, 49496, "beaconry-av-renderer");
    ASSERT_TRUE(renderer);
    CVD_DeviceDataReference device;
    ASSERT_TRUE(Eventually([&]() { return HLY_SUCCEEDED(m_Controller->FindRenderer(kRendererUuid, device)); }, 20000))
        << renderer->Log();

    // FindBestResource: the first resource, in resource order, that a sink
    // accepts; the sinks are known from the renderer's events or, when it
    // does not event them, from its GetProtocolInfo answer
    HLY_Result  result;
    std::string value;
    ASSERT_TRUE(m_Record.Ask("ProtocolInfo", [&]() { return m_Controller->GetProtocolInfo(device, nullptr); }, result,
                             value));
    EXPECT_EQ(result, HLY_SUCCESS);
    CVD_StringList sinks;
    ASSERT_TRUE(Eventually([&]() {
        sinks.Clear();
        return HLY_SUCCEEDED(m_Controller->GetProtocolInfoSink(kRendererUuid, sinks)) && sinks.GetItemCount() > 1;
    }, 10000)) << "sinks: " << (sinks.GetItemCount() ? Text(*sinks.GetFirstItem()) : std::string("none"));
    CVD_MediaItem item;
    // resource order wins over sink order: the renderer's last sink comes
    // before its first one in the item
    std::string first = Text(*sinks.GetFirstItem()), last = Text(*sinks.GetLastItem());
    for (std::string info : {std::string("http-get:*:application/x-beaconry:*"), last, first}) {
        CVD_MediaItemResource res;
        res.m_ProtocolInfo = CVD_ProtocolInfo(info.c_str());
        item.m_Resources.Add(res);
    }
    HLY_Cardinal index = 99;
    EXPECT_EQ(m_Controller->FindBestResource(device, item, index), HLY_SUCCESS) << first << " / " << last;
    EXPECT_EQ(index, 1u);
    CVD_MediaItem bare;
    EXPECT_EQ(m_Controller->FindBestResource(device, bare, index), HLY_ERROR_INVALID_PARAMETERS);

    // a WAV file served by our own server on the local side of the test network
    std::string dir = peers::MakeTempDir("av-serve");
    peers::WriteWav(dir + "/song.wav", 8000 * 20);
    FileHandler    handler(dir + "/song.wav");
    CVD_HttpServer http(HLY_IpAddress::Any, 0);
    http.AddRequestHandler(&handler, "/song.wav");
    ASSERT_EQ(http.Start(), HLY_SUCCESS);
    std::string uri = "http://" + std::string(testnet::Env("TESTNET_LOCAL_ADDR")) + ":" + std::to_string(http.GetPort()) +
                      "/song.wav";

    ASSERT_TRUE(m_Record.Ask("SetURI", [&]() { return m_Controller->SetAVTransportURI(device, 0, uri.c_str(), "", nullptr); },
                             result, value));
    EXPECT_EQ(result, HLY_SUCCESS);
    ASSERT_TRUE(m_Record.Ask("Play", [&]() { return m_Controller->Play(device, 0, "1", nullptr); }, result, value));
    EXPECT_EQ(result, HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return m_Record.HeardState("PLAYING"); }, 10000)) << renderer->Log();
    HLY_String state;
    EXPECT_EQ(m_Controller->GetTransportState(kRendererUuid, state), HLY_SUCCESS);
    EXPECT_TRUE(Eventually([&]() { return handler.m_Hits.load() > 0; }, 5000));

    // each action reaches the delegate with its record
    struct Step
    {
        const char*                 heard;
        std::function<HLY_Result()> send;
        std::string                 expected; // "" : any value
    } steps[] = {
        {"Pause", [&]() { return m_Controller->Pause(device, 0, nullptr); }, ""},
        {"MediaInfo", [&]() { return m_Controller->GetMediaInfo(device, 0, nullptr); }, uri},
        {"PositionInfo", [&]() { return m_Controller->GetPositionInfo(device, 0, nullptr); }, ""},
        {"TransportInfo", [&]() { return m_Controller->GetTransportInfo(device, 0, nullptr); }, ""},
        {"ProtocolInfo", [&]() { return m_Controller->GetProtocolInfo(device, nullptr); },
         std::to_string(sinks.GetItemCount())},
        {"SetVolume", [&]() { return m_Controller->SetVolume(device, 0, "Master", 37, nullptr); }, ""},
        {"GetVolume", [&]() { return m_Controller->GetVolume(device, 0, "Master", nullptr); }, "Master=37"},
        {"SetMute", [&]() { return m_Controller->SetMute(device, 0, "Master", true, nullptr); }, ""},
        {"GetMute", [&]() { return m_Controller->GetMute(device, 0, "Master", nullptr); }, "Master=1"},
        {"Seek", [&]() { return m_Controller->Seek(device, 0, "REL_TIME", "0:00:02", nullptr); }, ""},
        {"Stop", [&]() { return m_Controller->Stop(device, 0, nullptr); }, ""},
    };
    for (Step& step : steps) {
        ASSERT_TRUE(m_Record.Ask(step.heard, step.send, result, value)) << step.heard;
        EXPECT_EQ(result, HLY_SUCCESS) << step.heard;
        if (!step.expected.empty()) {
            EXPECT_EQ(value, step.expected) << step.heard;
        }
    }
    EXPECT_TRUE(Eventually([&]() { return m_Record.HeardState("STOPPED"); }, 10000));
    http.Stop();
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
