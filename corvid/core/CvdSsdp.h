#ifndef CVD_SSDP_H
#define CVD_SSDP_H

#include <atomic>
#include <chrono>
#include <mutex>

#include "CvdThreadTask.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlynetwork.h"
#include "hlysockets.h"
#include "hlythreads.h"
#include "hlytime.h"

class CVD_TaskManager;

/*----------------------------------------------------------------------
|   SSDP constants
+---------------------------------------------------------------------*/
#define CVD_SSDP_MULTICAST_ADDRESS "239.255.255.250"
#define CVD_SSDP_PORT              1900
#define CVD_SSDP_HOST              "239.255.255.250:1900"
#define CVD_SSDP_ALL               "ssdp:all"
#define CVD_SSDP_ROOTDEVICE        "upnp:rootdevice"
#define CVD_SSDP_NTS_ALIVE         "ssdp:alive"
#define CVD_SSDP_NTS_BYEBYE        "ssdp:byebye"
#define CVD_SSDP_NTS_UPDATE        "ssdp:update"
#define CVD_SSDP_MAN_DISCOVER      "\"ssdp:discover\""
#define CVD_SSDP_METHOD_MSEARCH    "M-SEARCH"
#define CVD_SSDP_METHOD_NOTIFY     "NOTIFY"

// the receive buffer of SSDP sockets; a datagram that fills it may have
// been cut and is dropped
#define CVD_SSDP_DATAGRAM_BUFFER_SIZE 2000
// the largest datagram the SSDP parsers look at: bounds the work per datagram
#define CVD_SSDP_MAX_DATAGRAM_SIZE 8192
// a device answers a search within at most this many seconds, whatever its MX asks
#define CVD_SSDP_MAX_RESPONSE_DELAY 5
// response tasks of one device that may wait at once: each is a thread, and
// a flood of M-SEARCH must not turn into a flood of threads. Legitimate
// searchers send two datagrams per cycle and a network holds a few of them.
#define CVD_SSDP_MAX_PENDING_SEARCH_RESPONSES 32

typedef enum {
    CVD_ANNOUNCETYPE_BYEBYE = 0,
    CVD_ANNOUNCETYPE_ALIVE  = 1,
    CVD_ANNOUNCETYPE_UPDATE = 2
} CVD_SsdpAnnounceType;

/*----------------------------------------------------------------------
|   listeners
+---------------------------------------------------------------------*/
class CVD_SsdpPacketListener
{
public:
    virtual ~CVD_SsdpPacketListener() {}
    // every NOTIFY or M-SEARCH the listen task decoded
    virtual HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context) = 0;
};

class CVD_SsdpSearchResponseListener
{
public:
    virtual ~CVD_SsdpSearchResponseListener() {}
    // every answer a search task collected
    virtual HLY_Result ProcessSsdpSearchResponse(HLY_Result                    result,
                                                 const HLY_HttpRequestContext& context,
                                                 HLY_HttpResponse*             response) = 0;
};

/*----------------------------------------------------------------------
|   CVD_UPnPMessageHelper: SSDP headers and the choice of interfaces
+---------------------------------------------------------------------*/
class CVD_UPnPMessageHelper
{
public:
    static HLY_Result SetUSN(HLY_HttpMessage& message, const char* usn) { return Set(message, "USN", usn); }
    static HLY_Result SetST(HLY_HttpMessage& message, const char* st) { return Set(message, "ST", st); }
    static HLY_Result SetNT(HLY_HttpMessage& message, const char* nt) { return Set(message, "NT", nt); }
    static HLY_Result SetNTS(HLY_HttpMessage& message, const char* nts) { return Set(message, "NTS", nts); }
    static HLY_Result SetLocation(HLY_HttpMessage& message, const char* location)
    {
        return Set(message, "Location", location);
    }
    static HLY_Result SetHost(HLY_HttpMessage& message, const char* host) { return Set(message, "Host", host); }
    static HLY_Result SetMANHeader(HLY_HttpMessage& message, const char* man) { return Set(message, "MAN", man); }
    static HLY_Result SetMX(HLY_HttpMessage& message, HLY_UInt32 mx)
    {
        return Set(message, "MX", HLY_String::FromIntegerU(mx));
    }
    static HLY_Result SetServer(HLY_HttpMessage& message, const char* server, bool replace = true)
    {
        return message.GetHeaders().SetHeader("Server", server, replace);
    }
    static HLY_Result SetLeaseTime(HLY_HttpMessage& message, const HLY_TimeInterval& lease);
    static HLY_Result SetDate(HLY_HttpMessage& message);
    static HLY_Result SetBootId(HLY_HttpMessage& message, HLY_UInt32 id)
    {
        return Set(message, "BOOTID.UPNP.ORG", HLY_String::FromIntegerU(id));
    }
    static HLY_Result SetConfigId(HLY_HttpMessage& message, HLY_UInt32 id)
    {
        return Set(message, "CONFIGID.UPNP.ORG", HLY_String::FromIntegerU(id));
    }
    static HLY_Result SetNextBootId(HLY_HttpMessage& message, HLY_UInt32 id)
    {
        return Set(message, "NEXTBOOTID.UPNP.ORG", HLY_String::FromIntegerU(id));
    }

