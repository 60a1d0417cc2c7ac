// beaconry-console driven through its pipes against minidlna and
// gmediarender on the peer host: every step is checked on the peers
// themselves (the downloaded bytes, the renderer's own answers), not only
// in what the console prints.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

#include "ctrlpoint_support.h"
#include "CvdMediaController.h"
#include "CvdUPnP.h"
#include "hlyfile.h"
#include "peers.h"
#include "av_support.h"

using namespace cptest;
using testsupport::Eventually;

namespace {

const char* kMsUuid = "4d696e69-444c-164e-9d41-0000beac0031";
const char* kMrUuid = "676d7264-7265-6e64-9d41-0000beac0032";

bool SameBytes(const std::string& a, const std::string& b)
{
    HLY_DataBuffer one, two;
    return HLY_SUCCEEDED(HLY_File::Load(a.c_str(), one)) && HLY_SUCCEEDED(HLY_File::Load(b.c_str(), two)) && one == two;
}

// the console as a child process of the test, talked to through pipes
class ConsoleProcess
{
public:
    bool Start(const std::string& cwd)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return false;
        m_Pid = fork();
        if (m_Pid < 0) return false;
        if (m_Pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            if (chdir(cwd.c_str()) != 0) _exit(126);
            execl(BEACONRY_CONSOLE_PATH, BEACONRY_CONSOLE_PATH, (char*)nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_In     = in[1];
        m_Reader = std::thread([this, fd = out[0]]() {
            char buffer[4096];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Output.append(buffer, (size_t)n);
                m_Changed.notify_all();
            }
            close(fd);
        });
        return true;
    }
    ~ConsoleProcess()
    {
        if (m_In >= 0) close(m_In);
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
        if (m_Reader.joinable()) m_Reader.join();
    }
    void Send(const std::string& line)
    {
        std::string text = line + "\n";
        ASSERT_EQ(write(m_In, text.data(), text.size()), (ssize_t)text.size());
    }
    // waits for the pattern in what came after the last match; its groups
    bool Expect(const std::string& pattern, std::smatch& match, int timeout_ms = 20000)
    {
        std::regex                   re(pattern);
        std::unique_lock<std::mutex> lock(m_Lock);
        bool found = m_Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&]() {
            m_Rest = Commands().substr(m_Seen);
            return std::regex_search(m_Rest, match, re);
        });
        if (found) m_Seen += match.position(0) + match.length(0);
        return found;
    }
    bool Expect(const std::string& pattern, int timeout_ms = 20000)
    {
        std::smatch match;
        return Expect(pattern, match, timeout_ms);
    }
    // a command and the prompt after it
    void Command(const std::string& line)
    {
        Send(line);
        ASSERT_TRUE(Expect("command> ")) << line << Unread();
    }
    std::string Unread()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return "\n--- console output not yet matched:\n" + Commands().substr(m_Seen);
    }
    // the renderer's events that the console printed
    size_t EventsOf(const std::string& uuid)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::regex  re("Received state var \"" + uuid + ":[^\"]*:[^\"]*\" changes: \"");
        return (size_t)std::distance(std::sregex_iterator(m_Output.begin(), m_Output.end(), re),
                                     std::sregex_iterator());
    }
    // the exit status once standard input is closed
    int Finish(int timeout_ms)
    {
        close(m_In);
        m_In = -1;
        int status = -1;
        Eventually([&]() { return waitpid(m_Pid, &status, WNOHANG) == m_Pid; }, timeout_ms);
        if (status != -1) m_Pid = 0;
        return status;
    }

private:
    // the output without the renderer's events, which come at any time,
    // even between the lines of one command
    std::string Commands()
    {
        static const std::regex kEvent("Received state var \"[^\"]*\" changes: \"[\\s\\S]*?\"\n");
        return std::regex_replace(m_Output, kEvent, "");
    }

    pid_t                   m_Pid = 0;
    int                     m_In  = -1;
    std::thread             m_Reader;
    std::mutex              m_Lock;
    std::condition_variable m_Changed;
    std::string             m_Output, m_Rest;
    size_t                  m_Seen = 0;
};

