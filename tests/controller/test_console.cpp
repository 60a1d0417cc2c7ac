// The media controller without a network: the console's chooser, its
// commands' messages and help, the names downloads may take, and what the
// delegate operations do with servers and renderers (devices parsed from
// captured descriptions, actions recorded by the control point).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CvdAction.h"
#include "CvdArgument.h"
#include "hlyfile.h"
#include "myupnpcontroller.h"
#include "../corvid/upnp_samples.h"
#include "../halyard/http_test_handlers.h"
#include "../testsupport.h"

using namespace upnpsamples;

namespace {

// a control point that records the actions asked of it instead of sending them
class RecordingCtrlPoint : public CVD_CtrlPoint
{
public:
    HLY_Result CreateAction(CVD_DeviceDataReference& device, const char* service_type, const char* name,
                            CVD_ActionReference& action) override
    {
        CVD_ActionDesc* desc = nullptr;
        if (HLY_FAILED(FindActionDesc(device, service_type, name, desc))) return HLY_FAILURE;
        action = CVD_ActionReference(new CVD_Action(*desc, device));
        return HLY_SUCCESS;
    }
    HLY_Result InvokeAction(CVD_ActionReference& action, void*) override
    {
        HLY_String id = "(unset)";
        action->GetArgumentValue("DeviceID", id);
        m_Invoked.push_back(S(action->GetActionDesc().GetName()) + "(" + S(id) + ")");
        return HLY_SUCCESS;
    }
    HLY_Result Subscribe(CVD_Service*, bool, void*) override { return HLY_SUCCESS; }
    std::vector<std::string> m_Invoked;
};

class CountingWindow : public IUPnPGUI
{
public:
    bool AddUPnPDevice(CVD_DeviceDataReference& device) override
    {
        m_Added.push_back(S(device->GetUUID()));
        return true;
    }
    std::vector<std::string> m_Added;
};

// a console fed from a string, its output collected
struct Console
{
    explicit Console(CVD_MicroMediaController& controller, const std::string& input)
        : m_Controller(controller), m_Input(input)
    {
        m_In  = fmemopen((void*)m_Input.data(), m_Input.size(), "r");
        m_Out = open_memstream(&m_Buffer, &m_Size);
        controller.SetConsole(m_In, m_Out);
    }
    ~Console()
    {
        m_Controller.SetConsole(stdin, stdout);
        fclose(m_In);
        fclose(m_Out);
        free(m_Buffer);
    }
    std::string Output()
    {
        fflush(m_Out);
        return std::string(m_Buffer, m_Size);
    }
    CVD_MicroMediaController& m_Controller;
    std::string m_Input;
    FILE*       m_In;
    FILE*       m_Out;
    char*       m_Buffer = nullptr;
    size_t      m_Size   = 0;
};

CVD_DeviceDataReference Parse(const std::string& xml, const char* url)
{
    HLY_SocketAddress local(HLY_IpAddress(192, 168, 1, 10), 40000), remote(HLY_IpAddress(192, 168, 1, 20), 8200);
    CVD_DeviceDataReference device;
    EXPECT_EQ(CVD_DeviceData::SetDescription(device, HLY_TimeInterval(1800.0), HLY_HttpUrl(url), xml.c_str(),
                                             HLY_HttpRequestContext(&local, &remote)),
              HLY_SUCCESS);
    return device;
}

const char* const kHelp =
    "\n\nNone of the commands take arguments.  The commands with a * \n"
    "signify ones that will prompt the user for more information once\n"
    "the command is called\n\n"
    "The available commands are:\n\n"
    " quit    -   shutdown the Control Point\n"
    " exit    -   same as quit\n"
    " setms   - * select a media server to become the active media server\n"
    " getms   -   print the friendly name of the active media server\n"
    " ls      -   list the contents of the current directory on the active \n"
    "             media server\n"
    " info    -   display media info\n"
    " down    -   download media to current directory\n"
    " cd      - * traverse down one level in the content tree on the active\n"
    "             media server\n"
    " cd ..   -   traverse up one level in the content tree on the active\n"
    "             media server\n"
    " pwd     -   print the path from the root to your current position in the \n"
    "             content tree on the active media server\n"
    " setmr   - * select a media renderer to become the active media renderer\n"
    " getmr   -   print the friendly name of the active media renderer\n"
    " open    -   set the uri on the active media renderer\n"
    " play    -   play the active uri on the active media renderer\n"
    " stop    -   stop the active uri on the active media renderer\n"
    " seek    -   issue a seek command\n"
    " mute    -   mute the active media renderer\n"
    " unmute  -   unmute the active media renderer\n"
    " help    -   print this help message\n\n";

std::string Contents(const std::string& path)
{
    HLY_DataBuffer data;
    if (HLY_FAILED(HLY_File::Load(path.c_str(), data))) return "(none)";
    return std::string((const char*)data.GetData(), data.GetDataSize());
}

// an answer of the runtime server: a status and a body that may fall short of its told length
FunctionHandler* Answer(int status, const char* body, HLY_LargeSize length)
{
    return new FunctionHandler([=](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
        response.SetStatus(status, status == 200 ? "OK" : "Not Found");
        response.GetEntity()->SetInputStream(HLY_InputStreamReference(new HLY_MemoryStream(body, strlen(body))));
        response.GetEntity()->SetContentLength(length);
        return HLY_SUCCESS;
    });
}

class Controller : public ::testing::Test
{
protected:
    RecordingCtrlPoint*    m_Recorder = new RecordingCtrlPoint();
    CVD_CtrlPointReference m_CtrlPoint{m_Recorder};
    CountingWindow         m_Window;
    MyUPnPController       m_Controller{m_CtrlPoint, &m_Window};
};

} // namespace

