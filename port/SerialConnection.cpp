#include "port/SerialConnection.h"

#include "port/CPorts.h"
#include "port/DeadlineIo.h"

#include <algorithm>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

std::string SerialConnection::describe() const { return "serial port " + m_settings.portName; }

void SerialConnection::beforeOpen()
{
    // The connection's reads need the watch thread whatever tool is running.
    m_ports.SetAlwaysWatch(true);
}

IoResult SerialConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    if (!isOpen() || m_ports.m_hPort < 0)
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    if (m_ports.LineHungUp())
        return hungUp(0);
    auto until = steady_clock::now() + deadline;
    DeadlineWrite w = writeWithin(m_ports.m_hPort, bytes.data(), bytes.size(), until, m_stallLimit, m_cancel);
    std::size_t taken = static_cast<std::size_t>(w.written);
    if (w.cancelled) {
        // What the kernel took stays queued and goes out before anything written next; only
        // what already left the UART counts. A close now drops the queue instead of waiting
        // the kernel's closing time for a printer that holds the line.
        m_ports.NoteOutputStuck();
        const int queued = drainSerialOutput(m_ports.m_hPort, steady_clock::now());
        return cancelledWrite(taken - std::min(taken, static_cast<std::size_t>(std::max(queued, 0))), bytes.size());
    }
    if (w.error != 0 || w.timedOut || w.stalled) {
        m_ports.NoteOutputStuck();
        return writeFailure(w.error, taken, bytes.size(), w.stalled);
    }
    // Taken by the kernel is not yet sent: wait for the UART to empty its queue, no longer
    // than the deadline and the stall bound allow.
    auto drainUntil = std::min(until, steady_clock::now() + m_stallLimit);
    bool cancelled = false;
    int queued = drainSerialOutput(m_ports.m_hPort, drainUntil, m_cancel, &cancelled);
    if (cancelled) {
        m_ports.NoteOutputStuck();
        return cancelledWrite(taken > static_cast<std::size_t>(queued) ? taken - static_cast<std::size_t>(queued) : 0,
                              bytes.size());
    }
    if (queued > 0) {
        m_ports.NoteOutputStuck();
        std::size_t left = taken > static_cast<std::size_t>(queued) ? taken - static_cast<std::size_t>(queued) : 0;
        return writeFailure(0, left, bytes.size(), drainUntil < until);
    }
    return IoResult::done(bytes.size());
}

IoResult SerialConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!isOpen())
        return IoResult::failed("cannot read from " + describe() + ": not open", EBADF);
    auto until = steady_clock::now() + wait;
    const int signal = m_ports.ReceiveSignalFd();
    for (;;) {
        std::size_t got = 0;
        while (got < buffer.size() && !m_ports.m_QueueRead.IsEmpty())
            buffer[got++] = m_ports.m_QueueRead.Pop();
        if (got > 0)
            return IoResult::done(got);
        if (m_ports.LineHungUp())
            return hungUp(0);
        if (cancelRequested())
            return cancelledRead();
        int left = remainingMs(until);
        if (left == 0)
            return IoResult::done(0);
        short revents = 0;
        bool cancelled = false;
        // Without the signal fd (eventfd failed) look again every 5 ms.
        if (signal < 0 ? pollUnlessCancelled(-1, 0, std::min(left, 5), m_cancel, &revents, &cancelled)
                       : pollUnlessCancelled(signal, POLLIN, left, m_cancel, &revents, &cancelled) > 0) {
            std::uint64_t value;
            while (signal >= 0 && ::read(signal, &value, sizeof value) > 0) {
            }
        }
    }
}