// answers the chooser of a command with the entry "NAME (UUID)"; devices
// may still be arriving, so a list without it is answered with 0 and asked again
bool Choose(ConsoleProcess& console, const char* command, const std::string& name, const std::string& uuid)
{
    std::smatch match;
    for (int attempt = 0; attempt < 15; ++attempt) {
        console.Send(command);
        if (!console.Expect("Select one of the following:\n")) return false;
        bool found = console.Expect("(\\d+)\\)\t" + name + " \\(" + uuid + "\\)\n", match, 1500);
        console.Send(found ? std::string(match[1]) : std::string("0"));
        if (!console.Expect("command> ")) return false;
        if (found) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    return false;
}

} // namespace

TEST(ConsolePeers, ConsoleBrowsesDownloadsAndDrivesTheRenderer)
{
    TESTNET_REQUIRED();
    if (system("command -v minidlnad >/dev/null && command -v gmediarender >/dev/null") != 0) {
        GTEST_SKIP() << "minidlna or gmediarender is not installed (scripts/install-deps)";
    }
    // the media tree: one folder with a 20 s WAV file
    std::string tree = peers::MakeTempDir("console-ms");
    ASSERT_FALSE(tree.empty());
    for (const char* sub : {"/media", "/media/Songs"}) mkdir((tree + sub).c_str(), 0755);
    std::string song = tree + "/media/Songs/tone.wav";
    peers::WriteWav(song, 8000 * 20);
    std::unique_ptr<peers::Peer> server = peers::StartMinidlnaOn(tree, 8204, kMsUuid, "beaconry-console-ms");
    // a sink that keeps time, so that the song is still playing when the
    // console seeks and stops (a plain fakesink plays it at once)
    std::unique_ptr<peers::Peer> renderer = peers::StartGmediarender(kMrUuid, 49497, "beaconry-console-mr", true);
    ASSERT_TRUE(renderer);

    // the test's own control point, to ask the renderer what it did
    avtest::RendererRecord     probe;
    CVD_CtrlPointReference     ctrl_point(new CVD_CtrlPoint());
    CVD_UPnPCtrlPointReference engine_ref(ctrl_point);
    CVD_MediaController        controller(ctrl_point, &probe);
    CVD_UPnP                   engine;
    engine.AddCtrlPoint(engine_ref);
    ASSERT_EQ(engine.Start(), HLY_SUCCESS);
    // the console starts once the renderer is up, so that it answers the console's first search
    CVD_DeviceDataReference device;
    ASSERT_TRUE(Eventually([&]() { return HLY_SUCCEEDED(controller.FindRenderer(kMrUuid, device)); }, 20000))
        << renderer->Log();

    testsupport::TempDir dir("console-down");
    const std::string&   downloads = dir.Path();
    ConsoleProcess       console;
    ASSERT_TRUE(console.Start(downloads));
    ASSERT_TRUE(console.Expect("command> ")) << console.Unread();

    std::smatch match;
    // setms: minidlna listed as "N)\tNAME (UUID)"
    ASSERT_TRUE(Choose(console, "setms", "beaconry-console-ms", kMsUuid)) << console.Unread();
    console.Send("getms");
    EXPECT_TRUE(console.Expect("Current media server: beaconry-console-ms\ncommand> ")) << console.Unread();

    // ls, cd into "Browse Folders" and "Songs", pwd
    console.Send("ls");
    EXPECT_TRUE(console.Expect("There were \\d+ results\n(.*\n)*Container: Browse Folders \\(64\\)\n")) << console.Unread();
    console.Command("");
    for (const char* folder : {"Browse Folders", "Songs"}) {
        console.Send("cd");
        ASSERT_TRUE(console.Expect(std::string("(\\d+)\\)\t") + folder + " \\(", match)) << folder << console.Unread();
        console.Send(match[1]);
        console.Command("");
    }
    console.Send("pwd");
    EXPECT_TRUE(console.Expect("0/64/64\\$0/\n")) << console.Unread();
    console.Send("ls");
    EXPECT_TRUE(console.Expect("There were 1 results\nItem: tone \\((64\\$0\\$\\d+)\\)\n")) << console.Unread();

    // info on the item
    console.Send("info");
    ASSERT_TRUE(console.Expect("(\\d+)\\)\ttone \\(", match)) << console.Unread();
    console.Send(match[1]);
    EXPECT_TRUE(console.Expect("Title: tone \nOjbectID: 64\\$0\\$\\d+\nClass: object.item.audioItem[^\n]*\n"
                               "(.*\n)*\tResource\\[0\\].uri: http://[^\n]*\\.wav\n(.*\n)*Didl: <DIDL-Lite"))
        << console.Unread();

    // down: three complete copies, each the very bytes of the source
    console.Send("down");
    ASSERT_TRUE(console.Expect("(\\d+)\\)\ttone \\(", match)) << console.Unread();
    console.Send(match[1]);
    ASSERT_TRUE(console.Expect("Downloading ([^\n/]+)\\.wav\n", match)) << console.Unread();
    std::string base = match[1];
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(console.Expect("Downloaded " + base + "_\\d\\.wav \\(320044 bytes\\)\n")) << console.Unread();
    }
    for (int i = 0; i < 3; ++i) {
        std::string copy = downloads + "/" + base + "_" + std::to_string(i) + ".wav";
        EXPECT_TRUE(SameBytes(copy, song)) << copy;
        EXPECT_FALSE(HLY_File::Exists((copy + ".part").c_str())) << copy;
    }

    // setmr, open the item on the renderer
    ASSERT_TRUE(Choose(console, "setmr", "beaconry-console-mr", kMrUuid)) << console.Unread();
    console.Send("getmr");
    EXPECT_TRUE(console.Expect("Current media renderer: beaconry-console-mr\ncommand> ")) << console.Unread();

    console.Send("open");
    ASSERT_TRUE(console.Expect("(\\d+)\\)\ttone \\(", match)) << console.Unread();
    console.Send(match[1]);
    ASSERT_TRUE(console.Expect("Issuing SetAVTransportURI with url=(http://[^ ]*) & didl=<DIDL-Lite", match))
        << console.Unread();
    std::string uri = match[1];
    console.Command("");
    EXPECT_TRUE(Eventually([&]() { return probe.Ask("MediaInfo", [&]() { return controller.GetMediaInfo(device, 0, nullptr); }) == uri; }, 10000));

    auto state = [&]() { return probe.Ask("TransportInfo", [&]() { return controller.GetTransportInfo(device, 0, nullptr); }); };
    auto muted = [&]() { return probe.Ask("GetMute", [&]() { return controller.GetMute(device, 0, "Master", nullptr); }); };
    auto position = [&]() {
        return atoi(probe.Ask("PositionInfo", [&]() { return controller.GetPositionInfo(device, 0, nullptr); }).c_str());
    };
    console.Command("play");
    EXPECT_TRUE(Eventually([&]() { return state() == "PLAYING"; }, 10000)) << state() << renderer->Log();
    // a few seconds in, a seek back to the first second shows in the position
    EXPECT_TRUE(Eventually([&]() { return position() >= 4000; }, 15000)) << position();
    console.Command("seek 0:00:01");
    EXPECT_TRUE(Eventually([&]() { int at = position(); return at >= 1000 && at < 3500; }, 5000)) << position();
    console.Command("mute");
    EXPECT_TRUE(Eventually([&]() { return muted() == "Master=1"; }, 5000)) << muted();
    console.Command("unmute");
    EXPECT_TRUE(Eventually([&]() { return muted() == "Master=0"; }, 5000)) << muted();
    EXPECT_EQ(state(), "PLAYING") << "the song ended before stop";
    console.Command("stop");
    EXPECT_TRUE(Eventually([&]() { return state() == "STOPPED"; }, 5000)) << state();

    // back up to the root, then a line that is no command
    console.Command("cd ..");
    console.Command("cd ..");
    console.Send("cd ..");
    EXPECT_TRUE(console.Expect("Already at root\ncommand> ")) << console.Unread();
    console.Send("frobnicate");
    EXPECT_TRUE(console.Expect("Unrecognized command: frobnicate\n\n\nNone of the commands take arguments\\."
                               "(.*\n)* help    -   print this help message\n\ncommand> "))
        << console.Unread();

    // the renderer's state changes reached the console too
    EXPECT_GT(console.EventsOf(kMrUuid), 0u);

    // quit ends the program cleanly
    console.Send("quit");
    int status = console.Finish(15000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    engine.Stop();
}
