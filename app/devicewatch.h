#ifndef DEVICEWATCH_H
#define DEVICEWATCH_H

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <mutex>
#include <set>

#include "CvdCtrlPoint.h"

// what the window keeps of a device the control point announced
struct DeviceSnapshot
{
    QString m_UUID;
    QString m_ParentUUID; // empty for a root device
    QString m_FriendlyName;
    QString m_Manufacturer;
    QString m_DeviceType;
    QString m_ModelDescription;
    QString m_IconUrl;    // the best icon up to 48 px, empty without one
};

// one evented value as it reached the control point
struct EventRecord
{
    QDateTime  m_Time;
    QString    m_DeviceUUID;
    QString    m_ServiceId;
    QString    m_Variable;
    QString    m_Value;
    quint32    m_Seq = 0;
    bool       m_FromLastChange = false; // taken out of a LastChange document
};

// the answer to one invocation
struct ActionOutcome
{
    HLY_Result                    m_Result = HLY_SUCCESS;
    quint32                       m_ErrorCode = 0;
    QString                       m_ErrorDescription;
    QList<QPair<QString, QString>> m_Outputs;
};

// Listens to a control point for the window. The control point calls it with
// its lock held on engine threads: it copies what it needs there and hands
// the copies to the GUI thread, where the signals are emitted.
class DeviceWatch : public QObject, public CVD_CtrlPointListener
{
    Q_OBJECT

public:
    explicit DeviceWatch(CVD_CtrlPoint* ctrl_point, QObject* parent = nullptr);
    ~DeviceWatch() override;

    // invokes the action; its answer comes as actionAnswered(action, ...)
    HLY_Result Invoke(CVD_ActionReference& action);

    // CVD_CtrlPointListener
    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override;
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference& device) override;
    HLY_Result OnActionResponse(HLY_Result result, CVD_ActionReference& action, void* userdata) override;
    HLY_Result OnEventNotify(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;

    static DeviceSnapshot SnapshotOf(CVD_DeviceData& device);
    static QString ToQString(const HLY_String& text);

signals:
    void deviceAdded(const DeviceSnapshot& device);
    void deviceRemoved(const QString& uuid);
    void eventsReceived(const QList<EventRecord>& events);
    void actionAnswered(const void* action, const ActionOutcome& outcome);

private:
    CVD_CtrlPoint*                         m_CtrlPoint;
    std::mutex                             m_PendingLock;
    std::set<const void*>                  m_Pending; // actions this watch sent
};

#endif // DEVICEWATCH_H
