#pragma once
// SetupSession: the user setup's conversation with the printer, for every connection kind
// (COM, USB, LPT, ETHERNET_II, FILE). The setup dialog and `tavroctl setup` both drive it;
// neither talks to a port itself, and neither does the session: every open, write, read,
// reopen and close goes through the PrinterConnection that makeConnection builds from the
// connection settings the session is given. The session owns that connection and touches no
// process-wide state, so one process can read or write several printers at once. It holds the
// conversation: which requests to send (the connection's traits choose), the acknowledgement
// of a status-reporting (parallel) port's read, the frames that bracket a write, the waits the
// printer needs, and the catalog messages of each failure, shown through the Prompter with
// every specified wait taken on the Clock.
//
// The host owns the form (a SetupOptions) and a MessageTarget, which receives WM_SETUP_VALUE
// (wParam setting number, lParam value code) from RcvDataProcess, sent synchronously. The
// handler calls OnSetupValue(form, wParam, lParam), which sets the setting's received-answer
// flag and applies the value (taking its text slot), then refreshes what it shows. Over
// ETHERNET_II the dialog pauses its buttons for kEthernetCodePause after setting 255, the last
// answer of a read. SetupValueCollector is a ready-made MessageTarget for hosts without
// windows. ReadSetup() is the whole "read the user setup" job; its SetupReadOutcome is what
// the dialog and tavroctl present.
//
// Cancel: a token lent with SetCancelToken (Ctrl-C, the dialog's EXIT) ends a read, write,
// reopen or wait in progress within a fraction of a second; the action then reports
// Cancelled and shows no failure box.
//
// Threads: every member except OnSetupValue, ReadOutcome and the token's cancel belongs to
// one thread at a time (the host's thread, or a worker it lends the session to). OnSetupValue
// runs on the thread that handles WM_SETUP_VALUE. When that is the GUI thread (Qt: a blocking
// queued call) and the session runs there too, give the session an idle hook that serves
// queued calls (SetIdleHook), because the session's waits for RcvDataProcess (its end, the
// answers of a read) must let a value that is being handed over arrive.
#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/PortName.h"
#include "app/StepJob.h"
#include "port/PrinterConnection.h"
#include "setup/LptAcknowledge.h"
#include "setup/RcvDataProcess.h"
#include "setup/SetupFrames.h"
#include "setup/SetupOptions.h"
#include "setup/SetupTextSlots.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CancelToken;
class CErrorLog;
class Clock;
class MessageTarget;
class Prompter;

// What one "read the user setup" brought: the values that came, the settings that did not
// answer, and why the read failed or ended.
struct SetupReadOutcome {
    enum class Result {
        Complete,   // every requested setting answered
        Incomplete, // some (or all) did not answer within the time given; the rest are in
        Failed,     // the requests could not be sent or the printer went away (failure says why)
        Cancelled,  // the cancel token ended it
        NoAnswer,   // the connection cannot answer (an output file): the requests were recorded
    };
    Result result = Result::Failed;
    // The answers applied to an empty form, and the settings whose value it shows.
    SetupOptions values;
    std::set<int> shown;
    // The settings asked for, in order, and those of them that did not answer.
    std::vector<std::uint8_t> requested;
    std::vector<std::uint8_t> missing;
    // Why a Failed or Cancelled read ended, as the connection said it; may be empty.
    std::string failure;
    // The session showed the failure's catalog message and closed the connection (the
    // requests could not be sent). A printer that went away mid-read leaves it false.
    bool messageShown = false;

    bool complete() const { return result == Result::Complete; }
    // Nothing at all answered.
    bool nothingAnswered() const { return !requested.empty() && missing.size() == requested.size(); }
};

