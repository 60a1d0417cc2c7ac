#include <memory>
#include <utility>

#include <QGridLayout>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTime>
#include <QTreeWidgetItem>

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "hlylogging.h"
#include "hlynetwork.h"

#include "beaconryresources.h"
#include "browsepage.h"
#include "descriptionpage.h"
#include "devicepage.h"
#include "dialogabout.h"
#include "eventspage.h"
#include "fetchtask.h"
#include "myupnpcontroller.h"
#include "rendererpage.h"
#include "servicespage.h"

// off unless logging is configured; the FINE line of each new row is what
// bench/window-bench times against the control point's first sighting
HLY_SET_LOCAL_LOGGER("beaconry.app.window")

// icons fetched at once, and waiting: a LAN full of devices must neither
// start a thread per icon nor queue without end
static const int kMaxIconFetches = 4;
static const int kMaxIconQueue   = 2048;
// devices kept in the list of all devices: those that left stay listed, so
// made-up devices coming and going must not grow it without end (the
// oldest that left go first)
static const int kMaxListedDevices = 4096;
// an icon larger than this is no list icon
static const HLY_Size kMaxIconBytes = 256 * 1024;
// a device added by its URL does not announce itself: its record is kept
// this long before the control point lets it expire
static const double kAddedDeviceLeaseSeconds = 24 * 3600;

// items of the list of all devices: the UUID and the five facts
static const int kUuidRole  = Qt::UserRole + 1;
static const int kFactsRole = Qt::UserRole + 2;
static const int kLeftRole  = Qt::UserRole + 3;

static QUPnPDevice* RecordOf(const QTreeWidgetItem* item)
{
    if (item == nullptr) return nullptr;
    QVariant data = item->data(0, Qt::UserRole);
    if (!data.canConvert<QUPnPDevice*>()) return nullptr;
    return data.value<QUPnPDevice*>();
}

// a runtime string as the window shows it; no characters at all is an empty text
static QString ToQString(const HLY_String& text)
{
    if (text.GetLength() == 0) return QString();
    return QString::fromLocal8Bit(text.GetChars(), (qsizetype)text.GetLength());
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()), IUPnPGUI(), ui(new Ui::MainWindow), m_Lock(nullptr), m_UPnP(nullptr),
      m_CtrlPoint(nullptr), m_Controller(nullptr), m_Tabs(nullptr), m_Watch(nullptr), m_Fetches(nullptr),
      m_AllTree(nullptr), m_ShowAll(nullptr), m_Status(nullptr), m_IconFetches(0)
{
    qRegisterMetaType<QUPnPDevice*>("QUPnPDevice*");
    BeaconryInitResources();
    ui->setupUi(this);
    m_Lock = new QRecursiveMutex();

    connect(ui->actionQuit, SIGNAL(triggered()), this, SLOT(SlotClose()));
    connect(ui->actionAbout, SIGNAL(triggered()), this, SLOT(SlotOpenAbout()));
    connect(ui->treeWidget, SIGNAL(itemSelectionChanged()), this, SLOT(SlotItemSelectionChanged()));

    // The device tabs share the spacer's cell below the fields: while no tab
    // applies they are hidden and the spacer keeps the fields at the top.
    m_Tabs = new QTabWidget(ui->centralWidget);
    m_Tabs->setObjectName("tabWidgetDevice");
    m_Tabs->hide();
    ui->gridLayout_2->addWidget(m_Tabs, 1, 1);

    // every device the control point knows, in a list of its own in the same
    // place: the media list stays exactly as it is
    m_AllTree = new QTreeWidget(ui->centralWidget);
    m_AllTree->setObjectName("treeWidgetAll");
    m_AllTree->setMinimumSize(ui->treeWidget->minimumSize());
    m_AllTree->setMaximumSize(ui->treeWidget->maximumSize());
    m_AllTree->setHeaderHidden(true);
    m_AllTree->hide();
    ui->gridLayout_2->addWidget(m_AllTree, 0, 0, 2, 1);
    connect(m_AllTree, &QTreeWidget::itemSelectionChanged, this, [this]() { OnAllSelectionChanged(); });

    QMenu* view = new QMenu(tr("View"), ui->menuBar);
    view->setObjectName("menuView");
    m_ShowAll = view->addAction(tr("Show all devices"));
    m_ShowAll->setObjectName("actionShowAllDevices");
    m_ShowAll->setCheckable(true);
    ui->menuBar->insertMenu(ui->menuHelp->menuAction(), view);
    connect(m_ShowAll, &QAction::toggled, this, [this](bool all) { ShowAllDevices(all); });
    QAction* add = new QAction(tr("Add Device by URL..."), this);
    add->setObjectName("actionAddDeviceByUrl");
    ui->menuFile->insertAction(ui->actionQuit, add);
    connect(add, &QAction::triggered, this, [this]() { AskDeviceUrl(); });

    m_Status = new QLabel(this);
    m_Status->setObjectName("labelStatus");
    ui->statusBar->addPermanentWidget(m_Status);

    StartEngine();
    AddDevicePage(new BrowsePage(GetCtrlPoint()), tr("Browse"));
    AddDevicePage(new RendererPage(GetCtrlPoint()), tr("Renderer"));

    AddDevicePage(new ServicesPage(*m_CtrlPoint, m_Watch), tr("Services"));
    AddDevicePage(new EventsPage(*m_CtrlPoint, m_Watch), tr("Events"));
    AddDevicePage(new DescriptionPage(*m_CtrlPoint), tr("Description"));
    UpdateStatus();
}

