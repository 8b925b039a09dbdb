#pragma once
// The five pages of the logo tool and what they share.
//
//   CPage1Selection (129) "Select Bitmap": Open File, Remove, Reset, the auto-centre checks.
//   CPage2Preview   (130) "Preview Bitmap": the picture in four print modes, or as printed.
//   CPage3Upload    (131) "Upload Bitmap": the NV upload (or the clear for an empty list).
//   CPage4Print     (137) "Print && Setup": printing stored pictures, the top/bottom logo
//                         settings and the sample receipt.
//   CPage5Setup     (138) "Advanced": print to file, gray printing, star emulation, the
//                         printable area and the black/white diverging point.
//
// Every page is built from the one LogoSheetState its sheet owns; the sheet tells a page when
// it becomes active and asks it before it is left. GUI thread only.
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "logo/BitmapList.h"
#include "logo/LogoFrames.h"
#include "logo/LogoLink.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPreview.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class CErrorLog;
class Clock;
class LogoListPanel;
class LogoPreviewFrame;
class Profile;
class Prompter;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
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
    std::function<std::unique_ptr<PrinterConnection>(const ConnectionSettings&)> connect;
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
    // The clock of what runs on a worker thread (the upload, printing, the logo settings):
    // a plain one. The desktop clock serves the GUI thread's event loop and is for waits
    // there; from a worker it would only sleep.
    Clock& jobClock();

    int family() const { return deps.settings.modelFamily; }
    ConnectionSettings connectionSettings() const;
    // A closed connection for the current port name; null (and the message shown) when none.
    std::unique_ptr<PrinterConnection> connect();
    LogoEngineDeps engineDeps(PrinterConnection& connection, Clock& clock, ProgressSink& progress);
    QString text(const char* english, const char* korean) const;
    // The label with its mnemonic in the active language ("전송(&U)" in Korean).
    QString label(const char* english, const char* korean, char key) const;
    // Empties the list and reads the logo log again; the auto-centre checks start empty.
    void restore();

private:
    NullProgress m_noProgress;

public:
    ProgressSink& noProgress() { return m_noProgress; }
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

class CPage1Selection final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage1Selection(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    void onOpenFile();
    void onRemove();
    void onReset();
    LogoListPanel* panel() const { return m_panel; }

private:
    void smallMemoryNotice();
    LogoListPanel* m_panel;
};

class CPage2Preview final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage2Preview(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    LogoPrintMode mode() const;
    LogoPreviewFrame* frame() const { return m_frame; }
    LogoListPanel* panel() const { return m_panel; }
    QCheckBox* asPrintedSwitch() const { return m_asPrinted; }
    void refresh();

private:
    LogoListPanel* m_panel;
    LogoPreviewFrame* m_frame;
    QButtonGroup* m_quality;
    QCheckBox* m_asPrinted;
};

class CPage3Upload final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage3Upload(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    void onUpload();
    LogoListPanel* panel() const { return m_panel; }

private:
    void clearPrinter();
    LogoListPanel* m_panel;
    QLineEdit* m_printerName; // 1077
    QLineEdit* m_portName;    // 1076
};

class CPage4Print final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage4Print(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    void onPrint();
    void onSetLogoValues();
    void onTest();
    // The logo settings as the controls give them; empty (and the refusal shown) when a
    // number is outside 1..255.
    std::optional<logo_frames::LogoSettingsValues> readSettings();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRadioButton* m_all;       // 1032
    QRadioButton* m_selection; // 1033
    QLineEdit* m_selectionText; // 1034
    QButtonGroup* m_quality;   // 1019..1022: mode 0..3
    QButtonGroup* m_header;    // 1039, 1040
    QLineEdit* m_printerName;  // 1072
    QLineEdit* m_portName;     // 1073
    QButtonGroup* m_top;       // 1115 enable, 1116 disable
    QLineEdit* m_topNumber;    // 1118
    QComboBox* m_topJustify;   // 1126
    QButtonGroup* m_powerOn;   // 1120, 1121
    QButtonGroup* m_bottom;    // 1123, 1124
    QLineEdit* m_bottomNumber; // 1125
    QComboBox* m_bottomJustify; // 1127
    QPushButton* m_print;      // 1029
    QPushButton* m_setValues;  // 1036
    QPushButton* m_test;       // 1038
};

class CPage5Setup final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage5Setup(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    bool onKillActive() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onPrintToFile(bool on);
    void onGray(bool on);
    void checkPrinter();
    // Worker thread: the look itself; the boxes go through the prompter.
    static void lookForPrinter(PrinterConnection& connection, PortKind kind, Prompter& prompter);

    QCheckBox* m_printToFile; // 1064
    QCheckBox* m_gray;        // 1020
    QCheckBox* m_star;        // 1021
    QLineEdit* m_maxArea;     // 1066
    QSlider* m_slider;        // 1067
    QLineEdit* m_diverging;   // 1068
    QLabel* m_device;         // 1018
};
