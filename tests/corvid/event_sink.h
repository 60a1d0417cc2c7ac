#ifndef TESTS_EVENT_SINK_H
#define TESTS_EVENT_SINK_H

// A control point's event server that keeps every NOTIFY it is sent.

#include <mutex>
#include <string>
#include <vector>

#include "CvdEvent.h"
#include "CvdHttp.h"
#include "CvdHttpServer.h"
#include "../halyard/http_test_handlers.h"

class EventSinkServer
{
public:
    struct Notify {
        std::string sid, seq, body;
    };
    // host: the address callbacks name
    explicit EventSinkServer(std::string host) : m_Host(std::move(host)), m_Server(HLY_IpAddress::Any, 0, false, 40, false)
    {
        m_Server.AddRequestHandler(
            new FunctionHandler([this](HLY_HttpRequest& request, const HLY_HttpRequestContext&, HLY_HttpResponse&) {
                Notify n;
                if (auto* sid = CVD_EventHeaders::GetSID(request)) n.sid = sid->GetChars();
                if (auto* seq = request.GetHeaders().GetHeaderValue("SEQ")) n.seq = seq->GetChars();
                HLY_String body;
                CVD_HttpHelper::GetBody(request, body);
                n.body.assign(body.GetChars(), body.GetLength());
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Received.push_back(n);
                return HLY_SUCCESS;
            }),
            "/", true, true);
        m_Started = m_Server.Start();
    }
    HLY_Result  Started() const { return m_Started; }
    std::string Callback(const std::string& path = "/sink")
    {
        return "<http://" + m_Host + ":" + std::to_string(m_Server.GetPort()) + path + ">";
    }
    std::vector<Notify> For(const std::string& sid)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<Notify>         result;
        for (const Notify& n : m_Received) {
            if (n.sid == sid) result.push_back(n);
        }
        return result;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Received.size();
    }
    Notify At(size_t i)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Received.at(i);
    }

private:
    std::string         m_Host;
    std::mutex          m_Lock;
    std::vector<Notify> m_Received;
    CVD_HttpServer      m_Server;
    HLY_Result          m_Started = HLY_FAILURE;
};

#endif // TESTS_EVENT_SINK_H
