#include "setup/RcvDataProcess.h"

#include "app/MessageTarget.h"
#include "port/PrinterConnection.h"
#include "setup/SetupValueCodec.h"

#include <system_error>

namespace {

// One read takes at most this many bytes; the 18 answers are about 200.
constexpr std::size_t kReadChunk = 512;

} // namespace

RcvDataProcess::RcvDataProcess(MessageTarget& target, SetupTextSlots& slots) : m_target(target), m_slots(slots) {}

RcvDataProcess::~RcvDataProcess()
{
    Join();
}

Status RcvDataProcess::Start(PrinterConnection& connection)
{
    if (m_running)
        return Status::success();
    if (m_thread.joinable())
        m_thread.join();
    m_stopRequest.reset();
    m_threadEnded.reset();
    m_parser.reset();
    m_inFrame = false;
    m_hungUp = false;
    {
        std::lock_guard lock(m_reasonMutex);
        m_endReason.clear();
    }
    m_running = true;
    try {
        m_thread = std::thread([this, &connection] { run(connection); });
    } catch (const std::system_error& e) {
        m_running = false;
        m_threadEnded.set();
        return Status::failure(std::string("cannot start the receive thread: ") + e.what());
    }
    return Status::success();
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
    m_inFrame = false;
    m_running = false;
    m_threadEnded.set();
}

void RcvDataProcess::run(PrinterConnection& connection)
{
    std::uint8_t buffer[kReadChunk];
    while (!m_stopRequest.isSet()) {
        IoResult r = connection.readFor(buffer, kPollPeriod);
        if (!r) {
            // The printer hung up or the port failed: nothing more will come this way.
            m_hungUp = r.outcome() == IoResult::Outcome::HungUp;
            std::lock_guard lock(m_reasonMutex);
            m_endReason = r.message();
            break;
        }
        for (std::size_t i = 0; i < r.count() && !m_stopRequest.isSet(); ++i)
            take(buffer[i]);
        m_inFrame = m_parser.inFrame();
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

std::string RcvDataProcess::EndReason() const
{
    std::lock_guard lock(m_reasonMutex);
    return m_endReason;
}

bool RcvDataProcess::WaitEnded(Ms timeout, const std::function<void()>& idle)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // Short waits: a worker that is not handing anything over ends within one poll period.
    while (!m_threadEnded.wait(Ms{1})) {
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
