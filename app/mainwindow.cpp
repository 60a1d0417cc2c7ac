#include <memory>
#include <utility>

#include <QGridLayout>
#include <QMetaObject>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidgetItem>

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "CvdUPnP.h"
#include "hlylogging.h"

#include "beaconryresources.h"
#include "browsepage.h"
#include "devicepage.h"
#include "dialogabout.h"
#include "myupnpcontroller.h"
#include "rendererpage.h"

// off unless logging is configured; the FINE line of each new row is what
// bench/window-bench times against the control point's first sighting
HLY_SET_LOCAL_LOGGER("beaconry.app.window")

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
      m_CtrlPoint(nullptr), m_Controller(nullptr), m_Tabs(nullptr)
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

    StartEngine();
    AddDevicePage(new BrowsePage(GetCtrlPoint()), tr("Browse"));
    AddDevicePage(new RendererPage(GetCtrlPoint()), tr("Renderer"));
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
    m_UPnP->Start();
}

void MainWindow::AddDevicePage(DevicePage* page, const QString& title)
{
    if (page == nullptr) return;
    m_Pages.append(page);
    m_Tabs->addTab(page, title);
    ShowDeviceInPages();
}

CVD_DeviceDataReference MainWindow::SelectedDevice() const
{
    CVD_DeviceDataReference device;
    QUPnPDevice*            record = RecordOf(ui->treeWidget->currentItem());
    if (record == nullptr || m_CtrlPoint == nullptr || record->m_UUID.isEmpty()) return device;
    if (HLY_FAILED((*m_CtrlPoint)->FindDevice(record->m_UUID.toUtf8().constData(), device))) {
        return CVD_DeviceDataReference();
    }
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

void MainWindow::StopEngine()
{
    // Stop returns once every engine task has ended, so the controller goes
    // with no callback of it still running
    if (m_UPnP->IsStarted()) m_UPnP->Stop();
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
    ShowDeviceInPages();
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
    ui->treeWidget->addTopLevelItem(item);
    HLY_LOG_FINE("Listed \"%s\" (%s)", device->m_FriendlyName.toLocal8Bit().constData(),
                 device->m_UUID.toLocal8Bit().constData());
}
