#include <climits>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "invokedialog.h"

#include "CvdArgument.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "servicespage.h"

static QWidget* InputFor(const CVD_StateVariable* variable, QWidget* parent)
{
    if (variable == nullptr) return new QLineEdit(parent);
    const HLY_Array<HLY_String*>& allowed = variable->GetAllowedValues();
    if (allowed.GetItemCount() > 0) {
        // editable: a value the device does not list can still be typed, and is refused
        QComboBox* box = new QComboBox(parent);
        box->setEditable(true);
        for (HLY_Ordinal i = 0; i < allowed.GetItemCount(); i++) box->addItem(DeviceWatch::ToQString(*allowed[i]));
        if (!variable->GetDefaultValue().IsEmpty()) box->setCurrentText(DeviceWatch::ToQString(variable->GetDefaultValue()));
        return box;
    }
    if (variable->GetDataType().Compare("boolean", true) == 0) {
        QCheckBox* box = new QCheckBox(parent);
        box->setChecked(variable->GetDefaultValue() == "1" || variable->GetDefaultValue().Compare("true", true) == 0);
        return box;
    }
    const CVD_AllowedValueRange* range = variable->GetAllowedValueRange();
    if (range && range->min_value >= INT_MIN && range->max_value <= INT_MAX && range->min_value <= range->max_value) {
        QSpinBox* box = new QSpinBox(parent);
        box->setRange((int)range->min_value, (int)range->max_value);
        if (range->step > 0 && range->step <= INT_MAX) box->setSingleStep((int)range->step);
        return box;
    }
    QLineEdit* line = new QLineEdit(parent);
    line->setText(DeviceWatch::ToQString(variable->GetDefaultValue()));
    return line;
}

QString InvokeDialog::ValueOf(QWidget* input)
{
    if (auto* box = qobject_cast<QComboBox*>(input)) return box->currentText();
    if (auto* box = qobject_cast<QCheckBox*>(input)) return box->isChecked() ? "1" : "0";
    if (auto* box = qobject_cast<QSpinBox*>(input)) return QString::number(box->value());
    if (auto* line = qobject_cast<QLineEdit*>(input)) return line->text();
    return QString();
}

InvokeDialog::InvokeDialog(CVD_CtrlPointReference ctrl_point, DeviceWatch* watch, CVD_DeviceDataReference device,
                           CVD_Service* service, CVD_ActionDesc* action, QWidget* parent)
    : QDialog(parent), m_CtrlPoint(ctrl_point), m_Watch(watch), m_Device(device),
      m_ServiceType(service->GetServiceType()), m_ActionName(action->GetName()), m_InvokeButton(nullptr),
      m_Result(new QLabel(this)), m_Outputs(new QTreeWidget(this)), m_Sent(nullptr)
{
    setObjectName("InvokeDialog");
    setWindowTitle(tr("Invoke %1").arg(DeviceWatch::ToQString(m_ActionName)));
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(DeviceWatch::ToQString(service->GetServiceID()) + " / " +
                                     DeviceWatch::ToQString(m_ActionName), this));
    QFormLayout* form = new QFormLayout();
    HLY_Array<CVD_ArgumentDesc*>& arguments = action->GetArgumentDescs();
    for (HLY_Ordinal i = 0; i < arguments.GetItemCount(); i++) {
        CVD_ArgumentDesc* argument = arguments[i];
        if (argument->GetDirection().Compare("in", true) != 0) continue;
        QString  name  = DeviceWatch::ToQString(argument->GetName());
        QWidget* input = InputFor(argument->GetRelatedStateVariable(), this);
        input->setObjectName("input_" + name);
        input->setToolTip(ServicesPage::Constraints(argument->GetRelatedStateVariable()));
        form->addRow(name, input);
        m_Inputs.append({name, input});
    }
    layout->addLayout(form);
    m_InvokeButton = new QPushButton(tr("Invoke"), this);
    m_InvokeButton->setObjectName("pushButtonInvoke");
    layout->addWidget(m_InvokeButton);
    m_Result->setObjectName("labelResult");
    m_Result->setWordWrap(true);
    m_Result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_Result);
    m_Outputs->setObjectName("treeWidgetOutputs");
    m_Outputs->setHeaderLabels({tr("Output"), tr("Value")});
    layout->addWidget(m_Outputs);
    resize(420, 320);
    connect(m_InvokeButton, &QPushButton::clicked, this, [this]() { Invoke(); });
    connect(m_Watch, &DeviceWatch::actionAnswered, this,
            [this](const void* action, const ActionOutcome& outcome) { OnAnswer(action, outcome); });
}

bool InvokeDialog::Invoke()
{
    m_Outputs->clear();
    CVD_ActionReference action;
    if (HLY_FAILED(m_CtrlPoint->CreateAction(m_Device, m_ServiceType, m_ActionName, action))) {
        m_Result->setText(tr("The device no longer offers this action."));
        return false;
    }
    // the engine's own checks, the same it applies to every request it sends
    for (const auto& input : m_Inputs) {
        QString value = ValueOf(input.second);
        if (HLY_FAILED(action->SetArgumentValue(input.first.toUtf8().constData(), value.toUtf8().constData()))) {
            m_Result->setText(tr("Not sent: \"%1\" is not a valid value of %2.").arg(value, input.first));
            return false;
        }
    }
    if (HLY_FAILED(action->VerifyArguments(true))) {
        m_Result->setText(tr("Not sent: the arguments are incomplete."));
        return false;
    }
    m_Clock.start();
    m_Sent = action.AsPointer();
    if (HLY_FAILED(m_Watch->Invoke(action))) {
        m_Sent = nullptr;
        m_Result->setText(tr("Not sent: the engine is not running."));
        return false;
    }
    m_Result->setText(tr("Sent, waiting for the answer..."));
    m_InvokeButton->setEnabled(false);
    return true;
}

void InvokeDialog::OnAnswer(const void* action, const ActionOutcome& outcome)
{
    if (action == nullptr || action != m_Sent) return;
    m_Sent = nullptr;
    m_InvokeButton->setEnabled(true);
    qint64 elapsed = m_Clock.elapsed();
    if (outcome.m_ErrorCode != 0) {
        m_Result->setText(tr("UPnP error %1: %2 (round trip %3 ms)")
                              .arg(outcome.m_ErrorCode)
                              .arg(outcome.m_ErrorDescription)
                              .arg(elapsed));
        return;
    }
    if (HLY_FAILED(outcome.m_Result)) {
        m_Result->setText(tr("Failed: no answer (error %1, after %2 ms)").arg(outcome.m_Result).arg(elapsed));
        return;
    }
    m_Result->setText(tr("OK (round trip %1 ms)").arg(elapsed));
    for (const auto& output : outcome.m_Outputs) new QTreeWidgetItem(m_Outputs, {output.first, output.second});
}