MainWindow::~MainWindow()
{
    // first the engine: once it has stopped no engine thread calls us again
    StopEngine();
    // the window keeps its records for its whole life; they go with it
    for (int i = 0; i < ui->treeWidget->topLevelItemCount(); i++) {
        delete RecordOf(ui->treeWidget->topLevelItem(i));
    }
    delete m_Lock;
    delete ui;
}

void MainWindow::StartEngine()
{
    m_UPnP      = new CVD_UPnP();
    m_CtrlPoint = new CVD_CtrlPointReference(new CVD_CtrlPoint("upnp:rootdevice"));
    m_Controller = new MyUPnPController(*m_CtrlPoint, this);
    // a window whose engine fails to start simply stays empty
    CVD_UPnPCtrlPointReference ctrl_point(*m_CtrlPoint);
    m_UPnP->AddCtrlPoint(ctrl_point);
    m_Watch   = new DeviceWatch(m_CtrlPoint->AsPointer());
    m_Fetches = new CVD_TaskManager();
    connect(m_Watch, &DeviceWatch::deviceAdded, this, [this](const DeviceSnapshot& d) { OnDeviceAdded(d); });
    connect(m_Watch, &DeviceWatch::deviceRemoved, this, [this](const QString& uuid) { OnDeviceRemoved(uuid); });
    m_UPnP->Start();

    // the interfaces the engine searches on, for the status bar
    HLY_List<HLY_NetworkInterface*> interfaces;
    QStringList                     names;
    if (HLY_SUCCEEDED(CVD_UPnPMessageHelper::GetNetworkInterfaces(interfaces))) {
        for (HLY_List<HLY_NetworkInterface*>::Iterator it = interfaces.GetFirstItem(); it; ++it) {
            QString name = ToQString((*it)->GetName());
            if ((*it)->GetAddresses().GetFirstItem()) {
                name += " " + ToQString((*it)->GetAddresses().GetFirstItem()->GetPrimaryAddress().ToString());
            }
            names << name;
            delete *it;
        }
    }
    m_Interfaces = names.join(", ");
}

void MainWindow::AddDevicePage(DevicePage* page, const QString& title)
{
    if (page == nullptr) return;
    m_Pages.append(page);
    m_Tabs->addTab(page, title);
    ShowDeviceInPages();
}

