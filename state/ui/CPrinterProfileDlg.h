#pragma once
// The Printer Profile dialog: "Save..." writes the connected printer's configuration (its
// settings read back, and what this PC last applied to it) as a profile file; "Apply..." opens
// a profile, checks it whole, and shows as a table what an apply would change on this printer
// (item, what it holds now, what the profile gives, whether "now" is what the printer reports
// or what the record of this PC's applies holds). "Apply Changes" then makes the changes and
// marks each row as it is made, verified where the printer reports it. The last line says
// what the printer now holds.
//
// Every byte goes through the state core (StateEngine) with the same record database as
// tavroctl, so `tavroctl history` lists the desktop tool's applies too.
//
// Threads: the GUI thread owns the dialog. The capture, the check and plan, and the apply run
// on the "profileJob" driver's worker, with a plain clock; what they report (progress, the
// change that starts) reaches the window as queued calls, and the result when the job ended.
// Cancel, Esc and the close box cancel the job's token at once (a read or write waiting on
// the printer ends then) and the window stays until the job has ended, to say what the
// printer holds; when no job runs, Esc and the close box close the window.
#include "app/CancelToken.h"
#include "app/ConnectionRules.h"
#include "state/StateEngine.h"

#include <QDialog>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CErrorLog;
class ConnectionObserver;
class Prompter;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QtProgressSink;
class QtStepDriver;
struct DeviceRoots;

// The dialog's control ids (object names "ctl<id>").
namespace profiledlg {
enum Control : int {
    Save = 1,
    Open = 2,
    Apply = 3,
    Cancel = 4,
    Close = 5,
    Summary = 10,
    ProfileFile = 11,
    Plan = 12,
    PlanSummary = 13,
    Progress = 14,
    Message = 15,
};
// The plan table's columns.
enum Column : int { ItemColumn, NowColumn, ThenColumn, SourceColumn, ResultColumn, ColumnCount };
} // namespace profiledlg

struct PrinterProfileDlgDeps {
    Prompter& prompter;
    CErrorLog& errorLog;
    // The connection the connection dialog chose (port, line settings, model family).
    ConnectionSettings settings;
    bool korean = false;
    // The connection summary of the function menu ("\r\n" between lines).
    std::string summary;
    // Told of the connections' opens and closes (the port object); may be null.
    ConnectionObserver* observer = nullptr;
    // Where "USB" looks for the printer (null: the observer's, else the environment's).
    const DeviceRoots* roots = nullptr;
    // The record of applies; empty: tavroctl's (StateRecord::defaultPath()).
    std::filesystem::path recordFile{};
    // The Save dialog, starting with the suggested name; empty: cancelled. Default: QFileDialog.
    std::function<std::string(QWidget* parent, const std::string& suggested)> chooseSaveFile{};
    // The Open dialog; empty: cancelled. Default: QFileDialog.
    std::function<std::string(QWidget* parent)> chooseOpenFile{};
    // How long a write may find the printer taking nothing before it gives up.
    std::chrono::milliseconds stallLimit{15000};
    // How long a read of the settings waits for the answers.
    std::chrono::milliseconds readTimeout{5000};
};

class CPrinterProfileDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "TAVROSet(203dpi) : Printer Profile";
    static constexpr const char* kSuggestedName = "printer-profile.yaml";

    // What a row of the plan shows in its result column.
    enum class RowState { Planned, Applying, Verified, Applied, Failed, NotReached, NotNeeded };

    // GUI thread only.
    explicit CPrinterProfileDlg(PrinterProfileDlgDeps deps, QWidget* parent = nullptr);
    ~CPrinterProfileDlg() override;

    // Button handlers, public so that tests and the screenshot tool drive them as the user.
    void onSave();
    void onOpen();
    void onApply();
    void onCancel();
    // Esc and the close box: Cancel while a job runs, else the window closes.
    void reject() override;

    // A job (capture, plan or apply) is under way on the worker.
    bool jobRunning() const;
    // The plan shown (empty before one was made).
    const std::vector<StateChange>& plan() const { return m_rows; }
    RowState rowState(int row) const { return m_rowStates.at(std::size_t(row)); }
    QTableWidget* table() const { return m_table; }
    QString planSummary() const;
    QString message() const;
    QProgressBar* progressBar() const { return m_bar; }

private:
    struct Job;
    // Runs work on the worker with the buttons but Cancel off; done runs on the GUI thread.
    void startJob(const QString& what, std::function<void(Job&)> work, std::function<void(Job&)> done);
    StateDeps stateDeps();
    void showPlan(const std::vector<StateChange>& changes);
    void setRow(int row, RowState state);
    void stepStarted(const StateChange& change);
    void showProgress(std::uint64_t done, std::uint64_t total);
    void applyEnded(const StateApplyResult& result);
    void setIdleButtons();
    void showMessage(const QString& text, bool failure);
    QString text(const char* english, const char* korean) const;
    QString shown(const std::string& engineText) const;

    PrinterProfileDlgDeps m_deps;
    CancelToken m_cancel;
    QtStepDriver* m_driver;
    std::unique_ptr<QtProgressSink> m_sink;
    std::shared_ptr<Job> m_job;
    QLabel* m_summary;
    QLabel* m_file;
    QTableWidget* m_table;
    QLabel* m_planSummary;
    QProgressBar* m_bar;
    QLabel* m_message;
    QPushButton* m_save;
    QPushButton* m_open;
    QPushButton* m_apply;
    QPushButton* m_cancelButton;
    QPushButton* m_close;
    // The profile checked and planned, kept for the apply.
    std::optional<DesiredState> m_state;
    std::vector<StateChange> m_rows;
    std::vector<RowState> m_rowStates;
    int m_current = -1; // the row the apply is at
};
