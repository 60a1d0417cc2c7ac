#include "dialogabout.h"
#include "ui_dialogabout.h"

#include "CvdConstants.h"
#include "beaconry_version.h"
#include "beaconryresources.h"

DialogAbout::DialogAbout(QWidget* parent) : QDialog(parent), ui(new Ui::DialogAbout)
{
    BeaconryInitResources();
    ui->setupUi(this);
    setFixedSize(344, 239);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // the version comes from the build, with the engine the program runs on beside it
    ui->labelVersion->setText(QCoreApplication::translate("DialogAbout", "Version: %1 (%2 %3)")
                                  .arg(BEACONRY_VERSION, CVD_ENGINE_NAME, CVD_ENGINE_VERSION));

    // the form leaves the link inert; it becomes a live link here
    ui->labelLink->setText(QCoreApplication::translate(
        "DialogAbout",
        "<a href=\"https://beaconry.example.org/\" style=\"color:#325ab4; font-size:8pt; "
        "font-weight:bold; text-decoration:none;\">https://beaconry.example.org/</a>"));
    ui->labelLink->setOpenExternalLinks(true);

    connect(ui->pushButtonOk, SIGNAL(clicked()), this, SLOT(close()));
}

DialogAbout::~DialogAbout()
{
    delete ui;
}
