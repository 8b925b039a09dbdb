#pragma once
// Calls from a worker thread into the GUI thread, and work handed to a worker while the GUI
// thread keeps serving its event loop.
//
// A worker that needs the GUI (a message box, a question) posts the call and waits for it.
// Such a wait must never hold up a GUI thread that waits for that worker to end, so a
// worker may carry a release (QtWorkerScope): once it is released, its pending and future
// GUI calls return at once with "not answered", and a call that was posted but had not yet
// started does not run at all. QtStepDriver releases its worker when it is stopped.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// What a worker's waits for the GUI thread watch. The driver of a worker waits on `wake`
// under `mutex` too, so one notification serves both kinds of wait.
struct QtWorkerRelease {
    std::mutex mutex;
    std::condition_variable wake;
    bool released = false; // guarded by mutex; set once, never cleared
};

// Marks the current thread, for its lifetime, as a worker that `release` lets go.
class QtWorkerScope {
public:
    explicit QtWorkerScope(std::shared_ptr<QtWorkerRelease> release);
    ~QtWorkerScope();
    QtWorkerScope(const QtWorkerScope&) = delete;
    QtWorkerScope& operator=(const QtWorkerScope&) = delete;

private:
    std::shared_ptr<QtWorkerRelease> m_previous;
};

// True on the thread of the QCoreApplication (and when there is none, where everything runs
// in place).
bool onGuiThread();

// Runs fn on the GUI thread and returns when it has ended: in place on the GUI thread, else
// as a queued call the worker waits for. fn must own what it touches (capture by value or
// shared pointer): a released worker returns without waiting for a call that is running, so
// fn may outlive the caller's stack. Returns false when the worker was released before fn
// ended (fn then either never runs or its result must be ignored). Any thread.
bool callOnGuiThread(std::function<void()> fn);

// Runs work on a new worker thread and returns once it has ended. The GUI thread meanwhile
// serves queued calls (a box the work asks for, values handed over) but keeps mouse and key
// input queued, as a QtClock wait does; inside a QtBusy scope the input is dropped. GUI
// thread only. For one bounded action that must not block the window (opening a printer,
// the first step of an upload).
void runOnWorker(const std::function<void()>& work);