class SetupSession {
public:
    using Ms = std::chrono::milliseconds;
    // After a write the printer stores the values and restarts; the connection's traits say
    // how it comes back (a USB port is reopened as reopenpolicy::usbRestart() says, the
    // parallel port as reopenpolicy::parallelAfterWrite(), a network module is waited for).
    static constexpr Ms kEthernetRestartWait{3000}; // before "Get Value" is offered again
    static constexpr Ms kLptRestartWait{4000};      // before the parallel port is reopened
    static constexpr Ms kTestPagePause{800};  // the printer is busy printing the page
    static constexpr Ms kEthernetCodePause{800};
    static constexpr Ms kEthernetRequestGap{10};
    static constexpr Ms kEthernetAnswerWait{100};
    // After kEthernetAnswerWait a network read takes the answers as they come and ends as
    // soon as every requested setting answered, or after this much more.
    static constexpr Ms kEthernetAnswerLimit{1000};
    // How long the host's thread waits for RcvDataProcess to end before giving up (it
    // ends within one 10 ms poll once the notification in hand is delivered).
    static constexpr Ms kReceiverEndWait{5000};

    // korean: the system default language is Korean (the test page gets its Korean line,
    // Default its Korean values). window receives the notifications; it must outlive the
    // session. settings name the connection and the model family; host gives the Clock, the
    // Prompter and the error log the session and its connection use (a host that lends its
    // port object in host.ports lets the connection use it; the session itself never looks
    // at it). For ETHERNET_II the network library must have had its EthInit.
    SetupSession(ConnectionSettings settings, ConnectionHost host, MessageTarget& window, bool korean);
    // Stops RcvDataProcess (waiting for it) and closes what the session opened.
    ~SetupSession();
    SetupSession(const SetupSession&) = delete;
    SetupSession& operator=(const SetupSession&) = delete;

    void SetIdleHook(std::function<void()> idle) { m_idle = std::move(idle); }
    // How long a write may find the printer taking no data (tavroctl --stall); applies to the
    // connections opened from now on.
    void SetStallLimit(Ms limit) { m_stallLimit = limit; }
    // The job's cancel token (null: nothing cancels): lent to the session's connection and
    // heard by every wait of the session. It must outlive the session or be taken back first.
    void SetCancelToken(const CancelToken* token);
    bool CancelRequested() const;

    enum class OpenResult {
        Opened,
        OpenedWithoutReceiver, // "ERROR : Cannot create receive thread!" shown; the dialog stays
        Failed,                // the message was shown; the dialog closes
    };
    // The opening of the connection:
    //  - LPT: the port opened (failure: "Init Fail\n" and the parallel-port control's error
    //    text), m_IsOpen is set, 1D 61 00 sent (failure: "ERROR : Printer check.").
    //  - ETHERNET_II: a test connection (failure: "ERROR : Printer check."); every action
    //    then connects for itself.
    //  - others: m_Function = 2, the port (re)opened (failure: "Init Fail"); the receive
    //    thread starts for COM and USB.
    OpenResult Open();
    // What the connection Open() made is like (which requests, status reports, opened per
    // action, can answer).
    const ConnectionTraits& Traits() const { return m_traits; }
    const ConnectionSettings& Settings() const { return m_settings; }
    // "Get Value" is offered on this connection (always on Linux: the parallel port has no
    // Windows 95/98 mode).
    bool GetValueAvailable() const { return true; }
    // The port, parallel control or (for ETHERNET_II) the test connection is usable.
    bool ConnectionOpen() const;
    // What went wrong in the last failed action, as the connection said it ("serial port
    // /dev/ttyS0: the printer closed the connection"); empty when it has no such reason.
    const std::string& LastFailure() const { return m_lastFailure; }
    // The receive thread ended by itself (the printer hung up or a read failed): why.
    // Empty while it runs or after the session stopped it.
    std::string ReceiveFailure() const { return m_receiver.EndReason(); }