QTreeWidget* MainWindow::VisibleTree() const
{
    return m_ShowAll != nullptr && m_ShowAll->isChecked() ? m_AllTree : ui->treeWidget;
}

CVD_DeviceDataReference MainWindow::SelectedDevice() const
{
    CVD_DeviceDataReference device;
    if (m_CtrlPoint == nullptr) return device;
    QString uuid;
    if (VisibleTree() == m_AllTree) {
        if (m_AllTree->currentItem()) uuid = m_AllTree->currentItem()->data(0, kUuidRole).toString();
    } else if (QUPnPDevice* record = RecordOf(ui->treeWidget->currentItem())) {
        uuid = record->m_UUID;
    }
    if (uuid.isEmpty()) return device;
    if (HLY_FAILED((*m_CtrlPoint)->FindDevice(uuid.toUtf8().constData(), device))) return CVD_DeviceDataReference();
    return device;
}

void MainWindow::ShowDeviceInPages()
{
    CVD_DeviceDataReference device = SelectedDevice();
    bool                    any    = false;
    for (DevicePage* page : m_Pages) {
        bool applies = !device.IsNull() && page->AppliesTo(device);
        m_Tabs->setTabVisible(m_Tabs->indexOf(page), applies);
        page->ShowDevice(applies ? device : CVD_DeviceDataReference());
        any = any || applies;
    }
    m_Tabs->setVisible(any);
}

void MainWindow::ShowAllDevices(bool all)
{
    m_AllTree->setVisible(all);
    ui->treeWidget->setVisible(!all);
    if (all) {
        OnAllSelectionChanged();
    } else {
        SlotItemSelectionChanged();
    }
    UpdateStatus();
}

void MainWindow::OnDeviceAdded(const DeviceSnapshot& device)
{
    QTreeWidgetItem* item = m_AllItems.value(device.m_UUID);
    if (item == nullptr) {
        if (m_AllItems.size() >= kMaxListedDevices && !DropOldestLeft()) return;
        QTreeWidgetItem* parent = m_AllItems.value(device.m_ParentUUID);
        item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_AllTree);
        if (parent) parent->setExpanded(true);
        m_AllItems.insert(device.m_UUID, item);
    }
    item->setText(0, device.m_FriendlyName);
    item->setData(0, kUuidRole, device.m_UUID);
    item->setData(0, kFactsRole, QStringList({device.m_FriendlyName, device.m_UUID, device.m_DeviceType,
                                              device.m_Manufacturer, device.m_ModelDescription}));
    item->setData(0, kLeftRole, false);
    item->setData(0, Qt::ForegroundRole, QVariant());
    item->setToolTip(0, device.m_DeviceType);
    if (m_Icons.contains(device.m_UUID)) {
        item->setIcon(0, m_Icons.value(device.m_UUID));
    } else {
        // until (unless) the device's own arrives
        item->setIcon(0, DefaultIcon());
        if (!device.m_IconUrl.isEmpty()) FetchIcon(device.m_UUID, device.m_IconUrl);
    }
    if (item == m_AllTree->currentItem()) OnAllSelectionChanged();
    UpdateStatus();
}

bool MainWindow::DropOldestLeft()
{
    for (int i = 0; i < m_AllTree->topLevelItemCount(); i++) {
        QTreeWidgetItem* item = m_AllTree->topLevelItem(i);
        if (!item->data(0, kLeftRole).toBool()) continue;
        // the root and the embedded devices beneath it
        QList<QTreeWidgetItem*> subtree = {item};
        for (int k = 0; k < subtree.size(); k++) {
            for (int c = 0; c < subtree[k]->childCount(); c++) subtree.append(subtree[k]->child(c));
        }
        for (QTreeWidgetItem* gone : subtree) {
            QString uuid = gone->data(0, kUuidRole).toString();
            m_AllItems.remove(uuid);
            m_Icons.remove(uuid);
        }
        delete m_AllTree->takeTopLevelItem(i);
        return true;
    }
    return false;
}

