// The about box: banner, product line and a framed block of four lines.
#pragma once

#include <QDialog>

namespace Ui {
class TfmAbout;
}

class TfmAbout : public QDialog {
    Q_OBJECT

public:
    explicit TfmAbout(QWidget* parent = nullptr);
    ~TfmAbout() override;

    Ui::TfmAbout* ui;
};
