#pragma once
// The F/W Update dialog (resource 132, "TAVROSet(203dpi) : Firmware Download"): choose an
// image, choose a flash area, check what will be written (checksum, FileSize) and send it.
// Every check and byte goes through the firmware core (FirmwareImage, buildTransferBlock,
// FirmwareTransfer); the dialog only shows and asks.
//
// Threads: the GUI thread owns the dialog. The transfer runs on a FirmwareTransferWorker;
// its progress and its outcome come back as queued calls, so no widget is touched off the
// GUI thread. Closing the dialog cancels a running transfer and joins the worker. A download
// that ends early always says what the printer's area holds now and what to do
// (earlyEndMessage), also when EXIT stopped it; after a complete one a status line tells
// whether the printer answers again (asked on a worker of its own; EXIT stops the wait).
#include "app/ConnectionRules.h"
#include "firmware/DownloadNote.h"
#include "firmware/FirmwareArea.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"

#include <QDialog>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CErrorLog;
class Clock;
class Profile;
class Prompter;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QtStepDriver;

struct FwUpdateDlgDeps {
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& errorLog;
    ConnectionSettings settings;
    bool korean = false;
    // The connection summary of the function menu (DEVICE box).
    std::string summary;
    // Ctrl was held when the dialog was asked for (the caller reads the keyboard).
    bool serviceMode = false;
    // A closed connection for the settings (makeConnection in the tool; tests give their own).
    std::function<std::unique_ptr<PrinterConnection>()> connect;
    // The open-file dialog: the chosen path, or empty on cancel. Default: QFileDialog.
    std::function<std::string(QWidget* parent, const std::string& filter)> chooseFile;
    FirmwareTransferOptions transferOptions;
    // Where the note of a download in progress is kept (the profile's folder); empty: none.
    std::filesystem::path noteFolder;
    // After "Update Complete.": how long the status line waits for the printer to answer
    // again (0: no wait).
    std::chrono::milliseconds readyTimeout{60000};
};

class CFwUpdateDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "TAVROSet(203dpi) : Firmware Download";
    static constexpr const char* kSection = "FWDN20";
    static constexpr const char* kFilter = "Firmware file(*.T25)|*.T25|ALL FILE(*.*)|*.*|";

    // Runs the opening sequence. GUI thread only.
    explicit CFwUpdateDlg(FwUpdateDlgDeps deps, QWidget* parent = nullptr);
    ~CFwUpdateDlg() override;

    // Handlers, public so that tests drive them as the user would.
    void onFileOpen();
    void onUpdate();
    void onExit();
    void reject() override;

    bool serviceMode() const { return m_service; }
    bool transferRunning() const { return m_worker != nullptr; }
    FirmwareArea area() const;
    // The last transfer's outcome (empty message before the first).
    const FirmwareTransferOutcome& lastOutcome() const { return m_outcome; }
    // The status line under the bar, and whether its wait for the printer still runs.
    QString statusText() const;
    bool readyWaitRunning() const;

private:
    void setPath(const std::string& path);
    // Takes the file's image for the CHECKSUM and FileSize boxes (none: the boxes are empty)
    // and whether UPDATE may start with it.
    void setImage(std::optional<FirmwareImage> image, bool ready);
    // The boxes and UPDATE for the chosen area.
    void showArea();
    // "ERROR : Please check the firmware file." followed by what is wrong with the file.
    void refuseFile(const std::string& path, const FirmwareImage::Trailer& trailer);
    void applyBootRule(bool bootAllowed);
    void onProgress(std::uint64_t position, std::uint64_t range);
    void onTransferEnded(FirmwareTransferOutcome outcome);
    // Cancels and joins a running transfer: its outcome, or nothing when none ran.
    std::optional<FirmwareTransferOutcome> stopWorker();
    void startReadyWait();
    void message(const std::string& text, const char* caption = nullptr);

    FwUpdateDlgDeps m_deps;
    bool m_service = false;
    std::string m_path, m_fileName;
    // The chosen file: its image when it loads whole, and whether UPDATE may be pressed.
    std::optional<FirmwareImage> m_image;
    bool m_fileReady = false;

    QLineEdit* m_pathEdit;     // 1022
    QPushButton* m_fileOpen;   // 1027
    QGroupBox* m_areaBox;
    QButtonGroup* m_areas;
    QRadioButton* m_radio[5];  // 1030, 1045, 1035, 1041, 1033
    QLineEdit* m_checksum;     // 1068
    QLineEdit* m_fileSize;     // 1067
    QProgressBar* m_progress;  // 1023
    QPushButton* m_update;     // 1017
    QPushButton* m_exit;       // 1069
    QLabel* m_status;
    QtStepDriver* m_readyDriver;

    std::unique_ptr<PrinterConnection> m_connection;
    std::unique_ptr<FirmwareTransferWorker> m_worker;
    class Sink;
    std::unique_ptr<Sink> m_sink;
    FirmwareTransferOutcome m_outcome;
    DownloadPlace m_place;
    std::unique_ptr<DownloadNoteKeeper> m_note;
};
