#ifndef SERVICESPAGE_H
#define SERVICESPAGE_H

#include <QHash>

#include "CvdCtrlPoint.h"
#include "devicepage.h"
#include "devicewatch.h"

class InvokeDialog;
class QTreeWidget;
class QTreeWidgetItem;

// The services of the selected device: under each its actions (arguments
// with direction, type and allowed values) and its state variables (type,
// eventing, default and the last value events brought). Double-clicking an
// action opens the invocation dialog.
class ServicesPage : public DevicePage
{
    Q_OBJECT

public:
    ServicesPage(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, QWidget* parent = nullptr);

    bool AppliesTo(const CVD_DeviceDataReference& device) const override;
    void ShowDevice(const CVD_DeviceDataReference& device) override;

    // opens (non-modal) the dialog for an action of the shown device; null when it has none such
    InvokeDialog* OpenInvokeDialog(const QString& service_id, const QString& action);

    // how a state variable's type and bounds read in the tree and the dialog
    static QString Constraints(const CVD_StateVariable* variable);

private:
    void OnEvents(const QList<EventRecord>& events);
    void OnItemActivated(QTreeWidgetItem* item);

    CVD_CtrlPointReference  m_CtrlPoint;
    DeviceWatch*            m_Watch;
    CVD_DeviceDataReference m_Device;
    QTreeWidget*            m_Tree;
    // last evented value per "uuid|service id|variable", for every device
    QHash<QString, QString> m_Values;
};

#endif // SERVICESPAGE_H
