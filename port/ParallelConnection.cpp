#include "port/ParallelConnection.h"

#include "port/DeadlineIo.h"

#include <cerrno>
#include <cstring>
#include <poll.h>

using namespace std::chrono;

namespace {

// How often a waiting read looks at the read thread's queue.
constexpr int kQueueLookMs = 5;

} // namespace

ParallelConnection::ParallelConnection(const ConnectionSettings& settings, ConnectionHost host)
    : m_settings(settings), m_host(host), m_control(host.log, host.clock)
{
}

ParallelConnection::~ParallelConnection()
{
    if (m_control.IsOpen())
        close();
}

IoResult ParallelConnection::open()
{
    if (m_control.IsOpen())
        close();
    if (!m_control.OpenPort(m_settings.portName)) {
        int error = m_control.LastError();
        std::string why = error != 0 ? std::strerror(error) : m_control.GetErrorText();
        if (error == EBUSY)
            why += " (another program holds the port)";
        return IoResult::failed("cannot open " + describe() + ": " + why, error);
    }
    if (m_host.observer)
        m_host.observer->connectionOpened(PortKind::Parallel, m_settings.portName);
    return IoResult::done();
}

IoResult ParallelConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    if (!m_control.IsOpen())
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    DeadlineWrite w =
        m_control.WriteWithin(bytes.data(), bytes.size(), steady_clock::now() + deadline, m_stallLimit, m_cancel);
    std::size_t sent = static_cast<std::size_t>(w.written);
    if (w.cancelled)
        return cancelledWrite(sent, bytes.size());
    std::string counted = std::to_string(sent) + " of " + std::to_string(bytes.size()) + " bytes sent";
    if (w.error == EIO || w.error == ENODEV || w.error == ENXIO)
        return IoResult::hungUp(sent, describe() + ": " + kPrinterClosedText, w.error);
    if (w.error != 0)
        return IoResult::failed("cannot write to " + describe() + ": " + std::strerror(w.error) + " (" + counted + ")",
                                w.error, sent);
    if (w.stalled)
        return IoResult::timedOut(sent, stallText(m_stallLimit) + "; " + counted + " to " + describe());
    if (w.timedOut)
        return IoResult::timedOut(sent, "write to " + describe() + " timed out; " + counted);
    return IoResult::done(sent);
}

IoResult ParallelConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!m_control.IsOpen())
        return IoResult::failed("cannot read from " + describe() + ": not open", EBADF);
    if (!m_control.ReadThreadRunning() && !m_control.StartReadThread())
        return IoResult::failed("cannot read from " + describe() + ": " + m_control.GetErrorText(),
                                m_control.LastError());
    auto until = steady_clock::now() + wait;
    bool asked = false;
    for (;;) {
        std::size_t got = 0;
        int status = 1;
        while (got < buffer.size() && !m_control.IsQueueEmpty()) {
            std::uint8_t b = m_control.PopByte(status);
            if (status != 1)
                break;
            buffer[got++] = b;
        }
        if (got > 0)
            return IoResult::done(got);
        if (m_control.HungUp())
            return IoResult::hungUp(0, describe() + ": " + kPrinterClosedText);
        if (cancelRequested())
            return cancelledRead();
        if (!asked) {
            m_control.RequestRead();
            asked = true;
        }
        int left = remainingMs(until);
        if (left == 0)
            return IoResult::done(0);
        short revents = 0;
        bool cancelled = false;
        if (pollUnlessCancelled(-1, 0, std::min(left, kQueueLookMs), m_cancel, &revents, &cancelled) == 0 && cancelled)
            return cancelledRead();
        // The thread answers one request per read; ask again once it has gone idle.
        if (!m_control.ReadThreadRunning())
            return IoResult::failed("cannot read from " + describe() + ": " + m_control.GetErrorText());
    }
}

IoResult ParallelConnection::startReadThread()
{
    if (!m_control.IsOpen())
        return IoResult::failed("cannot read from " + describe() + ": not open", EBADF);
    if (!m_control.StartReadThread())
        return IoResult::failed("cannot start the read thread of " + describe() + ": " + m_control.GetErrorText(),
                                m_control.LastError());
    return IoResult::done();
}

void ParallelConnection::close()
{
    m_control.ClosePort();
    if (m_host.observer)
        m_host.observer->connectionClosed();
}

IoResult ParallelConnection::reopen(const ReopenPolicy& policy)
{
    return reopenByPolicy(*this, m_host.clock, policy);
}
