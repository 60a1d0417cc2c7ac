#ifndef TESTS_HTTP_TEST_HANDLERS_H
#define TESTS_HTTP_TEST_HANDLERS_H

// Request handlers made from lambdas, and the runtime server on loopback,
// for the tests that need a server.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "hlyhttpserver.h"

// a Range header and what a file of 1000 bytes answers to it
struct RangeCase {
    const char* range;
    int         status;
    const char* content_range; // null: none
    size_t      start, length; // of the body
};

class FunctionHandler : public HLY_HttpRequestHandler
{
public:
    typedef std::function<HLY_Result(HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse&)> Function;
    explicit FunctionHandler(Function function) : m_Function(std::move(function)) {}
    HLY_Result SetupResponse(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                             HLY_HttpResponse& response) override
    {
        return m_Function(request, context, response);
    }

private:
    Function m_Function;
};

// a handler that answers with a fixed text, to tell handlers apart
inline FunctionHandler* TextHandler(const char* text)
{
    std::string body(text);
    return new FunctionHandler([body](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
        response.GetEntity()->SetInputStream(body.c_str());
        response.GetEntity()->SetContentType("text/plain");
        return HLY_SUCCESS;
    });
}

// the runtime server's loop on a thread of its own, on loopback
class LoopServer
{
public:
    explicit LoopServer(HLY_Timeout io_timeout = 5000)
    {
        HLY_HttpServer::Config config;
        config.m_ListenAddress = HLY_IpAddress::Loopback;
        config.m_ListenPort    = 0;
        config.m_IoTimeout     = io_timeout;
        m_Server.SetConfig(config);
        EXPECT_EQ(m_Server.Bind(), HLY_SUCCESS);
    }
    ~LoopServer() { Stop(); }
    void Start()
    {
        m_Thread = std::thread([this] { m_Result = m_Server.Loop(); });
    }
    void Stop()
    {
        if (!m_Thread.joinable()) return;
        m_Server.Abort();
        m_Thread.join();
    }
    unsigned int Port() const { return m_Server.GetPort(); }
    HLY_HttpServer& Server() { return m_Server; }

    HLY_HttpServer          m_Server{0};
    std::thread             m_Thread;
    std::atomic<HLY_Result> m_Result{HLY_SUCCESS};
};

#endif // TESTS_HTTP_TEST_HANDLERS_H