    // the header's value, null when absent
    static const HLY_String* GetST(const HLY_HttpMessage& message) { return Get(message, "ST"); }
    static const HLY_String* GetNT(const HLY_HttpMessage& message) { return Get(message, "NT"); }
    static const HLY_String* GetNTS(const HLY_HttpMessage& message) { return Get(message, "NTS"); }
    static const HLY_String* GetUSN(const HLY_HttpMessage& message) { return Get(message, "USN"); }
    static const HLY_String* GetLocation(const HLY_HttpMessage& message) { return Get(message, "Location"); }
    static const HLY_String* GetMAN(const HLY_HttpMessage& message) { return Get(message, "MAN"); }
    static const HLY_String* GetServer(const HLY_HttpMessage& message) { return Get(message, "Server"); }
    static HLY_Result GetMX(const HLY_HttpMessage& message, HLY_UInt32& mx);
    static HLY_Result GetLeaseTime(const HLY_HttpMessage& message, HLY_TimeInterval& lease);
    static HLY_Result ExtractLeaseTime(const char* cache_control, HLY_TimeInterval& lease);

    // a fresh identifier in the 8-4-4-4-12 layout
    static HLY_Result GenerateUUID(HLY_String& uuid);

    // the usable interfaces (multicast, not point-to-point, with an address);
    // the caller owns them. Loopback only with with_localhost, or when nothing else is up.
    static HLY_Result GetNetworkInterfaces(HLY_List<HLY_NetworkInterface*>& interfaces, bool with_localhost = false);
    // their primary addresses
    static HLY_Result GetIPAddresses(HLY_List<HLY_IpAddress>& addresses, bool with_localhost = false);
    // true when the address lies in the subnet of a usable interface (loopback included)
    static bool IsAddressOnLocalNetwork(const HLY_IpAddress& address);
    // true when the address lies in the subnet of the interface that owns
    // local (loopback included); false when no interface owns local
    static bool IsAddressInSubnetOf(const HLY_IpAddress& local, const HLY_IpAddress& address);

    // one datagram as one SSDP message: a message must end its head within
    // the datagram, hold no NUL byte and stay within the head bounds of the
    // runtime's server; anything else is refused
    static HLY_Result ParseRequest(const void*              data,
                                   HLY_Size                 size,
                                   const HLY_SocketAddress* endpoint,
                                   HLY_HttpRequest*&        request);
    static HLY_Result ParseResponse(const void* data, HLY_Size size, HLY_HttpResponse*& response);

private:
    static HLY_Result Set(HLY_HttpMessage& message, const char* name, const char* value)
    {
        return message.GetHeaders().SetHeader(name, value);
    }
    static const HLY_String* Get(const HLY_HttpMessage& message, const char* name)
    {
        return message.GetHeaders().GetHeaderValue(name);
    }
};

/*----------------------------------------------------------------------
|   CVD_SsdpSender: one SSDP message as one datagram
+---------------------------------------------------------------------*/
class CVD_SsdpSender
{
public:
    // address null: on the connected socket
    static HLY_Result SendSsdp(HLY_HttpRequest&         request,
                               const char*              usn,
                               const char*              target,
                               HLY_UdpSocket&           socket,
                               bool                     notify,
                               const HLY_SocketAddress* address = nullptr);
    static HLY_Result SendSsdp(HLY_HttpResponse&        response,
                               const char*              usn,
                               const char*              target,
                               HLY_UdpSocket&           socket,
                               bool                     notify,
                               const HLY_SocketAddress* address = nullptr);

private:
    static HLY_Result FormatPacket(HLY_HttpMessage& message, const char* usn, const char* target, bool notify);
    // formats, logs and sends either kind of message
    template <typename M>
    static HLY_Result Send(M&                       message,
                           const char*              usn,
                           const char*              target,
                           HLY_UdpSocket&           socket,
                           bool                     notify,
                           const HLY_SocketAddress* address,
                           const char*              check_text,
                           const char*              log_prefix);
};

