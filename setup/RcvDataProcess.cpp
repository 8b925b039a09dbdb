#include "setup/RcvDataProcess.h"

#include "app/MessageTarget.h"
#include "port/CByteQueue.h"
#include "port/ParPortCtl.h"
#include "setup/SetupValueCodec.h"

#include <system_error>

RcvDataProcess::RcvDataProcess(MessageTarget& target, SetupTextSlots& slots) : m_target(target), m_slots(slots) {}

RcvDataProcess::~RcvDataProcess()
{
    Join();
}

Status RcvDataProcess::start(std::function<void()> body)
{
    if (m_running)
        return Status::success();
    if (m_thread.joinable())
        m_thread.join();
    m_stopRequest.reset();
    m_threadEnded.reset();
    m_parser.reset();
    m_flushRequest = false;
    m_running = true;
    try {
        m_thread = std::thread(std::move(body));
    } catch (const std::system_error& e) {
        m_running = false;
        m_threadEnded.set();
        return Status::failure(std::string("cannot start the receive thread: ") + e.what());
    }
    return Status::success();
}

Status RcvDataProcess::StartOnQueue(CByteQueue& queue, std::function<bool()> keepRunning)
{
    return start([this, &queue, keepRunning = std::move(keepRunning)] { runQueue(queue, keepRunning); });
}

Status RcvDataProcess::StartOnParallel(ParPortCtl& port, std::function<bool()> keepRunning)
{
    return start([this, &port, keepRunning = std::move(keepRunning)] { runParallel(port, keepRunning); });
}

void RcvDataProcess::take(std::uint8_t byte)
{
    auto reply = m_parser.feed(byte);
    if (!reply)
        return;
    m_dropped.store(m_parser.droppedFrames());
    if (reply->number == 0)
        return;
    auto code = dispatchReply(*reply, m_slots);
    if (!code)
        return;
    ++m_dispatched;
    m_target.SendMessage(WM_SETUP_VALUE, static_cast<std::uintptr_t>(reply->number), *code);
}

void RcvDataProcess::finish()
{
    m_dropped.store(m_parser.droppedFrames());
    m_running = false;
    m_threadEnded.set();
}

void RcvDataProcess::runQueue(CByteQueue& queue, const std::function<bool()>& keepRunning)
{
    while (keepRunning() && !m_stopRequest.isSet()) {
        if (m_flushRequest.load(std::memory_order_acquire)) {
            while (!queue.IsEmpty())
                queue.Pop();
            m_parser.reset();
            m_flushRequest.store(false, std::memory_order_release);
        }
        while (!queue.IsEmpty() && !m_flushRequest.load(std::memory_order_acquire))
            take(queue.Pop());
        if (m_flushRequest.load(std::memory_order_acquire))
            continue;
        if (m_stopRequest.wait(kPollPeriod))
            break;
    }
    finish();
}

void RcvDataProcess::runParallel(ParPortCtl& port, const std::function<bool()>& keepRunning)
{
    int emptyPolls = 0;
    while (keepRunning()) {
        if (m_stopRequest.isSet())
            break;
        int status = 0;
        std::uint8_t byte = port.PopByte(status);
        if (status == 1) {
            emptyPolls = 0;
            take(byte);
            continue;
        }
        // Nothing queued: the read thread reads only when asked, once per request.
        if (emptyPolls < 20 || emptyPolls % 10 == 0)
            port.RequestRead();
        ++emptyPolls;
        if (m_stopRequest.wait(kPollPeriod))
            break;
    }
    finish();
}

void RcvDataProcess::RequestStop()
{
    m_stopRequest.set();
}

bool RcvDataProcess::Ended() const
{
    return m_threadEnded.isSet();
}

bool RcvDataProcess::WaitEnded(Ms timeout, const std::function<void()>& idle)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_threadEnded.wait(kPollPeriod)) {
        if (idle)
            idle();
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

void RcvDataProcess::Join()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void RcvDataProcess::FlushQueue(CByteQueue& queue)
{
    if (!m_running) {
        if (m_thread.joinable())
            m_thread.join();
        queue.Clear();
        m_parser.reset();
        return;
    }
    m_flushRequest.store(true, std::memory_order_release);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (m_flushRequest.load(std::memory_order_acquire) && m_running &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!m_running && m_flushRequest.load(std::memory_order_acquire)) {
        // The worker ended before it got to the request: nobody consumes any more.
        if (m_thread.joinable())
            m_thread.join();
        queue.Clear();
        m_parser.reset();
        m_flushRequest = false;
    }
}
