#pragma once
// The logo tool's two progress dialogs, "Uploading" (CProgress, resource 135) and "Printing"
// (resource 136): a status line, a bar and Cancel over a StepJob that the dialog drives.
//
// The dialog runs the job on a QtStepDriver: the steps and the waits between them run on the
// driver's worker thread, so the window paints and hears Cancel at once also while a step
// blocks on a printer that stopped reading. Cancel does not close the window: the job is told
// at once and driven to its end (an upload completes the open definition with empty pictures
// after the printer's erase and waits for the printer), and the window closes when the job
// has ended.
//
// GUI thread only, but for report(), which the job calls from its worker.
#include "app/Progress.h"
#include "app/StepJob.h"
#include "qthost/QtStepDriver.h"

#include <QDialog>
#include <QElapsedTimer>

#include <chrono>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QtProgressSink;

class StepProgressDlg : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    ~StepProgressDlg() override;

    // Runs the job modally: its next step after firstWait. Returns the job's last result
    // (Finished or Failed). firstWaitRule: whether a Cancel cuts firstWait short (an
    // upload's first wait is the printer's erase, which it does not).
    StepResult run(StepJob& job, std::chrono::milliseconds firstWait,
                   QtStepDriver::FirstWait firstWaitRule = QtStepDriver::FirstWait::EndsOnCancel);

    // ProgressSink, any thread: the bar and the status text (an empty text keeps the last
    // one). From the job's worker it is shown by the GUI thread soon after.
    void report(const ProgressReport& progress) override;
    // Cancel, Escape and the window's close button: the job is told, the window stays until
    // the job has ended. A printer that then takes nothing for kCancelStallGrace is not waited
    // for: the job's write is cut and the job completes its cancel with what it must send.
    void reject() override;
    static constexpr std::chrono::milliseconds kCancelStallGrace{2000};

    bool cancelRequested() const { return m_cancelRequested; }
    QString statusText() const;
    QProgressBar* bar() const { return m_bar; }

protected:
    // unitsPerStep: how many of the engine's units make one step of the bar (the upload's
    // weighted units are a byte each while the pictures go, shown in hundreds, as its bar
    // always has).
    StepProgressDlg(const QString& title, bool korean, int statusId, int barId, std::uint64_t unitsPerStep,
                    QWidget* parent);

    QtStepDriver* driver() const { return m_driver; }

private:
    void show(const ProgressReport& progress);

    QLabel* m_status;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    QtStepDriver* m_driver;
    // After Cancel: restarted by every progress report; when it runs out the printer has taken
    // nothing for kCancelStallGrace and the job's write is cut (QtStepDriver::abort).
    QTimer* m_stallWatch;
    QElapsedTimer m_sinceReport; // the printer's last progress, before or after the Cancel
    std::unique_ptr<QtProgressSink> m_sink;
    StepResult m_result;
    std::uint64_t m_unitsPerStep;
    bool m_korean;
    bool m_cancelRequested = false;
};

// "Uploading": status and bar (logo_ctl::kProgressStatus, kProgressBar) in hundreds of units.
class CProgress final : public StepProgressDlg {
    Q_OBJECT
public:
    explicit CProgress(bool korean, QWidget* parent = nullptr);
};

// "Printing": status and bar counted in the print job's units (tenths of a second).
class CPrintingDlg final : public StepProgressDlg {
    Q_OBJECT
public:
    explicit CPrintingDlg(bool korean, QWidget* parent = nullptr);
};
