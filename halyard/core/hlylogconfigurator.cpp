#include "hlylogconfigurator.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("halyard.logging.configurator")

// names and values come from the configuration and may hold markup
static void HLY_AppendEscaped(HLY_String& page, const char* text)
{
    for (; *text; ++text) {
        switch (*text) {
            case '<': page += "&lt;"; break;
            case '>': page += "&gt;"; break;
            case '&': page += "&amp;"; break;
            default: page += *text; break;
        }
    }
}

HLY_HttpLoggerConfigurator::HLY_HttpLoggerConfigurator(HLY_UInt16 port)
    : m_Server(port, true), m_Started(false)
{
    m_Server.AddRequestHandler(this, "/", true, false);
}

HLY_HttpLoggerConfigurator::~HLY_HttpLoggerConfigurator()
{
    // the thread runs this object's Run: it must end before the object goes
    if (m_Started) {
        m_Server.Abort();
        Wait();
    }
}

HLY_Result HLY_HttpLoggerConfigurator::Start()
{
    if (m_Started) return HLY_ERROR_INVALID_STATE;
    HLY_CHECK_WARNING(m_Server.Bind());
    HLY_CHECK_WARNING(HLY_Thread::Start());
    m_Started = true;
    return HLY_SUCCESS;
}

void HLY_HttpLoggerConfigurator::Run()
{
    // Loop returns on a failure it cannot serve through, or once aborted
    while (HLY_SUCCEEDED(m_Server.Loop())) {
    }
}

HLY_String HLY_HttpLoggerConfigurator::FormatPage()
{
    HLY_LogManager& manager = HLY_LogManager::GetDefault();
    HLY_String      page;
    manager.Lock();
    page += "<ul>";
    for (auto it = manager.GetConfig().GetFirstItem(); it; ++it) {
        page += "<li>";
        HLY_AppendEscaped(page, it->m_Key);
        page += "=";
        HLY_AppendEscaped(page, it->m_Value);
        page += "</li>";
    }
    page += "</ul><ul>";
    for (auto it = manager.GetLoggers().GetFirstItem(); it; ++it) {
        page += "<li>";
        HLY_AppendEscaped(page, (*it)->GetName());
        page += ", level=";
        page += HLY_String::FromInteger((*it)->GetLevel());
        page += ", handlers=";
        HLY_AppendEscaped(page, (*it)->GetHandlerNames());
        page += "</li>";
    }
    page += "</ul>";
    manager.Unlock();
    return page;
}

HLY_Result HLY_HttpLoggerConfigurator::SetupResponse(HLY_HttpRequest& request,
                                                     const HLY_HttpRequestContext& /*context*/,
                                                     HLY_HttpResponse& response)
{
    if (request.GetMethod() != "GET") return HLY_ERROR_HTTP_METHOD_NOT_SUPPORTED;
    HLY_HttpEntity* entity = response.GetEntity();
    if (entity == nullptr) return HLY_ERROR_INVALID_STATE;
    entity->SetContentType("text/html");
    return entity->SetInputStream(FormatPage());
}
