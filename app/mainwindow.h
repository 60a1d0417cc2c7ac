#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QList>
#include <QMainWindow>
#include <QRecursiveMutex>

#include "CvdCtrlPoint.h"
#include "iupnpgui.h"
#include "qupnpdevice.h"

namespace Ui {
class MainWindow;
}
class CVD_UPnP;
class DevicePage;
class MyUPnPController;
class QTabWidget;

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

public slots:
    void SlotClose();
    void SlotOpenAbout();
    void SlotItemSelectionChanged();

private:
    void StartEngine();
    void StopEngine();
    void InsertDeviceOnGuiThread(QUPnPDevice* device);
    // the control point's record of the selected device (empty when none or gone)
    CVD_DeviceDataReference SelectedDevice() const;
    void ShowDeviceInPages();

    Ui::MainWindow*         ui;
    QRecursiveMutex*        m_Lock;
    CVD_UPnP*               m_UPnP;
    CVD_CtrlPointReference* m_CtrlPoint;
    MyUPnPController*       m_Controller;
    QTabWidget*             m_Tabs;
    QList<DevicePage*>      m_Pages;
};

#endif // MAINWINDOW_H
