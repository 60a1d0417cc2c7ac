#ifndef CVD_CTRL_POINT_TASK_H
#define CVD_CTRL_POINT_TASK_H

#include "CvdAction.h"
#include "CvdDeviceData.h"
#include "CvdHttpClientTask.h"
#include "hlyhttp.h"

class CVD_CtrlPoint;
class CVD_Service;

/*----------------------------------------------------------------------
|   CVD_CtrlPointHttpTask: an exchange of the control point with a device.
|   Every request gets the whole of `timeout` (the control point's
|   watchdog aborts the exchange past it, however slowly the bytes come)
|   and its body is read into memory only up to `max_body` bytes.
+---------------------------------------------------------------------*/
class CVD_CtrlPointHttpTask : public CVD_HttpClientSocketTask
{
public:
    CVD_CtrlPointHttpTask(CVD_CtrlPoint* ctrl_point, HLY_HttpRequest* request, HLY_Size max_body, HLY_Timeout timeout);
    // an inspection's task is counted in flight until it is deleted
    ~CVD_CtrlPointHttpTask() override;
    void SetCounted() { m_Counted = true; }

    // the watchdog: aborts the exchange when it runs past its deadline
    void ExpireIfLate(const HLY_TimeStamp& now);

protected:
    void DoRun() override;
    HLY_Result ProcessResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                               HLY_HttpResponse* response) override;
    // body is null when it could not be read within the bounds
    virtual HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request,
                                  const HLY_HttpRequestContext& context, HLY_HttpResponse* response,
                                  const HLY_String* body) = 0;
    // the body of a response, refused beyond max_size bytes or past the deadline
    HLY_Result ReadBody(HLY_HttpResponse& response, HLY_String& body);
    void StartClock();

    CVD_CtrlPoint* m_CtrlPoint;
    HLY_Size       m_MaxBody;
    HLY_Timeout    m_Timeout;
    HLY_Mutex      m_DeadlineLock;
    HLY_TimeStamp  m_Deadline;
    bool           m_Counted;
};

class CVD_CtrlPointGetDescriptionTask : public CVD_CtrlPointHttpTask
{
public:
    CVD_CtrlPointGetDescriptionTask(const HLY_HttpUrl& url, CVD_CtrlPoint* ctrl_point, HLY_TimeInterval leasetime,
                                    const char* uuid);

protected:
    HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                          HLY_HttpResponse* response, const HLY_String* body) override;

    HLY_TimeInterval m_LeaseTime;
    HLY_String       m_UUID;
};

// a GET of one service description, with the device it describes
class CVD_CtrlPointGetSCPDRequest : public HLY_HttpRequest
{
public:
    CVD_CtrlPointGetSCPDRequest(CVD_DeviceDataReference& device, CVD_Service* service, const char* url)
        : HLY_HttpRequest(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1), m_Device(device), m_Service(service) {}
    // the device owns the service and the reference keeps it
    CVD_DeviceDataReference m_Device;
    CVD_Service*            m_Service;
};

class CVD_CtrlPointGetSCPDsTask : public CVD_CtrlPointHttpTask
{
public:
    CVD_CtrlPointGetSCPDsTask(CVD_CtrlPoint* ctrl_point, CVD_DeviceDataReference& root);
    HLY_Result AddRequest(HLY_HttpRequest* request) override;
    HLY_Cardinal GetRequestCount() const { return m_Queued; }

protected:
    HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                          HLY_HttpResponse* response, const HLY_String* body) override;

    CVD_DeviceDataReference m_RootDevice;
    HLY_Cardinal            m_Queued;
};

class CVD_CtrlPointInvokeActionTask : public CVD_CtrlPointHttpTask
{
public:
    CVD_CtrlPointInvokeActionTask(HLY_HttpRequest* request, CVD_CtrlPoint* ctrl_point, CVD_ActionReference& action,
                                  void* userdata);

protected:
    HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                          HLY_HttpResponse* response, const HLY_String* body) override;

    CVD_ActionReference m_Action;
    void*               m_Userdata;
};

class CVD_CtrlPointSubscribeEventTask : public CVD_CtrlPointHttpTask
{
public:
    CVD_CtrlPointSubscribeEventTask(HLY_HttpRequest* request, CVD_CtrlPoint* ctrl_point,
                                    CVD_DeviceDataReference& root, CVD_Service* service, void* userdata = nullptr);

protected:
    HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                          HLY_HttpResponse* response, const HLY_String* body) override;

    // keeps the service alive while the exchange runs
    CVD_DeviceDataReference m_RootDevice;
    CVD_Service*            m_Service;
    void*                   m_Userdata;
};

/*----------------------------------------------------------------------
|   CVD_CtrlPointHouseKeepingTask: runs RunHouseKeeping every period and,
|   in between, the watchdog of the exchanges in flight
+---------------------------------------------------------------------*/
class CVD_CtrlPointHouseKeepingTask : public CVD_ThreadTask
{
public:
    CVD_CtrlPointHouseKeepingTask(CVD_CtrlPoint* ctrl_point, HLY_TimeInterval period)
        : m_CtrlPoint(ctrl_point), m_Period(period) {}

protected:
    void DoRun() override;

    CVD_CtrlPoint*   m_CtrlPoint;
    HLY_TimeInterval m_Period;
};

#endif // CVD_CTRL_POINT_TASK_H
