#ifndef INVOKEDIALOG_H
#define INVOKEDIALOG_H

#include <QDialog>
#include <QElapsedTimer>
#include <QList>

#include "CvdCtrlPoint.h"
#include "devicewatch.h"

class QLabel;
class QPushButton;
class QTreeWidget;

// Invokes one action of a device: one typed input per input argument (a
// list for allowed values, a spin box within a range, a check box for
// booleans, free text otherwise), the engine's own checks before anything
// is sent, then the output arguments or the UPnP error, and the round trip.
class InvokeDialog : public QDialog
{
    Q_OBJECT

public:
    InvokeDialog(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, CVD_DeviceDataReference device,
                 CVD_Service* service, CVD_ActionDesc* action, QWidget* parent = nullptr);

    // checks the inputs and sends the action; false when refused or not sent
    bool Invoke();

    // the text of one input as it would be sent
    static QString ValueOf(QWidget* input);

private:
    void OnAnswer(const void* action, const ActionOutcome& outcome);

    CVD_CtrlPointReference  m_CtrlPoint;
    DeviceWatch*            m_Watch;
    CVD_DeviceDataReference m_Device;
    HLY_String              m_ServiceType;
    HLY_String              m_ActionName;
    QList<QPair<QString, QWidget*>> m_Inputs;
    QPushButton*            m_InvokeButton;
    QLabel*                 m_Result;
    QTreeWidget*            m_Outputs;
    const void*             m_Sent; // the action awaiting its answer, null when none
    QElapsedTimer           m_Clock;
};

#endif // INVOKEDIALOG_H
