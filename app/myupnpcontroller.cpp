#include "myupnpcontroller.h"

MyUPnPController::MyUPnPController(CVD_CtrlPointReference& ctrl_point, IUPnPGUI* window)
    : CVD_MicroMediaController(ctrl_point), m_Window(window)
{
}

bool MyUPnPController::OnMediaServerAdded(CVD_DeviceDataReference& device)
{
    CVD_MicroMediaController::OnMediaServerAdded(device);
    if (m_Window) m_Window->AddUPnPDevice(device);
    return true;
}

bool MyUPnPController::OnMediaRendererAdded(CVD_DeviceDataReference& device)
{
    CVD_MicroMediaController::OnMediaRendererAdded(device);
    if (m_Window) m_Window->AddUPnPDevice(device);
    return true;
}
