#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QRecursiveMutex>
#include <QStringList>

#include "CvdCtrlPoint.h"
#include "devicewatch.h"
#include "iupnpgui.h"
#include "qupnpdevice.h"

namespace Ui {
class MainWindow;
}
class CVD_TaskManager;
class CVD_UPnP;
class DevicePage;
class MyUPnPController;
class QAction;
class QLabel;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

class MainWindow : public QMainWindow, public IUPnPGUI
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // IUPnPGUI: called on engine threads; the row appears once the GUI
    // thread's event loop runs
    bool AddUPnPDevice(CVD_DeviceDataReference& device) override;

    // Lists a newly built record unless an equal one is listed already; the
    // window takes the record. May be called from any thread: the widgets are
    // changed on the GUI thread, once its event loop runs.
    void InsertDevice(QUPnPDevice* device);

    // the control point the window's engine runs, for those who watch it
    CVD_CtrlPointReference GetCtrlPoint() const { return *m_CtrlPoint; }

    // Adds a tab beside the five fields; the window takes the page. The tab
    // shows while the selected device is one the page applies to, and the
    // page is told of every change of selection.
    void AddDevicePage(DevicePage* page, const QString& title);

    // Reads the description at url on an engine thread and has the control
    // point inspect the device it describes; a failure is told in the status bar.
    void AddDeviceByUrl(const QString& url);

    // the listener behind the inspector's tabs
    DeviceWatch* GetWatch() const { return m_Watch; }

public slots:
    void SlotClose();
    void SlotOpenAbout();
    void SlotItemSelectionChanged();

private:
    void StartEngine();
    void StopEngine();
    void InsertDeviceOnGuiThread(QUPnPDevice* device);
    void ShowSelectedRecord();
    // the control point's record of the selected device (empty when none or gone)
    CVD_DeviceDataReference SelectedDevice() const;
    void ShowDeviceInPages();
    QTreeWidget* VisibleTree() const;

    // the list of every device the control point knows
    void ShowAllDevices(bool all);
    void OnDeviceAdded(const DeviceSnapshot& device);
    void OnDeviceRemoved(const QString& uuid);
    // makes room in the list of all devices; false when no device has left
    bool DropOldestLeft();
    void OnAllSelectionChanged();
    void ShowFields(const QStringList& facts);
    void AskDeviceUrl();

    // icons, fetched on engine threads, at most a few at once
    void FetchIcon(const QString& uuid, const QString& url);
    void FetchNextIcons();
    void SetIcon(const QString& uuid, const QIcon& icon);
    // the list's icon for a device without one of its own
    QIcon DefaultIcon() const;

    void UpdateStatus();

    Ui::MainWindow*         ui;
    QRecursiveMutex*        m_Lock;
    CVD_UPnP*               m_UPnP;
    CVD_CtrlPointReference* m_CtrlPoint;
    MyUPnPController*       m_Controller;
    QTabWidget*             m_Tabs;
    QList<DevicePage*>      m_Pages;
    DeviceWatch*            m_Watch;
    CVD_TaskManager*        m_Fetches;
    QTreeWidget*            m_AllTree;
    QAction*                m_ShowAll;
    QLabel*                 m_Status;
    QString                 m_Interfaces;
    QHash<QString, QTreeWidgetItem*> m_AllItems; // by UUID
    QHash<QString, QIcon>   m_Icons;              // by UUID
    QList<QPair<QString, QString>> m_IconQueue;   // (uuid, url) waiting for a fetch
    int                     m_IconFetches;        // in flight
};

#endif // MAINWINDOW_H