    enum class ReadResult {
        Requested,  // COM, USB, ETHERNET_II, FILE: the answers arrive as WM_SETUP_VALUE
        LptStarted, // LPT: drive LptAckTick(), first after LptAcknowledge::kFirstInterval
        Failed,     // message shown, connection closed: reset the edits, disable controls
        Cancelled,  // the cancel token ended it: no message, connection closed
    };
    // "Get Value": the Function 6 requests of the connection kind (RequestList()). Clears
    // the received-answer flags first.
    //  - LPT: 1D 61 00, the 17 requests, the read thread, RcvDataProcess; the host drives
    //    AcknowledgeJob() (or LptAckTick) to finish the read (buttons stay disabled until
    //    then).
    //  - ETHERNET_II: one connection: 17 requests 10 ms apart, 100 ms, then the answers as
    //    they come until every one is in (at most kEthernetAnswerLimit more); closed again.
    //  - COM, USB: 18 requests; the answers arrive through the receive thread while the host
    //    waits for them (a USB printer may answer the last ones late).
    // Failure messages: "ERROR : Read Fail!\nPlease check the printer power or connection"
    // (a request or the connection failed), "ERROR : Write to port." (LPT writes),
    // "ERROR : Cannot create receive thread!" (LPT threads).
    ReadResult GetValue();

    // "Read the user setup", the whole job: GetValue, then (for a status-reporting port) its
    // acknowledgement stepped on the Clock, then the answers until every requested setting
    // answered, `timeout` passed, the printer went away or the cancel token was cancelled.
    // Failure messages as GetValue; no box for the settings that did not answer (the host
    // names them from the outcome). Blocks the calling thread.
    SetupReadOutcome ReadSetup(Ms timeout);
    // The outcome of the read so far (after GetValue, or after the host's own wait for the
    // answers of an acknowledged read): what answered, what is missing, why it ended. Any
    // thread.
    SetupReadOutcome ReadOutcome() const;

    struct AckTickResult {
        enum class Kind {
            Rearm,    // arm the timer again with interval
            Finished, // all answers in; RcvDataProcess and the read thread ended
            Failed,   // "GetValueCmd Fail!" shown; the read stays unfinished
        } kind;
        Ms interval{0};
        std::vector<std::uint8_t> resent; // the settings asked again this tick
    };
    // One tick of the LPT acknowledgement timer (the host kills its timer before calling
    // and arms it again with the interval of a Rearm).
    AckTickResult LptAckTick();
    // The acknowledgement of the parallel-port read that GetValue started, as a step job:
    // its first step asks for LptAcknowledge::kFirstInterval, every later one is a tick.
    // Finished when every setting answered; Failed ("GetValueCmd Fail!", shown already) when
    // a repeat could not be sent. The job belongs to the session and must not outlive it.
    // Its steps may run on a worker thread: while the job runs, that thread alone uses the
    // session's connection and receiver; the answers it checks are atomic flags, set by the
    // window's WM_SETUP_VALUE handler. It has no cancel of its own: EXIT stops its driver.
    std::unique_ptr<StepJob> AcknowledgeJob();

    enum class WriteResult {
        Nothing,          // no option had a value, margin 0, code "0": nothing sent
        Refused,          // margin outside 0 ~ 576 (or a value outside its list): message, nothing sent
        Written,
        ConnectionClosed, // the USB-mode option was written: the printer leaves this interface
        ReopenFailed,     // written, but the USB printer did not come back ("Init Fail")
        Failed,           // "ERROR : Write Fail!..." shown, connection closed, edits reset
        Cancelled,        // the cancel token ended it: connection closed, no message; the
                          // printer may hold some of the values (WriteCancelledAfterSending)
    };
    // "Set Value": the options of the form that have a value, bracketed by the enter and
    // end user setting mode frames, then the connection's after-effects (LPT reopened after
    // 4000 ms; USB, and a USB virtual serial port, closed and reopened after 3000 ms with five
    // tries; ETHERNET_II 3000 ms).
    // The stop-bit warning is shown once after the stop bit was chosen (NoteStopBitChosen,
    // Default). Changes the form: an invalid code text becomes "0"; a failure resets the
    // image number and lines.
    WriteResult SetValue(SetupOptions& form);
    // After a Cancelled write: whether any byte of the settings had gone to the printer.
    bool WriteCancelledAfterSending() const { return m_sentBeforeCancel; }

