// tavroset: the desktop tool. The connection dialog is the main window for the whole run;
// the function menu and the tools open modally on top of it.
#include "shell/ToolMain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavroset");
    // No application display name: the X11 and Wayland back ends would append it to every
    // window title, and the captions are the tool's own.
    QApplication::setDesktopFileName("tavroset");
    return runTavroset(app);
}
