#pragma once
// The user setup dialog (resource 133, "TAVROSet(203dpi) : User Setup"): reads the
// printer's user setup, lets the user change any option, writes the options that have a
// value, prints the test page and resets the form to the factory values. The dialog holds
// the form (SetupOptions) and the controls; every byte to and from the printer goes
// through the setup core's SetupSession.
//
// Threads: the GUI thread owns the dialog and the form. "Get Value", "Set Value" and the test
// page run on the driver "setupJob"'s worker: the GUI thread reads the form before the job
// starts, shows the wait in the status line, and takes the result through a queued call, so a
// write that a printer holds off (flow control) never stops the window. While a job runs it
// alone uses the session (the action buttons but EXIT are off). RcvDataProcess delivers
// WM_SETUP_VALUE through a QtMessageTarget, so the handler always runs on the GUI thread; the
// dialog's own waits (closing, the network module's pause) serve those queued calls, and
// closing detaches the target before the workers are joined, so neither side can block the
// other for good. The parallel-port acknowledgement runs on a second QtStepDriver ("lptAck").
// EXIT, Esc and the close box cancel the session's token: a read or write that waits on the
// printer ends at once, its result says so in the status line, and the dialog closes then.
#include "app/CancelToken.h"
#include "setup/SetupOptions.h"
#include "setup/SetupSession.h"
#include "setup/SetupTextSlots.h"

#include <QDialog>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CErrorLog;
class CPorts;
class Clock;
class Profile;
class Prompter;
class QtMessageTarget;
class QtStatusLine;
class QtStepDriver;
struct StepResult;
class UserSetupForm;

struct UserSetupDlgDeps {
    CPorts& ports;
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& errorLog;
    bool korean = false;
    // The connection summary of the function menu, shown in the MODEL area.
    std::string summary;
    // How long "Get Value" waits for the printer's answers before it reports the settings
    // that did not answer. Every answer of a live printer is in well within it, even at
    // 9600 baud or over a network module.
    std::chrono::milliseconds answerTimeout{3000};
};

class CUserSetupDlg final : public QDialog {
    Q_OBJECT
public:
    // Builds the controls and runs the opening sequence (fills the lists, opens the
    // connection, applies the model rules). When the connection cannot be opened the
    // message has been shown and failedToOpen() is true: exec() then returns at once.
    // GUI thread only.
    explicit CUserSetupDlg(UserSetupDlgDeps deps, QWidget* parent = nullptr);
    ~CUserSetupDlg() override;

    int exec() override;
    bool failedToOpen() const { return m_openFailed; }
    // The user asked to go back to the connection dialog (after the printer left the
    // connection by a USB mode change): the menu closes too.
    bool backToConnection() const { return m_backToConnection; }
    QtStatusLine& statusLine() { return *m_status; }
    // The settings of the last "Get Value" that did not answer within answerTimeout.
    const std::vector<std::uint8_t>& unanswered() const { return m_unanswered; }

    UserSetupForm& form() { return *m_form; }
    // The form as the controls show it now.
    SetupOptions options();
    // True while a parallel-port read waits for its acknowledgement.
    bool lptReadPending() const;
    // True while a read, write or test page is under way (on its worker, or a parallel-port
    // read's acknowledgement): tests wait for it to end instead of for the button handler.
    bool actionRunning() const;
    // The session, for tests that look at the answers received.
    SetupSession& session() { return *m_session; }

    // Button handlers, public so that tests and the screenshot tool drive them as the user.
    void onGetValue();
    void onSetValue();
    void onTest();
    void onDefault();
    void onExit();
    // The close box and Esc: closes without the stop request.
    void reject() override;
    // The parallel-port acknowledgement's next tick at once, when its driver ("lptAck") is
    // waiting for it; the tick runs on the driver's worker and its end comes back queued.
    void onLptAckTick();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    long handleMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void openingSequence();
    void fillCombos();
    void fillReceiveBuffer();
    void applyModelRules();
    void applyKoreanCaptions();
    void connectHandlers();
    void refresh();
    void applyEnableRules();
    void setActionButtons(bool on);
    void disableAfterFailure();
    void updateBellLabel();
    void onPaperType2Color();
    void onWatermarkEnable();
    void onNvSizeChange(int comboId);
    void closeConnection(bool exitButton);
    void presentRead(const SetupReadOutcome& outcome);
    void reportUnanswered(const SetupReadOutcome& outcome);
    void afterUsbModeChange();
    void lptReadEnded(const StepResult& result);
    void lptRequestsSent(SetupSession::ReadResult result);
    void writeEnded(SetupSession::WriteResult result);
    void testPageEnded(SetupSession::TestResult printed);
    // Runs work (the session's read, write or test page) on the "setupJob" worker with the
    // buttons but EXIT off and `what` in the status line; done runs on the GUI thread after it.
    void startJob(const QString& what, std::function<void()> work, std::function<void()> done);
    void leaveBusy();
    // The option controls as a whole (their own enable rules are kept): off while a write or
    // the test page runs, whose form was taken when it started.
    void setOptionsEnabled(bool on);
    QString text(const char* english, const char* korean) const;

    UserSetupDlgDeps m_deps;
    UserSetupForm* m_form;
    QtStatusLine* m_status;
    std::vector<std::uint8_t> m_unanswered;
    bool m_backToConnection = false;
    std::unique_ptr<QtMessageTarget> m_target;
    std::unique_ptr<SetupSession> m_session;
    QtStepDriver* m_ack;
    QtStepDriver* m_job;
    // The action buttons' states before the job, given back when it ends.
    std::vector<std::pair<int, bool>> m_buttonsBeforeJob;
    SetupOptions m_options;
    bool m_openFailed = false;
    bool m_closed = false;
    bool m_waitCursor = false;
    // The network module's pause after the last answer of a read is running.
    bool m_codePause = false;
    // Set while an action runs (a job on the worker, or a handler whose waits serve events):
    // a close request that arrives then is carried out when the action is over.
    int m_busy = 0;
    bool m_closeRequested = false;
    bool m_exitRequested = false;
    // Cancelled by EXIT and the close box: what the session is waiting on ends at once.
    CancelToken m_cancel;
    friend class BusyScope;
};