/*----------------------------------------------------------------------
|   CVD_SsdpTarget: one (NT or ST, USN) pair a device announces and
|   answers for
+---------------------------------------------------------------------*/
struct CVD_SsdpTarget
{
    CVD_SsdpTarget() {}
    CVD_SsdpTarget(const char* target, const char* usn) : m_Target(target), m_USN(usn) {}
    HLY_String m_Target;
    HLY_String m_USN;
};

/*----------------------------------------------------------------------
|   CVD_SsdpDevice: what the device-side SSDP tasks need from a hosted
|   device. The device host fills in the pure operations; answering a
|   search and announcing are done here from the device's targets, and a
|   device may add its own headers before calling them.
+---------------------------------------------------------------------*/
class CVD_SsdpDevice
{
public:
    virtual ~CVD_SsdpDevice() {}

    // the description URL as seen from the given local address
    virtual HLY_Result GetDescriptionUrl(const HLY_IpAddress& local_address, HLY_HttpUrl& url) = 0;
    virtual HLY_TimeInterval GetLeaseTime() = 0;
    // every (target, USN) pair in announcement order: the root's
    // upnp:rootdevice pair first, then per device its UUID, its type and
    // its service types, embedded devices after their parent
    virtual HLY_Result GetSsdpTargets(HLY_List<CVD_SsdpTarget>& targets) = 0;
    // an update announcement needs one; none by default
    virtual HLY_Result GetNextBootId(HLY_UInt32& id) { (void)id; return HLY_FAILURE; }

    // one answer per pair that the search target selects
    virtual HLY_Result SendSsdpSearchResponse(HLY_HttpResponse&        response,
                                              HLY_UdpSocket&           socket,
                                              const char*              st,
                                              const HLY_SocketAddress* address = nullptr);
    // one NOTIFY per pair, to the request URL's address
    virtual HLY_Result Announce(HLY_HttpRequest& request, HLY_UdpSocket& socket, CVD_SsdpAnnounceType type);
};

/*----------------------------------------------------------------------
|   CVD_SsdpSearchTask: multicasts an M-SEARCH (twice per cycle) and
|   hands every answer to its listener
+---------------------------------------------------------------------*/
class CVD_SsdpSearchTask : public CVD_ThreadTask
{
public:
    // owns socket and request; frequency 0: one cycle of 30 s
    CVD_SsdpSearchTask(HLY_UdpSocket*                  socket,
                       CVD_SsdpSearchResponseListener* listener,
                       HLY_HttpRequest*                request,
                       HLY_TimeInterval                frequency);
    ~CVD_SsdpSearchTask() override;

    // The search of one interface: an MX of 0 becomes 1, a multicast socket
    // on local_address with the search TTL is bound to a random port from
    // 1024 to 16023 (never 1900), and a frequency under 5 s (but not 0)
    // becomes 5 s. HLY_FAILURE when no port could be bound.
    static HLY_Result Create(CVD_SsdpSearchResponseListener* listener,
                             const HLY_IpAddress&            local_address,
                             const char*                     target,
                             HLY_UInt32                      mx,
                             HLY_TimeInterval                frequency,
                             CVD_SsdpSearchTask*&            task);

    const HLY_HttpRequest& GetRequest() const { return *m_Request; }

protected:
    void DoAbort() override;
    void DoRun() override;
    virtual HLY_Result ProcessResponse(HLY_Result                    result,
                                       HLY_HttpRequest&              request,
                                       const HLY_HttpRequestContext& context,
                                       HLY_HttpResponse*             response);

    CVD_SsdpSearchResponseListener* m_Listener;
    HLY_HttpRequest*                m_Request;
    HLY_TimeInterval                m_Frequency;
    bool                            m_Repeat;
    HLY_UdpSocket*                  m_Socket;
};

/*----------------------------------------------------------------------
|   device side: answering one M-SEARCH
+---------------------------------------------------------------------*/
class CVD_SsdpSearchResponder;