TEST_F(Controller, ChooserCountsOnlyOutOfRangeAnswersAndEndsAtEndOfInput)
{
    const std::string kList = "Select one of the following:\n1)\tKitchen (uuid-a)\n2)\tAttic (uuid-b)\n";
    struct Case {
        const char* input;
        const char* key;
        std::string output;
    } cases[] = {
        {"2\n", "uuid-b", kList},
        {"  1\n", "uuid-a", kList},
        {"0\n", "", kList},
        {"", "", kList}, // end of input: no choice, no waiting
        {"abc\n\n1\n", "uuid-a", kList + "Please enter a number\nPlease enter a number\n"},
        // the third wrong number gives up, whatever follows
        {"3\n-1\nx\n9\n1\n", "",
         kList + "Please choose one of the above, or 0 for none\nPlease choose one of the above, or 0 for none\n"
                 "Please enter a number\nPlease choose one of the above, or 0 for none\n"},
    };
    for (const Case& c : cases) {
        CVD_MicroMediaController::Table table;
        table.Put("uuid-a", "Kitchen");
        table.Put("uuid-b", "Attic");
        Console console(m_Controller, c.input);
        EXPECT_EQ(S(m_Controller.PromptForTableEntry(table)), c.key) << c.input;
        EXPECT_EQ(console.Output(), c.output) << c.input;
    }
    CVD_MicroMediaController::Table empty;
    Console                         console(m_Controller, "1\n");
    EXPECT_EQ(S(m_Controller.PromptForTableEntry(empty)), "");
    EXPECT_EQ(console.Output(), "Select one of the following:\nNone available\n");
}