    enum class TestResult {
        Printed,
        Failed,    // "ERROR : Write Fail!..." shown, connection closed, edits reset
        Cancelled, // the cancel token ended it: connection closed, edits reset, no message
    };
    // "TEST": the test page, one write per block, then 800 ms. A failed write (or
    // connection) shows "ERROR : Write Fail!..." and closes the connection.
    TestResult PrintTestPage(SetupOptions& form);

    // "Default": asks "Are you sure?(Y/N)..." and on Yes puts the factory values into the
    // form and arms the stop-bit warning. Nothing is sent. Returns true on Yes.
    bool Default(SetupOptions& form);

    // The ONE/TWO radio buttons were clicked: the next write warns about the stop bit.
    void NoteStopBitChosen() { m_stopBitWarning = true; }
    bool StopBitWarningArmed() const { return m_stopBitWarning; }

    // "EXIT": RcvDataProcess stopped (and waited for), then the connection closed.
    void Exit();
    // Closing the window any other way: the connection closed without the stop request.
    void CloseWindow();

    // WM_SETUP_VALUE: the received-answer flag of the setting, then the value into the
    // form (see applySetupValue). Returns whether the form now shows the printer's value.
    bool OnSetupValue(SetupOptions& form, std::uintptr_t settingNumber, std::intptr_t valueCode);

    // The received-answer flag of a setting (1..255). Any thread.
    bool Answered(int settingNumber) const;
    void ClearAnswered();
    // The Function 6 requests of this connection, in order (its traits choose them).
    std::vector<std::uint8_t> RequestList() const { return readRequestList(m_traits.setupReadList); }
    ::ModelFamily ModelFamily() const;
    bool Korean() const { return m_korean; }
    const RcvDataProcess& Receiver() const { return m_receiver; }

private:
    bool writeAll(const Bytes& bytes);
    bool failWith(const IoResult& result);
    void show(Msg catalogEntry, const char* caption = nullptr);
    void showText(const std::string& text, const char* caption = nullptr);
    ReadResult readFailure(int code);
    WriteResult writeFailure(SetupOptions& form);
    void closeConnection();
    Status startReceiver();
    void stopReceiver();
    bool waitForAnswers(const std::vector<std::uint8_t>& wanted, Ms limit);
    bool waitUntil(const std::function<bool()>& done, Ms limit);
    bool sleep(Ms delay);
    ReadResult readCancelled();
    WriteResult writeCancelled(SetupOptions& form);
    // The printer's answers may come whenever the port is open, and the receive thread reads
    // them from the open until the close (serial and USB printers): a port that stays open,
    // can answer and sends no status reports of its own.
    bool answersWhileOpen() const
    {
        return m_traits.canAnswer && !m_traits.openedPerAction && !m_traits.statusReports;
    }

    const ConnectionSettings m_settings;
    ConnectionHost m_host;
    MessageTarget& m_window;
    Prompter& m_prompter;
    Clock& m_clock;
    CErrorLog& m_log;
    const bool m_korean;
    // The traits of the connection Open() made (none yet: nothing is opened per action).
    ConnectionTraits m_traits;

    SetupTextSlots m_slots;
    std::unique_ptr<PrinterConnection> m_connection;
    RcvDataProcess m_receiver;
    LptAcknowledge m_ack;
    std::array<std::atomic<bool>, 256> m_answered{};
    // The answers of the current read applied to an empty form, for its outcome.
    mutable std::mutex m_receivedMutex;
    SetupOptions m_received;
    std::set<int> m_receivedShown;
    const CancelToken* m_cancel = nullptr;
    bool m_sentBeforeCancel = false;
    std::size_t m_bytesSent = 0;
    std::string m_lastFailure;
    bool m_stopBitWarning = false;
    bool m_ethernetReachable = false;
    std::function<void()> m_idle;
    Ms m_stallLimit = PrinterConnection::kDefaultStallLimit;
};