class CVD_SsdpDeviceSearchResponseInterfaceIterator
{
public:
    CVD_SsdpDeviceSearchResponseInterfaceIterator(CVD_SsdpDevice* device, const HLY_SocketAddress& remote, const char* st)
        : m_Device(device), m_RemoteAddr(remote), m_ST(st) {}
    HLY_Result operator()(HLY_NetworkInterface*& if_addr) const;

private:
    CVD_SsdpDevice*   m_Device;
    HLY_SocketAddress m_RemoteAddr;
    HLY_String        m_ST;
};

class CVD_SsdpDeviceSearchResponseTask : public CVD_ThreadTask
{
public:
    // responder (may be null) is told when the task ends
    CVD_SsdpDeviceSearchResponseTask(CVD_SsdpDevice*          device,
                                     const HLY_SocketAddress& remote,
                                     const char*              st,
                                     CVD_SsdpSearchResponder* responder = nullptr)
        : m_Device(device), m_RemoteAddr(remote), m_ST(st), m_Responder(responder) {}
    ~CVD_SsdpDeviceSearchResponseTask() override;

protected:
    void DoRun() override;

    CVD_SsdpDevice*          m_Device;
    HLY_SocketAddress        m_RemoteAddr;
    HLY_String               m_ST;
    CVD_SsdpSearchResponder* m_Responder;
};

/*----------------------------------------------------------------------
|   CVD_SsdpSearchResponder: the admission of M-SEARCH requests for one
|   device. A search must be well formed and come from a local subnet;
|   its answers are scheduled after a random delay within MX, and while
|   CVD_SSDP_MAX_PENDING_SEARCH_RESPONSES answers wait, further searches
|   are dropped (one log line per burst). The tasks it starts must end
|   (StopAllTasks on their manager) before the responder goes.
+---------------------------------------------------------------------*/
class CVD_SsdpSearchResponder
{
public:
    explicit CVD_SsdpSearchResponder(CVD_SsdpDevice* device, HLY_Cardinal max_pending = CVD_SSDP_MAX_PENDING_SEARCH_RESPONSES)
        : m_Device(device), m_MaxPending(max_pending) {}

    // HLY_FAILURE for what is not an M-SEARCH to answer, HLY_ERROR_OUT_OF_RESOURCES when dropped
    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context, CVD_TaskManager& tasks);

    HLY_Cardinal GetPendingCount() const { return m_Pending; }
    HLY_Cardinal GetDroppedCount() const { return m_Dropped; }

private:
    friend class CVD_SsdpDeviceSearchResponseTask;
    void OnTaskEnded() { --m_Pending; }

    CVD_SsdpDevice*           m_Device;
    HLY_Cardinal              m_MaxPending;
    std::atomic<HLY_Cardinal> m_Pending{0};
    std::atomic<HLY_Cardinal> m_Dropped{0};
    // the drops of one burst are logged once
    std::mutex                            m_BurstLock;
    bool                                  m_InBurst = false;
    std::chrono::steady_clock::time_point m_LastDrop;
};

/*----------------------------------------------------------------------
|   device side: announcements
+---------------------------------------------------------------------*/
class CVD_SsdpAnnounceInterfaceIterator
{
public:
    CVD_SsdpAnnounceInterfaceIterator(CVD_SsdpDevice* device, CVD_SsdpAnnounceType type, bool broadcast = false)
        : m_Device(device), m_Type(type), m_Broadcast(broadcast) {}
    HLY_Result operator()(HLY_NetworkInterface*& if_addr) const;

private:
    CVD_SsdpDevice*      m_Device;
    CVD_SsdpAnnounceType m_Type;
    bool                 m_Broadcast;
};

class CVD_SsdpDeviceAnnounceTask : public CVD_ThreadTask
{
public:
    CVD_SsdpDeviceAnnounceTask(CVD_SsdpDevice*  device,
                               HLY_TimeInterval repeat,
                               bool             is_byebye_first = false,
                               bool             extra_broadcast = false)
        : m_Device(device), m_Repeat(repeat), m_IsByeByeFirst(is_byebye_first), m_ExtraBroadcast(extra_broadcast) {}

protected:
    void DoRun() override;

    CVD_SsdpDevice*  m_Device;
    HLY_TimeInterval m_Repeat;
    bool             m_IsByeByeFirst;
    bool             m_ExtraBroadcast;
};

#endif // CVD_SSDP_H
