#include "CvdDatagramStream.h"
#include "CvdUPnP.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.core.upnp")

/*----------------------------------------------------------------------
|   iterators of the engine's lists
+---------------------------------------------------------------------*/
namespace {

class CVD_UPnP_CtrlPointStartIterator
{
public:
    explicit CVD_UPnP_CtrlPointStartIterator(CVD_SsdpListenTask* task) : m_ListenTask(task) {}
    HLY_Result operator()(CVD_UPnPCtrlPointReference& ctrl_point) const
    {
        HLY_Result result = ctrl_point->Start(m_ListenTask);
        if (HLY_FAILED(result)) HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(ctrl_point->Start(m_ListenTask))", result);
        return HLY_SUCCESS;
    }

private:
    CVD_SsdpListenTask* m_ListenTask;
};

class CVD_UPnP_DeviceStartIterator
{
public:
    explicit CVD_UPnP_DeviceStartIterator(CVD_SsdpListenTask* task) : m_ListenTask(task) {}
    HLY_Result operator()(CVD_UPnPDeviceReference& device_host) const
    {
        HLY_Result result = device_host->Start(m_ListenTask);
        if (HLY_FAILED(result)) HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(device_host->Start(m_ListenTask))", result);
        return HLY_SUCCESS;
    }

private:
    CVD_SsdpListenTask* m_ListenTask;
};

class CVD_UPnP_CtrlPointStopIterator
{
public:
    explicit CVD_UPnP_CtrlPointStopIterator(CVD_SsdpListenTask* task) : m_ListenTask(task) {}
    HLY_Result operator()(CVD_UPnPCtrlPointReference& ctrl_point) const { return ctrl_point->Stop(m_ListenTask); }

private:
    CVD_SsdpListenTask* m_ListenTask;
};

class CVD_UPnP_DeviceStopIterator
{
public:
    explicit CVD_UPnP_DeviceStopIterator(CVD_SsdpListenTask* task) : m_ListenTask(task) {}
    HLY_Result operator()(CVD_UPnPDeviceReference& device_host) const { return device_host->Stop(m_ListenTask); }

private:
    CVD_SsdpListenTask* m_ListenTask;
};

class CVD_SsdpInitMulticastIterator
{
public:
    explicit CVD_SsdpInitMulticastIterator(HLY_UdpMulticastSocket* socket) : m_Socket(socket) {}
    HLY_Result operator()(HLY_IpAddress& if_addr) const
    {
        HLY_IpAddress group;
        HLY_Result    result = group.ResolveName(CVD_SSDP_MULTICAST_ADDRESS);
        if (HLY_FAILED(result)) return result;
        // a membership left over on this interface would make the join fail
        m_Socket->LeaveGroup(group, if_addr);
        return m_Socket->JoinGroup(group, if_addr);
    }

private:
    HLY_UdpMulticastSocket* m_Socket;
};

} // namespace

/*----------------------------------------------------------------------
|   CVD_SsdpListenTask
+---------------------------------------------------------------------*/
CVD_SsdpListenTask::CVD_SsdpListenTask(HLY_UdpSocket* socket)
    : CVD_HttpServerSocketTask(socket, true), m_UdpSocket(socket), m_Packet(CVD_SSDP_DATAGRAM_BUFFER_SIZE)
{
}

CVD_SsdpListenTask::~CVD_SsdpListenTask()
{
    m_Datagram = nullptr;
}

HLY_Result CVD_SsdpListenTask::AddListener(CVD_SsdpPacketListener* listener)
{
    HLY_AutoLock lock(m_Mutex);
    m_Listeners.Add(listener);
    return HLY_SUCCESS;
}

HLY_Result CVD_SsdpListenTask::RemoveListener(CVD_SsdpPacketListener* listener)
{
    HLY_AutoLock lock(m_Mutex);
    m_Listeners.Remove(listener);
    return HLY_SUCCESS;
}

