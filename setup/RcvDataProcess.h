#pragma once
// RcvDataProcess: the worker that turns the printer's answer bytes into setup values. It
// takes bytes from a receive queue (the setup receive queue for COM, USB and ETHERNET_II;
// the parallel-port control's own queue for LPT), feeds them to SetupReplyParser, and sends
// one WM_SETUP_VALUE (wParam setting number, lParam value code) per understood reply to
// the MessageTarget, synchronously: the handler runs (and takes the text slot) before the
// worker parses on.
//
// Polling: when its queue is empty the worker waits 10 ms (on the stop request, so a stop
// is seen at once). Over the parallel port it also asks the read thread for the next read
// while the queue is empty (every poll for the first 200 ms of silence, then every 100 ms,
// so a port that has gone away does not flood the error log with read failures).
//
// Threads: Start*, RequestStop, WaitEnded, Join and FlushQueue belong to the owner's thread
// (the GUI thread or the CLI's main thread); the worker is the only consumer of its queue.
// Destruction requests a stop and joins.
#include "app/Event.h"
#include "app/Result.h"
#include "setup/SetupReplyParser.h"
#include "setup/SetupTextSlots.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class CByteQueue;
class MessageTarget;
class ParPortCtl;

class RcvDataProcess {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kPollPeriod{10};

    RcvDataProcess(MessageTarget& target, SetupTextSlots& slots);
    ~RcvDataProcess();
    RcvDataProcess(const RcvDataProcess&) = delete;
    RcvDataProcess& operator=(const RcvDataProcess&) = delete;

    // Starts the worker over queue; it runs while keepRunning() (the port object's
    // m_IsOpen, or always for ETHERNET_II) holds and no stop was requested. Resets both
    // events and the parser. A worker that is still running is kept (success). Fails with
    // the reason when the thread cannot be created.
    Status StartOnQueue(CByteQueue& queue, std::function<bool()> keepRunning);
    // The same over the parallel-port control's queue (ParPortCtl::PopByte).
    Status StartOnParallel(ParPortCtl& port, std::function<bool()> keepRunning);

    // Sets the stop request; the worker ends within one poll period (after the value
    // notification it may be handing over at that moment).
    void RequestStop();
    // True once the worker has ended (or none was started).
    bool Ended() const;
    // Waits until the worker has ended, at most timeout. idle, when given, runs between
    // 10 ms waits: a GUI host passes a function that serves its queued calls, so a worker
    // blocked in WM_SETUP_VALUE can finish. Returns true when the worker ended (and is
    // joined).
    bool WaitEnded(Ms timeout, const std::function<void()>& idle = {});
    // Requests a stop and joins without limit. Only for hosts whose MessageTarget does not
    // need this thread to serve the worker (tavroctl, tests).
    void Join();
    bool Running() const { return m_running.load(); }

    // Empties the setup receive queue and forgets a reply in progress. Called by the
    // queue's producer: while the worker runs, the worker does the emptying (it is the
    // consumer) and this waits for it, at most 1 s; otherwise the queue is cleared here.
    void FlushQueue(CByteQueue& queue);

    // Replies dropped by the parser (overlong value, bad setting number). Owner thread,
    // after the worker ended.
    int DroppedFrames() const { return m_dropped.load(); }
    // Replies dispatched (WM_SETUP_VALUE sent).
    int DispatchedReplies() const { return m_dispatched.load(); }

private:
    Status start(std::function<void()> body);
    void runQueue(CByteQueue& queue, const std::function<bool()>& keepRunning);
    void runParallel(ParPortCtl& port, const std::function<bool()>& keepRunning);
    void take(std::uint8_t byte);
    void finish();

    MessageTarget& m_target;
    SetupTextSlots& m_slots;
    SetupReplyParser m_parser;
    Event m_stopRequest{Event::Reset::Manual};
    Event m_threadEnded{Event::Reset::Manual, true};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_flushRequest{false};
    std::atomic<int> m_dropped{0};
    std::atomic<int> m_dispatched{0};
    std::thread m_thread;
};
