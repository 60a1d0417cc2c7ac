#ifndef DEVICEPAGE_H
#define DEVICEPAGE_H

#include <QWidget>

#include "CvdDeviceData.h"

// A tab the window shows beside the five fields while a device it applies to
// is selected. Pages do their network work on engine threads and hand results
// back to the GUI thread themselves; nothing here may block on the network.
class DevicePage : public QWidget
{
    Q_OBJECT

public:
    explicit DevicePage(QWidget* parent = nullptr) : QWidget(parent) {}

    // whether the tab is offered for this device (called on the GUI thread)
    virtual bool AppliesTo(const CVD_DeviceDataReference& device) const = 0;

    // the selected device changed; an empty reference means none (or one that
    // has left the network): the page clears itself and stops polling
    virtual void ShowDevice(const CVD_DeviceDataReference& device) = 0;
};

#endif // DEVICEPAGE_H
