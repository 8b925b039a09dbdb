#pragma once
// The desktop tool's run: the profile and error log in the start-up directory, the one
// CPorts, the connection dialog as the main window, the function menu and the tools on
// top. main() calls it; the demo check drives the same run from a timer.
#include "app/ConnectionRules.h"
#include "shell/CMenuDlg.h"

#include <filesystem>
#include <functional>

class CErrorLog;
class CPorts;
class Clock;
class Profile;
class Prompter;
class QApplication;
class QWidget;

// What the function menu's tools share for the run: the one port object and the host.
struct ToolRun {
    CPorts& ports;
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& log;
    // Whether Ctrl is held down as a tool opens (service mode); empty: the keyboard's state.
    std::function<bool()> controlHeld;
    // Where the firmware dialogs keep the note of a download that did not complete (next to
    // the profile); empty: none is kept.
    std::filesystem::path noteFolder;
    // The record of applies for the Printer Profile dialog; empty: tavroctl's.
    std::filesystem::path recordFile{};
};

// The function menu's tools as the desktop tool runs them for the settings OK chose: User
// Setup, the logo tool, Printer Profile, and Firmware Download (the legacy dialog for a TAVRO15, the F/W Update
// dialog otherwise, both in service mode while Ctrl is held; the port is closed after it when
// it was left open). Each runs modally on top of the menu. GUI thread only.
MenuDlgDeps toolMenuDeps(ToolRun& run, const ConnectionSettings& settings, bool korean);

// The function menu for the settings, then the port closed if a tool left it open.
void runFunctionMenu(ToolRun& run, QWidget* parent, const ConnectionSettings& settings);

// Runs the connection dialog until Cancel and returns the exit code. GUI thread only.
int runTavroset(QApplication& app);
