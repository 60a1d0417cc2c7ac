#include <string.h>

#include "CvdService.h"
#include "CvdSsdp.h"
#include "CvdArgument.h"
#include "CvdConstants.h"
#include "CvdDeviceData.h"
#include "CvdEvent.h"
#include "CvdStateVariable.h"
#include "CvdTaskManager.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.service")

/*----------------------------------------------------------------------
|   CVD_ActionDesc
+---------------------------------------------------------------------*/
CVD_ActionDesc::~CVD_ActionDesc()
{
    for (HLY_Ordinal i = 0; i < m_ArgumentDescs.GetItemCount(); i++) delete m_ArgumentDescs[i];
}

CVD_ArgumentDesc* CVD_ActionDesc::GetArgumentDesc(const char* name) const
{
    CVD_ArgumentDesc* desc = nullptr;
    m_ArgumentDescs.Find(CVD_ArgumentDescNameFinder(name), desc);
    return desc;
}

HLY_Result CVD_ActionDesc::GetSCPDXML(HLY_XmlElementNode* node)
{
    HLY_XmlElementNode* action = new HLY_XmlElementNode("action");
    HLY_CHECK_SEVERE(node->AddChild(action));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(action, "name", m_Name));
    HLY_XmlElementNode* list = new HLY_XmlElementNode("argumentList");
    HLY_CHECK_SEVERE(action->AddChild(list));
    for (HLY_Ordinal i = 0; i < m_ArgumentDescs.GetItemCount(); i++) {
        HLY_CHECK_SEVERE(m_ArgumentDescs[i]->GetSCPDXML(list));
    }
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   CVD_ServiceEventTask
+---------------------------------------------------------------------*/
void CVD_ServiceEventTask::DoRun()
{
    while (!IsAborting(CVD_SERVICE_EVENT_PERIOD_MS)) m_Service->NotifyChanged();
}

/*----------------------------------------------------------------------
|   CVD_ServiceTypeFinder
+---------------------------------------------------------------------*/
bool CVD_ServiceTypeFinder::operator()(CVD_Service* const& service) const
{
    if (m_Type.EndsWith("*")) {
        return HLY_String::CompareN(service->GetServiceType(), m_Type, m_Type.GetLength() - 1, true) == 0;
    }
    return service->GetServiceType().Compare(m_Type, true) == 0;
}

/*----------------------------------------------------------------------
|   CVD_Service
+---------------------------------------------------------------------*/
CVD_Service::CVD_Service(CVD_DeviceData* device,
                         const char*     type,
                         const char*     id,
                         const char*     name,
                         const char*     last_change_namespace)
    : m_Device(device),
      m_ServiceType(type),
      m_ServiceID(id),
      m_EventTask(nullptr),
      m_EventingPaused(false),
      m_LastChangeNamespace(last_change_namespace)
{
    if (name && name[0]) InitURLs(name);
}

CVD_Service::~CVD_Service()
{
    StopEventTask();
    Cleanup();
}

void CVD_Service::StopEventTask()
{
    // the task is owned here, not by its manager, so that it can be
    // waited for before the service it works on goes away
    if (m_EventTask) m_EventTask->Kill();
    m_EventTask = nullptr;
}

void CVD_Service::Cleanup()
{
    for (HLY_Ordinal i = 0; i < m_ActionDescs.GetItemCount(); i++) delete m_ActionDescs[i];
    m_ActionDescs.Clear();
    for (HLY_List<CVD_StateVariable*>::Iterator it = m_StateVars.GetFirstItem(); it; ++it) delete *it;
    m_StateVars.Clear();
    m_RawSCPD = "";
    HLY_AutoLock lock(m_Lock);
    m_StateVarsChanged.Clear();
    m_StateVarsToPublish.Clear();
    m_Subscribers.Clear();
}

