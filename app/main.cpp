// Pagesnap's entry point.
#include "OptionSettings.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Orvell Folium Converter");
    LoadOptionSettings();
    QMainWindow window;
    window.setWindowTitle("Orvell Folium Converter");
    window.resize(800, 600);
    window.show();
    int code = app.exec();
    SaveOptionSettings();
    return code;
}