TEST_F(Controller, CommandsWithoutSelectionsAndUnknownLines)
{
    Console console(m_Controller, "\ncd ..\npwd\ncd x\nls\ngetms\nplay\nseek 1000\nmute\nhelp\nquit\nhelp\n");
    m_Controller.RunCommandLoop();
    const std::string kNoServer = "No server selected, select one with setms\n";
    const std::string kNoRenderer = "No renderer selected, select one with setmr\n";
    EXPECT_EQ(console.Output(), std::string("command> command> Already at root\ncommand> 0/\n") +
                                    "command> Unrecognized command: cd x\n" + kHelp + "command> " + kNoServer +
                                    "command> " + kNoServer + "command> " + kNoRenderer + "command> " +
                                    kNoRenderer + "command> " + kNoRenderer + "command> " + kHelp + "command> ");
}

TEST_F(Controller, SeekUnitFollowsTheTarget)
{
    struct Case {
        const char* line;
        bool        seeks;
        const char* unit;
        const char* target;
    } cases[] = {
        {"seek", false, "", ""},
        {"seek 0:01:00", true, "REL_TIME", "0:01:00"},
        {"seek 1000", true, "X_DLNA_REL_BYTE", "1000"},
        {"seek 1000 extra", true, "X_DLNA_REL_BYTE", "1000"},
    };
    for (const Case& c : cases) {
        HLY_String unit, target;
        EXPECT_EQ(CVD_MicroMediaController::ParseSeek(c.line, unit, target), c.seeks) << c.line;
        if (!c.seeks) continue;
        EXPECT_EQ(S(unit), c.unit) << c.line;
        EXPECT_EQ(S(target), c.target) << c.line;
    }
}

TEST_F(Controller, DownloadNamesStayInTheCurrentDirectory)
{
    struct Case {
        const char* url;
        const char* name; // nullptr: refused
    } cases[] = {
        {"http://10.0.0.2:8200/MediaItems/22.wav", "22.wav"},
        {"http://10.0.0.2/a/My%20Song.mp3?x=/y#z", "My Song.mp3"},
        {"http://10.0.0.2/a/.hidden", ".hidden"},
        {"http://10.0.0.2/a/", nullptr},
        {"http://10.0.0.2/a/..", nullptr},
        {"http://10.0.0.2/a/%2E%2E", nullptr},
        {"http://10.0.0.2/a/%2e", nullptr},
        {"http://10.0.0.2/a/..%2F..%2Fetc%2Fpasswd", nullptr},
        {"http://10.0.0.2/a/x%5C..%5Cy", nullptr},
        {"not a url", nullptr},
    };
    for (const Case& c : cases) {
        HLY_String name;
        HLY_Result result = CVD_MicroMediaController::DownloadFileName(c.url, name);
        if (c.name) {
            EXPECT_EQ(result, HLY_SUCCESS) << c.url;
            EXPECT_EQ(S(name), c.name) << c.url;
        } else {
            EXPECT_NE(result, HLY_SUCCESS) << c.url << " -> " << S(name);
        }
    }
}

