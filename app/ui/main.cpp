// tavroset: the desktop tool. The connection dialog is the main window for the whole run.
#include "app/Version.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("%s\n", QDir::currentPath().toLocal8Bit().constData());
    QDialog dialog;
    dialog.setWindowTitle(QString("TAVROSet(203dpi) ") + kVersionText + kVersionSuffix);
    return dialog.exec() == QDialog::Accepted ? 0 : 0;
}
