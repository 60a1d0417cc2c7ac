#ifndef DESCRIPTIONPAGE_H
#define DESCRIPTIONPAGE_H

#include "CvdCtrlPoint.h"
#include "devicepage.h"

class QComboBox;
class QPlainTextEdit;

// The device description and each service description exactly as the
// device sent them, with Copy and Save.
class DescriptionPage : public DevicePage
{
    Q_OBJECT

public:
    explicit DescriptionPage(CVD_CtrlPointReference ctrl_point, QWidget* parent = nullptr);

    bool AppliesTo(const CVD_DeviceDataReference& device) const override;
    void ShowDevice(const CVD_DeviceDataReference& device) override;

    // writes the document shown; false when the file cannot be written
    bool SaveTo(const QString& path) const;

private:
    CVD_CtrlPointReference m_CtrlPoint;
    QComboBox*             m_Documents;
    QPlainTextEdit*        m_Text;
};

#endif // DESCRIPTIONPAGE_H
