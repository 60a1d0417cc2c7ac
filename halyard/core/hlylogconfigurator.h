#ifndef HLY_LOG_CONFIGURATOR_H
#define HLY_LOG_CONFIGURATOR_H

#include "hlyhttpserver.h"
#include "hlythreads.h"

/*----------------------------------------------------------------------
|   HLY_HttpLoggerConfigurator: a small HTTP page, asked for with an
|   "http:port=N" logging source, that shows the logging configuration
|   and every logger with its level and handlers
+---------------------------------------------------------------------*/
class HLY_HttpLoggerConfigurator : public HLY_HttpRequestHandler, public HLY_Thread
{
public:
    explicit HLY_HttpLoggerConfigurator(HLY_UInt16 port);
    ~HLY_HttpLoggerConfigurator() override;

    // binds the port and starts serving on a thread of its own
    HLY_Result Start() override;
    HLY_UInt16 GetPort() { return m_Server.GetPort(); }

    // the page: GET only
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;
    // the page's text, as it stands now
    static HLY_String FormatPage();

private:
    void Run() override;

    HLY_HttpServer m_Server;
    bool           m_Started;
};

#endif // HLY_LOG_CONFIGURATOR_H
