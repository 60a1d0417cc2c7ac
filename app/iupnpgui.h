#ifndef IUPNPGUI_H
#define IUPNPGUI_H

#include "CvdDeviceData.h"

// What the media controller needs of a window: a place to hand accepted
// media servers and renderers. Called on engine threads, with the control
// point's lock held; the window hops to its own thread itself.
class IUPnPGUI
{
public:
    virtual bool AddUPnPDevice(CVD_DeviceDataReference& device) = 0;
};

#endif // IUPNPGUI_H
