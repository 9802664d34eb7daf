// The screenshot script's mode: shows the multi-document view, the single-document view, the
// options dialog and the about box, saves a picture of the screen for each into a folder and
// closes the program.
#include "TfmMain.h"
#include "ui_TfmMain.h"

#include <QApplication>
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

}  // namespace

void TakeScreenshots(TfmMain* window, const char* szFolder)
{
    const QString folder = QString::fromUtf8(szFolder);
    QDir().mkpath(folder);
    After(800, [=] {
        Shoot(folder, "1-multi-document-view.png");
        window->ui->mnuViewOne->trigger();
        After(500, [=] {
            Shoot(folder, "2-single-document-view.png");
            window->ui->mnuViewMore->trigger();
            After(300, [=] {
                ShootDialog(folder, "3-options-dialog.png", window->ui->mnuToolOption, [=] {
                    ShootDialog(folder, "4-about-box.png", window->ui->mnuHelpAbout, [=] { window->close(); });
                });
            });
        });
    });
}
