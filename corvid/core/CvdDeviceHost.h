#ifndef CVD_DEVICE_HOST_H
#define CVD_DEVICE_HOST_H

#include "CvdAction.h"
#include "CvdDeviceData.h"
#include "CvdHttpServer.h"
#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "hlyhttpserver.h"
#include "hlyreferences.h"

/*----------------------------------------------------------------------
|   CVD_DeviceHost: a root device the program publishes itself. It serves
|   its description, its service descriptions, SOAP control and GENA
|   eventing over an HTTP server of its own, announces itself and answers
|   searches. A concrete device derives from it, declares its services in
|   SetupServices and handles actions in OnAction. The engine starts and
|   stops it with its SSDP listen task (register it with AddDevice).
+---------------------------------------------------------------------*/
class CVD_DeviceHost : public CVD_DeviceData,
                       public CVD_SsdpPacketListener,
                       public HLY_HttpRequestHandler,
                       public CVD_SsdpDevice,
                       public CVD_UPnPDeviceInterface,
                       public CVD_ActionHandler
{
public:
    // port 0: chosen by the server; port_rebind: fall back to another port
    // when the given one does not bind. show_ip appends " (<first address>)"
    // to the friendly name.
    CVD_DeviceHost(const char* description_path = "/description.xml",
                   const char* uuid             = nullptr,
                   const char* device_type      = nullptr,
                   const char* friendly_name    = nullptr,
                   bool        show_ip          = false,
                   HLY_UInt16  port             = 0,
                   bool        port_rebind      = false);
    ~CVD_DeviceHost() override;

    virtual CVD_DeviceHost& SetExtraBroadcast(bool broadcast)
    {
        m_ExtraBroadcast = broadcast;
        return *this;
    }
    virtual CVD_DeviceHost& SetByeByeFirst(bool bye_bye_first)
    {
        m_ByeByeFirst = bye_bye_first;
        return *this;
    }
    virtual HLY_UInt16 GetPort() { return m_Port; }

    // while the server runs (from SetupIcons): serves icon bytes from memory under the icon's URL path
    virtual HLY_Result AddIcon(const CVD_DeviceIcon& icon, const void* data, HLY_Size size, bool copy = true);
    // serves the files below file_root under url_root, which must start the icon's path
    virtual HLY_Result AddIcon(const CVD_DeviceIcon& icon, const char* file_root, const char* url_root = "/");

    // CVD_UPnPDeviceInterface; Stop says goodbye on every interface and
    // returns once every task of the device has ended
    HLY_Result Start(CVD_SsdpListenTask* task) override;
    HLY_Result Stop(CVD_SsdpListenTask* task) override;
    const HLY_String& GetUUID() const override { return m_UUID; }
    bool IsStarted() const { return m_Started; }

    // CVD_ActionHandler: 401 "Invalid Action" unless a subclass handles it
    HLY_Result OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext& context) override;

    // CVD_SsdpDevice
    using CVD_DeviceData::GetDescriptionUrl;
    HLY_Result GetDescriptionUrl(const HLY_IpAddress& local_address, HLY_HttpUrl& url) override;
    HLY_TimeInterval GetLeaseTime() override { return m_LeaseTime; }
    HLY_Result GetSsdpTargets(HLY_List<CVD_SsdpTarget>& targets) override;
    HLY_Result GetNextBootId(HLY_UInt32& id) override;
    // adds the boot and configuration ids, then answers
    HLY_Result SendSsdpSearchResponse(HLY_HttpResponse&        response,
                                      HLY_UdpSocket&           socket,
                                      const char*              st,
                                      const HLY_SocketAddress* address = nullptr) override;

    // CVD_SsdpPacketListener: M-SEARCH requests are admitted by the responder
    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext& context) override;

    // HLY_HttpRequestHandler: every HTTP request to the device
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;

    const CVD_SsdpSearchResponder& GetSearchResponder() const { return m_SearchResponder; }

protected:
    virtual HLY_Result SetupServices() = 0;
    virtual HLY_Result SetupIcons() { return HLY_SUCCESS; }
    virtual HLY_Result SetupDevice();

    virtual HLY_Result ProcessGetDescription(HLY_HttpRequest&              request,
                                             const HLY_HttpRequestContext& context,
                                             HLY_HttpResponse&             response);
    virtual HLY_Result ProcessGetSCPD(CVD_Service*                  service,
                                      HLY_HttpRequest&              request,
                                      const HLY_HttpRequestContext& context,
                                      HLY_HttpResponse&             response);
    // what is neither description nor SCPD: 404 by default
    virtual HLY_Result ProcessHttpGetRequest(HLY_HttpRequest&              request,
                                             const HLY_HttpRequestContext& context,
                                             HLY_HttpResponse&             response);
    virtual HLY_Result ProcessHttpPostRequest(HLY_HttpRequest&              request,
                                              const HLY_HttpRequestContext& context,
                                              HLY_HttpResponse&             response);
    virtual HLY_Result ProcessHttpSubscriberRequest(HLY_HttpRequest&              request,
                                                    const HLY_HttpRequestContext& context,
                                                    HLY_HttpResponse&             response);

    HLY_Reference<CVD_TaskManager> m_TaskManager;
    HLY_Reference<CVD_HttpServer>  m_HttpServer;
    bool                           m_ExtraBroadcast;
    HLY_UInt16                     m_Port;
    bool                           m_PortRebind;
    bool                           m_ByeByeFirst;
    bool                           m_Started;

private:
    HLY_Result StopTasksAndServer();
    void CleanupTree();

    CVD_SsdpSearchResponder m_SearchResponder;
};

#endif // CVD_DEVICE_HOST_H
