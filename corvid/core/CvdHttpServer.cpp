#include <cstring>

#include "CvdHttp.h"
#include "CvdHttpServer.h"
#include "CvdHttpServerTask.h"
#include "CvdProtocolInfo.h"
#include "hlydates.h"
#include "hlyfile.h"
#include "hlyurls.h"
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

/*----------------------------------------------------------------------
|   serving files and streams
+---------------------------------------------------------------------*/
HLY_Result CVD_HttpServer::ResolveFilePath(const char* root, const char* url_path, HLY_String& file_path)
{
    file_path.SetLength(0);
    if (root == nullptr || url_path == nullptr) return HLY_ERROR_INVALID_PARAMETERS;

    // Encoded dots, slashes, backslashes and NULs have no business in a
    // media path; refusing them outright means no later decoding step can
    // turn them into a way out.
    HLY_String raw(url_path);
    for (int percent = raw.Find('%'); percent >= 0; percent = raw.Find('%', (HLY_Ordinal)percent + 1)) {
        HLY_String code = raw.SubString((HLY_Ordinal)percent + 1, 2).ToLowercase();
        if (code == "2e" || code == "2f" || code == "5c" || code == "00") {
            HLY_LOG_WARNING("refusing encoded path: %s", url_path);
            return HLY_ERROR_PERMISSION_DENIED;
        }
    }
    HLY_String relative = HLY_Uri::PercentDecode(url_path);
    if (!HLY_HttpIsContainedPath(relative)) {
        HLY_LOG_WARNING("refusing path outside the file root: %s", url_path);
        return HLY_ERROR_PERMISSION_DENIED;
    }
    relative.TrimLeft('/');

    // no symbolic link on the way down: it could lead anywhere
    HLY_String path(root);
    path.TrimRight('/');
    HLY_List<HLY_String> segments = relative.Split("/");
    for (HLY_List<HLY_String>::Iterator segment = segments.GetFirstItem(); segment; ++segment) {
        if (segment->IsEmpty() || *segment == ".") continue;
        path += "/";
        path += *segment;
        HLY_FileInfo info;
        if (HLY_FAILED(HLY_File::GetInfo(path, &info))) break; // nothing there: the caller's open fails
        if (info.m_Attributes & HLY_FILE_ATTRIBUTE_LINK) {
            HLY_LOG_WARNING("refusing symbolic link below the file root: %s", path.GetChars());
            return HLY_ERROR_PERMISSION_DENIED;
        }
    }
    file_path = HLY_String(root);
    file_path.TrimRight('/');
    file_path += "/";
    file_path += relative;
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpServer::ServeFile(const HLY_HttpRequest&        request,
                                     const HLY_HttpRequestContext& context,
                                     HLY_HttpResponse&             response,
                                     const HLY_String&             file_path)
{
    // "/.." and "\.." climb out of wherever the caller meant to serve from;
    // a NUL would make the file system see a shorter name than was checked
    if (!HLY_HttpIsContainedPath(file_path)) return HLY_ERROR_NO_SUCH_ITEM;

    HLY_FileInfo info;
    if (HLY_FAILED(HLY_File::GetInfo(file_path, &info))) return HLY_ERROR_NO_SUCH_ITEM;
    // a directory has no body; a pipe or a device could hold the connection forever
    if (info.m_Type != HLY_FileInfo::FILE_TYPE_REGULAR) return HLY_ERROR_NO_SUCH_ITEM;

    const HLY_String* since = request.GetHeaders().GetHeaderValue("If-Modified-Since");
    if (since && request.GetHeaders().GetHeader("Range") == nullptr) {
        HLY_DateTime date;
        if (HLY_SUCCEEDED(date.FromString(*since, HLY_DateTime::FORMAT_RFC_1123)) ||
            HLY_SUCCEEDED(date.FromString(*since, HLY_DateTime::FORMAT_RFC_1036)) ||
            HLY_SUCCEEDED(date.FromString(*since, HLY_DateTime::FORMAT_ANSI))) {
            HLY_TimeStamp requested;
            date.ToTimeStamp(requested);
            HLY_LOG_INFO("File %s timestamps: request=%d (%s) vs file=%d (%s)", file_path.GetChars(),
                         (int)requested.ToSeconds(), date.ToString(HLY_DateTime::FORMAT_RFC_1123).GetChars(),
                         (int)info.m_ModificationTime.ToSeconds(),
                         HLY_DateTime(info.m_ModificationTime).ToString(HLY_DateTime::FORMAT_RFC_1123).GetChars());
            // the header has whole seconds only
            if (requested.ToSeconds() >= info.m_ModificationTime.ToSeconds()) {
                HLY_LOG_FINE("Returning 304 for %s", file_path.GetChars());
                response.SetStatus(304, "Not Modified");
                response.SetProtocol(HLY_HTTP_PROTOCOL_1_1);
                response.SetEntity(nullptr);
                return HLY_SUCCESS;
            }
        }
    }

    HLY_File                 file(file_path);
    HLY_InputStreamReference stream;
    if (HLY_FAILED(file.Open(HLY_FILE_OPEN_MODE_READ)) || HLY_FAILED(file.GetInputStream(stream)) ||
        stream.IsNull()) {
        return HLY_ERROR_NO_SUCH_ITEM;
    }
    if (info.m_ModificationTime.ToNanos() != 0) {
        response.GetHeaders().SetHeader(
            "Last-Modified", HLY_DateTime(info.m_ModificationTime).ToString(HLY_DateTime::FORMAT_RFC_1123));
        response.GetHeaders().SetHeader("Cache-Control", "max-age=0,must-revalidate");
    }
    return ServeStream(request, context, response, stream,
                       CVD_ProtocolInfo::GetMimeType(file_path, &request));
}

HLY_Result CVD_HttpServer::ServeStream(const HLY_HttpRequest& request,
                                       const HLY_HttpRequestContext& /*context*/,
                                       HLY_HttpResponse&         response,
                                       HLY_InputStreamReference& stream,
                                       const char*               content_type)
{
    if (stream.IsNull()) return HLY_FAILURE;
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    response.GetHeaders().SetHeader("Date", HLY_DateTime(now).ToString(HLY_DateTime::FORMAT_RFC_1123));

    HLY_HttpEntity* entity = response.GetEntity();
    HLY_CHECK_POINTER_FATAL(entity);
    entity->SetContentType(content_type);
    HLY_CHECK(HLY_HttpFileRequestHandler::SetupResponseBody(response, stream,
                                                            request.GetHeaders().GetHeaderValue("Range")));

    if (entity->GetTransferEncoding() != HLY_HTTP_TRANSFER_ENCODING_CHUNKED) {
        HLY_Position position = 0;
        if (HLY_SUCCEEDED(stream->Tell(position)) && HLY_SUCCEEDED(stream->Seek(position))) {
            response.GetHeaders().SetHeader("Accept-Ranges", "bytes", false);
        }
    }
    if (request.GetHeaders().GetHeader("getcontentFeatures.dlna.org")) {
        const char* features = CVD_ProtocolInfo::GetDlnaExtension(content_type, &request);
        if (features && *features && strcmp(features, "*") != 0) {
            response.GetHeaders().SetHeader("ContentFeatures.DLNA.ORG", features, false);
        }
    }
    const HLY_String* mode = request.GetHeaders().GetHeaderValue("transferMode.dlna.org");
    response.GetHeaders().SetHeader("TransferMode.DLNA.ORG", mode ? mode->GetChars() : "Streaming", false);
    if (request.GetHeaders().GetHeader("TimeSeekRange.dlna.org")) response.SetStatus(406, "Not Acceptable");
    return HLY_SUCCESS;
}
