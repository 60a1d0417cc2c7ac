#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CvdEvent.h"
#include "CvdHttp.h"
#include "CvdHttpServer.h"
#include "CvdStateVariable.h"
#include "CvdTaskManager.h"
#include "hlybufferedstreams.h"
#include "hlysystem.h"
#include "hlyxml.h"
#include "event_sink.h"
#include "../testsupport.h"
#include "upnp_samples.h"

using namespace testsupport;
using namespace upnpsamples;

namespace {

// a hosted renderer with one directly evented variable, LastChange and
// two indirectly evented ones
const char* const kScpd =
    "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><serviceStateTable>"
    "<stateVariable sendEvents=\"yes\"><name>LastChange</name><dataType>string</dataType></stateVariable>"
    "<stateVariable sendEvents=\"yes\"><name>Direct</name><dataType>ui4</dataType></stateVariable>"
    "<stateVariable sendEvents=\"no\"><name>Volume</name><dataType>ui2</dataType></stateVariable>"
    "<stateVariable sendEvents=\"no\"><name>Mute</name><dataType>boolean</dataType></stateVariable>"
    "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_InstanceID</name><dataType>ui4</dataType></stateVariable>"
    "</serviceStateTable></scpd>";

struct Host {
    CVD_TaskManager         tasks;
    CVD_DeviceDataReference device;
    CVD_Service*            service;

    Host() : device(new CVD_DeviceData(HLY_HttpUrl("http://127.0.0.1:9/d.xml"), "dev"))
    {
        service = new CVD_Service(device.AsPointer(), "urn:schemas-upnp-org:service:RenderingControl:1",
                                  "urn:upnp-org:serviceId:RenderingControl", "RCS",
                                  "urn:schemas-upnp-org:metadata-1-0/RCS/");
        EXPECT_EQ(HLY_SUCCESS, service->SetSCPDXML(kScpd));
        EXPECT_EQ(HLY_SUCCESS, device->AddService(service));
        service->SetStateVariable("Direct", "7");
        service->SetStateVariable("Volume", "30");
    }
    ~Host()
    {
        // the service's tasks end before the device record goes
        device->Cleanup();
        tasks.StopAllTasks();
    }

    struct Answer {
        HLY_Result  result;
        int         status;
        std::string reason, sid, timeout;
    };
    Answer Request(const char* method, const std::vector<std::pair<const char*, std::string>>& headers,
                   const char* path = "/RCS/dev/event.xml")
    {
        HLY_HttpRequest request((std::string("http://127.0.0.1:9") + path).c_str(), method, HLY_HTTP_PROTOCOL_1_1);
        for (auto& h : headers) request.GetHeaders().SetHeader(h.first, h.second.c_str());
        HLY_HttpResponse       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
        // received on the loopback, so callbacks must lie there too
        HLY_SocketAddress      local(HLY_IpAddress::Loopback, 9), remote(HLY_IpAddress::Loopback, 40000);
        HLY_HttpRequestContext context(&local, &remote);
        Answer                 answer;
        answer.result = CVD_EventSubscriber::ProcessSubscriptionRequest(&tasks, *device, request, context, response);
        answer.status = response.GetStatusCode();
        answer.reason = S(response.GetReasonPhrase());
        if (auto* sid = CVD_EventHeaders::GetSID(response)) answer.sid = S(*sid);
        if (auto* timeout = response.GetHeaders().GetHeaderValue("TIMEOUT")) answer.timeout = S(*timeout);
        return answer;
    }
};

// a control point's event server on the loopback
struct Sink : EventSinkServer {
    Sink() : EventSinkServer("127.0.0.1") { EXPECT_EQ(HLY_SUCCESS, Started()); }
};

} // namespace

