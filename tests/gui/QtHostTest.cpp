// The Qt host services: the GUI-thread message target and its deadlock guard, the clock
// that keeps serving queued calls while it waits.
#include "qthost/QtClock.h"
#include "qthost/QtMessageTarget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(QtMessageTargetTest, WorkerCallRunsOnGuiThreadAndReturnsTheResult)
{
    std::atomic<bool> onGui{false};
    QtMessageTarget target([&](unsigned msg, std::uintptr_t w, std::intptr_t l) -> long {
        onGui = QThread::currentThread() == qApp->thread();
        return static_cast<long>(msg + w + static_cast<std::uintptr_t>(l));
    });
    EXPECT_EQ(target.SendMessage(1, 2, 3), 6) << "direct on the GUI thread";

    std::atomic<long> result{-1};
    std::thread worker([&] { result = target.SendMessage(0x403, 250, 1); });
    // The GUI thread waits for the worker the way the dialogs do: serving queued calls.
    EXPECT_TRUE(QtClock::waitUntil([&] { return result != -1; }, 10s));
    worker.join();
    EXPECT_EQ(result, 0x403 + 250 + 1);
    EXPECT_TRUE(onGui);
}

TEST(QtMessageTargetTest, DetachReleasesAWorkerThatTheGuiThreadWouldOtherwiseDeadlockWith)
{
    std::atomic<int> handled{0};
    QtMessageTarget target([&](unsigned, std::uintptr_t, std::intptr_t) -> long { return ++handled; });
    std::atomic<bool> sending{false};
    std::atomic<long> result{-1};
    std::thread worker([&] {
        sending = true;
        result = target.SendMessage(0x401, 0, 0);
    });
    // The GUI thread does not serve events here (as in a plain join); the worker is stuck
    // until detach() lets it go.
    while (!sending)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    target.detach();
    worker.join();
    EXPECT_EQ(result, 0);
    // The posted call that is still queued must not run the handler after the detach.
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(target.SendMessage(0x401, 0, 0), 0) << "detached: nothing runs";
    target.attach();
    EXPECT_EQ(target.SendMessage(0x401, 0, 0), 1);
}

TEST(QtClockTest, SleepServesQueuedCallsAndWaitsAtLeastTheDelay)
{
    QtMessageTarget target([](unsigned, std::uintptr_t, std::intptr_t) -> long { return 7; });
    std::atomic<long> result{-1};
    std::thread worker([&] { result = target.SendMessage(0x403, 0, 0); });
    QtClock clock;
    auto start = std::chrono::steady_clock::now();
    // Long enough for the worker's call on a loaded machine; the call completes inside it.
    clock.sleep(300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    QtClock::waitUntil([&] { return result != -1; }, 10s);
    worker.join();
    EXPECT_EQ(result, 7);

    // From a worker thread the clock sleeps plainly.
    std::thread sleeper([&] {
        auto t0 = std::chrono::steady_clock::now();
        clock.sleep(20ms);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 20ms);
    });
    sleeper.join();
}

} // namespace