TEST_F(Controller, ServersAskTheRegistrarRenderersNeedATransport)
{
    CVD_DeviceDataReference server = Parse(ReadSample("minidlna", "description.xml"), "http://192.168.1.20:8200/rootDesc.xml");
    ASSERT_FALSE(server.IsNull());
    CVD_Service* registrar = nullptr;
    ASSERT_EQ(server->FindServiceByType("urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:*", registrar),
              HLY_SUCCESS);
    ASSERT_EQ(registrar->SetSCPDXML(ReadSample("minidlna", "scpd-X_MS_MediaReceiverRegistrar.xml").c_str()),
              HLY_SUCCESS);
    static_cast<CVD_SyncMediaBrowser&>(m_Controller).OnDeviceAdded(server);
    EXPECT_EQ(m_Recorder->m_Invoked, (std::vector<std::string>{"IsAuthorized()", "IsValidated()"}));

    // a renderer with a transport goes to the window and the table
    CVD_DeviceDataReference renderer = Parse(ReadSample("gmediarender", "description.xml"), "http://192.168.1.20:49494/description.xml");
    ASSERT_FALSE(renderer.IsNull());
    static_cast<CVD_MediaController&>(m_Controller).OnDeviceAdded(renderer);
    EXPECT_TRUE(m_Controller.HasMediaRenderer(renderer->GetUUID()));

    // the same renderer without its transport reaches the window only
    std::string xml = ReadSample("gmediarender", "description.xml");
    size_t      at  = xml.find("urn:schemas-upnp-org:service:AVTransport");
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, strlen("urn:schemas-upnp-org:service:AVTransport"), "urn:schemas-upnp-org:service:Other");
    size_t udn = xml.find("<UDN>uuid:") + strlen("<UDN>uuid:");
    xml[udn]   = xml[udn] == 'f' ? 'e' : 'f';
    CVD_DeviceDataReference bare = Parse(xml, "http://192.168.1.20:49494/description.xml");
    ASSERT_FALSE(bare.IsNull());
    static_cast<CVD_MediaController&>(m_Controller).OnDeviceAdded(bare);
    EXPECT_FALSE(m_Controller.HasMediaRenderer(bare->GetUUID()));
    EXPECT_EQ(m_Window.m_Added, (std::vector<std::string>{S(server->GetUUID()), S(renderer->GetUUID()),
                                                          S(bare->GetUUID())}));

    // removing another renderer keeps the current one; removing it clears it
    {
        Console console(m_Controller, "1\n");
        m_Controller.RunCommand("setmr");
    }
    ASSERT_FALSE(m_Controller.GetCurrentMediaRenderer().IsNull());
    m_Controller.OnMediaRendererRemoved(bare);
    EXPECT_FALSE(m_Controller.GetCurrentMediaRenderer().IsNull());
    static_cast<CVD_MediaController&>(m_Controller).OnDeviceRemoved(renderer);
    EXPECT_TRUE(m_Controller.GetCurrentMediaRenderer().IsNull());
    EXPECT_FALSE(m_Controller.HasMediaRenderer(renderer->GetUUID()));
}

TEST_F(Controller, DownloadsBecomeTheNamedFileOnlyWhenComplete)
{
    LoopServer http;
    http.Server().AddRequestHandler(Answer(200, "hello world", 11), "/whole", false, true);
    http.Server().AddRequestHandler(Answer(200, "only ten b", 1000), "/cut", false, true);
    http.Server().AddRequestHandler(Answer(404, "not here!", 9), "/gone", false, true);
    http.Start();
    auto url = [&](const char* path) { return "http://127.0.0.1:" + std::to_string(http.Port()) + path; };
    testsupport::TempDir dir("console-down");
    char                 previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    std::ofstream("kept.bin") << "an older file";
    struct Case {
        const char* path;
        const char* file;
        const char* contents; // what the file holds afterwards
        const char* printed;
    } cases[] = {
        {"/whole", "whole.bin", "hello world", "Downloaded whole.bin (11 bytes)\n"},
        {"/cut", "cut.bin", "(none)", "Download of cut.bin failed\n"},
        {"/gone", "gone.bin", "(none)", "Download of gone.bin failed\n"},
        // a failed download leaves an older file of that name as it was
        {"/cut", "kept.bin", "an older file", "Download of kept.bin failed\n"},
    };
    {
        Console console(m_Controller, "");
        for (const Case& c : cases) {
            EXPECT_EQ(m_Controller.StartDownload(HLY_HttpUrl(url(c.path).c_str()), c.file), HLY_SUCCESS);
        }
        m_Controller.WaitForDownloads(10000);
        EXPECT_EQ(m_Controller.GetPendingDownloads(), 0u);
        std::string output = console.Output();
        for (const Case& c : cases) {
            EXPECT_NE(output.find(c.printed), std::string::npos) << c.printed << output;
            EXPECT_EQ(Contents(c.file), c.contents) << c.file;
            EXPECT_EQ(Contents(std::string(c.file) + ".part"), "(none)") << c.file;
        }
    }
    ASSERT_EQ(chdir(previous), 0);
}
