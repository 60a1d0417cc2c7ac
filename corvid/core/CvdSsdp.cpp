#include <chrono>
#include <cstring>
#include <mutex>

#include "CvdConstants.h"
#include "CvdDatagramStream.h"
#include "CvdHttp.h"
#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "hlydatabuffer.h"
#include "hlydates.h"
#include "hlyhttpserver.h"
#include "hlylogging.h"
#include "hlysystem.h"

HLY_SET_LOCAL_LOGGER("corvid.core.ssdp")

// the pause after each alive or update datagram, so that a burst of
// announcements does not overrun slow receivers
#define CVD_SSDP_ANNOUNCE_PAUSE_MS 50
// a search whose socket fails waits this long before it reads again
#define CVD_SSDP_SEARCH_ERROR_PAUSE_MS 150
// drops of M-SEARCH requests this close together belong to one burst and
// are logged once
#define CVD_SSDP_DROP_BURST_QUIET_MS 1000
// attempts at a random port for a search socket
#define CVD_SSDP_SEARCH_BIND_ATTEMPTS 20

namespace {

typedef std::chrono::steady_clock Clock;

HLY_Int64 MillisSince(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// the end of the head: the byte after the empty line that follows the first
// non-empty line; 0 when the data holds no complete head
HLY_Size FindHeadEnd(const char* data, HLY_Size size)
{
    HLY_Size line_start = 0;
    bool     seen_line  = false;
    for (HLY_Size i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        HLY_Size length = i - line_start;
        if (length && data[i - 1] == '\r') --length;
        if (length == 0 && seen_line) return i + 1;
        if (length) seen_line = true;
        line_start = i + 1;
    }
    return 0;
}

// the head of one datagram, checked before any parser sees it
HLY_Result CheckDatagram(const void* data, HLY_Size size, HLY_Size& head_size)
{
    head_size = 0;
    if (data == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (size > CVD_SSDP_MAX_DATAGRAM_SIZE) return HLY_ERROR_OUT_OF_RANGE;
    head_size = FindHeadEnd((const char*)data, size);
    // a head cut short, or a datagram without one
    if (head_size == 0) return HLY_ERROR_INVALID_FORMAT;
    // a NUL would end the texts made from the head early
    if (memchr(data, '\0', head_size)) return HLY_ERROR_INVALID_FORMAT;
    return HLY_SUCCESS;
}

} // namespace

/*----------------------------------------------------------------------
|   CVD_UPnPMessageHelper
+---------------------------------------------------------------------*/
HLY_Result CVD_UPnPMessageHelper::SetLeaseTime(HLY_HttpMessage& message, const HLY_TimeInterval& lease)
{
    return Set(message, "Cache-Control", "max-age=" + HLY_String::FromInteger(lease.ToSeconds()));
}

HLY_Result CVD_UPnPMessageHelper::SetDate(HLY_HttpMessage& message)
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    return Set(message, "Date", HLY_DateTime(now).ToString(HLY_DateTime::FORMAT_RFC_1123));
}

HLY_Result CVD_UPnPMessageHelper::GetMX(const HLY_HttpMessage& message, HLY_UInt32& mx)
{
    mx                      = 0;
    const HLY_String* value = Get(message, "MX");
    if (value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return value->ToInteger(mx, true);
}

HLY_Result CVD_UPnPMessageHelper::GetLeaseTime(const HLY_HttpMessage& message, HLY_TimeInterval& lease)
{
    const HLY_String* value = Get(message, "Cache-Control");
    if (value == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    return ExtractLeaseTime(*value, lease);
}

HLY_Result CVD_UPnPMessageHelper::ExtractLeaseTime(const char* cache_control, HLY_TimeInterval& lease)
{
    static const char prefix[] = "max-age=";
    if (cache_control == nullptr) return HLY_FAILURE;
    if (HLY_String::CompareN(cache_control, prefix, sizeof(prefix) - 1, true) != 0) return HLY_FAILURE;
    HLY_Int32 seconds = 0;
    if (HLY_FAILED(HLY_String(cache_control + sizeof(prefix) - 1).ToInteger(seconds, true))) return HLY_FAILURE;
    lease = HLY_TimeInterval::FromSeconds(seconds);
    return HLY_SUCCESS;
}

HLY_Result CVD_UPnPMessageHelper::GenerateUUID(HLY_String& uuid)
{
    static const char digits[] = "0123456789abcdef";
    uuid                       = "";
    for (int i = 0; i < 32; ++i) {
        uuid += digits[HLY_System::GetRandomInteger() & 0xF];
        if (i == 7 || i == 11 || i == 15 || i == 19) uuid += '-';
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_UPnPMessageHelper::GetNetworkInterfaces(HLY_List<HLY_NetworkInterface*>& interfaces, bool with_localhost)
{
    HLY_List<HLY_NetworkInterface*> all;
    HLY_Result                      result = HLY_NetworkInterface::GetNetworkInterfaces(all);
    if (HLY_FAILED(result)) return result;

    for (int pass = 0; pass < 2 && interfaces.GetItemCount() == 0; ++pass) {
        // the second pass keeps the loopback interface of a machine without a network
        bool loopback_only = pass == 1;
        for (auto it = all.GetFirstItem(); it; ++it) {
            HLY_NetworkInterface* candidate = *it;
            if (candidate == nullptr || candidate->GetAddresses().GetItemCount() == 0) continue;
            HLY_Flags flags = candidate->GetFlags();
            // loopback carries multicast without saying so (Linux does not flag it)
            if (!(flags & (HLY_NETWORK_INTERFACE_FLAG_MULTICAST | HLY_NETWORK_INTERFACE_FLAG_LOOPBACK))) continue;
            if (flags & HLY_NETWORK_INTERFACE_FLAG_POINT_TO_POINT) continue;
            bool take;
            if (flags & HLY_NETWORK_INTERFACE_FLAG_LOOPBACK) {
                take = with_localhost || loopback_only;
            } else {
                take = !loopback_only &&
                       candidate->GetAddresses().GetFirstItem()->GetPrimaryAddress() != HLY_IpAddress::Any;
            }
            if (take) {
                interfaces.Add(candidate);
                *it = nullptr;
            }
        }
    }
    all.Apply(HLY_ObjectDeleter());
    return HLY_SUCCESS;
}

HLY_Result CVD_UPnPMessageHelper::GetIPAddresses(HLY_List<HLY_IpAddress>& addresses, bool with_localhost)
{
    HLY_List<HLY_NetworkInterface*> interfaces;
    HLY_Result                      result = GetNetworkInterfaces(interfaces, with_localhost);
    if (HLY_FAILED(result)) return result;
    for (auto it = interfaces.GetFirstItem(); it; ++it) {
        const HLY_IpAddress& address = (*it)->GetAddresses().GetFirstItem()->GetPrimaryAddress();
        if (address == HLY_IpAddress::Any) continue;
        if (!with_localhost && address == HLY_IpAddress::Loopback) continue;
        addresses.Add(address);
    }
    if (with_localhost && !addresses.Find(HLY_IpAddressFinder(HLY_IpAddress::Loopback))) {
        addresses.Add(HLY_IpAddress::Loopback);
    }
    interfaces.Apply(HLY_ObjectDeleter());
    return HLY_SUCCESS;
}

namespace {
// whether an address of a usable interface (loopback included), owned by
// local when one is given, has address in its subnet
bool IsInSubnet(const HLY_IpAddress* local, const HLY_IpAddress& address)
{
    HLY_List<HLY_NetworkInterface*> interfaces;
    if (HLY_FAILED(CVD_UPnPMessageHelper::GetNetworkInterfaces(interfaces, true))) return false;
    bool found = false;
    for (auto it = interfaces.GetFirstItem(); it && !found; ++it) {
        for (auto a = (*it)->GetAddresses().GetFirstItem(); a && !found; ++a) {
            if (local && a->GetPrimaryAddress() != *local) continue;
            found = a->IsAddressInNetwork(address);
        }
    }
    interfaces.Apply(HLY_ObjectDeleter());
    return found;
}
} // namespace

bool CVD_UPnPMessageHelper::IsAddressOnLocalNetwork(const HLY_IpAddress& address)
{
    return IsInSubnet(nullptr, address);
}

bool CVD_UPnPMessageHelper::IsAddressInSubnetOf(const HLY_IpAddress& local, const HLY_IpAddress& address)
{
    return IsInSubnet(&local, address);
}

HLY_Result CVD_UPnPMessageHelper::ParseRequest(const void*              data,
                                               HLY_Size                 size,
                                               const HLY_SocketAddress* endpoint,
                                               HLY_HttpRequest*&        request)
{
    request        = nullptr;
    HLY_Size   head = 0;
    HLY_Result result = CheckDatagram(data, size, head);
    if (HLY_FAILED(result)) return result;

    HLY_InputStreamReference            source(new HLY_MemoryStream(data, head));
    HLY_HttpRequestInputStreamReference input(new HLY_HttpRequestInputStream(source, head));
    result = input->ReadRequest(endpoint, request);
    // the head is whole: an end of stream means it did not parse
    if (result == HLY_ERROR_EOS) result = HLY_ERROR_INVALID_FORMAT;
    if (HLY_SUCCEEDED(result) && request == nullptr) result = HLY_ERROR_INVALID_FORMAT;
    if (HLY_FAILED(result)) {
        delete request;
        request = nullptr;
    }
    return result;
}

HLY_Result CVD_UPnPMessageHelper::ParseResponse(const void* data, HLY_Size size, HLY_HttpResponse*& response)
{
    response       = nullptr;
    HLY_Size   head = 0;
    HLY_Result result = CheckDatagram(data, size, head);
    if (HLY_FAILED(result)) return result;

    HLY_InputStreamReference         source(new HLY_MemoryStream(data, head));
    HLY_BufferedInputStreamReference input(new HLY_BufferedInputStream(source, head));
    result = HLY_HttpResponse::Parse(*input, response);
    if (result == HLY_ERROR_EOS) result = HLY_ERROR_INVALID_FORMAT;
    if (HLY_SUCCEEDED(result) && response == nullptr) result = HLY_ERROR_INVALID_FORMAT;
    // held to the header count of requests
    if (HLY_SUCCEEDED(result) && response->GetHeaders().GetHeaders().GetItemCount() > HLY_HTTP_SERVER_MAX_HEADER_COUNT) {
        result = HLY_ERROR_OUT_OF_RANGE;
    }
    if (HLY_FAILED(result)) {
        delete response;
        response = nullptr;
    }
    return result;
}

/*----------------------------------------------------------------------
|   CVD_SsdpSender
+---------------------------------------------------------------------*/
HLY_Result CVD_SsdpSender::FormatPacket(HLY_HttpMessage& message, const char* usn, const char* target, bool notify)
{
    CVD_UPnPMessageHelper::SetUSN(message, usn);
    if (notify) {
        CVD_UPnPMessageHelper::SetNT(message, target);
    } else {
        CVD_UPnPMessageHelper::SetST(message, target);
        CVD_UPnPMessageHelper::SetDate(message);
    }
    return HLY_SUCCESS;
}

template <typename M>
HLY_Result CVD_SsdpSender::Send(M&                       message,
                                const char*              usn,
                                const char*              target,
                                HLY_UdpSocket&           socket,
                                bool                     notify,
                                const HLY_SocketAddress* address,
                                const char*              check_text,
                                const char*              log_prefix)
{
    HLY_Result result = FormatPacket(message, usn, target, notify);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, check_text, result);
        return result;
    }
    CVD_HttpHelper::ToLog(_HLY_LocalLogger, HLY_LOG_LEVEL_FINER, log_prefix, &message);

    HLY_MemoryStream stream;
    result = message.Emit(stream);
    if (HLY_FAILED(result)) return result;
    HLY_DataBuffer packet(stream.GetData(), stream.GetDataSize(), false);
    result = socket.Send(packet, address);
    if (HLY_FAILED(result)) HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(socket.Send(packet, addr))", result);
    return result;
}

HLY_Result CVD_SsdpSender::SendSsdp(HLY_HttpRequest&         request,
                                    const char*              usn,
                                    const char*              target,
                                    HLY_UdpSocket&           socket,
                                    bool                     notify,
                                    const HLY_SocketAddress* address)
{
    HLY_String prefix = HLY_String::Format("Sending SSDP %s packet for %s", request.GetMethod().GetChars(), usn);
    return Send(request, usn, target, socket, notify, address, "(FormatPacket(request, usn, target, socket, notify))",
                prefix);
}

HLY_Result CVD_SsdpSender::SendSsdp(HLY_HttpResponse&        response,
                                    const char*              usn,
                                    const char*              target,
                                    HLY_UdpSocket&           socket,
                                    bool                     notify,
                                    const HLY_SocketAddress* address)
{
    return Send(response, usn, target, socket, notify, address,
                "(FormatPacket(response, usn, target, socket, notify))", "Sending SSDP Response:");
}

/*----------------------------------------------------------------------
|   CVD_SsdpDevice
+---------------------------------------------------------------------*/
HLY_Result CVD_SsdpDevice::SendSsdpSearchResponse(HLY_HttpResponse&        response,
                                                  HLY_UdpSocket&           socket,
                                                  const char*              st,
                                                  const HLY_SocketAddress* address)
{
    HLY_List<CVD_SsdpTarget> targets;
    HLY_Result               result = GetSsdpTargets(targets);
    if (HLY_FAILED(result)) return result;

    bool all = HLY_String::Compare(st, CVD_SSDP_ALL, true) == 0;
    for (auto it = targets.GetFirstItem(); it; ++it) {
        if (!all && it->m_Target.Compare(st, true) != 0) continue;
        HLY_LOG_FINE("Responding to a M-SEARCH request for %s", it->m_Target.GetChars());
        result = CVD_SsdpSender::SendSsdp(response, it->m_USN, it->m_Target, socket, false, address);
        if (HLY_FAILED(result)) return result;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_SsdpDevice::Announce(HLY_HttpRequest& request, HLY_UdpSocket& socket, CVD_SsdpAnnounceType type)
{
    HLY_IpAddress ip;
    HLY_Result    result = ip.ResolveName(request.GetUrl().GetHost());
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(ip.ResolveName(req.GetUrl().GetHost()))", result);
        return result;
    }

    const char* nts = CVD_SSDP_NTS_ALIVE;
    if (type == CVD_ANNOUNCETYPE_ALIVE) {
        CVD_UPnPMessageHelper::SetLeaseTime(request, GetLeaseTime());
        CVD_UPnPMessageHelper::SetServer(request, CVD_Constants::GetInstance().GetDefaultUserAgent(), false);
    } else if (type == CVD_ANNOUNCETYPE_UPDATE) {
        HLY_UInt32 next_boot_id = 0;
        if (HLY_FAILED(GetNextBootId(next_boot_id))) return HLY_ERROR_INTERNAL;
        CVD_UPnPMessageHelper::SetNextBootId(request, next_boot_id);
        nts = CVD_SSDP_NTS_UPDATE;
    } else {
        nts = CVD_SSDP_NTS_BYEBYE;
    }
    CVD_UPnPMessageHelper::SetNTS(request, nts);

    HLY_List<CVD_SsdpTarget> targets;
    result = GetSsdpTargets(targets);
    if (HLY_FAILED(result)) return result;

    HLY_LOG_FINER("Sending SSDP NOTIFY (%s) Request to %s (%s)", nts, request.GetUrl().ToString().GetChars(),
                  ip.ToString().GetChars());
    HLY_SocketAddress address(ip, request.GetUrl().GetPort());
    for (auto it = targets.GetFirstItem(); it; ++it) {
        result = CVD_SsdpSender::SendSsdp(request, it->m_USN, it->m_Target, socket, true, &address);
        if (HLY_FAILED(result)) return result;
        if (type != CVD_ANNOUNCETYPE_BYEBYE) HLY_System::Sleep(HLY_TimeInterval::FromMillis(CVD_SSDP_ANNOUNCE_PAUSE_MS));
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_SsdpSearchTask
+---------------------------------------------------------------------*/
CVD_SsdpSearchTask::CVD_SsdpSearchTask(HLY_UdpSocket*                  socket,
                                       CVD_SsdpSearchResponseListener* listener,
                                       HLY_HttpRequest*                request,
                                       HLY_TimeInterval                frequency)
    : m_Listener(listener), m_Request(request), m_Frequency(frequency), m_Repeat(false), m_Socket(socket)
{
    if (m_Frequency.ToNanos() == 0) m_Frequency = HLY_TimeInterval::FromSeconds(30);
    m_Repeat = frequency.ToSeconds() >= 1;
    if (m_Socket) {
        m_Socket->SetReadTimeout((HLY_Timeout)m_Frequency.ToMillis());
        m_Socket->SetWriteTimeout(10000);
    }
}

CVD_SsdpSearchTask::~CVD_SsdpSearchTask()
{
    delete m_Socket;
    delete m_Request;
}

HLY_Result CVD_SsdpSearchTask::Create(CVD_SsdpSearchResponseListener* listener,
                                      const HLY_IpAddress&            local_address,
                                      const char*                     target,
                                      HLY_UInt32                      mx,
                                      HLY_TimeInterval                frequency,
                                      CVD_SsdpSearchTask*&            task)
{
    task = nullptr;
    if (mx == 0) mx = 1;

    HLY_UdpMulticastSocket* socket = new HLY_UdpMulticastSocket(HLY_SOCKET_FLAG_CANCELLABLE);
    socket->SetInterface(local_address);
    socket->SetTimeToLive((unsigned char)CVD_Constants::GetInstance().GetSearchMulticastTimeToLive());

    bool bound = false;
    for (int attempt = 0; attempt < CVD_SSDP_SEARCH_BIND_ATTEMPTS && !bound; ++attempt) {
        HLY_UInt16 port = (HLY_UInt16)(HLY_System::GetRandomInteger() % 15000 + 1024);
        if (port == CVD_SSDP_PORT) continue;
        bound = HLY_SUCCEEDED(socket->Bind(HLY_SocketAddress(HLY_IpAddress::Any, port), false));
    }
    if (!bound) {
        HLY_LOG_SEVERE("Couldn't bind socket for Search Task");
        delete socket;
        return HLY_FAILURE;
    }

    HLY_HttpRequest* request = new HLY_HttpRequest(HLY_HttpUrl(CVD_SSDP_MULTICAST_ADDRESS, CVD_SSDP_PORT, "*"),
                                                   CVD_SSDP_METHOD_MSEARCH, HLY_HTTP_PROTOCOL_1_1);
    CVD_UPnPMessageHelper::SetMX(*request, mx);
    CVD_UPnPMessageHelper::SetST(*request, target);
    CVD_UPnPMessageHelper::SetMANHeader(*request, CVD_SSDP_MAN_DISCOVER);
    request->GetHeaders().SetHeader(HLY_HTTP_HEADER_USER_AGENT, CVD_Constants::GetInstance().GetDefaultUserAgent());

    if (frequency.ToNanos() > 0 && frequency.ToMillis() < 5000) frequency = HLY_TimeInterval::FromSeconds(5);
    task = new CVD_SsdpSearchTask(socket, listener, request, frequency);
    return HLY_SUCCESS;
}

void CVD_SsdpSearchTask::DoAbort()
{
    if (m_Socket) m_Socket->Cancel(true);
}

HLY_Result CVD_SsdpSearchTask::ProcessResponse(HLY_Result                    result,
                                               HLY_HttpRequest&              request,
                                               const HLY_HttpRequestContext& context,
                                               HLY_HttpResponse*             response)
{
    (void)request;
    if (m_Listener == nullptr) return HLY_SUCCESS;
    return m_Listener->ProcessSsdpSearchResponse(result, context, response);
}

void CVD_SsdpSearchTask::DoRun()
{
    do {
        HLY_IpAddress server_address;
        HLY_Result    result = server_address.ResolveName(m_Request->GetUrl().GetHost(), 30000);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE,
                                  "(server_address.ResolveName( m_Request->GetUrl().GetHost(), timeout))", result);
            return;
        }

        {
            HLY_SocketAddress        target(server_address, m_Request->GetUrl().GetPort());
            CVD_OutputDatagramStream output_stream(m_Socket, 4096, &target);
            // two identical datagrams: one lost on the way costs no cycle
            for (int i = 0; i < 2; ++i) {
                // the write flushes: one datagram each
                result = HLY_HttpClient::WriteRequest(output_stream, *m_Request, false);
                if (HLY_FAILED(result)) {
                    HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE,
                                          "(HLY_HttpClient::WriteRequest( *output_stream.AsPointer(), *m_Request, false))",
                                          result);
                    return;
                }
            }
        }

        Clock::time_point       start = Clock::now();
        CVD_InputDatagramStream input_stream(m_Socket, CVD_SSDP_DATAGRAM_BUFFER_SIZE);
        HLY_DataBuffer          datagram(CVD_SSDP_DATAGRAM_BUFFER_SIZE);
        while (!IsAborting(0)) {
            HLY_Int64 left = m_Frequency.ToMillis() - MillisSince(start);
            if (left <= 0) break;
            // the cycle ends on time, however late the last answer came
            m_Socket->SetReadTimeout((HLY_Timeout)left);

            HLY_Size size = 0;
            result        = input_stream.Read(datagram.UseData(), datagram.GetBufferSize(), &size);
            if (result == HLY_ERROR_TIMEOUT) continue;
            if (HLY_FAILED(result)) {
                HLY_LOG_WARNING("CVD_SsdpSearchTask got an error (%d) waiting for response", (int)result);
                if (result == HLY_ERROR_CANCELLED || IsAborting(CVD_SSDP_SEARCH_ERROR_PAUSE_MS)) break;
                continue;
            }
            if (size >= datagram.GetBufferSize()) {
                HLY_LOG_FINE("dropping a search answer that may have been cut");
                continue;
            }

            HLY_SocketInfo info;
            input_stream.GetInfo(info);
            HLY_HttpRequestContext context(&info.local_address, &info.remote_address);
            HLY_HttpResponse*      response = nullptr;
            result = CVD_UPnPMessageHelper::ParseResponse(datagram.GetData(), size, response);
            if (HLY_FAILED(result)) {
                // a malformed answer costs no more than its parse
                HLY_LOG_FINE("dropping a malformed search answer from %s (%d)",
                             info.remote_address.ToString().GetChars(), (int)result);
                continue;
            }
            ProcessResponse(HLY_SUCCESS, *m_Request, context, response);
            delete response;
        }
    } while (m_Repeat && !IsAborting(0));
}

/*----------------------------------------------------------------------
|   CVD_SsdpDeviceSearchResponseInterfaceIterator
+---------------------------------------------------------------------*/
HLY_Result CVD_SsdpDeviceSearchResponseInterfaceIterator::operator()(HLY_NetworkInterface*& if_addr) const
{
    if (if_addr->GetAddresses().GetItemCount() == 0) return HLY_SUCCESS;
    const HLY_IpAddress& interface_address = if_addr->GetAddresses().GetFirstItem()->GetPrimaryAddress();

    HLY_UdpSocket socket(HLY_SOCKET_FLAG_CANCELLABLE);
    HLY_Result    result = socket.Connect(m_RemoteAddr, 5000);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(socket.Connect(m_RemoteAddr, 5000))", result);
        return result;
    }
    HLY_SocketInfo info;
    socket.GetInfo(info);
    const HLY_IpAddress&     local       = info.local_address.GetIpAddress();
    const HLY_SocketAddress* remote_addr = nullptr;
    HLY_IpAddress            url_address = local;
    if (local == HLY_IpAddress::Any) {
        remote_addr = &m_RemoteAddr;
        url_address = interface_address;
    } else if (local != interface_address) {
        // the routing table reaches the requester through another interface
        return HLY_SUCCESS;
    }

    HLY_HttpUrl url;
    result = m_Device->GetDescriptionUrl(url_address, url);
    if (HLY_FAILED(result)) return result;
    HLY_HttpResponse response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
    CVD_UPnPMessageHelper::SetLocation(response, url.ToString());
    CVD_UPnPMessageHelper::SetLeaseTime(response, m_Device->GetLeaseTime());
    CVD_UPnPMessageHelper::SetServer(response, CVD_Constants::GetInstance().GetDefaultUserAgent(), false);
    response.GetHeaders().SetHeader("EXT", "");

    result = m_Device->SendSsdpSearchResponse(response, socket, m_ST, remote_addr);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE,
                              "(m_Device->SendSsdpSearchResponse(response, socket, m_ST, remote_addr))", result);
    }
    return result;
}