TEST(Gena, HeaderFunctions)
{
    const struct {
        const char* text;
        HLY_Result  result;
        HLY_Int32   seconds;
    } timeouts[] = {{"second-600", HLY_SUCCESS, 600},
                    {"Second-Infinite", HLY_SUCCESS, -1},
                    {"Second-1800", HLY_SUCCESS, 1800},
                    {"600", HLY_ERROR_INVALID_FORMAT, 0},
                    {"Second-99999999999", HLY_SUCCESS, 2147483647},
                    {"Second-99999999999999999999999999", HLY_SUCCESS, 2147483647}};
    for (const auto& t : timeouts) {
        HLY_Int32 seconds = 5;
        EXPECT_EQ(t.result, ParseTimeOut(t.text, seconds)) << t.text;
        EXPECT_EQ(t.seconds, seconds) << t.text;
    }
    HLY_HttpResponse response(200, "OK");
    HLY_Int32        seconds = 5;
    HLY_UInt32       seq     = 5;
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, CVD_EventHeaders::GetTimeOut(response, seconds));
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, CVD_EventHeaders::GetSeq(response, seq));
    EXPECT_EQ(0u, seq);
    CVD_EventHeaders::SetTimeOut(response, -1);
    EXPECT_EQ("Second-infinite", S(*response.GetHeaders().GetHeaderValue("TIMEOUT")));
    CVD_EventHeaders::SetTimeOut(response, 1800);
    EXPECT_EQ(HLY_SUCCESS, CVD_EventHeaders::GetTimeOut(response, seconds));
    EXPECT_EQ(1800, seconds);
    EXPECT_EQ(1u, response.GetHeaders().GetHeaders().GetItemCount());
    CVD_EventHeaders::SetSeq(response, 4294967295u);
    EXPECT_EQ(HLY_SUCCESS, CVD_EventHeaders::GetSeq(response, seq));
    EXPECT_EQ(4294967295u, seq);
    response.GetHeaders().SetHeader("SEQ", "4294967296");
    EXPECT_TRUE(HLY_FAILED(CVD_EventHeaders::GetSeq(response, seq)));
}

TEST(Gena, CallbackHeaders)
{
    const struct {
        std::string  header;
        HLY_Result   result;
        HLY_Cardinal kept;
    } cases[] = {{"<http://10.0.0.2:4000/a><http://10.0.0.2:4000/b>", HLY_SUCCESS, 2},
                 {"http://10.0.0.2:4000/a", HLY_FAILURE, 0},
                 {"<ftp://x/><http://10.0.0.2/ok>", HLY_SUCCESS, 1},
                 {"<>", HLY_FAILURE, 0},
                 {"<http://unterminated", HLY_FAILURE, 0}};
    for (const auto& c : cases) {
        CVD_EventSubscriber subscriber(nullptr, nullptr, "uuid:s");
        EXPECT_EQ(c.result, subscriber.SetCallbacksFromHeader(c.header.c_str())) << c.header;
        EXPECT_EQ(c.kept, subscriber.GetCallbackURLs().GetItemCount()) << c.header;
    }

    std::string many;
    for (int i = 0; i < 10000; i++) many += "<http://10.0.0.2:4000/sink" + std::to_string(i) + ">";
    long long before = HeapInUse();
    {
        CVD_EventSubscriber subscriber(nullptr, nullptr, "uuid:s");
        EXPECT_EQ(HLY_SUCCESS, subscriber.SetCallbacksFromHeader(many.c_str()));
        EXPECT_EQ((HLY_Cardinal)CVD_EVENT_MAX_CALLBACK_URLS, subscriber.GetCallbackURLs().GetItemCount());
        EXPECT_EQ(10000u, subscriber.GetOfferedCallbackCount());
        EXPECT_EQ(HLY_SUCCESS, subscriber.FindCallbackURL("http://10.0.0.2:4000/sink0"));
        EXPECT_EQ(HLY_ERROR_NO_SUCH_ITEM, subscriber.FindCallbackURL("http://10.0.0.2:4000/SINK0"));
        std::printf("[ memory ] CALLBACK of 10,000 URLs (%zu bytes): subscriber holds %lld bytes\n", many.size(),
                    HeapInUse() - before);
        EXPECT_LT(HeapInUse() - before, 16 * 1024);
    }
}

