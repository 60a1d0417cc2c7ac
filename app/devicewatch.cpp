#include <QMetaObject>

#include "devicewatch.h"

#include "CvdArgument.h"
#include "CvdService.h"

// icons larger than this are scaled down anyway: a list row is small
static const HLY_Int32 kIconMaxSize = 48;

DeviceWatch::DeviceWatch(CVD_CtrlPoint* ctrl_point, QObject* parent) : QObject(parent), m_CtrlPoint(ctrl_point)
{
    m_CtrlPoint->AddListener(this);
}

DeviceWatch::~DeviceWatch()
{
    m_CtrlPoint->RemoveListener(this);
}

QString DeviceWatch::ToQString(const HLY_String& text)
{
    if (text.GetLength() == 0) return QString();
    return QString::fromUtf8(text.GetChars(), (qsizetype)text.GetLength());
}

DeviceSnapshot DeviceWatch::SnapshotOf(CVD_DeviceData& device)
{
    DeviceSnapshot snapshot;
    snapshot.m_UUID             = ToQString(device.GetUUID());
    snapshot.m_ParentUUID       = ToQString(device.GetParentUUID());
    snapshot.m_FriendlyName     = ToQString(device.GetFriendlyName());
    snapshot.m_Manufacturer     = ToQString(device.GetManufacturer());
    snapshot.m_DeviceType       = ToQString(device.GetType());
    snapshot.m_ModelDescription = ToQString(device.GetModelDescription());
    snapshot.m_IconUrl          = ToQString(device.GetIconUrl(nullptr, kIconMaxSize));
    return snapshot;
}

HLY_Result DeviceWatch::Invoke(CVD_ActionReference& action)
{
    {
        std::lock_guard<std::mutex> lock(m_PendingLock);
        m_Pending.insert(action.AsPointer());
    }
    HLY_Result result = m_CtrlPoint->InvokeAction(action);
    if (HLY_FAILED(result)) {
        std::lock_guard<std::mutex> lock(m_PendingLock);
        m_Pending.erase(action.AsPointer());
    }
    return result;
}

HLY_Result DeviceWatch::OnDeviceAdded(CVD_DeviceDataReference& device)
{
    DeviceSnapshot snapshot = SnapshotOf(*device);
    QMetaObject::invokeMethod(this, [this, snapshot]() { emit deviceAdded(snapshot); }, Qt::QueuedConnection);
    return HLY_SUCCESS;
}

HLY_Result DeviceWatch::OnDeviceRemoved(CVD_DeviceDataReference& device)
{
    QString uuid = ToQString(device->GetUUID());
    QMetaObject::invokeMethod(this, [this, uuid]() { emit deviceRemoved(uuid); }, Qt::QueuedConnection);
    return HLY_SUCCESS;
}

HLY_Result DeviceWatch::OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* /*userdata*/)
{
    {
        // others' invocations reach every listener too
        std::lock_guard<std::mutex> lock(m_PendingLock);
        if (m_Pending.erase(action.AsPointer()) == 0) return HLY_SUCCESS;
    }
    ActionOutcome outcome;
    outcome.m_Result = result;
    HLY_UInt32  code = 0;
    const char* text = action->GetError(&code);
    outcome.m_ErrorCode        = code;
    outcome.m_ErrorDescription = QString::fromUtf8(text ? text : "");
    const HLY_Array<CVD_Argument*>& arguments = action->GetArguments();
    for (HLY_Ordinal i = 0; i < arguments.GetItemCount(); i++) {
        if (arguments[i]->GetDesc().GetDirection().Compare("out", true) != 0) continue;
        outcome.m_Outputs.append({ToQString(arguments[i]->GetDesc().GetName()), ToQString(arguments[i]->GetValue())});
    }
    const void* key = action.AsPointer();
    QMetaObject::invokeMethod(this, [this, key, outcome]() { emit actionAnswered(key, outcome); },
                              Qt::QueuedConnection);
    return HLY_SUCCESS;
}

HLY_Result DeviceWatch::OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars)
{
    if (service == nullptr || vars == nullptr || service->GetDevice() == nullptr) return HLY_SUCCESS;
    QList<EventRecord> events;
    EventRecord        base;
    base.m_Time       = QDateTime::currentDateTime();
    base.m_DeviceUUID = ToQString(service->GetDevice()->GetUUID());
    base.m_ServiceId  = ToQString(service->GetServiceID());
    // the control point holds its lock (a recursive one) while it calls us
    CVD_EventSubscriberReference subscriber;
    if (HLY_SUCCEEDED(m_CtrlPoint->GetSubscriber(service, subscriber))) base.m_Seq = subscriber->GetEventKey();

    // the control point hands over the values a LastChange carried (those of
    // variables not evented themselves), not the document: that is the
    // LastChange variable's value, shown as sent before them
    CVD_StateVariable* last_change = service->FindStateVariable("LastChange");
    bool               decomposed  = false;
    for (HLY_List<CVD_StateVariable*>::Iterator it = vars->GetFirstItem(); it; ++it) {
        EventRecord record      = base;
        record.m_Variable       = ToQString((*it)->GetName());
        record.m_Value          = ToQString((*it)->GetValue());
        record.m_FromLastChange = last_change != nullptr && !(*it)->IsSendingEvents();
        if (record.m_FromLastChange && !decomposed) {
            EventRecord document = base;
            document.m_Variable  = "LastChange";
            document.m_Value     = ToQString(last_change->GetValue());
            events.append(document);
            decomposed = true;
        }
        events.append(record);
    }
    QMetaObject::invokeMethod(this, [this, events]() { emit eventsReceived(events); }, Qt::QueuedConnection);
    return HLY_SUCCESS;
}