HLY_Result CVD_SsdpListenTask::GetInputStream(HLY_InputStreamReference& stream)
{
    if (m_Datagram.IsNull()) {
        HLY_InputStreamReference socket_stream;
        HLY_Result               result = m_Socket->GetInputStream(socket_stream);
        if (HLY_FAILED(result)) return result;
        m_Datagram = new CVD_InputDatagramStream(m_UdpSocket, CVD_SSDP_DATAGRAM_BUFFER_SIZE);
    }
    stream = m_Datagram;
    return HLY_SUCCESS;
}

HLY_Result CVD_SsdpListenTask::GetInfo(HLY_SocketInfo& info)
{
    if (m_Datagram.IsNull()) return HLY_FAILURE;
    return m_Datagram->GetInfo(info);
}

HLY_Result CVD_SsdpListenTask::Read(HLY_BufferedInputStreamReference&, HLY_HttpRequest*& request,
                                    HLY_HttpRequestContext* context)
{
    request = nullptr;
    HLY_Size   size   = 0;
    HLY_Result result = m_Datagram->Read(m_Packet.UseData(), m_Packet.GetBufferSize(), &size);
    m_LastSourceError = result;
    if (HLY_FAILED(result)) return result;

    HLY_SocketInfo info;
    GetInfo(info);
    if (context) {
        context->SetLocalAddress(info.local_address);
        context->SetRemoteAddress(info.remote_address);
    }
    if (size >= m_Packet.GetBufferSize()) {
        // the socket cut it to the buffer: what is left of it is not the message sent
        HLY_LOG_FINE("dropping a datagram of %u bytes or more from %s", (unsigned int)size,
                     info.remote_address.ToString().GetChars());
        return HLY_ERROR_OUT_OF_RANGE;
    }
    result = CVD_UPnPMessageHelper::ParseRequest(m_Packet.GetData(), size, &info.local_address, request);
    if (HLY_FAILED(result)) {
        HLY_LOG_FINE("dropping a malformed datagram of %u bytes from %s (%d)", (unsigned int)size,
                     info.remote_address.ToString().GetChars(), (int)result);
    }
    return result;
}

HLY_Result CVD_SsdpListenTask::SetupResponse(HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                                             HLY_HttpResponse&)
{
    HLY_AutoLock lock(m_Mutex);
    for (auto it = m_Listeners.GetFirstItem(); it; ++it) (*it)->OnSsdpPacket(request, context);
    // the listener never answers: the server task sends nothing and reads on
    return HLY_ERROR_TERMINATED;
}

/*----------------------------------------------------------------------
|   CVD_UPnP
+---------------------------------------------------------------------*/
CVD_UPnP::CVD_UPnP() : m_Started(false), m_SsdpListenTask(nullptr), m_IgnoreLocalUUIDs(true) {}

CVD_UPnP::~CVD_UPnP()
{
    if (IsStarted()) Stop();
    m_Devices.Clear();
    m_CtrlPoints.Clear();
    m_TaskManager = nullptr;
}

bool CVD_UPnP::IsStarted()
{
    HLY_AutoLock lock(m_Lock);
    return m_Started;
}

