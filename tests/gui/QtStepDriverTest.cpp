// The step-job driver and what a job's worker calls back into: steps on a worker thread, the
// window's event loop running while a step blocks, Cancel heard at once, done exactly once on
// the GUI thread, stop and destruction during a step; progress and boxes from a worker.
#include "GuiTestSupport.h"

#include "app/Event.h"
#include "app/Prompter.h"
#include "qthost/QtClock.h"
#include "qthost/QtGuiCall.h"
#include "qthost/QtProgressSink.h"
#include "qthost/QtPrompter.h"
#include "qthost/QtStepDriver.h"
#include "TestClock.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clk = std::chrono::steady_clock;

bool isGuiThread() { return QThread::currentThread() == qApp->thread(); }

// What a job saw, kept outside it: the driver lets the job go at its end.
struct JobLog {
    std::atomic<int> steps{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> cancelledInStep{false};
    std::atomic<bool> inStep{false};
    std::atomic<bool> stepOnGui{false};
    std::atomic<bool> destroyed{false};
    Event entered;            // the first step has begun
    Event gate;               // opens the first step's block
    Clk::time_point firstStepAt{};
};

// Its first step blocks, as a write to a printer that stopped reading does, until the gate
// opens (at most 10 s, so a fault fails the test instead of hanging it), then asks for an
// hour's wait; every later step ends the job once it was cancelled.
class BlockingJob final : public StepJob {
public:
    explicit BlockingJob(JobLog& log, bool block = true) : m_log(log), m_block(block) {}
    ~BlockingJob() override { m_log.destroyed = true; }
    StepResult step() override
    {
        m_log.inStep = true;
        m_log.stepOnGui = m_log.stepOnGui || isGuiThread();
        if (++m_log.steps == 1) {
            m_log.firstStepAt = Clk::now();
            m_log.entered.set();
            if (m_block)
                m_log.gate.wait(10s);
            m_log.inStep = false;
            return StepResult::again(1h);
        }
        m_log.inStep = false;
        return m_log.cancelled ? StepResult::finished() : StepResult::again(1h);
    }
    void cancel() override
    {
        m_log.cancelledInStep = m_log.inStep.load();
        m_log.cancelled = true;
    }

private:
    JobLog& m_log;
    bool m_block;
};

struct Ends {
    int count = 0;
    bool onGui = true;
    bool jobGoneFirst = true;
    StepResult last;
};

QtStepDriver::Done recordEnd(Ends& ends, const JobLog& log)
{
    return [&ends, &log](const StepResult& r) {
        ++ends.count;
        ends.onGui = ends.onGui && isGuiThread();
        ends.jobGoneFirst = ends.jobGoneFirst && log.destroyed;
        ends.last = r;
    };
}

TEST(QtStepDriverTest, AStepThatBlocksLeavesTheEventLoopRunningAndCancelIsHeardAtOnce)
{
    QObject owner;
    QtStepDriver driver(&owner, "job");
    JobLog log;
    Ends ends;
    LoopGapMeter meter;
    driver.start(std::make_unique<BlockingJob>(log), recordEnd(ends, log));
    ASSERT_TRUE(QtClock::waitUntil([&] { return log.entered.isSet(); }, 5s));
    // The step is blocked; the window's loop goes on meanwhile.
    QTest::qWait(300);
    const auto before = Clk::now();
    driver.cancel();
    driver.cancel(); // a second click changes nothing
    EXPECT_LT(Clk::now() - before, 200ms) << "cancel() waited for the step";
    EXPECT_TRUE(log.cancelled);
    EXPECT_TRUE(log.cancelledInStep) << "the job heard it while its step was still blocked";
    EXPECT_TRUE(driver.running());
    EXPECT_EQ(ends.count, 0);

    log.gate.set();
    // The hour the step asked for is cut by the Cancel: the next step ends the job.
    ASSERT_TRUE(QtClock::waitUntil([&] { return !driver.running(); }, 5s));
    EXPECT_EQ(log.steps, 2);
    EXPECT_FALSE(log.stepOnGui);
    QTest::qWait(50);
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.onGui);
    EXPECT_TRUE(ends.jobGoneFirst) << "the job (and the port it closes) is gone before done runs";
    EXPECT_EQ(ends.last.kind, StepResult::Kind::Finished);
    EXPECT_GT(meter.ticks(), 10);
    EXPECT_LT(meter.longest(), 1s) << "the event loop stopped while the step blocked";
}

