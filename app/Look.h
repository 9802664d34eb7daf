// The program's look: the product banner, drawn here, and the glassy blue style sheet.
#pragma once

#include <QPixmap>

class QApplication;

// The banner at the given size: a blue glass strip with a page turning into a picture and the
// product's name.
QPixmap MakeBanner(int width, int height);
// Sets the application's style sheet (Fusion style underneath, so it looks the same on every
// desktop).
void ApplyLook(QApplication& app);
