#include "port/SerialConnection.h"

#include "port/DeadlineIo.h"

#include <algorithm>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

SerialConnection::SerialConnection(const ConnectionSettings& settings, ConnectionHost host)
    : DeviceConnection(settings, host), m_device(host.prompter, host.log)
{
}

SerialConnection::~SerialConnection() { close(); }

std::string SerialConnection::describe() const { return "serial port " + m_settings.portName; }

IoResult SerialConnection::open()
{
    if (m_device.isOpen())
        close();
    const SerialSettings line{m_settings.baudRate, m_settings.byteSize, m_settings.parity, m_settings.stopBits,
                              m_settings.flowCtrl};
    if (!m_device.open(m_settings.portName, line, m_receiveThread))
        return openFailure(m_device.lastError());
    opened(m_settings.portName);
    return IoResult::done();
}

void SerialConnection::close()
{
    if (m_device.close())
        closed();
}

IoResult SerialConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    if (!isOpen())
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    const int fd = m_device.fd();
    if (m_device.lineHungUp())
        return hungUp(0);
    auto until = steady_clock::now() + deadline;
    DeadlineWrite w = writeWithin(fd, bytes.data(), bytes.size(), until, m_stallLimit, m_cancel);
    std::size_t taken = static_cast<std::size_t>(w.written);
    if (w.cancelled) {
        // What the kernel took stays queued and goes out before anything written next; only
        // what already left the UART counts. A close now drops the queue instead of waiting
        // the kernel's closing time for a printer that holds the line.
        m_device.noteOutputStuck();
        const int queued = drainSerialOutput(fd, steady_clock::now());
        return cancelledWrite(taken - std::min(taken, static_cast<std::size_t>(std::max(queued, 0))), bytes.size());
    }
    if (w.error != 0 || w.timedOut || w.stalled) {
        m_device.noteOutputStuck();
        return writeFailure(w.error, taken, bytes.size(), w.stalled);
    }
    // Taken by the kernel is not yet sent: wait for the UART to empty its queue, no longer
    // than the deadline and the stall bound allow.
    auto drainUntil = std::min(until, steady_clock::now() + m_stallLimit);
    bool cancelled = false;
    int queued = drainSerialOutput(fd, drainUntil, m_cancel, &cancelled);
    if (cancelled) {
        m_device.noteOutputStuck();
        return cancelledWrite(taken > static_cast<std::size_t>(queued) ? taken - static_cast<std::size_t>(queued) : 0,
                              bytes.size());
    }
    if (queued > 0) {
        m_device.noteOutputStuck();
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
    const int signal = m_device.receiveSignalFd();
    CByteQueue& queue = m_device.queue();
    for (;;) {
        std::size_t got = 0;
        while (got < buffer.size() && !queue.IsEmpty())
            buffer[got++] = queue.Pop();
        if (got > 0)
            return IoResult::done(got);
        if (m_device.lineHungUp())
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
