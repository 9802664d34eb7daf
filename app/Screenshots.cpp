// The screenshot script's mode: shows the multi-document view, the single-document view (the
// page as wide as the preview), the whole page with the View menu's zoom commands, the options
// dialog and the about box, saves a picture of the screen for each into a folder and closes
// the program. The user's zoom is put back before the program ends and keeps its settings.
#include "OptionSettings.h"
#include "TfmMain.h"
#include "ui_TfmMain.h"
#include "word/CxWordView.h"

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <functional>

namespace {

void Shoot(const QString& folder, const char* name)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QPixmap shot = screen->grabWindow(0);
    if (shot.isNull() && fmMain)  // a platform without screen grabbing: the window alone
        shot = fmMain->grab();
    shot.save(QDir(folder).filePath(name), "PNG");
}

// Runs the step after a pause that lets the window system draw.
void After(int ms, std::function<void()> step) { QTimer::singleShot(ms, qApp, std::move(step)); }

// Shoots the dialog a menu command opens, then closes it.
void ShootDialog(const QString& folder, const char* name, QAction* command, std::function<void()> next)
{
    After(600, [folder, name, next] {
        Shoot(folder, name);
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        After(200, next);
    });
    command->trigger();  // modal: returns when the dialog closes
}

// Runs the step once a document named on the command line has opened (it opens in the
// background), or after 60 s.
void AfterOpening(TfmMain* window, std::function<void()> step, int nWaited = 0)
{
    if (!window->IsOpening() || nWaited >= 60000) {
        After(300, std::move(step));
        return;
    }
    After(200, [window, step, nWaited] { AfterOpening(window, step, nWaited + 200); });
}

// Chooses a zoom as the zoom box does.
void ChooseZoom(TfmMain* window, int nZoom)
{
    QComboBox* box = window->ui->cbZoom;
    const int nIndex = box->findData(nZoom);
    if (nIndex < 0)
        return;
    box->setCurrentIndex(nIndex);
    emit box->activated(nIndex);
}

}  // namespace

void TakeScreenshots(TfmMain* window, const char* szFolder)
{
    const QString folder = QString::fromUtf8(szFolder);
    QDir().mkpath(folder);
    const int userZoom = OptionSettings.Zoom;
    After(800, [=] { AfterOpening(window, [=] {
        Shoot(folder, "1-multi-document-view.png");
        window->ui->mnuViewOne->trigger();
        ChooseZoom(window, CxWordView::kZoomFitWidth);
        After(500, [=] {
            Shoot(folder, "2-single-document-view.png");
            ChooseZoom(window, CxWordView::kZoomFitPage);
            QMenu* menu = window->ui->mnuView;
            menu->popup(window->ui->menubar->mapToGlobal(window->ui->menubar->actionGeometry(menu->menuAction()).bottomLeft()));
            After(500, [=] {
                Shoot(folder, "5-zoom.png");
                menu->close();
                window->ui->mnuViewMore->trigger();
                After(300, [=] {
                    ShootDialog(folder, "3-options-dialog.png", window->ui->mnuToolOption, [=] {
                        ShootDialog(folder, "4-about-box.png", window->ui->mnuHelpAbout, [=] {
                            OptionSettings.Zoom = userZoom;  // kept as the user left it
                            window->close();
                        });
                    });
                });
            });
        });
    }); });
}