HLY_Result CVD_UPnP::Start()
{
    HLY_AutoLock lock(m_Lock);
    if (m_Started) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(((-20000-0) - 9))", HLY_ERROR_INVALID_STATE);
        return HLY_ERROR_INVALID_STATE;
    }
    HLY_LOG_INFO("Starting UPnP...");

    HLY_List<HLY_IpAddress> ips;
    CVD_UPnPMessageHelper::GetIPAddresses(ips, false);

    HLY_Reference<HLY_UdpMulticastSocket> socket(new HLY_UdpMulticastSocket(HLY_SOCKET_FLAG_CANCELLABLE));
    HLY_Result result = socket->Bind(HLY_SocketAddress(HLY_IpAddress::Any, CVD_SSDP_PORT), true);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(socket->Bind(HLY_SocketAddress(HLY_IpAddress::Any, 1900), true))",
                              result);
        return result;
    }
    result = ips.ApplyUntil(CVD_SsdpInitMulticastIterator(socket.AsPointer()), HLY_UntilResultNotEquals(HLY_SUCCESS));
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE,
                              "(ips.ApplyUntil(CVD_SsdpInitMulticastIterator(socket.AsPointer()), HLY_UntilResultNotEquals(0)))",
                              result);
        return result;
    }

    CVD_SsdpListenTask* listen_task = new CVD_SsdpListenTask(socket.AsPointer());
    // the task owns the socket from now on
    socket.Detach();

    HLY_Reference<CVD_TaskManager> task_manager(new CVD_TaskManager());
    result = task_manager->StartTask(listen_task);
    if (HLY_FAILED(result)) {
        // an auto-destroying task that failed to start is gone already
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(taskManager->StartTask(m_SsdpListenTask))", result);
        return result;
    }
    m_SsdpListenTask = listen_task;

    m_CtrlPoints.Apply(CVD_UPnP_CtrlPointStartIterator(m_SsdpListenTask));
    m_Devices.Apply(CVD_UPnP_DeviceStartIterator(m_SsdpListenTask));

    m_TaskManager = task_manager;
    m_Started     = true;
    return HLY_SUCCESS;
}

HLY_Result CVD_UPnP::Stop()
{
    HLY_AutoLock lock(m_Lock);
    if (!m_Started) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_WARNING, "(((-20000-0) - 9))", HLY_ERROR_INVALID_STATE);
        return HLY_ERROR_INVALID_STATE;
    }
    HLY_LOG_INFO("Stopping UPnP...");

    m_CtrlPoints.Apply(CVD_UPnP_CtrlPointStopIterator(m_SsdpListenTask));
    m_Devices.Apply(CVD_UPnP_DeviceStopIterator(m_SsdpListenTask));

    m_TaskManager->StopAllTasks();
    m_SsdpListenTask = nullptr;
    m_TaskManager    = nullptr;
    m_Started        = false;
    return HLY_SUCCESS;
}

HLY_Result CVD_UPnP::AddDevice(CVD_UPnPDeviceReference& device)
{
    HLY_AutoLock lock(m_Lock);
    if (m_IgnoreLocalUUIDs) {
        for (auto it = m_CtrlPoints.GetFirstItem(); it; ++it) (*it)->IgnoreUUID(device->GetUUID());
    }
    if (m_Started) {
        HLY_LOG_INFO("Starting Device...");
        HLY_Result result = device->Start(m_SsdpListenTask);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(device->Start(m_SsdpListenTask))", result);
            return result;
        }
    }
    return m_Devices.Add(device);
}

HLY_Result CVD_UPnP::AddCtrlPoint(CVD_UPnPCtrlPointReference& ctrl_point)
{
    HLY_AutoLock lock(m_Lock);
    if (m_IgnoreLocalUUIDs) {
        for (auto it = m_Devices.GetFirstItem(); it; ++it) ctrl_point->IgnoreUUID((*it)->GetUUID());
    }
    if (m_Started) {
        HLY_LOG_INFO("Starting Ctrlpoint...");
        HLY_Result result = ctrl_point->Start(m_SsdpListenTask);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(ctrl_point->Start(m_SsdpListenTask))", result);
            return result;
        }
    }
    return m_CtrlPoints.Add(ctrl_point);
}

HLY_Result CVD_UPnP::RemoveDevice(CVD_UPnPDeviceReference& device)
{
    HLY_AutoLock lock(m_Lock);
    if (m_Started) device->Stop(m_SsdpListenTask);
    return m_Devices.Remove(device);
}

HLY_Result CVD_UPnP::RemoveCtrlPoint(CVD_UPnPCtrlPointReference& ctrl_point)
{
    HLY_AutoLock lock(m_Lock);
    if (m_Started) ctrl_point->Stop(m_SsdpListenTask);
    return m_CtrlPoints.Remove(ctrl_point);
}