HLY_Result CVD_Service::InitURLs(const char* service_name)
{
    m_ServiceName = service_name;
    HLY_String prefix = m_ServiceName + "/" + (m_Device ? m_Device->GetUUID() : HLY_String());
    m_SCPDURL     = prefix + "/scpd.xml";
    m_ControlURL  = prefix + "/control.xml";
    m_EventSubURL = prefix + "/event.xml";
    return HLY_SUCCESS;
}

namespace {
HLY_String ResolveUrl(CVD_DeviceData* device, const HLY_String& url, bool absolute)
{
    if (device == nullptr) return url;
    HLY_HttpUrl resolved = device->NormalizeURL(url);
    return absolute ? resolved.ToString() : resolved.FormatRequestTarget();
}
} // namespace

HLY_String CVD_Service::GetSCPDURL(bool absolute) { return ResolveUrl(m_Device, m_SCPDURL, absolute); }
HLY_String CVD_Service::GetControlURL(bool absolute) { return ResolveUrl(m_Device, m_ControlURL, absolute); }
HLY_String CVD_Service::GetEventSubURL(bool absolute) { return ResolveUrl(m_Device, m_EventSubURL, absolute); }

HLY_Result CVD_Service::ForceVersion(HLY_Cardinal version)
{
    if (version == 0 || m_ServiceType.IsEmpty()) return HLY_FAILURE;
    m_ServiceType.SetLength(m_ServiceType.GetLength() - 1);
    m_ServiceType += HLY_String::FromIntegerU(version);
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::GetDescription(HLY_XmlElementNode* parent, HLY_XmlElementNode** service_out)
{
    HLY_XmlElementNode* service = new HLY_XmlElementNode("service");
    if (service_out) *service_out = service;
    HLY_CHECK_SEVERE(parent->AddChild(service));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(service, "serviceType", m_ServiceType));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(service, "serviceId", m_ServiceID));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(service, "SCPDURL", GetSCPDURL()));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(service, "controlURL", GetControlURL()));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(service, "eventSubURL", GetEventSubURL()));
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   SCPD
+---------------------------------------------------------------------*/
HLY_Result CVD_Service::SetSCPDXML(const char* scpd)
{
    if (scpd == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    Cleanup();

    HLY_XmlElementNode* tree = nullptr;
    HLY_Result          res  = CVD_XmlHelper::Parse(scpd, strlen(scpd), tree);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(CVD_XmlHelper::Parse(scpd, tree))", res);
    } else {
        res = ParseSCPD(tree);
    }
    delete tree;
    if (HLY_FAILED(res)) {
        HLY_LOG_FATAL("Failed to parse scpd: %s", scpd);
        return HLY_FAILURE;
    }
    m_RawSCPD = scpd;
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::ParseSCPD(HLY_XmlElementNode* tree)
{
    if (tree->GetTag() != "scpd") {
        HLY_LOG_SEVERE("Invalid scpd root tag name");
        return HLY_ERROR_INVALID_SYNTAX;
    }

    // a table holding only blank space or text has no variables either: such
    // a service would be written back as an empty table, which reads as none
    HLY_XmlElementNode*           table = CVD_XmlHelper::GetChild(tree, "serviceStateTable");
    HLY_List<HLY_XmlElementNode*> variables;
    if (table == nullptr || HLY_FAILED(CVD_XmlHelper::GetChildren(table, variables, "stateVariable")) ||
        variables.GetItemCount() == 0) {
        HLY_LOG_SEVERE("No state variables found");
        return HLY_ERROR_INVALID_SYNTAX;
    }

    int k = 0;
    for (HLY_List<HLY_XmlElementNode*>::Iterator it = variables.GetFirstItem(); it; ++it) {
        ++k;
        HLY_String name, type, send_events;
        CVD_XmlHelper::GetChildText(*it, "name", name);
        CVD_XmlHelper::GetChildText(*it, "dataType", type);
        CVD_XmlHelper::GetAttribute(*it, "sendEvents", send_events);
        if (name.IsEmpty() || type.IsEmpty()) {
            HLY_LOG_SEVERE("Invalid state variable name or type at position %d", k);
            return HLY_ERROR_INVALID_SYNTAX;
        }
        CVD_StateVariable* variable = new CVD_StateVariable(this);
        m_StateVars.Add(variable);
        variable->m_Name            = name;
        variable->m_DataType        = type;
        variable->m_IsSendingEvents = send_events.Compare("1", true) == 0 || send_events.Compare("true", true) == 0 ||
                                      send_events.Compare("yes", true) == 0;
        CVD_XmlHelper::GetChildText(*it, "defaultValue", variable->m_DefaultValue);

        HLY_XmlElementNode* list = CVD_XmlHelper::GetChild(*it, "allowedValueList");
        if (list) {
            HLY_List<HLY_XmlElementNode*> values;
            CVD_XmlHelper::GetChildren(list, values, "allowedValue");
            for (HLY_List<HLY_XmlElementNode*>::Iterator v = values.GetFirstItem(); v; ++v) {
                HLY_String text;
                CVD_XmlHelper::GetText(*v, text, CVD_XML_MAX_TEXT_SIZE);
                if (!text.IsEmpty()) variable->m_AllowedValues.Add(new HLY_String(text));
            }
            continue;
        }
        HLY_XmlElementNode* range = CVD_XmlHelper::GetChild(*it, "allowedValueRange");
        if (range == nullptr) continue;

        HLY_String minimum, maximum, step;
        CVD_XmlHelper::GetChildText(range, "minimum", minimum);
        CVD_XmlHelper::GetChildText(range, "maximum", maximum);
        CVD_XmlHelper::GetChildText(range, "step", step);
        if (minimum.IsEmpty() || maximum.IsEmpty()) {
            static const struct {
                const char* type;
                const char* minimum;
                const char* maximum;
            } defaults[] = {{"ui1", "0", "255"},           {"ui2", "0", "65535"},
                            {"ui4", "0", "4294967295"},    {"i1", "-128", "127"},
                            {"i2", "-32768", "32767"},     {"i4", "-2147483648", "2147483647"},
                            {"int", "-2147483648", "2147483647"}};
            bool known = false;
            for (const auto& entry : defaults) {
                if (type != entry.type) continue;
                if (minimum.IsEmpty()) minimum = entry.minimum;
                if (maximum.IsEmpty()) maximum = entry.maximum;
                known = true;
            }
            if (!known) {
                HLY_LOG_SEVERE("Invalid variable data type %s", type.GetChars());
                return HLY_ERROR_INVALID_SYNTAX;
            }
        }
        variable->m_AllowedValueRange            = new CVD_AllowedValueRange;
        variable->m_AllowedValueRange->min_value = 0;
        variable->m_AllowedValueRange->max_value = 0;
        variable->m_AllowedValueRange->step      = -1;
        minimum.ToInteger(variable->m_AllowedValueRange->min_value);
        maximum.ToInteger(variable->m_AllowedValueRange->max_value);
        if (!step.IsEmpty()) step.ToInteger(variable->m_AllowedValueRange->step);
    }

    HLY_XmlElementNode* action_list = CVD_XmlHelper::GetChild(tree, "actionList");
    if (action_list == nullptr) return HLY_SUCCESS;
    HLY_List<HLY_XmlElementNode*> actions;
    HLY_CHECK_SEVERE(CVD_XmlHelper::GetChildren(action_list, actions, "action"));
    k = 0;
    for (HLY_List<HLY_XmlElementNode*>::Iterator it = actions.GetFirstItem(); it; ++it) {
        ++k;
        HLY_String name;
        CVD_XmlHelper::GetChildText(*it, "name", name);
        if (name.IsEmpty()) {
            HLY_LOG_SEVERE("Invalid action name for action number %d", k);
            return HLY_ERROR_INVALID_SYNTAX;
        }
        CVD_ActionDesc* action = new CVD_ActionDesc(name, this);
        m_ActionDescs.Add(action);

        HLY_XmlElementNode* argument_list = CVD_XmlHelper::GetChild(*it, "argumentList");
        if (argument_list == nullptr || argument_list->GetChildren().GetItemCount() == 0) continue;
        HLY_List<HLY_XmlElementNode*> arguments;
        HLY_CHECK_SEVERE(CVD_XmlHelper::GetChildren(argument_list, arguments, "argument"));

        bool        has_return = false;
        HLY_Ordinal position   = 0;
        for (HLY_List<HLY_XmlElementNode*>::Iterator a = arguments.GetFirstItem(); a; ++a, ++position) {
            HLY_String arg_name, direction, related;
            CVD_XmlHelper::GetChildText(*a, "name", arg_name);
            CVD_XmlHelper::GetChildText(*a, "direction", direction);
            CVD_XmlHelper::GetChildText(*a, "relatedStateVariable", related);
            if (arg_name.IsEmpty() || direction.IsEmpty() || related.IsEmpty()) {
                HLY_LOG_SEVERE("Invalid argument for action %s", name.GetChars());
                return HLY_ERROR_INVALID_SYNTAX;
            }
            CVD_StateVariable* variable = FindStateVariable(related);
            if (variable == nullptr) {
                HLY_LOG_SEVERE("State variable not found %s", related.GetChars());
                return HLY_ERROR_INVALID_SYNTAX;
            }
            bool is_return = CVD_XmlHelper::GetChild(*a, "retval") != nullptr;
            if (is_return) {
                if (has_return) {
                    HLY_LOG_SEVERE("Return argument already found");
                    return HLY_ERROR_INVALID_SYNTAX;
                }
                has_return = true;
            }
            action->GetArgumentDescs().Add(new CVD_ArgumentDesc(arg_name, position, direction, variable, is_return));
        }
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::GetSCPDXML(HLY_String& scpd)
{
    HLY_XmlElementNode top("scpd");
    HLY_CHECK_SEVERE(top.SetNamespaceUri("", CVD_SERVICE_NAMESPACE));
    HLY_XmlElementNode* version = new HLY_XmlElementNode("specVersion");
    HLY_CHECK_SEVERE(top.AddChild(version));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(version, "major", "1"));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(version, "minor", "0"));

    HLY_XmlElementNode* actions = new HLY_XmlElementNode("actionList");
    HLY_CHECK_SEVERE(top.AddChild(actions));
    for (HLY_Ordinal i = 0; i < m_ActionDescs.GetItemCount(); i++) HLY_CHECK_SEVERE(m_ActionDescs[i]->GetSCPDXML(actions));

    HLY_XmlElementNode* table = new HLY_XmlElementNode("serviceStateTable");
    HLY_CHECK_SEVERE(top.AddChild(table));
    for (HLY_List<CVD_StateVariable*>::Iterator it = m_StateVars.GetFirstItem(); it; ++it) {
        HLY_CHECK_SEVERE((*it)->GetSCPDXML(table));
    }
    HLY_CHECK_SEVERE(CVD_XmlHelper::Serialize(top, scpd, true, 2));
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   variables
+---------------------------------------------------------------------*/
CVD_ActionDesc* CVD_Service::FindActionDesc(const char* name)
{
    CVD_ActionDesc* action = nullptr;
    m_ActionDescs.Find(CVD_ActionDescNameFinder(name), action);
    return action;
}

CVD_StateVariable* CVD_Service::FindStateVariable(const char* name)
{
    CVD_StateVariable* variable = nullptr;
    m_StateVars.Find(CVD_StateVariableNameFinder(name), variable);
    return variable;
}

HLY_Result CVD_Service::GetStateVariableValue(const char* name, HLY_String& value)
{
    CVD_StateVariable* variable = FindStateVariable(name);
    HLY_CHECK_POINTER_FATAL(variable);
    // values change on request threads while the eventing task reads them
    HLY_AutoLock lock(m_Lock);
    value = variable->GetValue();
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::SetStateVariable(const char* name, const char* value)
{
    CVD_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) return HLY_FAILURE;
    HLY_AutoLock lock(m_Lock);
    return variable->SetValue(value);
}

HLY_Result CVD_Service::SetStateVariableRate(const char* name, HLY_TimeInterval rate)
{
    CVD_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) return HLY_FAILURE;
    return variable->SetRate(rate);
}

HLY_Result CVD_Service::SetStateVariableExtraAttribute(const char* name, const char* key, const char* value)
{
    CVD_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) return HLY_FAILURE;
    return variable->SetExtraAttribute(key, value);
}