TEST(Gena, NotifyBodySeqAndWrap)
{
    Host                host;
    CVD_EventSubscriber subscriber(nullptr, host.service, "uuid:s1");
    ASSERT_EQ(HLY_SUCCESS, subscriber.SetCallbacksFromHeader("<http://127.0.0.1:5/x>"));
    HLY_List<CVD_StateVariable*> vars(host.service->GetStateVariables());
    std::vector<std::string>     seqs;
    for (int i = 0; i < 3; i++) {
        HLY_HttpRequest* request = nullptr;
        ASSERT_EQ(HLY_SUCCESS, subscriber.CreateNotifyRequest(vars, request));
        std::unique_ptr<HLY_HttpRequest> owned(request);
        seqs.push_back(S(*request->GetHeaders().GetHeaderValue("SEQ")));
        if (i == 0) {
            EXPECT_EQ("NOTIFY", S(request->GetMethod()));
            EXPECT_EQ("upnp:event", S(*CVD_EventHeaders::GetNT(*request)));
            EXPECT_EQ("upnp:propchange", S(*CVD_EventHeaders::GetNTS(*request)));
            EXPECT_EQ("uuid:s1", S(*CVD_EventHeaders::GetSID(*request)));
            HLY_String body;
            CVD_HttpHelper::GetBody(*request, body);
            EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<e:propertyset xmlns:e=\"urn:schemas-upnp-org:"
                      "event-1-0\"><e:property><LastChange></LastChange></e:property><e:property><Direct>7</Direct>"
                      "</e:property></e:propertyset>",
                      S(body));
        }
    }
    EXPECT_EQ((std::vector<std::string>{"0", "1", "2"}), seqs);

    subscriber.SetEventKey(4294967295u);
    for (const char* expected : {"4294967295", "1"}) {
        HLY_HttpRequest* request = nullptr;
        ASSERT_EQ(HLY_SUCCESS, subscriber.CreateNotifyRequest(vars, request));
        std::unique_ptr<HLY_HttpRequest> owned(request);
        EXPECT_EQ(expected, S(*request->GetHeaders().GetHeaderValue("SEQ")));
    }
    HLY_List<CVD_StateVariable*> indirect;
    indirect.Add(host.service->FindStateVariable("Volume"));
    HLY_HttpRequest* none = nullptr;
    EXPECT_EQ(HLY_FAILURE, subscriber.CreateNotifyRequest(indirect, none));
}

