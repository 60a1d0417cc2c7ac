#include <memory>
#include <utility>

#include <QMetaObject>
#include <QThread>
#include <QTreeWidgetItem>

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "beaconryresources.h"
#include "dialogabout.h"

static QUPnPDevice* RecordOf(const QTreeWidgetItem* item)
{
    if (item == nullptr) return nullptr;
    QVariant data = item->data(0, Qt::UserRole);
    if (!data.canConvert<QUPnPDevice*>()) return nullptr;
    return data.value<QUPnPDevice*>();
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent, Qt::WindowFlags()), ui(new Ui::MainWindow)
{
    qRegisterMetaType<QUPnPDevice*>("QUPnPDevice*");
    BeaconryInitResources();
    ui->setupUi(this);
    m_Lock = new QRecursiveMutex();

    connect(ui->actionQuit, SIGNAL(triggered()), this, SLOT(SlotClose()));
    connect(ui->actionAbout, SIGNAL(triggered()), this, SLOT(SlotOpenAbout()));
    connect(ui->treeWidget, SIGNAL(itemSelectionChanged()), this, SLOT(SlotItemSelectionChanged()));
}

MainWindow::~MainWindow()
{
    // the window keeps its records for its whole life; they go with it
    for (int i = 0; i < ui->treeWidget->topLevelItemCount(); i++) {
        delete RecordOf(ui->treeWidget->topLevelItem(i));
    }
    delete m_Lock;
    delete ui;
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
    ui->treeWidget->addTopLevelItem(item);
}
