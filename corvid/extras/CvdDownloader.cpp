#include "CvdDownloader.h"
#include "hlyhttp.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.extra.downloader")

CVD_Downloader::CVD_Downloader(const HLY_HttpUrl& url, HLY_OutputStreamReference& output)
    : CVD_HttpClientSocketTask(new HLY_HttpRequest(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1)),
      m_Url(url), m_Output(output), m_State(CVD_DOWNLOADER_IDLE), m_BytesWritten(0)
{
}

CVD_Downloader::~CVD_Downloader() {}

void CVD_Downloader::DoAbort()
{
    CVD_HttpClientSocketTask::DoAbort();
    m_State = CVD_DOWNLOADER_IDLE;
}

void CVD_Downloader::DoRun()
{
    m_State = CVD_DOWNLOADER_RUNNING;
    CVD_HttpClientSocketTask::DoRun();
}

HLY_Result CVD_Downloader::ProcessResponse(HLY_Result res, const HLY_HttpRequest&, const HLY_HttpRequestContext&,
                                           HLY_HttpResponse* response)
{
    if (HLY_FAILED(res) || response == nullptr) {
        if (!HLY_FAILED(res)) res = HLY_FAILURE;
        HLY_LOG_WARNING("Downloader error %d for %s", (int)res, m_Url.ToString().GetChars());
        m_State = CVD_DOWNLOADER_ERROR;
        return res;
    }
    m_State = CVD_DOWNLOADER_READING;
    // an error page is not the file: nothing of it is written
    HLY_Int32 status = response->GetStatusCode();
    if (status < 200 || status > 299) {
        HLY_LOG_WARNING("Downloader error %d for %s", (int)status, m_Url.ToString().GetChars());
        m_State = CVD_DOWNLOADER_ERROR;
        return HLY_FAILURE;
    }
    HLY_HttpEntity*          entity = response->GetEntity();
    HLY_InputStreamReference body;
    if (entity == nullptr || HLY_FAILED(entity->GetInputStream(body)) || body.IsNull()) {
        HLY_LOG_WARNING("No body %d for %s", (int)res, m_Url.ToString().GetChars());
        m_State = CVD_DOWNLOADER_ERROR;
        return HLY_FAILURE;
    }
    // with a known length a body cut short ends in HLY_ERROR_EOS
    HLY_LargeSize written = 0;
    HLY_Result    copied  = HLY_StreamToStreamCopy(*body, *m_Output, 0, entity->GetContentLength(), &written);
    m_BytesWritten        = written;
    if (HLY_FAILED(copied)) {
        HLY_LOG_WARNING("Downloader error %d for %s", (int)copied, m_Url.ToString().GetChars());
        m_State = CVD_DOWNLOADER_ERROR;
        return copied;
    }
    HLY_LOG_INFO("Finished downloading %s", m_Url.ToString().GetChars());
    m_State = CVD_DOWNLOADER_DONE;
    return HLY_SUCCESS;
}
