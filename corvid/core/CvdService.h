#ifndef CVD_SERVICE_H
#define CVD_SERVICE_H

#include "CvdThreadTask.h"
#include "hlyarray.h"
#include "hlyhttp.h"
#include "hlylist.h"
#include "hlyreferences.h"
#include "hlystrings.h"
#include "hlythreads.h"

class HLY_XmlElementNode;
class CVD_DeviceData;
class CVD_ActionDesc;
class CVD_StateVariable;
class CVD_EventSubscriber;
class CVD_TaskManager;
class CVD_Service;

typedef HLY_Reference<CVD_EventSubscriber> CVD_EventSubscriberReference;

#define CVD_SERVICE_NAMESPACE "urn:schemas-upnp-org:service-1-0"

// how often the eventing task looks for changes to publish
#define CVD_SERVICE_EVENT_PERIOD_MS 100
// a LastChange document read by a control point yields at most this many values
#define CVD_LASTCHANGE_MAX_ENTRIES 4096

// one value of a LastChange document
struct CVD_LastChangeEntry {
    HLY_String m_InstanceID;
    HLY_String m_Name;
    HLY_String m_Value;
};

/*----------------------------------------------------------------------
|   CVD_ActionDesc
+---------------------------------------------------------------------*/
class CVD_ArgumentDesc;
class CVD_ActionDesc
{
public:
    CVD_ActionDesc(const char* name, CVD_Service* service) : m_Name(name), m_Service(service) {}
    ~CVD_ActionDesc();

    HLY_Result GetSCPDXML(HLY_XmlElementNode* node);
    const HLY_String& GetName() const { return m_Name; }
    CVD_Service* GetService() const { return m_Service; }
    HLY_Array<CVD_ArgumentDesc*>& GetArgumentDescs() { return m_ArgumentDescs; }
    CVD_ArgumentDesc* GetArgumentDesc(const char* name) const;

private:
    CVD_ActionDesc(const CVD_ActionDesc&)            = delete;
    CVD_ActionDesc& operator=(const CVD_ActionDesc&) = delete;

    HLY_String                   m_Name;
    CVD_Service*                 m_Service;
    HLY_Array<CVD_ArgumentDesc*> m_ArgumentDescs;
};

class CVD_ActionDescNameFinder
{
public:
    explicit CVD_ActionDescNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const CVD_ActionDesc* const& desc) const { return desc->GetName().Compare(m_Name, true) == 0; }
private:
    HLY_String m_Name;
};

/*----------------------------------------------------------------------
|   CVD_ServiceEventTask: publishes the service's changes every 100 ms
+---------------------------------------------------------------------*/
class CVD_ServiceEventTask : public CVD_ThreadTask
{
public:
    explicit CVD_ServiceEventTask(CVD_Service* service) : m_Service(service) {}
protected:
    void DoRun() override;
private:
    CVD_Service* m_Service;
};

/*----------------------------------------------------------------------
|   CVD_Service
+---------------------------------------------------------------------*/
class CVD_Service
{
public:
    CVD_Service(CVD_DeviceData* device,
                const char*     type,
                const char*     id,
                const char*     name                 = nullptr,
                const char*     last_change_namespace = nullptr);
    virtual ~CVD_Service();

