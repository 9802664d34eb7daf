// One QApplication for the whole test program (offscreen).
#pragma once

#include <QApplication>

inline QApplication* TestApp()
{
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}