TEST(Gena, DeviceSideSubscriptionHandling)
{
    Host        host;
    Sink        sink;
    std::string callback = sink.Callback();

    // refusals before any subscriber exists
    const struct {
        const char*                                        what;
        const char*                                        method;
        std::vector<std::pair<const char*, std::string>> headers;
        const char*                                        path;
        int                                                status;
        const char*                                        reason;
    } refusals[] = {
        {"no NT", "SUBSCRIBE", {{"CALLBACK", callback}}, "/RCS/dev/event.xml", 412, "Precondition failed"},
        {"wrong NT", "SUBSCRIBE", {{"NT", "upnp:other"}, {"CALLBACK", callback}}, "/RCS/dev/event.xml", 412,
         "Precondition failed"},
        {"no CALLBACK", "SUBSCRIBE", {{"NT", "upnp:event"}}, "/RCS/dev/event.xml", 412, "Precondition failed"},
        {"CALLBACK without brackets", "SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", "http://127.0.0.1:1/"}},
         "/RCS/dev/event.xml", 412, "Precondition Failed"},
        {"CALLBACK outside the subnet", "SUBSCRIBE",
         {{"NT", "upnp:event"}, {"CALLBACK", "<http://10.99.0.1:4000/x><http://printer.example/y>"}},
         "/RCS/dev/event.xml", 412, "Precondition Failed"},
        {"renewal with NT", "SUBSCRIBE", {{"SID", "uuid:x"}, {"NT", "upnp:event"}}, "/RCS/dev/event.xml", 400,
         "Bad Request"},
        {"renewal of an unknown SID", "SUBSCRIBE", {{"SID", "uuid:x"}}, "/RCS/dev/event.xml", 412,
         "Precondition Failed"},
        {"UNSUBSCRIBE with CALLBACK", "UNSUBSCRIBE", {{"SID", "uuid:x"}, {"CALLBACK", callback}}, "/RCS/dev/event.xml",
         400, "Bad Request"},
        {"UNSUBSCRIBE without SID", "UNSUBSCRIBE", {}, "/RCS/dev/event.xml", 400, "Bad Request"},
        {"UNSUBSCRIBE of an unknown SID", "UNSUBSCRIBE", {{"SID", "uuid:x"}}, "/RCS/dev/event.xml", 412,
         "Precondition Failed"},
        {"other method", "subscribe", {{"NT", "upnp:event"}, {"CALLBACK", callback}}, "/RCS/dev/event.xml", 400,
         "Bad Request"},
        {"unknown path", "SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", callback}}, "/nothing", 400, "Bad Request"},
    };
    for (const auto& r : refusals) {
        Host::Answer answer = host.Request(r.method, r.headers, r.path);
        EXPECT_EQ(r.status, answer.status) << r.what;
        EXPECT_EQ(r.reason, answer.reason) << r.what;
        EXPECT_TRUE(HLY_FAILED(answer.result)) << r.what;
    }
    EXPECT_FALSE(host.service->HasEventTask());

    // a subscription: granted 1800 s whatever was asked, first event carries everything
    Host::Answer subscribed =
        host.Request("SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", callback}, {"TIMEOUT", "Second-600"}});
    ASSERT_EQ(200, subscribed.status);
    EXPECT_EQ(41u, subscribed.sid.size());
    EXPECT_EQ("Second-1800", subscribed.timeout);
    EXPECT_TRUE(host.service->HasEventTask());
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 1; }));
    Sink::Notify first = sink.At(0);
    EXPECT_EQ(subscribed.sid, first.sid);
    EXPECT_EQ("0", first.seq);
    EXPECT_NE(std::string::npos, first.body.find("<Direct>7</Direct>"));
    EXPECT_NE(std::string::npos,
              first.body.find("<LastChange>&lt;Event xmlns=\"urn:schemas-upnp-org:metadata-1-0/RCS/\"&gt;&lt;InstanceID "
                              "val=\"0\"&gt;&lt;Volume val=\"30\"/&gt;&lt;Mute val=\"\"/&gt;&lt;/InstanceID&gt;&lt;/Event"
                              "&gt;</LastChange>"))
        << first.body;
    EXPECT_EQ(std::string::npos, first.body.find("A_ARG_TYPE"));

    // later changes arrive in SEQ order, a directly evented one and an indirect one
    host.service->SetStateVariable("Direct", "8");
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 2; }));
    host.service->SetStateVariable("Mute", "1");
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 3; }));
    EXPECT_EQ("1", sink.At(1).seq);
    EXPECT_NE(std::string::npos, sink.At(1).body.find("<Direct>8</Direct>"));
    EXPECT_EQ("2", sink.At(2).seq);
    EXPECT_NE(std::string::npos, sink.At(2).body.find("&lt;Mute val=\"1\"/&gt;"));
    EXPECT_EQ(std::string::npos, sink.At(2).body.find("Volume"));

    // renewal, then cancellation
    Host::Answer renewed = host.Request("SUBSCRIBE", {{"SID", subscribed.sid}, {"TIMEOUT", "Second-60"}});
    EXPECT_EQ(200, renewed.status);
    EXPECT_EQ(subscribed.sid, renewed.sid);
    EXPECT_EQ("Second-1800", renewed.timeout);
    EXPECT_EQ(200, host.Request("UNSUBSCRIBE", {{"SID", subscribed.sid}}).status);
    EXPECT_EQ(0u, host.service->GetSubscribers().GetItemCount());
    EXPECT_EQ(412, host.Request("UNSUBSCRIBE", {{"SID", subscribed.sid}}).status);

    // a renewal 1 s after expiry is refused and the subscriber is gone
    Host::Answer late = host.Request("SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", callback}});
    ASSERT_EQ(200, late.status);
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    host.service->GetSubscribers().GetFirstItem()->AsPointer()->SetExpirationTime(now - HLY_TimeInterval(1.0));
    Host::Answer refused = host.Request("SUBSCRIBE", {{"SID", late.sid}});
    EXPECT_EQ(412, refused.status);
    EXPECT_EQ(0u, host.service->GetSubscribers().GetItemCount());
}

TEST(Gena, ExpiredSubscribersKeepTheirGraceThenAreDropped)
{
    Host host;
    Sink sink;
    ASSERT_EQ(200, host.Request("SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", sink.Callback()}}).status);
    ASSERT_EQ(200, host.Request("SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", sink.Callback()}}).status);
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 2; }));

    HLY_List<CVD_EventSubscriberReference> subscribers = host.service->GetSubscribers();
    HLY_TimeStamp                          now;
    HLY_System::GetCurrentTimeStamp(now);
    CVD_EventSubscriberReference within = *subscribers.GetItem(0), beyond = *subscribers.GetItem(1);
    within->SetExpirationTime(now - HLY_TimeInterval(29.0));
    beyond->SetExpirationTime(now - HLY_TimeInterval(30.0));
    host.service->SetStateVariable("Direct", "9");
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 3; }));
    HLY_System::Sleep(HLY_TimeInterval(0.3));
    EXPECT_EQ(3u, sink.Count());
    EXPECT_EQ(S(within->GetSID()), sink.At(2).sid);
    HLY_List<CVD_EventSubscriberReference> left = host.service->GetSubscribers();
    ASSERT_EQ(1u, left.GetItemCount());
    EXPECT_EQ(within, *left.GetFirstItem());
}

