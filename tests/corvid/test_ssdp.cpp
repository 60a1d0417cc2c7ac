// SSDP pieces that need no multicast: the message helpers, the datagram
// parsers against hostile input, the datagram streams over loopback, the
// admission of M-SEARCH requests, and tasks that read forever from a
// socket that keeps failing.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "CvdDatagramStream.h"
#include "CvdHttpServerTask.h"
#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "hlydatabuffer.h"
#include "hlyloghandlers.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "../testsupport.h"

using namespace testsupport;

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(SsdpMessageHelper, LeaseTimes)
{
    struct Case {
        const char* text;
        HLY_Result  result;
        long        seconds;
    } cases[] = {
        {"max-age=1800", HLY_SUCCESS, 1800}, {"MAX-AGE=1800", HLY_SUCCESS, 1800}, {"max-age=0", HLY_SUCCESS, 0},
        {"no-cache", HLY_FAILURE, 0},        {"max-age=", HLY_FAILURE, 0},        {"max-age=abc", HLY_FAILURE, 0},
        {"max-age=99999999999", HLY_FAILURE, 0}, {"", HLY_FAILURE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        HLY_TimeInterval lease;
        EXPECT_EQ(CVD_UPnPMessageHelper::ExtractLeaseTime(c.text, lease), c.result);
        if (c.result == HLY_SUCCESS) {
            EXPECT_EQ(lease.ToSeconds(), c.seconds);
        }
    }
    HLY_HttpResponse response(200, "OK");
    HLY_TimeInterval lease;
    EXPECT_EQ(CVD_UPnPMessageHelper::GetLeaseTime(response, lease), HLY_ERROR_INVALID_PARAMETERS);
}

TEST(SsdpMessageHelper, GeneratedUuidsHaveTheLayoutAndDiffer)
{
    HLY_String a, b;
    ASSERT_EQ(CVD_UPnPMessageHelper::GenerateUUID(a), HLY_SUCCESS);
    ASSERT_EQ(CVD_UPnPMessageHelper::GenerateUUID(b), HLY_SUCCESS);
    std::regex layout("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(a.GetChars(), layout)) << a.GetChars();
    EXPECT_NE(a, b);
}

TEST(SsdpMessageHelper, AddressesIncludeLoopbackOnlyWhenAsked)
{
    HLY_List<HLY_IpAddress> with, without;
    ASSERT_EQ(CVD_UPnPMessageHelper::GetIPAddresses(with, true), HLY_SUCCESS);
    ASSERT_EQ(CVD_UPnPMessageHelper::GetIPAddresses(without, false), HLY_SUCCESS);
    EXPECT_TRUE(with.Find(HLY_IpAddressFinder(HLY_IpAddress::Loopback)));
    EXPECT_FALSE(without.Find(HLY_IpAddressFinder(HLY_IpAddress::Loopback)));
    EXPECT_TRUE(CVD_UPnPMessageHelper::IsAddressOnLocalNetwork(HLY_IpAddress(127, 0, 0, 9)));
    // a documentation address (TEST-NET-3), on no subnet of this machine
    EXPECT_FALSE(CVD_UPnPMessageHelper::IsAddressOnLocalNetwork(HLY_IpAddress(203, 0, 113, 77)));
}

TEST(SsdpParse, OneDatagramIsOneMessageOrNothing)
{
    const std::string notify = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\n"
                               "NTS: ssdp:alive\r\nUSN: uuid:x::upnp:rootdevice\r\n\r\n";
    auto with_lines = [](int count) {
        std::string text = "NOTIFY * HTTP/1.1\r\n";
        for (int i = 0; i < count; ++i) text += "A: 1\r\n";
        return text + "\r\n";
    };
    std::string with_nul = notify;
    with_nul[30]         = '\0';
    struct Case {
        const char* name;
        std::string bytes;
        bool        parses;
        size_t      headers;
    } cases[] = {
        {"notify", notify, true, 4},
        {"LF only", "M-SEARCH * HTTP/1.1\nST: ssdp:all\n\n", true, 1},
        {"request line with its empty line", "NOTIFY * HTTP/1.1\r\n\r\n", true, 0},
        {"trailing bytes after the head are not a second message", notify + "NOTIFY * HTTP/1.1\r\n\r\n", true, 4},
        {"a folded line after a line that is no header", "NOTIFY * HTTP/1.1\r\nNT: a\r\njunk\r\n USN: b\r\n\r\n", true, 1},
        {"request line only", "NOTIFY * HTTP/1.1", false, 0},
        {"truncated head", notify.substr(0, 50), false, 0},
        {"NUL byte", with_nul, false, 0},
        {"garbage", std::string("\x01\x02\xff\xfe\r\n\r\n", 8), false, 0},
        {"a hundred header lines", with_lines(100), true, 100},
        {"three hundred header lines", with_lines(300), false, 0},
        {"thousands of header lines", with_lines(3000), false, 0},
        {"64 KiB", notify + std::string(65536, 'x'), false, 0},
        {"empty", "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HLY_HttpRequest* request = nullptr;
        HLY_Result       result  = CVD_UPnPMessageHelper::ParseRequest(c.bytes.data(), c.bytes.size(), nullptr, request);
        EXPECT_EQ(HLY_SUCCEEDED(result), c.parses) << result;
        EXPECT_EQ(request != nullptr, c.parses);
        if (request) {
            EXPECT_EQ(request->GetHeaders().GetHeaders().GetItemCount(), c.headers);
            // written out and read again, the head is the same
            HLY_MemoryStream emitted;
            request->Emit(emitted);
            HLY_HttpRequest* again = nullptr;
            ASSERT_EQ(CVD_UPnPMessageHelper::ParseRequest(emitted.GetData(), emitted.GetDataSize(), nullptr, again),
                      HLY_SUCCESS);
            HLY_MemoryStream emitted_again;
            again->Emit(emitted_again);
            EXPECT_EQ(std::string((const char*)emitted_again.GetData(), emitted_again.GetDataSize()),
                      std::string((const char*)emitted.GetData(), emitted.GetDataSize()));
            delete again;
        }
        delete request;

        // the same heads as answers
        if (c.bytes.rfind("NOTIFY * HTTP/1.1", 0) != 0) continue;
        std::string       answer   = "HTTP/1.1 200 OK" + c.bytes.substr(17);
        HLY_HttpResponse* response = nullptr;
        result = CVD_UPnPMessageHelper::ParseResponse(answer.data(), answer.size(), response);
        EXPECT_EQ(HLY_SUCCEEDED(result), c.parses) << result;
        delete response;
    }
}

TEST(SsdpDatagramStreams, EachDatagramIsReadAloneAndFlushSendsOne)
{
    HLY_UdpSocket receiver, sender;
    ASSERT_EQ(receiver.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    HLY_SocketInfo info;
    receiver.GetInfo(info);
    receiver.SetReadTimeout(2000);
    HLY_SocketAddress target(HLY_IpAddress::Loopback, info.local_address.GetPort());

    CVD_OutputDatagramStream output(&sender, 4, &target);
    ASSERT_EQ(output.Write("first datagram", 14), HLY_SUCCESS); // grows past its first size
    ASSERT_EQ(output.Flush(), HLY_SUCCESS);
    ASSERT_EQ(output.Flush(), HLY_SUCCESS); // nothing written: nothing sent
    ASSERT_EQ(output.Write("second", 6), HLY_SUCCESS);
    ASSERT_EQ(output.Flush(), HLY_SUCCESS);
    HLY_Position position;
    EXPECT_EQ(output.Tell(position), HLY_FAILURE);

    CVD_InputDatagramStream input(&receiver, 2000);
    char     buffer[64];
    HLY_Size count = 0;
    ASSERT_EQ(input.Read(buffer, 5, &count), HLY_SUCCESS);
    EXPECT_EQ(std::string(buffer, count), "first");
    ASSERT_EQ(input.Read(buffer, sizeof(buffer), &count), HLY_SUCCESS);
    EXPECT_EQ(std::string(buffer, count), " datagram") << "a read never runs into the next datagram";
    ASSERT_EQ(input.Read(buffer, sizeof(buffer), &count), HLY_SUCCESS);
    EXPECT_EQ(std::string(buffer, count), "second");
    ASSERT_EQ(input.GetInfo(info), HLY_SUCCESS);
    EXPECT_EQ(info.remote_address.GetIpAddress(), HLY_IpAddress::Loopback);
    EXPECT_EQ(info.local_address.GetPort(), target.GetPort());
    HLY_LargeSize size;
    EXPECT_EQ(input.GetAvailable(size), HLY_FAILURE);
    receiver.SetReadTimeout(100);
    EXPECT_EQ(input.Read(buffer, sizeof(buffer), &count), HLY_ERROR_TIMEOUT);
    EXPECT_EQ(count, 0u);
}

namespace {

// a device whose answers wait until released, so that response tasks stay pending
class HeldDevice : public CVD_SsdpDevice
{
public:
    HLY_Result GetDescriptionUrl(const HLY_IpAddress& local, HLY_HttpUrl& url) override
    {
        url = HLY_HttpUrl(local.ToString(), 80, "/d.xml");
        return HLY_SUCCESS;
    }
    HLY_TimeInterval GetLeaseTime() override { return HLY_TimeInterval::FromSeconds(100); }
    HLY_Result GetSsdpTargets(HLY_List<CVD_SsdpTarget>& targets) override
    {
        targets.Add(CVD_SsdpTarget("upnp:rootdevice", "uuid:held::upnp:rootdevice"));
        return HLY_SUCCESS;
    }
    HLY_Result SendSsdpSearchResponse(HLY_HttpResponse& response, HLY_UdpSocket& socket, const char* st,
                                      const HLY_SocketAddress* address) override
    {
        ++m_Answering;
        m_Release.WaitUntilEquals(1, 5000);
        // this test answers on loopback only, whatever happens
        HLY_SocketInfo info;
        socket.GetInfo(info);
        HLY_IpAddress to = address ? address->GetIpAddress() : info.remote_address.GetIpAddress();
        if (to != HLY_IpAddress::Loopback) return HLY_FAILURE;
        return CVD_SsdpDevice::SendSsdpSearchResponse(response, socket, st, address);
    }
    std::atomic<int>   m_Answering{0};
    HLY_SharedVariable m_Release;
};

std::atomic<int> g_DropLines{0};
void CountDropLines(const HLY_LogRecord& record)
{
    if (strstr(record.m_Message, "too many M-SEARCH requests")) ++g_DropLines;
}

} // namespace

TEST(SsdpSearchResponder, AdmitsWellFormedLocalSearchesUpToTheCap)
{
    // the drops of one burst make one log line
    HLY_LogCustomHandler::SetCustomHandlerFunction(CountDropLines);
    ASSERT_EQ(HLY_LogManager::Reconfigure("plist:.handlers=;corvid.core.ssdp.level=WARNING;"
                                          "corvid.core.ssdp.handlers=CustomHandler;corvid.core.ssdp.forward=off"),
              HLY_SUCCESS);

    HeldDevice              device;
    CVD_SsdpSearchResponder responder(&device, 2);
    CVD_TaskManager         tasks;

    // the requester: a plain socket on loopback that collects the answers
    HLY_UdpSocket requester;
    ASSERT_EQ(requester.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    HLY_SocketInfo info;
    requester.GetInfo(info);
    HLY_HttpRequestContext local(nullptr, &info.local_address);
    HLY_SocketAddress      far_address(HLY_IpAddress(203, 0, 113, 77), 1900);
    HLY_HttpRequestContext far(nullptr, &far_address);

    auto search = [](const std::string& head) {
        std::string      text    = head + "\r\n\r\n";
        HLY_HttpRequest* request = nullptr;
        CVD_UPnPMessageHelper::ParseRequest(text.data(), text.size(), nullptr, request);
        return std::unique_ptr<HLY_HttpRequest>(request);
    };
    const std::string good = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 0\r\n"
                             "ST: upnp:rootdevice";
    struct Case {
        const char* name;
        std::string head;
        HLY_Result  result;
    } refused[] = {
        {"a NOTIFY", "NOTIFY * HTTP/1.1\r\nNT: a\r\nNTS: ssdp:alive", HLY_FAILURE},
        {"no ST", "M-SEARCH * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nMX: 1", HLY_ERROR_INVALID_PARAMETERS},
        {"MAN without quotes", "M-SEARCH * HTTP/1.1\r\nMAN: ssdp:discover\r\nMX: 1\r\nST: ssdp:all", HLY_FAILURE},
        {"a path", "M-SEARCH /x HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all", HLY_FAILURE},
        {"HTTP/1.0", "M-SEARCH * HTTP/1.0\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all", HLY_FAILURE},
        {"no MX", "M-SEARCH * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all", HLY_ERROR_INVALID_PARAMETERS},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        auto request = search(c.head);
        ASSERT_TRUE(request);
        EXPECT_EQ(responder.OnSsdpPacket(*request, local, tasks), c.result);
    }
    // a requester outside every subnet of ours gets nothing: no reflection
    EXPECT_EQ(responder.OnSsdpPacket(*search(good), far, tasks), HLY_FAILURE);
    EXPECT_EQ(responder.GetPendingCount(), 0u);

    // two answers may wait; the rest is dropped
    for (int i = 0; i < 10; ++i) responder.OnSsdpPacket(*search(good), local, tasks);
    EXPECT_EQ(responder.GetDroppedCount(), 8u);
    EXPECT_EQ(g_DropLines, 1);
    HLY_LogCustomHandler::SetCustomHandlerFunction(nullptr);
    HLY_LogManager::Reconfigure(nullptr);
    EXPECT_TRUE(Eventually([&]() { return device.m_Answering == 2; }));
    EXPECT_EQ(responder.GetPendingCount(), 2u);

    device.m_Release.SetValue(1);
    EXPECT_TRUE(Eventually([&]() { return responder.GetPendingCount() == 0; }));
    // each admitted search was answered once, from loopback
    requester.SetReadTimeout(2000);
    HLY_DataBuffer packet(2000);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(requester.Receive(packet), HLY_SUCCESS);
        std::string text((const char*)packet.GetData(), packet.GetDataSize());
        EXPECT_NE(text.find("Location: http://127.0.0.1/d.xml\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("USN: uuid:held::upnp:rootdevice\r\n"), std::string::npos) << text;
    }
    requester.SetReadTimeout(300);
    EXPECT_EQ(requester.Receive(packet), HLY_ERROR_TIMEOUT);
    tasks.StopAllTasks();
}

namespace {

// a socket whose every read fails at once, as a socket of a vanished interface may
class FailingSocketImpl : public HLY_SocketInterface, public HLY_UdpSocketInterface
{
public:
    class Stream : public HLY_InputStream
    {
    public:
        explicit Stream(FailingSocketImpl& socket) : m_Socket(socket) {}
        HLY_Result Read(void*, HLY_Size, HLY_Size* bytes_read) override
        {
            if (bytes_read) *bytes_read = 0;
            return m_Socket.Fail();
        }
        HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
        HLY_Result Tell(HLY_Position& offset) override { offset = 0; return HLY_SUCCESS; }
        HLY_Result GetSize(HLY_LargeSize&) override { return HLY_ERROR_NOT_SUPPORTED; }
        HLY_Result GetAvailable(HLY_LargeSize& available) override { available = 0; return HLY_SUCCESS; }

    private:
        FailingSocketImpl& m_Socket;
    };

    explicit FailingSocketImpl(std::atomic<int>& reads) : m_Reads(reads) {}
    HLY_Result Fail()
    {
        ++m_Reads;
        return m_Cancelled ? HLY_ERROR_CANCELLED : HLY_ERROR_NETWORK_DOWN;
    }
    HLY_Result Bind(const HLY_SocketAddress&, bool) override { return HLY_SUCCESS; }
    HLY_Result Connect(const HLY_SocketAddress&, HLY_Timeout) override { return HLY_SUCCESS; }
    HLY_Result WaitForConnection(HLY_Timeout) override { return HLY_SUCCESS; }
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override
    {
        stream = new Stream(*this);
        return HLY_SUCCESS;
    }
    HLY_Result GetOutputStream(HLY_OutputStreamReference&) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result GetInfo(HLY_SocketInfo& info) override
    {
        info = HLY_SocketInfo();
        return HLY_SUCCESS;
    }
    HLY_Result SetReadTimeout(HLY_Timeout) override { return HLY_SUCCESS; }
    HLY_Result SetWriteTimeout(HLY_Timeout) override { return HLY_SUCCESS; }
    HLY_Result Cancel(bool) override
    {
        m_Cancelled = true;
        return HLY_SUCCESS;
    }
    HLY_Result Send(const HLY_DataBuffer&, const HLY_SocketAddress*) override { return HLY_ERROR_NETWORK_DOWN; }
    HLY_Result Receive(HLY_DataBuffer& packet, HLY_SocketAddress*) override
    {
        packet.SetDataSize(0);
        return Fail();
    }

private:
    std::atomic<int>& m_Reads;
    std::atomic<bool> m_Cancelled{false};
};

class FailingSocket : public HLY_UdpSocket
{
public:
    explicit FailingSocket(FailingSocketImpl* impl) : HLY_UdpSocket(impl, impl) {}
};

} // namespace

TEST(StayAliveTasks, ASocketThatKeepsFailingCostsNoCore)
{
    struct Case {
        const char*                                                 name;
        std::function<CVD_ThreadTask*(HLY_UdpSocket* socket)> make;
    } cases[] = {
        {"SSDP listen task", [](HLY_UdpSocket* socket) { return new CVD_SsdpListenTask(socket); }},
        {"HTTP server task", [](HLY_UdpSocket* socket) { return new CVD_HttpServerTask(nullptr, socket, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> reads{0};
        CVD_TaskManager  tasks;
        double           cpu_before = CpuSeconds();
        ASSERT_EQ(tasks.StartTask(c.make(new FailingSocket(new FailingSocketImpl(reads)))), HLY_SUCCESS);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        double cpu = CpuSeconds() - cpu_before;
        int    count = reads;
        Clock::time_point stopping = Clock::now();
        tasks.StopAllTasks();
        long stop_ms = ElapsedMs(stopping);
        printf("[ no spin  ] %s: %d failed reads and %.3f s CPU in 1 s; stopped in %ld ms\n", c.name, count, cpu,
               stop_ms);
        // one read per back-off, not millions
        EXPECT_GE(count, 2);
        EXPECT_LE(count, 1000 / CVD_HTTP_SERVER_SOCKET_ERROR_BACKOFF + 3);
        EXPECT_LT(cpu, 0.1);
        EXPECT_LT(stop_ms, 500);
    }
}
