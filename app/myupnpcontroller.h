#ifndef MYUPNPCONTROLLER_H
#define MYUPNPCONTROLLER_H

#include "CvdMicroMediaController.h"
#include "iupnpgui.h"

// The media controller of the program: hands every media server and
// renderer it accepts to the window, when there is one.
class MyUPnPController : public CVD_MicroMediaController
{
public:
    MyUPnPController(CVD_CtrlPointReference& ctrl_point, IUPnPGUI* window);

    bool OnMediaServerAdded(CVD_DeviceDataReference& device) override;
    bool OnMediaRendererAdded(CVD_DeviceDataReference& device) override;

private:
    IUPnPGUI* m_Window; // not owned; may be null
};

#endif // MYUPNPCONTROLLER_H
