#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "eventspage.h"

#include "CvdService.h"

// the log keeps this many rows, the oldest go first: a chatty renderer
// sends a LastChange per second for as long as the window runs
static const int kMaxLogRows = 5000;

enum { kColumnTime, kColumnService, kColumnVariable, kColumnValue, kColumnSeq };

EventsPage::EventsPage(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, QWidget* parent)
    : DevicePage(parent), m_CtrlPoint(ctrl_point), m_Services(new QTreeWidget(this)), m_Filter(new QLineEdit(this)),
      m_Log(new QTreeWidget(this)), m_Filling(false)
{
    setObjectName("pageEvents");
    m_Services->setObjectName("treeWidgetSubscriptions");
    m_Services->setHeaderLabels({tr("Subscribed services")});
    m_Services->setMaximumHeight(90);
    m_Filter->setObjectName("lineEditEventFilter");
    m_Filter->setPlaceholderText(tr("Filter"));
    m_Filter->setClearButtonEnabled(true);
    m_Log->setObjectName("treeWidgetEvents");
    m_Log->setHeaderLabels({tr("Time"), tr("Service"), tr("Variable"), tr("Value"), tr("SEQ")});
    // fixed widths and rows: measuring every row's text on each event stalls
    // the GUI thread once thousands are logged
    m_Log->setUniformRowHeights(true);
    m_Log->header()->setSectionResizeMode(QHeaderView::Interactive);
    for (int column : {kColumnTime, kColumnService, kColumnVariable}) m_Log->setColumnWidth(column, 130);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_Services);
    layout->addWidget(m_Filter);
    layout->addWidget(m_Log);
    connect(m_Services, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (m_Filling) return;
        if (!SetSubscribed(item->text(0), item->checkState(0) == Qt::Checked)) {
            m_Filling = true;
            item->setCheckState(0, Qt::Unchecked);
            m_Filling = false;
        }
    });
    connect(m_Filter, &QLineEdit::textChanged, this, [this]() { ApplyFilter(); });
    connect(watch, &DeviceWatch::eventsReceived, this, [this](const QList<EventRecord>& e) { OnEvents(e); });
}

bool EventsPage::AppliesTo(const CVD_DeviceDataReference& device) const
{
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Ordinal i = 0; i < services.GetItemCount(); i++) {
        if (services[i]->IsSubscribable()) return true;
    }
    return false;
}

void EventsPage::ShowDevice(const CVD_DeviceDataReference& device)
{
    m_Filling = true;
    m_Device  = device;
    m_Services->clear();
    if (!device.IsNull()) {
        const HLY_Array<CVD_Service*>& services = device->GetServices();
        for (HLY_Ordinal i = 0; i < services.GetItemCount(); i++) {
            if (!services[i]->IsSubscribable()) continue;
            CVD_EventSubscriberReference subscriber;
            bool subscribed = HLY_SUCCEEDED(m_CtrlPoint->GetSubscriber(services[i], subscriber));
            QTreeWidgetItem* item = new QTreeWidgetItem(m_Services, {DeviceWatch::ToQString(services[i]->GetServiceID())});
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, subscribed ? Qt::Checked : Qt::Unchecked);
        }
    }
    m_Filling = false;
    ApplyFilter();
}

bool EventsPage::SetSubscribed(const QString& service_id, bool subscribed)
{
    CVD_Service* service = nullptr;
    if (m_Device.IsNull() || HLY_FAILED(m_Device->FindServiceById(service_id.toUtf8().constData(), service))) {
        return false;
    }
    // the request itself goes out on an engine thread
    if (HLY_FAILED(m_CtrlPoint->Subscribe(service, !subscribed))) return false;
    m_Filling = true;
    for (int i = 0; i < m_Services->topLevelItemCount(); i++) {
        QTreeWidgetItem* item = m_Services->topLevelItem(i);
        if (item->text(0) == service_id) item->setCheckState(0, subscribed ? Qt::Checked : Qt::Unchecked);
    }
    m_Filling = false;
    return true;
}

void EventsPage::OnEvents(const QList<EventRecord>& events)
{
    QTreeWidgetItem*        last_change = nullptr;
    QList<QTreeWidgetItem*> added;
    for (const EventRecord& event : events) {
        // one line per row (the rows are of one height); the value as sent in its tool tip
        QString     line = QString(event.m_Value).replace('\r', ' ').replace('\n', ' ');
        QStringList row  = {event.m_Time.toString("HH:mm:ss.zzz"), event.m_ServiceId, event.m_Variable, line,
                            QString::number(event.m_Seq)};
        QTreeWidgetItem* item = nullptr;
        if (event.m_FromLastChange && last_change != nullptr) {
            item = new QTreeWidgetItem(last_change, row);
            last_change->setExpanded(true);
        } else {
            item = new QTreeWidgetItem(m_Log, row);
        }
        if (event.m_Variable == "LastChange") last_change = item;
        item->setToolTip(kColumnValue, event.m_Value.left(2000));
        item->setData(0, Qt::UserRole, event.m_DeviceUUID);
        if (item->parent() == nullptr) added.append(item);
    }
    // once their LastChange children are in
    for (QTreeWidgetItem* item : added) Filter(item);
    while (m_Log->topLevelItemCount() > kMaxLogRows) delete m_Log->takeTopLevelItem(0);
    if (isVisible()) m_Log->scrollToBottom();
}

void EventsPage::Filter(QTreeWidgetItem* item)
{
    // the shown device's events, those that match the filter text
    QString device = m_Device.IsNull() ? QString() : DeviceWatch::ToQString(m_Device->GetUUID());
    if (item->data(0, Qt::UserRole).toString() != device) {
        item->setHidden(true);
        return;
    }
    QString text  = m_Filter->text();
    bool    shown = text.isEmpty();
    for (int c = kColumnService; c <= kColumnValue && !shown; c++) shown = item->text(c).contains(text, Qt::CaseInsensitive);
    for (int k = 0; k < item->childCount() && !shown; k++) {
        shown = item->child(k)->text(kColumnVariable).contains(text, Qt::CaseInsensitive) ||
                item->child(k)->text(kColumnValue).contains(text, Qt::CaseInsensitive);
    }
    item->setHidden(!shown);
}

void EventsPage::ApplyFilter()
{
    for (int i = 0; i < m_Log->topLevelItemCount(); i++) Filter(m_Log->topLevelItem(i));
}