/*----------------------------------------------------------------------
|   CVD_SsdpDeviceSearchResponseTask
+---------------------------------------------------------------------*/
CVD_SsdpDeviceSearchResponseTask::~CVD_SsdpDeviceSearchResponseTask()
{
    if (m_Responder) m_Responder->OnTaskEnded();
}

void CVD_SsdpDeviceSearchResponseTask::DoRun()
{
    HLY_List<HLY_NetworkInterface*> if_list;
    HLY_Result                      result = CVD_UPnPMessageHelper::GetNetworkInterfaces(if_list, true);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(CVD_UPnPMessageHelper::GetNetworkInterfaces(if_list, true))",
                              result);
        return;
    }
    if_list.Apply(CVD_SsdpDeviceSearchResponseInterfaceIterator(m_Device, m_RemoteAddr, m_ST));
    if_list.Apply(HLY_ObjectDeleter());
}

/*----------------------------------------------------------------------
|   CVD_SsdpSearchResponder
+---------------------------------------------------------------------*/
HLY_Result CVD_SsdpSearchResponder::OnSsdpPacket(HLY_HttpRequest&              request,
                                                 const HLY_HttpRequestContext& context,
                                                 CVD_TaskManager&              tasks)
{
    if (request.GetMethod() != CVD_SSDP_METHOD_MSEARCH) return HLY_FAILURE;
    const HLY_SocketAddress& requester = context.GetRemoteAddress();
    const HLY_String*        st        = CVD_UPnPMessageHelper::GetST(request);
    HLY_LOG_FINER("M-SEARCH for %s from %s:%d", st ? st->GetChars() : "Unknown",
                  requester.GetIpAddress().ToString().GetChars(), (int)requester.GetPort());
    if (st == nullptr) {
        HLY_LOG_SEVERE("@@@ NULL pointer parameter");
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    const HLY_String* man = CVD_UPnPMessageHelper::GetMAN(request);
    if (request.GetUrl().GetPath() != "*" || request.GetProtocol() != HLY_HTTP_PROTOCOL_1_1 || man == nullptr ||
        man->Compare(CVD_SSDP_MAN_DISCOVER, true) != 0) {
        return HLY_FAILURE;
    }
    HLY_UInt32 mx     = 0;
    HLY_Result result = CVD_UPnPMessageHelper::GetMX(request, mx);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(CVD_UPnPMessageHelper::GetMX(request, mx))", result);
        return result;
    }

    if (m_Pending.fetch_add(1) >= m_MaxPending) {
        --m_Pending;
        ++m_Dropped;
        std::lock_guard<std::mutex> guard(m_BurstLock);
        Clock::time_point           now = Clock::now();
        if (!m_InBurst || now - m_LastDrop > std::chrono::milliseconds(CVD_SSDP_DROP_BURST_QUIET_MS)) {
            HLY_LOG_WARNING("too many M-SEARCH requests: %u answers already waiting, dropping more",
                            (unsigned int)m_MaxPending);
        }
        m_InBurst  = true;
        m_LastDrop = now;
        return HLY_ERROR_OUT_OF_RESOURCES;
    }
    // only requesters on a subnet of ours are answered: the answers must not
    // go to an address forged into a datagram from elsewhere
    if (!CVD_UPnPMessageHelper::IsAddressOnLocalNetwork(requester.GetIpAddress())) {
        --m_Pending;
        HLY_LOG_FINE("ignoring an M-SEARCH from %s, outside our networks",
                     requester.GetIpAddress().ToString().GetChars());
        return HLY_FAILURE;
    }

    HLY_UInt32       window = mx < CVD_SSDP_MAX_RESPONSE_DELAY ? mx : CVD_SSDP_MAX_RESPONSE_DELAY;
    HLY_TimeInterval delay;
    if (window) delay = HLY_TimeInterval::FromSeconds(HLY_System::GetRandomInteger() % window);
    // the task gives its slot back when it goes, even when it never runs
    return tasks.StartTask(new CVD_SsdpDeviceSearchResponseTask(m_Device, requester, *st, this), &delay, true);
}

