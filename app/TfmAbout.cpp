// The about box.
#include "TfmAbout.h"

#include "Look.h"
#include "ui_TfmAbout.h"

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent), ui(new Ui::TfmAbout)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(535, 355);
    ui->imgBanner->setPixmap(MakeBanner(445, 64));
    connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

TfmAbout::~TfmAbout() { delete ui; }
