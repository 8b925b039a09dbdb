#pragma once
// RcvDataProcess: the worker that turns the printer's answer bytes into setup values. It
// reads the connection's one receive path (PrinterConnection::readFor, whatever the kind:
// the serial watch thread's queue, the parallel read thread, the USB node, the network
// socket), feeds the bytes to SetupReplyParser, and sends one WM_SETUP_VALUE (wParam setting
// number, lParam value code) per understood reply to the MessageTarget, synchronously: the
// handler runs (and takes the text slot) before the worker parses on.
//
// Each read waits at most kPollPeriod, so a stop request is seen within one period. A
// printer that hangs up (or a read that fails) ends the worker; EndReason() then says why.
//
// Threads: Start, RequestStop, WaitEnded and Join belong to the owner's thread (the GUI
// thread or the CLI's main thread). While the worker runs, the owner may write to the
// connection but must not close or reopen it: stop the worker first. Destruction requests a
// stop and joins.
#include "app/Event.h"
#include "app/Result.h"
#include "setup/SetupReplyParser.h"
#include "setup/SetupTextSlots.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class MessageTarget;
class PrinterConnection;

class RcvDataProcess {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kPollPeriod{10};

    RcvDataProcess(MessageTarget& target, SetupTextSlots& slots);
    ~RcvDataProcess();
    RcvDataProcess(const RcvDataProcess&) = delete;
    RcvDataProcess& operator=(const RcvDataProcess&) = delete;

    // Starts the worker on the connection (which must outlive it). Resets both events, the
    // parser and the end reason. A worker that is still running is kept (success). Fails
    // with the reason when the thread cannot be created.
    Status Start(PrinterConnection& connection);

    // Sets the stop request; the worker ends within one poll period (after the value
    // notification it may be handing over at that moment).
    void RequestStop();
    // True once the worker has ended (or none was started).
    bool Ended() const;
    // Waits until the worker has ended, at most timeout. idle, when given, runs between
    // short waits: a GUI host passes a function that serves its queued calls, so a worker
    // blocked in WM_SETUP_VALUE can finish. Returns true when the worker ended (and is
    // joined).
    bool WaitEnded(Ms timeout, const std::function<void()>& idle = {});
    // Requests a stop and joins without limit. Only for hosts whose MessageTarget does not
    // need this thread to serve the worker (tavroctl, tests).
    void Join();
    bool Running() const { return m_running.load(); }

    // Why the worker ended by itself: the read's message (the printer closed the
    // connection, a read failed); empty while it runs and after a requested stop.
    std::string EndReason() const;
    // True when the worker ended because the printer hung up.
    bool HungUp() const { return m_hungUp.load(); }
    // A reply has begun but is not complete yet: its rest is on the way.
    bool InFrame() const { return m_inFrame.load(); }

    // Replies dropped by the parser (overlong value, bad setting number). Owner thread,
    // after the worker ended.
    int DroppedFrames() const { return m_dropped.load(); }
    // Replies dispatched (WM_SETUP_VALUE sent).
    int DispatchedReplies() const { return m_dispatched.load(); }

private:
    void run(PrinterConnection& connection);
    void take(std::uint8_t byte);
    void finish();

    MessageTarget& m_target;
    SetupTextSlots& m_slots;
    SetupReplyParser m_parser;
    Event m_stopRequest{Event::Reset::Manual};
    Event m_threadEnded{Event::Reset::Manual, true};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_hungUp{false};
    std::atomic<bool> m_inFrame{false};
    std::atomic<int> m_dropped{0};
    std::atomic<int> m_dispatched{0};
    mutable std::mutex m_reasonMutex;
    std::string m_endReason;
    std::thread m_thread;
};
