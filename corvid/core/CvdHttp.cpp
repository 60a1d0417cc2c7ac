#include "CvdHttp.h"
#include "CvdDeviceData.h"
#include "hlystreams.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.http")

namespace {

bool Contains(const HLY_String* text, const char* what)
{
    return text && text->Find(what, 0, true) >= 0;
}

HLY_String FormatHeaders(const HLY_HttpHeaders& headers)
{
    HLY_String text;
    for (HLY_List<HLY_HttpHeader*>::Iterator it = headers.GetHeaders().GetFirstItem(); it; ++it) {
        text += (*it)->GetName();
        text += ": ";
        text += (*it)->GetValue();
        text += "\r\n";
    }
    return text;
}

bool IsEnabled(HLY_LoggerReference& logger, int level)
{
    HLY_Logger* instance = logger.Get();
    return instance && level >= instance->GetLevel();
}

} // namespace

bool CVD_HttpHelper::IsConnectionKeepAlive(const HLY_HttpMessage& message)
{
    if (message.GetProtocol().Compare(HLY_HTTP_PROTOCOL_1_0, true) == 0) return false;
    const HLY_String* connection = message.GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_CONNECTION);
    return connection == nullptr || connection->Compare("keep-alive", true) == 0;
}

bool CVD_HttpHelper::IsBodyStreamSeekable(const HLY_HttpMessage& message)
{
    HLY_HttpEntity* entity = message.GetEntity();
    if (entity == nullptr) return true;
    HLY_InputStreamReference stream;
    if (HLY_FAILED(entity->GetInputStream(stream))) return true;
    if (stream.IsNull()) return false;
    HLY_Position position = 0;
    return HLY_SUCCEEDED(stream->Tell(position)) && HLY_SUCCEEDED(stream->Seek(position));
}

HLY_Result CVD_HttpHelper::GetBody(const HLY_HttpMessage& message, HLY_String& body)
{
    body.SetLength(0);
    HLY_HttpEntity* entity = message.GetEntity();
    if (entity == nullptr) return HLY_FAILURE;
    HLY_InputStreamReference stream;
    if (HLY_FAILED(entity->GetInputStream(stream)) || stream.IsNull()) return HLY_FAILURE;

    HLY_StringOutputStream output(&body);
    return HLY_StreamToStreamCopy(*stream, output, 0, entity->GetContentLength());
}

HLY_Result CVD_HttpHelper::ParseBody(const HLY_HttpMessage& message, HLY_XmlElementNode*& tree)
{
    tree = nullptr;
    HLY_String body;
    HLY_CHECK_WARNING(GetBody(message, body));
    return CVD_XmlHelper::Parse(body.GetChars(), body.GetLength(), tree);
}