/*----------------------------------------------------------------------
|   CVD_SsdpAnnounceInterfaceIterator
+---------------------------------------------------------------------*/
HLY_Result CVD_SsdpAnnounceInterfaceIterator::operator()(HLY_NetworkInterface*& if_addr) const
{
    HLY_Flags flags = if_addr->GetFlags();
    if (m_Broadcast && !(flags & HLY_NETWORK_INTERFACE_FLAG_BROADCAST)) return HLY_FAILURE;
    if (if_addr->GetAddresses().GetItemCount() == 0) return HLY_FAILURE;
    const HLY_NetworkInterfaceAddress& address = *if_addr->GetAddresses().GetFirstItem();
    const HLY_IpAddress&               addr    = address.GetPrimaryAddress();
    if (addr == HLY_IpAddress::Any) return HLY_FAILURE;
    if (!m_Broadcast && !(flags & (HLY_NETWORK_INTERFACE_FLAG_MULTICAST | HLY_NETWORK_INTERFACE_FLAG_LOOPBACK))) {
        HLY_LOG_INFO("Not a valid interface: %s (flags: %d)", addr.ToString().GetChars(), (int)flags);
        return HLY_FAILURE;
    }

    HLY_HttpUrl    url;
    HLY_UdpSocket* socket = nullptr;
    if (m_Broadcast) {
        url    = HLY_HttpUrl(address.GetBroadcastAddress().ToString(), CVD_SSDP_PORT, "*");
        socket = new HLY_UdpSocket(HLY_SOCKET_FLAG_CANCELLABLE);
    } else {
        url = HLY_HttpUrl(CVD_SSDP_MULTICAST_ADDRESS, CVD_SSDP_PORT, "*");
        HLY_UdpMulticastSocket* multicast_socket = new HLY_UdpMulticastSocket(HLY_SOCKET_FLAG_CANCELLABLE);
        socket                                   = multicast_socket;
        HLY_Result result                        = multicast_socket->SetInterface(addr);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(multicast_socket.SetInterface(addr))", result);
            delete socket;
            return result;
        }
        multicast_socket->SetTimeToLive((unsigned char)CVD_Constants::GetInstance().GetAnnounceMulticastTimeToLive());
    }

    HLY_HttpRequest req(url, CVD_SSDP_METHOD_NOTIFY, HLY_HTTP_PROTOCOL_1_1);
    CVD_UPnPMessageHelper::SetHost(req, CVD_SSDP_HOST);
    HLY_Result result = HLY_SUCCESS;
    if (m_Type != CVD_ANNOUNCETYPE_BYEBYE) {
        HLY_HttpUrl location;
        result = m_Device->GetDescriptionUrl(addr, location);
        if (HLY_SUCCEEDED(result)) CVD_UPnPMessageHelper::SetLocation(req, location.ToString());
    }
    if (HLY_SUCCEEDED(result)) result = m_Device->Announce(req, *socket, m_Type);
    if (HLY_FAILED(result)) HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(m_Device->Announce(req, *socket, m_Type))", result);
    delete socket;
    return result;
}

