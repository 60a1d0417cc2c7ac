#ifndef TESTS_HTTP_TEST_HANDLERS_H
#define TESTS_HTTP_TEST_HANDLERS_H

// Request handlers made from lambdas, for the server tests.

#include <functional>
#include <string>
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

#endif // TESTS_HTTP_TEST_HANDLERS_H
