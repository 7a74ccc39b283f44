#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    tovrin3::Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return QApplication::exec();
}
