#include "tarnwell.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    Tarnwell wizard;
    wizard.show();
    return application.exec();
}