namespace {

HLY_HttpRequest* ParseRequest(const std::string& text)
{
    HLY_InputStreamReference         source(new HLY_MemoryStream(text.data(), text.size()));
    HLY_BufferedInputStreamReference buffered(new HLY_BufferedInputStream(source));
    HLY_HttpRequest*                 request = nullptr;
    if (HLY_FAILED(HLY_HttpRequest::Parse(*buffered, nullptr, request))) return nullptr;
    HLY_HttpEntity* entity = new HLY_HttpEntity(request->GetHeaders());
    HLY_String      body(text.c_str() + text.find("\r\n\r\n") + 4);
    entity->SetInputStream(body);
    request->SetEntity(entity);
    return request;
}

std::string Notify(const std::string& headers, const std::string& body = "<e:propertyset/>")
{
    return "NOTIFY /dev/urn:upnp-org:serviceId:AVTransport HTTP/1.1\r\nHOST: 127.0.0.1:4000\r\n" + headers +
           "CONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST(Gena, ReceivedNotifications)
{
    const std::string good = "NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: uuid:s\r\n";
    const struct {
        const char* what;
        std::string text;
        int         status;
        HLY_UInt32  seq;
    } cases[] = {
        {"complete", Notify(good + "SEQ: 7\r\n"), 200, 7},
        {"without SEQ", Notify(good), 200, 0},
        {"upper-case values", Notify("NT: UPNP:EVENT\r\nNTS: UPNP:PROPCHANGE\r\nSID: uuid:s\r\nSEQ: 1\r\n"), 200, 1},
        {"without SID", Notify("NT: upnp:event\r\nNTS: upnp:propchange\r\n"), 412, 0},
        {"without NTS", Notify("NT: upnp:event\r\nSID: uuid:s\r\n"), 400, 0},
        {"wrong NT", Notify("NT: upnp:other\r\nNTS: upnp:propchange\r\nSID: uuid:s\r\n"), 412, 0},
        {"SEQ beyond 32 bits", Notify(good + "SEQ: 4294967296\r\n"), 412, 0},
    };
    for (const auto& c : cases) {
        std::unique_ptr<HLY_HttpRequest> request(ParseRequest(c.text));
        ASSERT_NE(nullptr, request) << c.what;
        HLY_HttpResponse                       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
        HLY_HttpRequestContext                 context;
        std::unique_ptr<CVD_EventNotification> notification(CVD_EventNotification::Parse(*request, context, response));
        EXPECT_EQ(c.status, response.GetStatusCode()) << c.what;
        EXPECT_EQ(c.status == 200, notification != nullptr) << c.what;
        if (notification) {
            EXPECT_EQ(c.seq, notification->m_EventKey) << c.what;
            EXPECT_EQ("<e:propertyset/>", S(notification->m_XmlBody));
            EXPECT_EQ("/dev/urn:upnp-org:serviceId:AVTransport", S(notification->m_RequestUrl.GetPath()));
        }
    }

    // the NOTIFY gmediarender sent, down to the values of its LastChange
    std::string capture = ReadSample("gmediarender", "gena-AVTransport.txt");
    size_t      start   = capture.find("NOTIFY /event-sink");
    ASSERT_NE(std::string::npos, start);
    std::string text = capture.substr(start);
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
        if (at == 0 || text[at - 1] != '\r') text.insert(at, "\r");
    }
    std::unique_ptr<HLY_HttpRequest> request(ParseRequest(text));
    ASSERT_NE(nullptr, request);
    HLY_HttpResponse                       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpRequestContext                 context;
    std::unique_ptr<CVD_EventNotification> notification(CVD_EventNotification::Parse(*request, context, response));
    ASSERT_NE(nullptr, notification);
    EXPECT_EQ("uuid:24711636-f17a-11f1-bfc2-9a8ed057363e", S(notification->m_SID));
    EXPECT_EQ(0u, notification->m_EventKey);
    HLY_XmlElementNode* tree = nullptr;
    ASSERT_EQ(HLY_SUCCESS, CVD_XmlHelper::Parse(notification->m_XmlBody, notification->m_XmlBody.GetLength(), tree));
    HLY_String last_change;
    CVD_XmlHelper::GetChildText(CVD_XmlHelper::GetChild(tree, "property"), "LastChange", last_change, nullptr, 0);
    delete tree;
    HLY_Array<CVD_LastChangeEntry> entries;
    ASSERT_EQ(HLY_SUCCESS, CVD_Service::DecomposeLastChange(last_change, entries));
    bool found = false;
    for (HLY_Ordinal i = 0; i < entries.GetItemCount(); i++) {
        if (entries[i].m_Name == "TransportState") {
            EXPECT_EQ("STOPPED", S(entries[i].m_Value));
            found = true;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_GT(entries.GetItemCount(), 10u);
}

TEST(Gena, ControlPointRequests)
{
    Host             host;
    HLY_HttpRequest* request = nullptr;
    ASSERT_EQ(HLY_SUCCESS, CVD_EventSubscriber::CreateSubscribeRequest(*host.service, "http://10.0.0.2:1500/dev/id",
                                                                       1800, request));
    std::unique_ptr<HLY_HttpRequest> subscribe(request);
    EXPECT_EQ("SUBSCRIBE", S(request->GetMethod()));
    EXPECT_EQ("http://127.0.0.1:9/RCS/dev/event.xml", S(request->GetUrl().ToString()));
    EXPECT_EQ("<http://10.0.0.2:1500/dev/id>", S(*CVD_EventHeaders::GetCallbacks(*request)));
    EXPECT_EQ("Second-1800", S(*request->GetHeaders().GetHeaderValue("TIMEOUT")));
    EXPECT_EQ("upnp:event", S(*CVD_EventHeaders::GetNT(*request)));

    ASSERT_EQ(HLY_SUCCESS, CVD_EventSubscriber::CreateRenewRequest(*host.service, "uuid:s", 1800, request));
    std::unique_ptr<HLY_HttpRequest> renew(request);
    EXPECT_EQ(nullptr, CVD_EventHeaders::GetNT(*request));
    EXPECT_EQ(nullptr, CVD_EventHeaders::GetCallbacks(*request));
    EXPECT_EQ("uuid:s", S(*CVD_EventHeaders::GetSID(*request)));

    ASSERT_EQ(HLY_SUCCESS, CVD_EventSubscriber::CreateUnsubscribeRequest(*host.service, "uuid:s", request));
    std::unique_ptr<HLY_HttpRequest> cancel(request);
    EXPECT_EQ("UNSUBSCRIBE", S(request->GetMethod()));

    CVD_Service quiet(host.device.AsPointer(), "urn:x:service:Q:1", "q", "Q");
    quiet.SetSCPDXML("<scpd><serviceStateTable><stateVariable sendEvents=\"no\"><name>V</name><dataType>ui4</dataType>"
                     "</stateVariable></serviceStateTable></scpd>");
    EXPECT_EQ(HLY_FAILURE, CVD_EventSubscriber::CreateSubscribeRequest(quiet, "http://10.0.0.2/", 1800, request));
}

TEST(Gena, ModeratedVariablesArePublishedAtMostOncePerRate)
{
    Host host;
    Sink sink;
    ASSERT_EQ(HLY_SUCCESS, host.service->SetStateVariableRate("Direct", HLY_TimeInterval(1.0)));
    ASSERT_EQ(200, host.Request("SUBSCRIBE", {{"NT", "upnp:event"}, {"CALLBACK", sink.Callback()}}).status);
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 1; }));

    // three changes within a second: one publication now, one with the latest value a second later
    for (const char* value : {"20", "21", "22"}) {
        host.service->SetStateVariable("Direct", value);
        HLY_System::Sleep(HLY_TimeInterval(0.15));
    }
    ASSERT_TRUE(Eventually([&] { return sink.Count() == 3; }, 3000));
    HLY_System::Sleep(HLY_TimeInterval(0.3));
    EXPECT_EQ(3u, sink.Count());
    EXPECT_NE(std::string::npos, sink.At(1).body.find("<Direct>20</Direct>"));
    EXPECT_NE(std::string::npos, sink.At(2).body.find("<Direct>22</Direct>"));
}
