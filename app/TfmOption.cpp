// The options dialog.
#include "TfmOption.h"

#include "OptionSettings.h"
#include <qtwin.h>
#include "ui_TfmOption.h"

#include <io.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

// Blanks and control characters off both ends, as the form library's Trim does.
std::string Trim(const QString& text)
{
    std::string s = text.toUtf8().toStdString();
    size_t b = 0, e = s.size();
    while (b < e && (unsigned char)s[b] <= ' ')
        ++b;
    while (e > b && (unsigned char)s[e - 1] <= ' ')
        --e;
    return s.substr(b, e - b);
}

// A folder setting must exist and fit its buffer whole: a cut path would name another place.
// Control characters inside are refused: the settings file could not keep them on one line.
bool Usable(const std::string& path)
{
    return !path.empty() && path.size() < MAX_PATH && !HasControlChar(path.c_str()) && access(path.c_str(), 0) == 0;
}

// The default folders are made by the first conversion: before that the dialog still takes
// them as they are set, and makes them.
bool UsableOrDefault(const std::string& path, bool bOutput)
{
    if (Usable(path))
        return true;
    char szOutput[MAX_PATH], szTemp[MAX_PATH];
    if (path.empty() || !GetDefaultFolders(szOutput, szTemp))
        return false;
    std::string def = bOutput ? szOutput : szTemp;
    if (path != def && path + "/" != def)
        return false;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return Usable(path);
}

}  // namespace

TfmOption::TfmOption(QWidget* parent) : QDialog(parent), ui(new Ui::TfmOption)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(552, 475);
    connect(ui->btnOutputBrowse, &QPushButton::clicked, this, [this] { btnOutputBrowseClick(); });
    connect(ui->btnTempBrowse, &QPushButton::clicked, this, [this] { btnTempBrowseClick(); });
    connect(ui->btnFontsBrowse, &QPushButton::clicked, this,
            [this] { BrowseInto("Choose Extra Fonts Folder", ui->edtFontsDir); });
    connect(ui->btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // The quality is a JPEG setting: offered while JPG is chosen.
    connect(ui->rbtnJPG, &QRadioButton::toggled, this, [this](bool bOn) {
        ui->spnQuality->setEnabled(bOn);
        ui->lblQuality->setEnabled(bOn);
    });
}

TfmOption::~TfmOption() { delete ui; }

bool TfmOption::UpdateData(bool bStore)
{
    if (!bStore) {
        if (OptionSettings.ImageType == 1)
            ui->rbtnBMP->setChecked(true);
        else if (OptionSettings.ImageType == 3)
            ui->rbtnPNG->setChecked(true);
        else
            ui->rbtnJPG->setChecked(true);
        ui->edtDirOutput->setText(QString::fromUtf8(OptionSettings.OutputPath));
        ui->edtTempDir->setText(QString::fromUtf8(OptionSettings.TempPath));
        ui->edtFontsDir->setText(QString::fromUtf8(OptionSettings.FontsPath));
        ui->cbCleanWord->setChecked(OptionSettings.CleanWord);
        ui->spnResolution->setValue(OptionSettings.Resolution);
        ui->spnQuality->setValue(OptionSettings.JpegQuality);
        ui->spnJobs->setValue(OptionSettings.DocumentsAtOnce);
        ui->spnQuality->setEnabled(ui->rbtnJPG->isChecked());
        ui->lblQuality->setEnabled(ui->rbtnJPG->isChecked());
        return true;
    }
    // A number typed but not yet confirmed by leaving the box counts, within the box's range.
    ui->spnResolution->interpretText();
    ui->spnQuality->interpretText();
    ui->spnJobs->interpretText();
    std::string output = Trim(ui->edtDirOutput->text());
    if (!UsableOrDefault(output, true)) {
        MessageBoxA(platform::ui::WindowOf(this), "Invalid output path.", "Error", MB_OK | MB_ICONERROR);
        ui->edtDirOutput->setFocus();
        return false;
    }
    std::string temp = Trim(ui->edtTempDir->text());
    if (!UsableOrDefault(temp, false)) {
        MessageBoxA(platform::ui::WindowOf(this), "Invalid temporary file path.", "Error", MB_OK | MB_ICONERROR);
        ui->edtTempDir->setFocus();
        return false;
    }
    // No fonts folder is fine; one that is given must be an absolute folder (the engine
    // separates its folders with ':').
    std::string fonts = Trim(ui->edtFontsDir->text());
    struct stat sb;
    if (!fonts.empty() && (!Usable(fonts) || fonts[0] != '/' || fonts.find(':') != std::string::npos ||
                           stat(fonts.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode))) {
        MessageBoxA(platform::ui::WindowOf(this), "Invalid extra fonts folder.", "Error", MB_OK | MB_ICONERROR);
        ui->edtFontsDir->setFocus();
        return false;
    }
    memcpy(OptionSettings.FontsPath, fonts.c_str(), fonts.size() + 1);
    memcpy(OptionSettings.OutputPath, output.c_str(), output.size() + 1);
    memcpy(OptionSettings.TempPath, temp.c_str(), temp.size() + 1);
    OptionSettings.ImageType = ui->rbtnBMP->isChecked() ? 1 : ui->rbtnPNG->isChecked() ? 3 : 2;
    OptionSettings.CleanWord = ui->cbCleanWord->isChecked();
    OptionSettings.Resolution = ui->spnResolution->value();
    OptionSettings.JpegQuality = ui->spnQuality->value();
    OptionSettings.DocumentsAtOnce = ui->spnJobs->value();
    return true;
}

void TfmOption::btnOKClick()
{
    if (UpdateData(true))
        accept();
}

void TfmOption::BrowseInto(const char* szTitle, QLineEdit* pEdit)
{
    char szPath[MAX_PATH] = "";
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = platform::ui::WindowOf(this);
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = szPath;
    bi.lpszTitle = szTitle;
    bi.ulFlags = 0;
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderA(&bi);
    if (!pidl)
        return;
    // An item without a file-system path leaves the field as it was.
    if (SHGetPathFromIDListA(pidl, szPath))
        pEdit->setText(QString::fromUtf8(szPath));
    ILFree(pidl);
}

void TfmOption::btnOutputBrowseClick() { BrowseInto("Choose Output Directory", ui->edtDirOutput); }

void TfmOption::btnTempBrowseClick() { BrowseInto("Choose Temporary Directory", ui->edtTempDir); }
