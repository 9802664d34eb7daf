// The options dialog: picture format, resolution and JPEG quality, output and temporary
// folders, whether the document engine's processes are ended at exit, and how many documents
// the batch view converts at once. Edits
// OptionSettings in place on OK.
#pragma once

#include <QDialog>

namespace Ui {
class TfmOption;
}

class TfmOption : public QDialog {
    Q_OBJECT

public:
    explicit TfmOption(QWidget* parent = nullptr);
    ~TfmOption() override;

    // false: fill the controls from OptionSettings (always true). true: validate the trimmed
    // folders (the output folder first; a message box and the focus on the faulty field) and
    // only when both exist store everything; returns whether it stored.
    bool UpdateData(bool bStore);

    Ui::TfmOption* ui;

private:
    void btnOutputBrowseClick();
    void btnTempBrowseClick();
    void btnOKClick();
    void BrowseInto(const char* szTitle, class QLineEdit* pEdit);
};