HLY_Result CVD_HttpHelper::GetHost(const HLY_HttpRequest& request, HLY_String& host)
{
    host.SetLength(0);
    const HLY_String* value = request.GetHeaders().GetHeaderValue(HLY_HTTP_HEADER_HOST);
    if (value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    host = *value;
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpHelper::SetHost(HLY_HttpRequest& request, const char* host)
{
    return request.GetHeaders().SetHeader(HLY_HTTP_HEADER_HOST, host);
}

HLY_String CVD_HttpHelper::Base64Encode(const void* data, HLY_Size size)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const HLY_Byte*   bytes      = static_cast<const HLY_Byte*>(data);
    HLY_String        encoded;
    encoded.Reserve(((size + 2) / 3) * 4);
    HLY_Size i = 0;
    for (; i + 2 < size; i += 3) {
        HLY_UInt32 triple = ((HLY_UInt32)bytes[i] << 16) | ((HLY_UInt32)bytes[i + 1] << 8) | bytes[i + 2];
        encoded += alphabet[(triple >> 18) & 0x3F];
        encoded += alphabet[(triple >> 12) & 0x3F];
        encoded += alphabet[(triple >> 6) & 0x3F];
        encoded += alphabet[triple & 0x3F];
    }
    if (size - i == 1) {
        HLY_UInt32 triple = (HLY_UInt32)bytes[i] << 16;
        encoded += alphabet[(triple >> 18) & 0x3F];
        encoded += alphabet[(triple >> 12) & 0x3F];
        encoded += "==";
    } else if (size - i == 2) {
        HLY_UInt32 triple = ((HLY_UInt32)bytes[i] << 16) | ((HLY_UInt32)bytes[i + 1] << 8);
        encoded += alphabet[(triple >> 18) & 0x3F];
        encoded += alphabet[(triple >> 12) & 0x3F];
        encoded += alphabet[(triple >> 6) & 0x3F];
        encoded += '=';
    }
    return encoded;
}

HLY_Result CVD_HttpHelper::SetBasicAuthorization(HLY_HttpRequest& request, const char* username, const char* password)
{
    HLY_String credentials(username);
    credentials += ":";
    credentials += password;
    HLY_String value("Basic ");
    value += Base64Encode(credentials.GetChars(), credentials.GetLength());
    return request.GetHeaders().SetHeader("Authorization", value);
}

CVD_DeviceSignature CVD_HttpHelper::GetDeviceSignature(const HLY_HttpRequest& request)
{
    const HLY_HttpHeaders& headers     = request.GetHeaders();
    const HLY_String*      user_agent  = headers.GetHeaderValue(HLY_HTTP_HEADER_USER_AGENT);
    const HLY_String*      server      = headers.GetHeaderValue("Server");
    const HLY_String*      client_info = headers.GetHeaderValue("X-AV-Client-Info");

    if (Contains(user_agent, "XBox") || Contains(user_agent, "Xenon")) return CVD_DEVICE_XBOX;
    if (Contains(server, "Xbox")) return CVD_DEVICE_XBOX;
    if (Contains(user_agent, "Windows Media Player") || Contains(user_agent, "Windows-Media-Player") ||
        Contains(user_agent, "Mozilla/4.0") || Contains(user_agent, "WMFSDK")) {
        return CVD_DEVICE_WMP;
    }
    if (Contains(user_agent, "Sonos")) return CVD_DEVICE_SONOS;
    if (Contains(user_agent, "PLAYSTATION 3") || Contains(client_info, "PLAYSTATION 3")) return CVD_DEVICE_PS3;
    if (Contains(user_agent, "Windows")) return CVD_DEVICE_WINDOWS;
    if (Contains(user_agent, "Mac") || Contains(user_agent, "OS X") || Contains(user_agent, "OSX")) {
        return CVD_DEVICE_MAC;
    }
    if (Contains(user_agent, "VLC") || Contains(user_agent, "VideoLan")) return CVD_DEVICE_VLC;

    HLY_LOG_FINER("Unknown device signature (ua=%s)", user_agent ? user_agent->GetChars() : "none");
    return CVD_DEVICE_UNKNOWN;
}

HLY_Result CVD_HttpHelper::ToLog(HLY_LoggerReference& logger, int level, const char* prefix,
                                 const HLY_HttpRequest* request)
{
    if (request == nullptr) {
        HLY_LOG_L(logger, level, "NULL HTTP Request!");
        return HLY_FAILURE;
    }
    if (!IsEnabled(logger, level)) return HLY_SUCCESS;
    HLY_LOG_L(logger, level, "%s\n%s %s %s\n%s", prefix ? prefix : "", request->GetMethod().GetChars(),
              request->GetUrl().ToString().GetChars(), request->GetProtocol().GetChars(),
              FormatHeaders(request->GetHeaders()).GetChars());
    return HLY_SUCCESS;
}

HLY_Result CVD_HttpHelper::ToLog(HLY_LoggerReference& logger, int level, const char* prefix,
                                 const HLY_HttpResponse* response)
{
    if (response == nullptr) {
        HLY_LOG_L(logger, level, "NULL HTTP Response!");
        return HLY_FAILURE;
    }
    if (!IsEnabled(logger, level)) return HLY_SUCCESS;
    HLY_LOG_L(logger, level, "%s\n%s %d %s\n%s", prefix ? prefix : "", response->GetProtocol().GetChars(),
              (int)response->GetStatusCode(), response->GetReasonPhrase().GetChars(),
              FormatHeaders(response->GetHeaders()).GetChars());
    return HLY_SUCCESS;
}
