#include <QApplication>

#include "app/Main.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TfmMain fmMain;
    fmMain.show();
    return QApplication::exec();
}
