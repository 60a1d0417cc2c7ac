#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "descriptionpage.h"

#include "CvdService.h"
#include "devicewatch.h"

DescriptionPage::DescriptionPage(CVD_CtrlPointReference ctrl_point, QWidget* parent)
    : DevicePage(parent), m_CtrlPoint(ctrl_point), m_Documents(new QComboBox(this)), m_Text(new QPlainTextEdit(this))
{
    setObjectName("pageDescription");
    m_Documents->setObjectName("comboBoxDocument");
    m_Text->setObjectName("plainTextEditDocument");
    m_Text->setReadOnly(true);
    m_Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPushButton* copy = new QPushButton(tr("Copy"), this);
    copy->setObjectName("pushButtonCopy");
    QPushButton* save = new QPushButton(tr("Save..."), this);
    save->setObjectName("pushButtonSave");
    QHBoxLayout* bar = new QHBoxLayout();
    bar->addWidget(m_Documents, 1);
    bar->addWidget(copy);
    bar->addWidget(save);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_Text);
    connect(m_Documents, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_Text->setPlainText(m_Documents->itemData(index).toString()); });
    connect(copy, &QPushButton::clicked, this, [this]() { QApplication::clipboard()->setText(m_Documents->currentData().toString()); });
    connect(save, &QPushButton::clicked, this, [this]() {
        QString path = QFileDialog::getSaveFileName(this, tr("Save document"), m_Documents->currentText() + ".xml");
        if (!path.isEmpty()) SaveTo(path);
    });
}

bool DescriptionPage::AppliesTo(const CVD_DeviceDataReference& /*device*/) const
{
    return true;
}

void DescriptionPage::ShowDevice(const CVD_DeviceDataReference& device)
{
    m_Documents->clear();
    m_Text->clear();
    if (device.IsNull()) return;
    // an embedded device was described in its root's document
    CVD_DeviceDataReference root;
    if (HLY_FAILED(m_CtrlPoint->FindDevice(device->GetUUID(), root, true))) root = device;
    m_Documents->addItem(tr("Device description"), DeviceWatch::ToQString(root->GetRawDescription()));
    const HLY_Array<CVD_Service*>& services = device->GetServices();
    for (HLY_Ordinal i = 0; i < services.GetItemCount(); i++) {
        m_Documents->addItem(DeviceWatch::ToQString(services[i]->GetServiceID()),
                             DeviceWatch::ToQString(services[i]->GetRawSCPD()));
    }
}

bool DescriptionPage::SaveTo(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // the stored text, not the editor's: line ends stay as the device sent them
    file.write(m_Documents->currentData().toString().toUtf8());
    return file.commit();
}