void MainWindow::OnDeviceRemoved(const QString& uuid)
{
    QTreeWidgetItem* item = m_AllItems.value(uuid);
    if (item == nullptr) return;
    QStringList facts = item->data(0, kFactsRole).toStringList();
    QString     name  = facts.isEmpty() ? QString() : facts[0];
    item->setText(0, tr("%1 (left %2)").arg(name, QTime::currentTime().toString("HH:mm:ss")));
    item->setData(0, kLeftRole, true);
    item->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
    ShowDeviceInPages();
}

void MainWindow::OnAllSelectionChanged()
{
    if (VisibleTree() != m_AllTree) return;
    {
        QMutexLocker<QRecursiveMutex> lock(m_Lock);
        QTreeWidgetItem*              item = m_AllTree->currentItem();
        ShowFields(item ? item->data(0, kFactsRole).toStringList() : QStringList());
    }
    ShowDeviceInPages();
}

void MainWindow::ShowFields(const QStringList& facts)
{
    QStringList five = facts;
    while (five.size() < 5) five << QString();
    QLineEdit* fields[] = {ui->lineEditDeviceName, ui->lineEditUID, ui->lineEditDeviceType, ui->lineEditManufacturer};
    for (int i = 0; i < 4; i++) {
        fields[i]->setText(five[i]);
        // long UUIDs and type URNs read from their start
        fields[i]->setCursorPosition(0);
    }
    ui->textEditDescription->setPlainText(five[4]);
}

void MainWindow::AskDeviceUrl()
{
    bool    ok  = false;
    QString url = QInputDialog::getText(this, tr("Add Device by URL"), tr("Description URL:"), QLineEdit::Normal,
                                        "http://", &ok);
    if (ok && !url.trimmed().isEmpty()) AddDeviceByUrl(url.trimmed());
}

void MainWindow::AddDeviceByUrl(const QString& text)
{
    HLY_HttpUrl url(text.toUtf8().constData());
    if (!url.IsValid() || url.GetSchemeId() != HLY_Uri::SCHEME_ID_HTTP) {
        ui->statusBar->showMessage(tr("Not an http:// URL: %1").arg(text));
        return;
    }
    ui->statusBar->showMessage(tr("Reading %1 ...").arg(text));
    CVD_CtrlPoint* ctrl_point = m_CtrlPoint->AsPointer();
    // runs on the fetch's engine thread: reads the description, then lets the
    // control point inspect the device as if it had answered a search
    auto answer = [this, ctrl_point, url, text](HLY_Result result, int status, const HLY_String* body,
                                                const HLY_HttpRequestContext& context) {
        QString message;
        bool    inspecting = false;
        if (HLY_FAILED(result) || body == nullptr) {
            message = tr("Could not read %1 (error %2)").arg(text).arg(result);
        } else if (status != 200) {
            message = tr("Could not read %1 (HTTP status %2)").arg(text).arg(status);
        } else {
            CVD_DeviceDataReference root;
            if (HLY_FAILED(CVD_DeviceData::SetDescription(root, HLY_TimeInterval(kAddedDeviceLeaseSeconds), url,
                                                          *body, context)) ||
                root->GetUUID().IsEmpty()) {
                message = tr("Not a device description: %1").arg(text);
            } else if (HLY_FAILED(ctrl_point->InspectDevice(url, root->GetUUID(),
                                                            HLY_TimeInterval(kAddedDeviceLeaseSeconds)))) {
                message = tr("Could not inspect the device at %1").arg(text);
            } else {
                message    = tr("Inspecting \"%1\" at %2").arg(ToQString(root->GetFriendlyName()), text);
                inspecting = true;
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, message, inspecting]() {
                ui->statusBar->showMessage(message);
                // it need not be a media device: show it where every device is
                if (inspecting) m_ShowAll->setChecked(true);
            },
            Qt::QueuedConnection);
    };
    CVD_CtrlPointLimits limits = ctrl_point->GetLimits();
    if (HLY_FAILED(m_Fetches->StartTask(new FetchTask(ctrl_point, url, limits.m_MaxDescriptionSize, answer)))) {
        ui->statusBar->showMessage(tr("Could not read %1: the engine is stopping").arg(text));
    }
}

