#ifndef CVD_HTTP_CLIENT_TASK_H
#define CVD_HTTP_CLIENT_TASK_H

#include "CvdThreadTask.h"
#include "hlyhttp.h"
#include "hlyqueue.h"

/*----------------------------------------------------------------------
|   CVD_HttpClientSocketTask: sends a queue of requests, one after the
|   other, and hands each response to ProcessResponse. Without wait
|   forever it ends once the queue is empty; with it, once stopped.
+---------------------------------------------------------------------*/
class CVD_HttpClientSocketTask : public CVD_ThreadTask
{
public:
    // takes ownership of the request, if any
    explicit CVD_HttpClientSocketTask(HLY_HttpRequest* request = nullptr, bool wait_forever = false);
    ~CVD_HttpClientSocketTask() override;

    // takes ownership of the request; from any thread
    virtual HLY_Result AddRequest(HLY_HttpRequest* request);
    // replaces the client's whole configuration
    virtual HLY_Result SetHttpClientConfig(const HLY_HttpClient::Config& config);

protected:
    void DoAbort() override;
    void DoRun() override;

    // the default reads the body to its end so that the connection can be reused
    virtual HLY_Result ProcessResponse(HLY_Result                    res,
                                       const HLY_HttpRequest&        request,
                                       const HLY_HttpRequestContext& context,
                                       HLY_HttpResponse*             response);

    HLY_HttpClient              m_Client;
    bool                        m_WaitForever;
    HLY_Queue<HLY_HttpRequest>  m_Requests;
};

#endif // CVD_HTTP_CLIENT_TASK_H