HLY_Result CVD_Service::IncStateVariable(const char* name)
{
    CVD_StateVariable* variable = FindStateVariable(name);
    if (variable == nullptr) return HLY_FAILURE;
    HLY_AutoLock lock(m_Lock);
    HLY_UInt32 value;
    if (HLY_FAILED(variable->GetValue().ToInteger(value))) return HLY_FAILURE;
    return variable->SetValue(HLY_String::FromIntegerU((HLY_UInt32)(value + 1)));
}

bool CVD_Service::IsSubscribable()
{
    for (HLY_List<CVD_StateVariable*>::Iterator it = m_StateVars.GetFirstItem(); it; ++it) {
        if ((*it)->IsSendingEvents()) return true;
    }
    return false;
}

/*----------------------------------------------------------------------
|   eventing
+---------------------------------------------------------------------*/
HLY_Result CVD_Service::PauseEventing(bool paused)
{
    HLY_AutoLock lock(m_Lock);
    m_EventingPaused = paused;
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::AddChanged(CVD_StateVariable* var)
{
    HLY_AutoLock lock(m_Lock);
    if (m_EventTask == nullptr) return HLY_SUCCESS;
    if (var->IsSendingEvents()) {
        if (!m_StateVarsToPublish.Contains(var)) m_StateVarsToPublish.Add(var);
    } else if (var->IsSendingEvents(true)) {
        if (!m_StateVarsChanged.Contains(var)) m_StateVarsChanged.Add(var);
        UpdateLastChangeLocked(m_StateVarsChanged);
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::UpdateLastChange(HLY_List<CVD_StateVariable*>& vars)
{
    HLY_AutoLock lock(m_Lock);
    return UpdateLastChangeLocked(vars);
}

HLY_Result CVD_Service::UpdateLastChangeLocked(HLY_List<CVD_StateVariable*>& vars)
{
    CVD_StateVariable* last_change = FindStateVariable("LastChange");
    if (last_change == nullptr) return HLY_FAILURE;
    if (vars.GetItemCount() == 0) {
        m_StateVarsToPublish.Remove(last_change);
        return HLY_SUCCESS;
    }

    HLY_XmlElementNode top("Event");
    HLY_CHECK_SEVERE(top.SetNamespaceUri("", m_LastChangeNamespace));
    HLY_XmlElementNode* instance = new HLY_XmlElementNode("InstanceID");
    HLY_CHECK_SEVERE(top.AddChild(instance));
    HLY_CHECK_SEVERE(instance->SetAttribute("val", "0"));
    for (HLY_List<CVD_StateVariable*>::Iterator it = vars.GetFirstItem(); it; ++it) {
        if (!(*it)->IsSendingEvents(true)) continue;
        HLY_XmlElementNode* node = new HLY_XmlElementNode((*it)->GetName());
        HLY_CHECK_SEVERE(instance->AddChild(node));
        HLY_CHECK_SEVERE((*it)->Serialize(*node));
    }
    HLY_String text;
    HLY_CHECK_SEVERE(CVD_XmlHelper::Serialize(top, text, false, 0));
    last_change->m_Value = text;
    if (!m_StateVarsToPublish.Contains(last_change)) m_StateVarsToPublish.Add(last_change);
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::NotifyChanged()
{
    HLY_AutoLock lock(m_Lock);
    if (m_EventingPaused) return HLY_SUCCESS;

    HLY_List<CVD_StateVariable*> ready;
    for (HLY_List<CVD_StateVariable*>::Iterator it = m_StateVarsToPublish.GetFirstItem(); it;) {
        CVD_StateVariable* var = *it;
        HLY_List<CVD_StateVariable*>::Iterator next = it;
        ++next;
        if (var->IsReadyToPublish()) {
            ready.Add(var);
            m_StateVarsToPublish.Erase(it);
            if (var->GetName() == "LastChange") m_StateVarsChanged.Clear();
        }
        it = next;
    }
    if (ready.GetItemCount() == 0) return HLY_SUCCESS;

    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    HLY_TimeInterval grace = HLY_TimeInterval::FromSeconds(CVD_EVENT_DELIVERY_GRACE_SECONDS);
    for (HLY_List<CVD_EventSubscriberReference>::Iterator it = m_Subscribers.GetFirstItem(); it;) {
        HLY_List<CVD_EventSubscriberReference>::Iterator next = it;
        ++next;
        CVD_EventSubscriberReference& subscriber = *it;
        HLY_TimeStamp expiration = subscriber->GetExpirationTime();
        if (expiration == HLY_TimeStamp() || expiration + grace > now) {
            if (HLY_FAILED(subscriber->Notify(ready))) m_Subscribers.Erase(it);
        } else {
            m_Subscribers.Erase(it);
        }
        it = next;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::DecomposeLastChange(const char* xml, HLY_Array<CVD_LastChangeEntry>& entries)
{
    entries.Clear();
    HLY_XmlElementNode* tree = nullptr;
    HLY_CHECK_WARNING(CVD_XmlHelper::Parse(xml, xml ? strlen(xml) : 0, tree));
    HLY_Result res = HLY_SUCCESS;
    if (tree->GetTag() != "Event") {
        res = HLY_ERROR_INVALID_SYNTAX;
    } else {
        HLY_List<HLY_XmlElementNode*> instances;
        CVD_XmlHelper::GetChildren(tree, instances, "InstanceID", nullptr);
        for (HLY_List<HLY_XmlElementNode*>::Iterator it = instances.GetFirstItem(); it && HLY_SUCCEEDED(res); ++it) {
            HLY_String id;
            CVD_XmlHelper::GetAttribute(*it, "val", id);
            for (HLY_List<HLY_XmlNode*>::Iterator c = (*it)->GetChildren().GetFirstItem(); c; ++c) {
                HLY_XmlElementNode* element = (*c)->AsElementNode();
                if (element == nullptr) continue;
                if (entries.GetItemCount() >= CVD_LASTCHANGE_MAX_ENTRIES) {
                    res = HLY_ERROR_OUT_OF_RANGE;
                    break;
                }
                CVD_LastChangeEntry entry;
                entry.m_InstanceID = id;
                entry.m_Name.Assign(element->GetTag(), element->GetTag().GetLength() > CVD_XML_MAX_TEXT_SIZE
                                                           ? CVD_XML_MAX_TEXT_SIZE
                                                           : element->GetTag().GetLength());
                CVD_XmlHelper::GetAttribute(element, "val", entry.m_Value);
                entries.Add(entry);
            }
        }
    }
    delete tree;
    return res;
}

HLY_List<CVD_EventSubscriberReference> CVD_Service::GetSubscribers()
{
    HLY_AutoLock lock(m_Lock);
    return m_Subscribers;
}

/*----------------------------------------------------------------------
|   subscriptions (device side)
+---------------------------------------------------------------------*/
HLY_Result CVD_Service::ProcessNewSubscription(CVD_TaskManager*         task_manager,
                                               const HLY_SocketAddress& addr,
                                               const HLY_String&        callback_urls,
                                               HLY_Int32                timeout,
                                               HLY_HttpResponse&        response)
{
    HLY_LOG_FINE("New subscription for %s (timeout = %d)", callback_urls.GetChars(), timeout);
    HLY_AutoLock lock(m_Lock);
    // the limit counts the subscribers held: the one past it is refused
    if (m_Subscribers.GetItemCount() >= CVD_EVENT_MAX_SUBSCRIBERS) {
        response.SetStatus(500, "Internal Server Error");
        return HLY_FAILURE;
    }

    HLY_String uuid;
    CVD_UPnPMessageHelper::GenerateUUID(uuid);
    HLY_String                   sid = "uuid:" + uuid;
    CVD_EventSubscriberReference subscriber(new CVD_EventSubscriber(task_manager, this, sid, timeout));
    HLY_Result                   res = subscriber->SetCallbacksFromHeader(callback_urls, &addr.GetIpAddress());
    if (res == HLY_ERROR_PERMISSION_DENIED) {
        // logged with the refused URLs
        response.SetStatus(412, "Precondition Failed");
        return HLY_FAILURE;
    }
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(subscriber->SetCallbacksFromHeader(callback_urls))", res);
        response.SetStatus(412, "Precondition Failed");
        return HLY_FAILURE;
    }
    subscriber->SetLocalIf(addr);

    // the first event carries everything, LastChange included
    UpdateLastChangeLocked(m_StateVars);
    HLY_List<CVD_StateVariable*> all(m_StateVars);
    res = subscriber->Notify(all);
    UpdateLastChangeLocked(m_StateVarsChanged);
    if (HLY_FAILED(res)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_FATAL, "(subscriber->Notify(all))", res);
        response.SetStatus(412, "Precondition Failed");
        return HLY_FAILURE;
    }

    if (m_EventTask == nullptr && task_manager) {
        CVD_ServiceEventTask* task = new CVD_ServiceEventTask(this);
        res = task_manager->StartTask(task, nullptr, false);
        if (HLY_FAILED(res)) {
            delete task;
        } else {
            m_EventTask = task;
        }
    }
    m_Subscribers.Add(subscriber);
    CVD_EventHeaders::SetSID(response, sid);
    CVD_EventHeaders::SetTimeOut(response, timeout);
    return HLY_SUCCESS;
}

HLY_Result CVD_Service::ProcessRenewSubscription(const HLY_SocketAddress& addr,
                                                 const HLY_String&        sid,
                                                 HLY_Int32                timeout,
                                                 HLY_HttpResponse&        response)
{
    HLY_AutoLock lock(m_Lock);
    HLY_LOG_FINE("Renewing subscription for %s (sub=%s)", m_EventSubURL.GetChars(), sid.GetChars());

    CVD_EventSubscriberReference subscriber;
    if (HLY_SUCCEEDED(m_Subscribers.Find(CVD_EventSubscriberFinderBySID(sid), subscriber))) {
        HLY_TimeStamp now;
        HLY_System::GetCurrentTimeStamp(now);
        if (subscriber->GetExpirationTime() > now) {
            subscriber->SetLocalIf(addr);
            subscriber->SetTimeout(timeout);
            CVD_EventHeaders::SetSID(response, sid);
            CVD_EventHeaders::SetTimeOut(response, timeout);
            return HLY_SUCCESS;
        }
        HLY_LOG_FINE("Subscriber \"%s\" didn't renew in time", sid.GetChars());
        m_Subscribers.Remove(subscriber);
    }
    HLY_LOG_WARNING("Failed to renew subscription for %s!", sid.GetChars());
    response.SetStatus(412, "Precondition Failed");
    return HLY_FAILURE;
}

HLY_Result CVD_Service::ProcessCancelSubscription(const HLY_SocketAddress& /*addr*/,
                                                  const HLY_String&        sid,
                                                  HLY_HttpResponse&        response)
{
    HLY_AutoLock                 lock(m_Lock);
    CVD_EventSubscriberReference subscriber;
    if (HLY_SUCCEEDED(m_Subscribers.Find(CVD_EventSubscriberFinderBySID(sid), subscriber))) {
        HLY_LOG_FINE("Cancelling subscription for %s (sub=%s)", m_EventSubURL.GetChars(), sid.GetChars());
        m_Subscribers.Remove(subscriber);
        return HLY_SUCCESS;
    }
    HLY_LOG_WARNING("Cancelling subscription for unknown subscriber %s!", sid.GetChars());
    response.SetStatus(412, "Precondition Failed");
    return HLY_FAILURE;
}
