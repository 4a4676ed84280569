#include "tarnwell.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    // Names the desktop entry, so that a Wayland compositor matches the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNWELL_APP_ID));
    Tarnwell wizard;
    wizard.show();
    return application.exec();
}
