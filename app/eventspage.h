#ifndef EVENTSPAGE_H
#define EVENTSPAGE_H

#include "CvdCtrlPoint.h"
#include "devicepage.h"
#include "devicewatch.h"

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// Subscription per service of the selected device (a check box each) and
// a live log of the events it sent, filtered by a text; a LastChange row
// shows the document as sent and, beneath it, the values it carries.
class EventsPage : public DevicePage
{
    Q_OBJECT

public:
    EventsPage(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, QWidget* parent = nullptr);

    bool AppliesTo(const CVD_DeviceDataReference& device) const override;
    void ShowDevice(const CVD_DeviceDataReference& device) override;

    // subscribes to (or cancels) a service of the shown device; false when it cannot
    bool SetSubscribed(const QString& service_id, bool subscribed);

private:
    void OnEvents(const QList<EventRecord>& events);
    void ApplyFilter();
    void Filter(QTreeWidgetItem* item);

    CVD_CtrlPointReference  m_CtrlPoint;
    CVD_DeviceDataReference m_Device;
    QTreeWidget*            m_Services;
    QLineEdit*              m_Filter;
    QTreeWidget*            m_Log;
    bool                    m_Filling;
};

#endif // EVENTSPAGE_H