    // description documents
    HLY_Result SetSCPDXML(const char* xml);
    HLY_Result GetSCPDXML(HLY_String& xml);
    // the last document SetSCPDXML accepted, as it was given
    const HLY_String& GetRawSCPD() const { return m_RawSCPD; }
    HLY_Result GetDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode** service = nullptr);

    // URLs
    HLY_Result InitURLs(const char* service_name);
    HLY_Result SetSCPDURL(const char* url) { m_SCPDURL = url; return HLY_SUCCESS; }
    HLY_Result SetControlURL(const char* url) { m_ControlURL = url; return HLY_SUCCESS; }
    HLY_Result SetEventSubURL(const char* url) { m_EventSubURL = url; return HLY_SUCCESS; }
    HLY_String GetSCPDURL(bool absolute = false);
    HLY_String GetControlURL(bool absolute = false);
    HLY_String GetEventSubURL(bool absolute = false);
    // the texts as stored
    const HLY_String& GetRawSCPDURL() const { return m_SCPDURL; }
    const HLY_String& GetRawControlURL() const { return m_ControlURL; }
    const HLY_String& GetRawEventSubURL() const { return m_EventSubURL; }

    HLY_Result ForceVersion(HLY_Cardinal version);

    // actions and variables
    CVD_ActionDesc* FindActionDesc(const char* name);
    CVD_StateVariable* FindStateVariable(const char* name);
    // these three hold the service's lock: a hosted device changes values
    // on request threads while its eventing task reads them
    HLY_Result GetStateVariableValue(const char* name, HLY_String& value);
    HLY_Result SetStateVariable(const char* name, const char* value);
    HLY_Result SetStateVariableRate(const char* name, HLY_TimeInterval rate);
    HLY_Result SetStateVariableExtraAttribute(const char* name, const char* key, const char* value);
    HLY_Result IncStateVariable(const char* name);
    bool IsSubscribable();

    // eventing
    HLY_Result PauseEventing(bool paused = true);
    HLY_Result AddChanged(CVD_StateVariable* var);
    HLY_Result UpdateLastChange(HLY_List<CVD_StateVariable*>& vars);
    HLY_Result NotifyChanged();
    // the values a LastChange text carries, per instance in document order
    static HLY_Result DecomposeLastChange(const char* xml, HLY_Array<CVD_LastChangeEntry>& entries);

    // subscription requests of control points (device side)
    HLY_Result ProcessNewSubscription(CVD_TaskManager*          task_manager,
                                      const HLY_SocketAddress&  addr,
                                      const HLY_String&         callback_urls,
                                      HLY_Int32                 timeout,
                                      HLY_HttpResponse&         response);
    HLY_Result ProcessRenewSubscription(const HLY_SocketAddress& addr,
                                        const HLY_String&        sid,
                                        HLY_Int32                timeout,
                                        HLY_HttpResponse&        response);
    HLY_Result ProcessCancelSubscription(const HLY_SocketAddress& addr,
                                         const HLY_String&        sid,
                                         HLY_HttpResponse&        response);
    // a copy of the current subscribers (taken under the lock)
    HLY_List<CVD_EventSubscriberReference> GetSubscribers();
    bool HasEventTask() const { return m_EventTask != nullptr; }

    // accessors
    const HLY_String& GetServiceType() const { return m_ServiceType; }
    const HLY_String& GetServiceID() const { return m_ServiceID; }
    const HLY_String& GetServiceName() const { return m_ServiceName; }
    CVD_DeviceData* GetDevice() const { return m_Device; }
    HLY_Array<CVD_ActionDesc*>& GetActionDescs() { return m_ActionDescs; }
    const HLY_List<CVD_StateVariable*>& GetStateVariables() const { return m_StateVars; }

private:
    friend class CVD_ServiceEventTask;
    CVD_Service(const CVD_Service&)            = delete;
    CVD_Service& operator=(const CVD_Service&) = delete;

    void Cleanup();
    HLY_Result ParseSCPD(HLY_XmlElementNode* tree);
    HLY_Result UpdateLastChangeLocked(HLY_List<CVD_StateVariable*>& vars);
    void StopEventTask();

    CVD_DeviceData*                        m_Device;
    HLY_String                             m_ServiceType;
    HLY_String                             m_ServiceID;
    HLY_String                             m_ServiceName;
    HLY_String                             m_SCPDURL;
    HLY_String                             m_ControlURL;
    HLY_String                             m_EventSubURL;
    CVD_ServiceEventTask*                  m_EventTask;
    HLY_Array<CVD_ActionDesc*>             m_ActionDescs;
    HLY_List<CVD_StateVariable*>           m_StateVars;
    HLY_Mutex                              m_Lock;
    HLY_List<CVD_StateVariable*>           m_StateVarsChanged;
    HLY_List<CVD_StateVariable*>           m_StateVarsToPublish;
    HLY_List<CVD_EventSubscriberReference> m_Subscribers;
    bool                                   m_EventingPaused;
    HLY_String                             m_LastChangeNamespace;
    HLY_String                             m_RawSCPD;
};

/*----------------------------------------------------------------------
|   finders over services (ignoring case)
+---------------------------------------------------------------------*/
class CVD_ServiceIDFinder
{
public:
    explicit CVD_ServiceIDFinder(const char* id) : m_Id(id) {}
    bool operator()(CVD_Service* const& service) const { return service->GetServiceID().Compare(m_Id, true) == 0; }
private:
    HLY_String m_Id;
};

class CVD_ServiceTypeFinder
{
public:
    explicit CVD_ServiceTypeFinder(const char* type) : m_Type(type) {}
    bool operator()(CVD_Service* const& service) const;
private:
    HLY_String m_Type;
};

class CVD_ServiceNameFinder
{
public:
    explicit CVD_ServiceNameFinder(const char* name) : m_Name(name) {}
    bool operator()(CVD_Service* const& service) const { return service->GetServiceName().Compare(m_Name, true) == 0; }
private:
    HLY_String m_Name;
};

// compares the absolute form when the wanted text starts with "http://"
class CVD_ServiceURLFinder
{
public:
    typedef HLY_String (CVD_Service::*Getter)(bool);
    CVD_ServiceURLFinder(const char* url, Getter getter) : m_Url(url), m_Getter(getter) {}
    bool operator()(CVD_Service* const& service) const
    {
        return (service->*m_Getter)(m_Url.StartsWith("http://", true)).Compare(m_Url, true) == 0;
    }
private:
    HLY_String m_Url;
    Getter     m_Getter;
};

#endif // CVD_SERVICE_H
