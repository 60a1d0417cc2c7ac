#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QRecursiveMutex>

#include "qupnpdevice.h"

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Lists a newly built record unless an equal one is listed already; the
    // window takes the record. May be called from any thread: the widgets are
    // changed on the GUI thread, once its event loop runs.
    void InsertDevice(QUPnPDevice* device);

public slots:
    void SlotClose();
    void SlotOpenAbout();
    void SlotItemSelectionChanged();

private:
    void InsertDeviceOnGuiThread(QUPnPDevice* device);

    Ui::MainWindow* ui;
    QRecursiveMutex* m_Lock;
};

#endif // MAINWINDOW_H
