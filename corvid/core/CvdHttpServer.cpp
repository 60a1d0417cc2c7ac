#include "CvdHttp.h"
#include "CvdHttpServer.h"
#include "CvdHttpServerTask.h"
#include "hlydates.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.http.server")

CVD_HttpServer::CVD_HttpServer(HLY_IpAddress address,
                               HLY_UInt16    port,
                               bool          allow_random_port_on_bind_failure,
                               HLY_Cardinal  max_clients,
                               bool          reuse_address)
    : HLY_HttpServer(port, reuse_address), m_TaskManager(new CVD_TaskManager(max_clients)), m_Address(address),
      m_Port(port), m_AllowRandomPortOnBindFailure(allow_random_port_on_bind_failure), m_ReuseAddress(reuse_address),
      m_Running(false), m_Aborted(false)
{
}

CVD_HttpServer::~CVD_HttpServer()
{
    if (m_Running && !m_Aborted) Stop();
}

HLY_Result CVD_HttpServer::Start()
{
    if (m_Running || m_Aborted) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);

    HLY_Result res = HLY_FAILURE;
    if (m_Port) {
        res = BindListenPort(m_Port, m_ReuseAddress);
        if (HLY_FAILED(res) && !m_AllowRandomPortOnBindFailure) HLY_CHECK_SEVERE(res);
    }
    if (m_Port == 0 || HLY_FAILED(res)) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            HLY_UInt16 port = (HLY_UInt16)(1024 + (HLY_System::GetRandomInteger() % 1024));
            res             = BindListenPort(port, m_ReuseAddress);
            if (HLY_SUCCEEDED(res)) break;
        }
        if (HLY_FAILED(res)) HLY_CHECK_SEVERE(HLY_FAILURE);
    }
    m_Port = HLY_HttpServer::GetPort();

    // listen now, so that no client is refused before the listen task waits
    HLY_Cardinal max_tasks = m_TaskManager->GetMaxTasks();
    HLY_CHECK_SEVERE(m_Socket.Listen(max_tasks > 20 ? max_tasks : 20));

    CVD_HttpListenTask* task = new CVD_HttpListenTask(m_TaskManager.AsPointer(), this, &m_Socket, false);
    task->SetReadTimeout(m_Config.m_IoTimeout);
    HLY_CHECK_SEVERE(m_TaskManager->StartTask(task));

    HLY_LOG_INFO("HttpServer listening on %s:%d", m_Address.ToString().GetChars(), (int)m_Port);
    m_Running = true;
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpServer::Stop()
{
    if (!m_Running || m_Aborted) HLY_CHECK_WARNING(HLY_ERROR_INVALID_STATE);
    // cancels the listen task and every connection task, and waits for them
    m_TaskManager->StopAllTasks();
    m_Running = false;
    m_Aborted = true;
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpServer::SetupResponse(HLY_HttpRequest&              request,
                                         const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse&             response)
{
    HLY_Logger* logger = _HLY_LocalLogger.Get();
    if (logger && HLY_LOG_LEVEL_FINE >= logger->GetLevel()) {
        HLY_String prefix = HLY_String::Format("CVD_HttpServer::SetupResponse %s request from %s for \"%s\"",
                                               request.GetMethod().GetChars(),
                                               context.GetRemoteAddress().ToString().GetChars(),
                                               request.GetUrl().ToString().GetChars());
        CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINE, prefix, &request);
    }

    HLY_List<HLY_HttpRequestHandler*> handlers = FindRequestHandlers(request);
    if (handlers.GetItemCount() == 0) return HLY_ERROR_NO_SUCH_ITEM;

    HLY_Result result = (*handlers.GetFirstItem())->SetupResponse(request, context, response);

    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    response.GetHeaders().SetHeader("Date", HLY_DateTime(now).ToString(HLY_DateTime::FORMAT_RFC_1123));
    if (request.GetHeaders().GetHeader("Accept-Language")) {
        response.GetHeaders().SetHeader("Content-Language", "en");
    }
    return result;
}