/*----------------------------------------------------------------------
|   CVD_SsdpDeviceAnnounceTask
+---------------------------------------------------------------------*/
void CVD_SsdpDeviceAnnounceTask::DoRun()
{
    for (;;) {
        HLY_List<HLY_NetworkInterface*> if_list;
        HLY_Result                      result = CVD_UPnPMessageHelper::GetNetworkInterfaces(if_list, false);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(CVD_UPnPMessageHelper::GetNetworkInterfaces(if_list, false))",
                                  result);
        } else {
            if (m_IsByeByeFirst) {
                m_IsByeByeFirst = false;
                if (m_ExtraBroadcast) if_list.Apply(CVD_SsdpAnnounceInterfaceIterator(m_Device, CVD_ANNOUNCETYPE_BYEBYE, true));
                if_list.Apply(CVD_SsdpAnnounceInterfaceIterator(m_Device, CVD_ANNOUNCETYPE_BYEBYE, false));
                if (IsAborting(200)) {
                    if_list.Apply(HLY_ObjectDeleter());
                    return;
                }
            }
            if (m_ExtraBroadcast) if_list.Apply(CVD_SsdpAnnounceInterfaceIterator(m_Device, CVD_ANNOUNCETYPE_ALIVE, true));
            if_list.Apply(CVD_SsdpAnnounceInterfaceIterator(m_Device, CVD_ANNOUNCETYPE_ALIVE, false));
            if_list.Apply(HLY_ObjectDeleter());
        }
        if (IsAborting((HLY_Timeout)m_Repeat.ToMillis())) return;
    }
}
