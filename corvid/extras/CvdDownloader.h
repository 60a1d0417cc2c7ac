#ifndef CVD_DOWNLOADER_H
#define CVD_DOWNLOADER_H

#include <atomic>

#include "CvdHttpClientTask.h"
#include "hlystreams.h"
#include "hlyurls.h"

/*----------------------------------------------------------------------
|   CVD_Downloader: one GET, its body copied into the owner's stream
+---------------------------------------------------------------------*/
class CVD_Downloader : public CVD_HttpClientSocketTask
{
public:
    enum State
    {
        CVD_DOWNLOADER_IDLE    = 0,
        CVD_DOWNLOADER_RUNNING = 1,
        CVD_DOWNLOADER_READING = 2,
        CVD_DOWNLOADER_ERROR   = 3,
        CVD_DOWNLOADER_DONE    = 4
    };

    CVD_Downloader(const HLY_HttpUrl& url, HLY_OutputStreamReference& output);
    ~CVD_Downloader() override;

    State GetState() const { return (State)m_State.load(); }
    // bytes written to the output stream so far
    HLY_LargeSize GetBytesWritten() const { return m_BytesWritten.load(); }

protected:
    void DoAbort() override;
    void DoRun() override;
    HLY_Result ProcessResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                               HLY_HttpResponse* response) override;

private:
    HLY_HttpUrl                 m_Url;
    HLY_OutputStreamReference   m_Output;
    std::atomic<int>            m_State;
    std::atomic<HLY_LargeSize>  m_BytesWritten;
};

#endif // CVD_DOWNLOADER_H
