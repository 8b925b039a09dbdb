#include "qthost/QtClock.h"

#include "qthost/QtBusy.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <thread>

namespace {

bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

std::chrono::steady_clock::time_point QtClock::now()
{
    return SystemClock::instance().now();
}

LocalTime QtClock::localTime()
{
    return SystemClock::instance().localTime();
}

void QtClock::sleep(Ms delay)
{
    if (delay.count() <= 0)
        return;
    if (!onGuiThread()) {
        std::this_thread::sleep_for(delay);
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(delay.count()));
    // During a busy wait the input goes on to QtBusy's filter, which drops it; a serving clock
    // delivers it; otherwise it stays queued until the wait is over.
    const bool deliver = m_input == Input::Serve || QtBusy::active();
    loop.exec(deliver ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

bool QtClock::waitUntil(const std::function<bool()>& done, Ms timeout)
{
    QtClock clock;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return done();
        clock.sleep(std::min(left, Ms(10)));
    }
    return true;
}
