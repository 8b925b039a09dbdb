#pragma once
// The logo tool's two progress dialogs, "Uploading" (CProgress, resource 135) and "Printing"
// (resource 136): a status line, a bar and Cancel over a StepJob that the dialog drives.
//
// The dialog runs the job on a QtStepDriver, which waits the time each step asks for on its
// timer, so the window paints and Cancel answers at once during the printer's erase and between
// pictures. Inside a step the engine's own short waits (10 ms after each 512-byte block) are
// taken on the clock it was given: the sheet gives the upload a QtClock that serves input, so
// Cancel answers between blocks as well. Cancel does not close the window: the job is told
// and driven to its end (an upload completes the open definition with empty pictures and
// waits for the printer), and the window closes when the job has ended.
//
// GUI thread only.
#include "app/Progress.h"
#include "app/StepJob.h"

#include <QDialog>

#include <chrono>

class QLabel;
class QProgressBar;
class QPushButton;
class QtStepDriver;

class StepProgressDlg : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    // Runs the job modally: its next step after firstWait. Returns the job's last result
    // (Finished or Failed).
    StepResult run(StepJob& job, std::chrono::milliseconds firstWait);

    // ProgressSink: the bar and the status text (an empty text keeps the last one).
    void report(const ProgressReport& progress) override;
    // Cancel, Escape and the window's close button: the job is told, the window stays until
    // the job has ended.
    void reject() override;

    bool cancelRequested() const { return m_cancelRequested; }
    QString statusText() const;
    QProgressBar* bar() const { return m_bar; }

protected:
    // unitsPerStep: how many of the engine's units make one step of the bar (the upload
    // counts bytes and shows them in hundreds, as its bar always has).
    StepProgressDlg(const QString& title, bool korean, int statusId, int barId, std::uint64_t unitsPerStep,
                    QWidget* parent);

private:
    QLabel* m_status;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    QtStepDriver* m_driver;
    StepResult m_result;
    std::uint64_t m_unitsPerStep;
    bool m_korean;
    bool m_cancelRequested = false;
};

// "Uploading": status 1057, bar 1069 in hundreds of bytes.
class CProgress final : public StepProgressDlg {
    Q_OBJECT
public:
    explicit CProgress(bool korean, QWidget* parent = nullptr);
};

// "Printing": status and bar counted in pictures.
class CPrintingDlg final : public StepProgressDlg {
    Q_OBJECT
public:
    explicit CPrintingDlg(bool korean, QWidget* parent = nullptr);
};