TEST(QtStepDriverTest, WaitsEndOnCancelAndOnStepNowButAKeptFirstWaitIsServedWhole)
{
    struct Case {
        const char* what;
        std::chrono::milliseconds firstWait;
        QtStepDriver::FirstWait rule;
        bool cancel; // else stepNow
        std::chrono::milliseconds atLeast, below;
    };
    const Case cases[] = {
        {"cancel ends the first wait", 1h, QtStepDriver::FirstWait::EndsOnCancel, true, 0ms, 5s},
        {"stepNow ends the first wait", 1h, QtStepDriver::FirstWait::EndsOnCancel, false, 0ms, 5s},
        {"the printer's erase is kept", 400ms, QtStepDriver::FirstWait::KeptOnCancel, true, 400ms, 5s},
        {"stepNow still ends a kept wait", 1h, QtStepDriver::FirstWait::KeptOnCancel, false, 0ms, 5s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QObject owner;
        QtStepDriver driver(&owner, "job");
        JobLog log;
        Ends ends;
        const auto started = Clk::now();
        driver.start(std::make_unique<BlockingJob>(log, false), recordEnd(ends, log), c.firstWait, c.rule);
        ASSERT_TRUE(QtClock::waitUntil([&] { return driver.waiting(); }, 5s));
        EXPECT_EQ(driver.currentWait(), c.firstWait);
        EXPECT_EQ(log.steps, 0);
        if (c.cancel)
            driver.cancel();
        else
            driver.stepNow();
        EXPECT_EQ(log.cancelled.load(), c.cancel) << "the job hears a Cancel at once, wait or no wait";
        ASSERT_TRUE(QtClock::waitUntil([&] { return log.entered.isSet(); }, 5s));
        EXPECT_GE(log.firstStepAt - started, c.atLeast);
        EXPECT_LT(log.firstStepAt - started, c.below);
        if (!c.cancel)
            driver.cancel();
        ASSERT_TRUE(QtClock::waitUntil([&] { return ends.count == 1; }, 5s));
    }
}

// Three steps, with 100 and 200 ms between them, that mind whether they were let go early.
class CountingJob final : public StepJob {
public:
    explicit CountingJob(JobLog& log) : m_log(log) {}
    ~CountingJob() override { m_log.destroyed = true; }
    StepResult step() override
    {
        EXPECT_FALSE(m_log.destroyed);
        m_log.stepOnGui = m_log.stepOnGui || isGuiThread();
        const int n = ++m_log.steps;
        return n < 3 ? StepResult::again(std::chrono::milliseconds(100 * n)) : StepResult::failed("stuck");
    }

private:
    JobLog& m_log;
};

TEST(QtStepDriverTest, WithAClockTheWaitsAreTakenOnItAndDoneRunsOnceAfterTheJobWasLetGo)
{
    TestClock clock;
    QObject owner;
    QtStepDriver driver(&owner, "job", &clock);
    JobLog log;
    Ends ends;
    driver.start(std::make_unique<CountingJob>(log), recordEnd(ends, log));
    EXPECT_TRUE(driver.running());
    ASSERT_TRUE(QtClock::waitUntil([&] { return !driver.running(); }, 5s));
    EXPECT_EQ(log.steps, 3);
    EXPECT_FALSE(log.stepOnGui);
    EXPECT_EQ(clock.sleeps(), (std::vector<Clock::Ms>{100ms, 200ms}));
    EXPECT_EQ(ends.count, 1);
    EXPECT_TRUE(ends.onGui);
    EXPECT_TRUE(ends.jobGoneFirst);
    EXPECT_EQ(ends.last.kind, StepResult::Kind::Failed);
    EXPECT_EQ(ends.last.message, "stuck");
    driver.stepNow(); // nothing is left to step
    driver.cancel();
    QTest::qWait(20);
    EXPECT_EQ(ends.count, 1);
}

// The answers a job's steps got, read by the test on the GUI thread.
struct Answers {
    std::mutex mutex;
    std::vector<PromptAnswer> list;
    std::size_t size()
    {
        std::lock_guard lock(mutex);
        return list.size();
    }
};

// A step that asks the user, as the upload's question and its error boxes do.
class AskingJob final : public StepJob {
public:
    AskingJob(Prompter& prompter, Answers& answers) : m_prompter(prompter), m_answers(answers) {}
    StepResult step() override
    {
        PromptAnswer a = m_prompter.show("Go on?", PromptButtons::YesNo, PromptIcon::Question, kAppDisplayName);
        std::lock_guard lock(m_answers.mutex);
        m_answers.list.push_back(a);
        return StepResult::again(0ms);
    }

private:
    Prompter& m_prompter;
    Answers& m_answers;
};

TEST(QtStepDriverTest, StopAndDestructionDuringAStepAreSafeAndNeverCallDone)
{
    // A stop while the step blocks: it waits for the step, serving the event loop (the gate
    // is opened by a GUI timer, which a plain join would never let fire), and lets the job go.
    {
        QObject owner;
        QtStepDriver driver(&owner, "job");
        JobLog log;
        Ends ends;
        driver.start(std::make_unique<BlockingJob>(log), recordEnd(ends, log));
        ASSERT_TRUE(QtClock::waitUntil([&] { return log.entered.isSet(); }, 5s));
        QTimer::singleShot(100, [&] { log.gate.set(); });
        const auto before = Clk::now();
        driver.stop();
        EXPECT_LT(Clk::now() - before, 5s);
        EXPECT_FALSE(driver.running());
        EXPECT_TRUE(log.destroyed);
        EXPECT_EQ(log.steps, 1) << "no step after the stop";
        QTest::qWait(20);
        EXPECT_EQ(ends.count, 0);
    }

    // The window goes while its job's step waits for a box: the first box is answered, the
    // second is still up when the driver is destroyed. The step is let go with No at once,
    // nothing is reported, and the box left behind closes normally.
    QtPrompter prompter;
    Answers answers;
    auto owner = std::make_unique<QObject>();
    auto* driver = new QtStepDriver(owner.get(), "job");
    int dones = 0, boxes = 0;
    bool answering = false, destroyedWhileBoxUp = false;
    // One answerer for both boxes, armed before the job starts: the second box can come up
    // while the GUI thread is still inside the first wait.
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || answering || box->property("answered").toBool())
            return;
        answering = true; // destroying the driver serves events, this timer's among them
        box->setProperty("answered", true);
        if (++boxes == 2) {
            owner.reset(); // destroys the driver while the step waits for this box
            destroyedWhileBoxUp = true;
        }
        box->button(QMessageBox::Yes)->click();
        answering = false;
    });
    answerer.start();
    driver->start(std::make_unique<AskingJob>(prompter, answers), [&](const StepResult&) { ++dones; });
    ASSERT_TRUE(QtClock::waitUntil([&] { return destroyedWhileBoxUp; }, 10s));
    answerer.stop();
    QTest::qWait(50);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers.list[0], PromptAnswer::Yes);
    EXPECT_EQ(answers.list[1], PromptAnswer::No) << "a released step is answered No, not left waiting";
    EXPECT_EQ(dones, 0);
}

