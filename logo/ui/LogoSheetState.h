#pragma once
// What the five pages of the logo tool share: the sheet's dependencies, the state all pages
// edit (options, bitmap list, port name), the page base class and small widget helpers.
//
//   CPage1Selection (129) "Select Bitmap": Open File, Remove, Reset, the auto-centre checks.
//   CPage2Preview   (130) "Preview Bitmap": the picture in four print modes, or as printed.
//   CPage3Upload    (131) "Upload Bitmap": the NV upload (or the clear for an empty list).
//   CPage4Print     (137) "Print && Setup": printing stored pictures, the top/bottom logo
//                         settings and the sample receipt.
//   CPage5Setup     (138) "Advanced": print to file, gray printing, star emulation, the
//                         printable area and the black/white diverging point.
//
// The pages only say what the user wants: every printer action is a call into logo_tool
// (logo/LogoTool.h) with the sheet's connection factory, and the page shows its report.
// Every page is built from the one LogoSheetState its sheet owns; the sheet tells a page when
// it becomes active and asks it before it is left. GUI thread only.
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "logo/BitmapList.h"
#include "logo/LogoFrames.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPreview.h"
#include "logo/LogoTool.h"
#include "qthost/QtControlName.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <string>

class CErrorLog;
class Clock;
class Profile;
class Prompter;
class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QtStatusLine;

struct LogoSheetDeps {
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& errorLog;
    // The connection the main dialog chose (m_PortName, the model family).
    ConnectionSettings settings;
    bool korean = false;
    // The device text of the main dialog ("\r\n" between lines).
    std::string summary;
    // Makes a closed connection for the settings (null: no connection can use them).
    logo_tool::ConnectionFactory connect;
    // The files the user chose in the Open File dialog, starting in `folder` (tests script
    // it; empty: the file dialog).
    std::function<QStringList(QWidget* parent, const QString& folder)> chooseFiles;
};

// What all pages share while the sheet is open.
class LogoSheetState {
public:
    explicit LogoSheetState(LogoSheetDeps deps);

    LogoSheetDeps deps;
    LogoOptions options;
    BitmapList list;
    // The log keys the list read, or the pictures the last upload of this run wrote: the next
    // upload deletes the keys above its own.
    int logKeys = 0;
    // m_PortName: the main dialog's, or "FILE" while Print To File is checked.
    std::string portName;
    QtStatusLine* status = nullptr;
    // The top and bottom logo alignment the Print && Setup page shows (the preview lays the
    // logos out with them).
    logo_frames::LogoJustify topJustify = logo_frames::LogoJustify::Center;
    logo_frames::LogoJustify bottomJustify = logo_frames::LogoJustify::Center;

    ModelFamily family() const { return deps.settings.modelFamily; }
    ConnectionSettings connectionSettings() const;
    // What a logo_tool action needs: the current port, the sheet's factory and host, the
    // given progress (none: nothing shown) and, for the timed jobs, how the page drives them.
    // The clock is a plain one: the actions run on workers, where the desktop clock would only
    // sleep.
    logo_tool::LogoToolDeps toolDeps(ProgressSink* progress = nullptr, logo_tool::JobDriver drive = {});
    QString text(const char* english, const char* korean) const;
    // The label with its mnemonic in the active language ("전송(&U)" in Korean).
    QString label(const char* english, const char* korean, char key) const;
    // Empties the list and reads the logo log again, with the auto-centre ticks it names.
    void restore();

private:
    NullProgress m_noProgress;
};

class LogoPage : public QWidget {
    Q_OBJECT
public:
    explicit LogoPage(LogoSheetState& state, QWidget* parent = nullptr) : QWidget(parent), m_state(state) {}
    // The page became the visible one.
    virtual void onSetActive() {}
    // The page is about to be left; false keeps it (its values are refused).
    virtual bool onKillActive() { return true; }

protected:
    LogoSheetState& m_state;
};

// Small pieces the pages build from.
namespace logo_page {

// The widget with the object name of control `id`.
using ::named;

// A read-only box that takes no focus.
QLineEdit* readOnlyBox(int id);

// One print mode of a "Quality" group: its radio's control id, captions and access key.
struct QualityChoice {
    int id;
    const char* english;
    const char* korean;
    char key;
    LogoPrintMode mode;
};
// The "Q&uality" group: one radio per choice, in the order given, each in `group` under its
// mode's number; Normal is checked. The caller adds what else the group holds.
QGroupBox* qualityGroup(const LogoSheetState& s, QButtonGroup* group, std::initializer_list<QualityChoice> choices);

// The "Printer Details" group with the two boxes.
QGroupBox* printerDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port);
// "TAVRO15" for the TAVRO15, "TAVRO" for the others; both boxes "To File" for a file.
void showPrinterDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port);

// The text as an integer in low..high (surrounding blanks allowed).
bool isIntegerIn(const QString& text, int low, int high, int* value);
// "Please enter an integer between low and high." in the sheet's language.
void refuseRange(const LogoSheetState& s, int low, int high);

} // namespace logo_page
