#pragma once
// The TAVRO15's firmware download dialog (resource 140, "TAVROSet(203dpi) : TAVRO15
// Firmware Download"): choose a flat image and an area; OK runs the packet download
// (LegacyDownloadJob) through a QtStepDriver, so the window keeps painting while the printer
// erases and acknowledges.
//
// Threads: GUI thread only; the job's steps and its waits run on the driver's worker thread,
// which alone drives the connection until the job has ended. EXIT cancels the job and closes
// the window once the step in progress has returned (the window paints meanwhile), after
// saying what the printer's area holds now and what to do (earlyEndMessage), as every early
// end does. After the last packet a status line tells whether the printer answers again
// (the same worker asks it), then "COMPLETED".
#include "app/ConnectionRules.h"
#include "firmware/DownloadNote.h"
#include "firmware/LegacyDownloadJob.h"

#include <QDialog>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class CErrorLog;
class Clock;
class Profile;
class Prompter;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QtProgressSink;
class QtStepDriver;

struct FwDownload15DlgDeps {
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& errorLog;
    ConnectionSettings settings;
    bool korean = false;
    std::string summary;
    // Makes the download's connection from the settings the dialog gives it (the user's,
    // with no handshake: see legacyDownloadSettings).
    std::function<std::unique_ptr<PrinterConnection>(const ConnectionSettings&)> connect;
    std::function<std::string(QWidget* parent, const std::string& filter)> chooseFile;
    LegacyDownloadOptions options;
    // The clock of the download on its worker, and of the waits between its steps (tests: a
    // test clock). Null: the system's plain clock, with waits that EXIT ends at once. Not
    // `clock`, which serves the GUI thread's event loop.
    Clock* jobClock = nullptr;
    // Service mode (Ctrl held while the dialog opened): only then is "&3.Boot" offered.
    bool serviceMode = false;
    // Where the note of a download in progress is kept (the profile's folder); empty: none.
    std::filesystem::path noteFolder;
    // After the last packet: how long the status line waits for the printer to answer again
    // before "COMPLETED" (0: no wait).
    std::chrono::milliseconds readyTimeout{60000};
};

class CFwDownload15Dlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "TAVROSet(203dpi) : TAVRO15 Firmware Download";
    static constexpr const char* kSection = "FWDN15";
    static constexpr const char* kFilter = "BINARY(*.bin)|*.bin|ALL FILE(*.*)|*.*|";

    explicit CFwDownload15Dlg(FwDownload15DlgDeps deps, QWidget* parent = nullptr);
    ~CFwDownload15Dlg() override;

    void onOpen();
    void onOk();
    void reject() override;

    bool running() const;
    LegacyArea area() const;
    QString statusText() const;

private:
    void finished(const StepResult& r);
    void completed();
    void endJob();
    AreaWriteState lastState() const;

    FwDownload15DlgDeps m_deps;
    std::string m_path, m_fileName;
    QLineEdit* m_pathEdit; // 1000
    QLineEdit* m_nameEdit; // 1001
    QPushButton* m_open;   // 1002
    QButtonGroup* m_areas;
    QRadioButton* m_radio[4]; // 1003, 1004, 1005, 1011
    QPushButton* m_ok;     // 1
    QPushButton* m_cancel; // 2
    QProgressBar* m_progress; // 1006
    QLabel* m_status;
    QtStepDriver* m_driver;
    bool m_waitingForPrinter = false;
    DownloadPlace m_place;
    std::shared_ptr<DownloadNoteKeeper> m_note;
    struct StateBox;
    std::shared_ptr<StateBox> m_state;

    class DownloadWithConnection;
    std::unique_ptr<QtProgressSink> m_sink;
};