void MainWindow::FetchIcon(const QString& uuid, const QString& url)
{
    for (const auto& waiting : m_IconQueue) {
        if (waiting.first == uuid) return;
    }
    if (m_IconQueue.size() >= kMaxIconQueue) return;
    m_IconQueue.append({uuid, url});
    FetchNextIcons();
}

void MainWindow::FetchNextIcons()
{
    while (m_IconFetches < kMaxIconFetches && !m_IconQueue.isEmpty()) {
        QPair<QString, QString> next = m_IconQueue.takeFirst();
        QString                 uuid = next.first;
        // decoded on the engine thread too: the GUI thread only sets it
        auto answer = [this, uuid](HLY_Result result, int status, const HLY_String* body,
                                   const HLY_HttpRequestContext&) {
            QImage image;
            if (HLY_SUCCEEDED(result) && status == 200 && body != nullptr) {
                image.loadFromData((const uchar*)body->GetChars(), (int)body->GetLength());
                if (!image.isNull() && (image.width() > 48 || image.height() > 48)) {
                    image = image.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                }
            }
            QMetaObject::invokeMethod(
                this,
                [this, uuid, image]() {
                    m_IconFetches--;
                    // a broken icon leaves the default one
                    if (!image.isNull()) SetIcon(uuid, QIcon(QPixmap::fromImage(image)));
                    FetchNextIcons();
                },
                Qt::QueuedConnection);
        };
        HLY_HttpUrl url(next.second.toUtf8().constData());
        if (!url.IsValid()) continue;
        if (HLY_FAILED(m_Fetches->StartTask(new FetchTask(m_CtrlPoint->AsPointer(), url, kMaxIconBytes, answer)))) {
            return;
        }
        m_IconFetches++;
    }
}

QIcon MainWindow::DefaultIcon() const
{
    return style()->standardIcon(QStyle::SP_ComputerIcon);
}

void MainWindow::SetIcon(const QString& uuid, const QIcon& icon)
{
    m_Icons.insert(uuid, icon);
    if (QTreeWidgetItem* item = m_AllItems.value(uuid)) item->setIcon(0, icon);
    for (int i = 0; i < ui->treeWidget->topLevelItemCount(); i++) {
        QUPnPDevice* record = RecordOf(ui->treeWidget->topLevelItem(i));
        if (record && record->m_UUID == uuid) ui->treeWidget->topLevelItem(i)->setIcon(0, icon);
    }
}

void MainWindow::UpdateStatus()
{
    int count = 0;
    if (VisibleTree() == m_AllTree) {
        count = m_AllItems.size();
    } else {
        count = ui->treeWidget->topLevelItemCount();
    }
    m_Status->setText(tr("%n device(s) listed", "", count) + " | " +
                      tr("searching on: %1").arg(m_Interfaces.isEmpty() ? tr("no interface") : m_Interfaces));
}

void MainWindow::StopEngine()
{
    // Stop returns once every engine task has ended, so the controller goes
    // with no callback of it still running
    // fetches first: they call into the control point
    m_Fetches->StopAllTasks();
    if (m_UPnP->IsStarted()) m_UPnP->Stop();
    delete m_Fetches;
    m_Fetches = nullptr;
    delete m_Watch;
    m_Watch = nullptr;
    delete m_Controller;
    m_Controller = nullptr;
    delete m_CtrlPoint;
    m_CtrlPoint = nullptr;
    delete m_UPnP;
    m_UPnP = nullptr;
}

