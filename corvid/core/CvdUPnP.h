#ifndef CVD_UPNP_H
#define CVD_UPNP_H

#include "CvdHttpServerTask.h"
#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "hlylist.h"
#include "hlyreferences.h"
#include "hlythreads.h"

class CVD_InputDatagramStream;
class CVD_SsdpListenTask;

/*----------------------------------------------------------------------
|   what the engine starts and stops with its listen task: the control
|   points and the hosted devices
+---------------------------------------------------------------------*/
class CVD_UPnPCtrlPointInterface
{
public:
    virtual ~CVD_UPnPCtrlPointInterface() {}
    virtual HLY_Result Start(CVD_SsdpListenTask* task) = 0;
    virtual HLY_Result Stop(CVD_SsdpListenTask* task)  = 0;
    // SSDP traffic of this device is not followed
    virtual HLY_Result IgnoreUUID(const char* uuid) = 0;
};
typedef HLY_Reference<CVD_UPnPCtrlPointInterface> CVD_UPnPCtrlPointReference;

class CVD_UPnPDeviceInterface
{
public:
    virtual ~CVD_UPnPDeviceInterface() {}
    virtual HLY_Result Start(CVD_SsdpListenTask* task) = 0;
    virtual HLY_Result Stop(CVD_SsdpListenTask* task)  = 0;
    virtual const HLY_String& GetUUID() const          = 0;
};
typedef HLY_Reference<CVD_UPnPDeviceInterface> CVD_UPnPDeviceReference;

/*----------------------------------------------------------------------
|   CVD_SsdpListenTask: reads the datagrams of the SSDP socket, one
|   request per datagram, and hands each to every listener. It never
|   answers by itself.
+---------------------------------------------------------------------*/
class CVD_SsdpListenTask : public CVD_HttpServerSocketTask
{
public:
    // owns the socket
    explicit CVD_SsdpListenTask(HLY_UdpSocket* socket);
    ~CVD_SsdpListenTask() override;

    HLY_Result AddListener(CVD_SsdpPacketListener* listener);
    HLY_Result RemoveListener(CVD_SsdpPacketListener* listener);

protected:
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override;
    HLY_Result GetInfo(HLY_SocketInfo& info) override;
    // one datagram, parsed on its own: what one holds never runs into the next
    HLY_Result Read(HLY_BufferedInputStreamReference& stream,
                    HLY_HttpRequest*&                 request,
                    HLY_HttpRequestContext*           context = nullptr) override;
    HLY_Result SetupResponse(HLY_HttpRequest&              request,
                             const HLY_HttpRequestContext& context,
                             HLY_HttpResponse&             response) override;

    HLY_Reference<CVD_InputDatagramStream> m_Datagram;
    HLY_List<CVD_SsdpPacketListener*>      m_Listeners;
    HLY_Mutex                              m_Mutex;

private:
    HLY_UdpSocket* m_UdpSocket;
    HLY_DataBuffer m_Packet;
};

/*----------------------------------------------------------------------
|   CVD_UPnP: the engine. Owns the SSDP socket (port 1900, joined to the
|   SSDP group on every usable interface), its listen task and the
|   registered control points and devices.
+---------------------------------------------------------------------*/
class CVD_UPnP
{
public:
    CVD_UPnP();
    virtual ~CVD_UPnP();

    // HLY_ERROR_INVALID_STATE when already started
    virtual HLY_Result Start();
    // HLY_ERROR_INVALID_STATE when not started; returns after every task it started has ended
    virtual HLY_Result Stop();

    virtual HLY_Result AddDevice(CVD_UPnPDeviceReference& device);
    virtual HLY_Result RemoveDevice(CVD_UPnPDeviceReference& device);
    virtual HLY_Result AddCtrlPoint(CVD_UPnPCtrlPointReference& ctrl_point);
    virtual HLY_Result RemoveCtrlPoint(CVD_UPnPCtrlPointReference& ctrl_point);

    bool IsStarted();

private:
    CVD_UPnP(const CVD_UPnP&)            = delete;
    CVD_UPnP& operator=(const CVD_UPnP&) = delete;

    HLY_Mutex                            m_Lock;
    HLY_List<CVD_UPnPDeviceReference>    m_Devices;
    HLY_List<CVD_UPnPCtrlPointReference> m_CtrlPoints;
    HLY_Reference<CVD_TaskManager>       m_TaskManager;
    bool                                 m_Started;
    CVD_SsdpListenTask*                  m_SsdpListenTask;
    bool                                 m_IgnoreLocalUUIDs;
};

#endif // CVD_UPNP_H
