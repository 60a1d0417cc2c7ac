#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "servicespage.h"

#include "CvdArgument.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "invokedialog.h"

// evented values kept for devices not shown: one entry per variable, and a
// flood of made-up names must not grow it without end
static const int kMaxKeptValues = 20000;

// tree item roles: what an action item invokes
static const int kServiceRole = Qt::UserRole;
static const int kActionRole  = Qt::UserRole + 1;

static QString ValueKey(const QString& uuid, const QString& service, const QString& variable)
{
    return uuid + '|' + service + '|' + variable;
}

ServicesPage::ServicesPage(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, QWidget* parent)
    : DevicePage(parent), m_CtrlPoint(ctrl_point), m_Watch(watch), m_Tree(new QTreeWidget(this))
{
    setObjectName("pageServices");
    m_Tree->setObjectName("treeWidgetServices");
    m_Tree->setColumnCount(3);
    m_Tree->setHeaderLabels({tr("Name"), tr("Details"), tr("Value")});
    m_Tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_Tree);
    connect(m_Tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { OnItemActivated(item); });
    connect(m_Watch, &DeviceWatch::eventsReceived, this, [this](const QList<EventRecord>& e) { OnEvents(e); });
}

bool ServicesPage::AppliesTo(const CVD_DeviceDataReference& device) const
{
    return device->GetServices().GetItemCount() > 0;
}

QString ServicesPage::Constraints(const CVD_StateVariable* variable)
{
    if (variable == nullptr) return QString();
    QString text = DeviceWatch::ToQString(variable->GetDataType());
    const HLY_Array<HLY_String*>& allowed = variable->GetAllowedValues();
    if (allowed.GetItemCount() > 0) {
        QStringList values;
        for (HLY_Ordinal i = 0; i < allowed.GetItemCount(); i++) values << DeviceWatch::ToQString(*allowed[i]);
        text += " {" + values.join(", ") + "}";
    }
    if (const CVD_AllowedValueRange* range = variable->GetAllowedValueRange()) {
        text += QString(" [%1..%2").arg(range->min_value).arg(range->max_value);
        if (range->step > 0) text += QString(" step %1").arg(range->step);
        text += "]";
    }
    return text;
}

void ServicesPage::ShowDevice(const CVD_DeviceDataReference& device)
{
    m_Device = device;
    m_Tree->clear();
    if (device.IsNull()) return;
    QString                        uuid     = DeviceWatch::ToQString(device->GetUUID());
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Ordinal s = 0; s < services.GetItemCount(); s++) {
        CVD_Service*     service    = services[s];
        QString          service_id = DeviceWatch::ToQString(service->GetServiceID());
        QTreeWidgetItem* top        = new QTreeWidgetItem(m_Tree, {service_id, DeviceWatch::ToQString(service->GetServiceType())});
        QTreeWidgetItem* actions    = new QTreeWidgetItem(top, {tr("Actions")});
        HLY_Array<CVD_ActionDesc*>& descs = service->GetActionDescs();
        for (HLY_Ordinal a = 0; a < descs.GetItemCount(); a++) {
            QString          name = DeviceWatch::ToQString(descs[a]->GetName());
            QTreeWidgetItem* item = new QTreeWidgetItem(actions, {name, tr("double-click to invoke")});
            item->setData(0, kServiceRole, service_id);
            item->setData(0, kActionRole, name);
            HLY_Array<CVD_ArgumentDesc*>& arguments = descs[a]->GetArgumentDescs();
            for (HLY_Ordinal i = 0; i < arguments.GetItemCount(); i++) {
                CVD_ArgumentDesc* argument = arguments[i];
                new QTreeWidgetItem(item, {DeviceWatch::ToQString(argument->GetName()),
                                           DeviceWatch::ToQString(argument->GetDirection()) + " " +
                                               Constraints(argument->GetRelatedStateVariable())});
            }
        }
        QTreeWidgetItem* variables = new QTreeWidgetItem(top, {tr("State variables")});
        for (HLY_List<CVD_StateVariable*>::Iterator it = service->GetStateVariables().GetFirstItem(); it; ++it) {
            CVD_StateVariable* variable = *it;
            QString            name     = DeviceWatch::ToQString(variable->GetName());
            QString details = Constraints(variable) + (variable->IsSendingEvents() ? tr(", evented") : tr(", not evented"));
            if (!variable->GetDefaultValue().IsEmpty()) {
                details += tr(", default ") + DeviceWatch::ToQString(variable->GetDefaultValue());
            }
            new QTreeWidgetItem(variables, {name, details, m_Values.value(ValueKey(uuid, service_id, name))});
        }
        top->setExpanded(true);
        actions->setExpanded(true);
        variables->setExpanded(true);
    }
}

void ServicesPage::OnEvents(const QList<EventRecord>& events)
{
    if (m_Values.size() > kMaxKeptValues) m_Values.clear();
    QString shown = m_Device.IsNull() ? QString() : DeviceWatch::ToQString(m_Device->GetUUID());
    for (const EventRecord& event : events) {
        m_Values.insert(ValueKey(event.m_DeviceUUID, event.m_ServiceId, event.m_Variable), event.m_Value);
        if (event.m_DeviceUUID != shown) continue;
        for (int s = 0; s < m_Tree->topLevelItemCount(); s++) {
            QTreeWidgetItem* top = m_Tree->topLevelItem(s);
            if (top->text(0) != event.m_ServiceId || top->childCount() < 2) continue;
            QTreeWidgetItem* variables = top->child(1);
            for (int v = 0; v < variables->childCount(); v++) {
                if (variables->child(v)->text(0) == event.m_Variable) variables->child(v)->setText(2, event.m_Value);
            }
        }
    }
}

void ServicesPage::OnItemActivated(QTreeWidgetItem* item)
{
    if (item == nullptr || item->data(0, kActionRole).isNull()) return;
    OpenInvokeDialog(item->data(0, kServiceRole).toString(), item->data(0, kActionRole).toString());
}

InvokeDialog* ServicesPage::OpenInvokeDialog(const QString& service_id, const QString& action)
{
    if (m_Device.IsNull()) return nullptr;
    CVD_Service* service = nullptr;
    if (HLY_FAILED(m_Device->FindServiceById(service_id.toUtf8().constData(), service))) return nullptr;
    CVD_ActionDesc* desc = service->FindActionDesc(action.toUtf8().constData());
    if (desc == nullptr) return nullptr;
    InvokeDialog* dialog = new InvokeDialog(m_CtrlPoint, m_Watch, m_Device, service, desc, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}
