#pragma once
// The desktop tool's clock: on the GUI thread a sleep runs a local event loop, so the
// windows keep painting and queued calls from worker threads (setup values, receive
// notifications) are served while the dialog waits; mouse and key input stays queued until
// the wait is over, or, inside a QtBusy scope, is dropped (or, for a clock made with
// Input::Serve, is delivered). On any other thread it sleeps plainly; engines that run on a
// worker (the step jobs of QtStepDriver, runOnWorker) are given the plain SystemClock instead,
// so that no wait of theirs depends on which thread happens to call it.
#include "app/Clock.h"

#include <functional>

class QtClock final : public Clock {
public:
    // Serve: a sleep on the GUI thread also delivers mouse and key input, for a wait inside a
    // job whose window answers a Cancel button meanwhile (the logo upload's block pauses).
    enum class Input { Queue, Serve };
    explicit QtClock(Input input = Input::Queue) : m_input(input) {}

    std::chrono::steady_clock::time_point now() override;
    LocalTime localTime() override;
    void sleep(Ms delay) override;

    // Waits on the GUI thread until done() is true or the time ran out, serving events as
    // sleep() does; polls done() every 10 ms. Returns done()'s last answer. Any thread.
    static bool waitUntil(const std::function<bool()>& done, Ms timeout);

private:
    Input m_input;
};
