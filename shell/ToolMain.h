#pragma once
// The desktop tool's run: the profile and error log in the start-up directory, the one
// CPorts, the connection dialog as the main window, the function menu and the tools on
// top. main() calls it; the demo check drives the same run from a timer.
class QApplication;

// Runs the connection dialog until Cancel and returns the exit code. GUI thread only.
int runTavroset(QApplication& app);