bool MainWindow::AddUPnPDevice(CVD_DeviceDataReference& device)
{
    if (device.IsNull()) return true;
    QMutexLocker<QRecursiveMutex> lock(m_Lock);
    InsertDevice(new QUPnPDevice(ToQString(device->GetUUID()), ToQString(device->GetFriendlyName()),
                                 ToQString(device->GetManufacturer()), ToQString(device->GetType()),
                                 ToQString(device->GetModelDescription())));
    return true;
}

void MainWindow::SlotClose()
{
    close();
}

void MainWindow::SlotOpenAbout()
{
    DialogAbout* about = new DialogAbout(this);
    about->setModal(true);
    about->show();
    about->exec();
    delete about;
}

void MainWindow::SlotItemSelectionChanged()
{
    ShowSelectedRecord();
    // outside the lock: engine threads take it while they hold the control point's
    ShowDeviceInPages();
}

void MainWindow::ShowSelectedRecord()
{
    QMutexLocker<QRecursiveMutex> lock(m_Lock);
    QUPnPDevice* device = RecordOf(ui->treeWidget->currentItem());
    if (device) {
        ui->lineEditDeviceName->setText(device->m_FriendlyName);
        ui->lineEditUID->setText(device->m_UUID);
        ui->lineEditDeviceType->setText(device->m_DeviceType);
        ui->lineEditManufacturer->setText(device->m_Manufacturer);
        ui->textEditDescription->setPlainText(device->m_ModelDescription);
        // long UUIDs and type URNs read from their start
        for (QLineEdit* field : {ui->lineEditDeviceName, ui->lineEditUID, ui->lineEditDeviceType,
                                 ui->lineEditManufacturer}) {
            field->setCursorPosition(0);
        }
    } else {
        ui->lineEditDeviceName->setText(QString());
        ui->lineEditUID->setText(QString());
        ui->lineEditDeviceType->setText(QString());
        ui->lineEditManufacturer->setText(QString());
        ui->textEditDescription->setPlainText(QString());
    }
}

void MainWindow::InsertDevice(QUPnPDevice* device)
{
    if (device == nullptr) return;
    if (QThread::currentThread() == thread()) {
        InsertDeviceOnGuiThread(device);
        return;
    }
    // widgets belong to the GUI thread: hand the record over to it. The
    // pending call owns the record until it runs, so a window closed before
    // then does not leak it.
    struct Pending {
        QUPnPDevice* m_Device;
        ~Pending() { delete m_Device; }
    };
    std::shared_ptr<Pending> pending(new Pending{device});
    QMetaObject::invokeMethod(
        this, [this, pending]() { InsertDeviceOnGuiThread(std::exchange(pending->m_Device, nullptr)); },
        Qt::QueuedConnection);
}

void MainWindow::InsertDeviceOnGuiThread(QUPnPDevice* device)
{
    QMutexLocker<QRecursiveMutex> lock(m_Lock);
    for (int i = 0; i < ui->treeWidget->topLevelItemCount(); i++) {
        QUPnPDevice* listed = RecordOf(ui->treeWidget->topLevelItem(i));
        if (listed && *listed == *device) {
            delete device;
            return;
        }
    }
    QTreeWidgetItem* item = new QTreeWidgetItem();
    item->setText(0, device->m_FriendlyName);
    item->setData(0, Qt::UserRole, QVariant::fromValue(device));
    if (m_Icons.contains(device->m_UUID)) item->setIcon(0, m_Icons.value(device->m_UUID));
    ui->treeWidget->addTopLevelItem(item);
    UpdateStatus();
    HLY_LOG_FINE("Listed \"%s\" (%s)", device->m_FriendlyName.toLocal8Bit().constData(),
                 device->m_UUID.toLocal8Bit().constData());
}