TEST(QtProgressSinkTest, AWorkersReportsReachTheGuiThreadMergedNewestLast)
{
    QObject window;
    std::vector<ProgressReport> shown;
    bool allOnGui = true;
    auto sink = std::make_unique<QtProgressSink>(&window, [&](const ProgressReport& p) {
        allOnGui = allOnGui && isGuiThread();
        shown.push_back(p);
    });
    sink->report({1, 10, "direct"});
    ASSERT_EQ(shown.size(), 1u) << "from the GUI thread a report shows at once";

    std::thread worker([&] {
        for (std::uint64_t i = 1; i <= 2000; ++i)
            sink->report({i, 2000, i % 100 == 0 ? "line " + std::to_string(i) : std::string()});
    });
    worker.join();
    ASSERT_TRUE(QtClock::waitUntil([&] { return shown.back().done == 2000; }, 5s));
    EXPECT_TRUE(allOnGui);
    EXPECT_LT(shown.size(), 2001u);
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_LE(shown[i - 1].done, shown[i].done) << "a report overtook a newer one";
    EXPECT_EQ(shown.back().text, "line 2000");

    // A report on its way when the sink goes is dropped, not shown on a window that is gone.
    const std::size_t before = shown.size();
    std::thread late([&] { sink->report({5, 10, "late"}); });
    late.join();
    sink.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.size(), before);
}

TEST(QtGuiCallTest, AWorkersBoxIsShownOnTheGuiThreadAndAReleasedWorkerDoesNotWaitForIt)
{
    QtPrompter prompter;
    std::atomic<bool> answer{false};
    whenModal([](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click(); });
    std::thread asking([&] { answer = prompter.ask("Go on?"); });
    ASSERT_TRUE(QtClock::waitUntil([&] { return answer.load(); }, 10s));
    asking.join();

    // Released before the GUI thread got to it: the call returns false and the box is never
    // shown (nobody would read its answer).
    auto release = std::make_shared<QtWorkerRelease>();
    std::atomic<int> ran{0};
    std::atomic<int> result{-1};
    std::thread released([&] {
        QtWorkerScope scope(release);
        result = callOnGuiThread([&ran] { ++ran; }) ? 1 : 0;
    });
    std::this_thread::sleep_for(100ms); // the GUI thread serves nothing meanwhile
    {
        std::lock_guard lock(release->mutex);
        release->released = true;
    }
    release->wake.notify_all();
    released.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ran, 0);
}

} // namespace
