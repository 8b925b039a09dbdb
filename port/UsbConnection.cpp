#include "port/UsbConnection.h"

#include "port/CPorts.h"
#include "port/DeadlineIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

// One read of the node takes at most this much (the printer's replies are short).
constexpr std::size_t kUsbReadSize = 256;

} // namespace

std::string UsbConnection::describe() const
{
    if (!m_ports.m_DevicePath.empty())
        return "USB printer " + m_ports.m_DevicePath;
    if (toUpperAscii(m_settings.portName) != "USB" && !m_settings.portName.empty())
        return "USB printer " + m_settings.portName;
    return "USB printer";
}

IoResult UsbConnection::open()
{
    m_decoder = UsbReplyDecoder();
    m_decoded.clear();
    return PortBackedConnection::open();
}

IoResult UsbConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    if (!isOpen() || m_ports.m_hPort < 0)
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    const auto until = steady_clock::now() + deadline;
    DeadlineWrite w = writeWithin(m_ports.m_hPort, bytes.data(), bytes.size(), until, m_stallLimit, m_cancel);
    // Done only once the last transfer completed: a close right after (the end of a firmware
    // download) would otherwise cancel it, and the printer would miss the last bytes.
    awaitWritable(m_ports.m_hPort, w, until, m_stallLimit, m_cancel);
    if (w.cancelled)
        return cancelledWrite(static_cast<std::size_t>(w.written), bytes.size());
    if (w.error != 0 || w.timedOut || w.stalled)
        return writeFailure(w.error, static_cast<std::size_t>(w.written), bytes.size(), w.stalled);
    return IoResult::done(bytes.size());
}

IoResult UsbConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!isOpen() || m_ports.m_hPort < 0)
        return IoResult::failed("cannot read from " + describe() + ": not open", EBADF);
    auto until = steady_clock::now() + wait;
    std::uint8_t raw[kUsbReadSize];
    for (;;) {
        if (!m_decoded.empty()) {
            std::size_t n = std::min(buffer.size(), m_decoded.size());
            std::copy_n(m_decoded.begin(), n, buffer.begin());
            m_decoded.erase(m_decoded.begin(), m_decoded.begin() + static_cast<std::ptrdiff_t>(n));
            return IoResult::done(n);
        }
        short revents = 0;
        bool cancelled = false;
        int ready = pollUnlessCancelled(m_ports.m_hPort, POLLIN, remainingMs(until), m_cancel, &revents, &cancelled);
        if (cancelled)
            return cancelledRead();
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return IoResult::done(0);
        if (!(revents & POLLIN)) {
            // usblp reports an unplugged printer as an error; a pty as a hang-up.
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                return hungUp(0);
            continue;
        }
        ssize_t n = ::read(m_ports.m_hPort, raw, sizeof raw);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n < 0 && isHangUpError(errno))
            return hungUp(0);
        if (n < 0)
            return IoResult::failed("cannot read from " + describe() + ": " + std::strerror(errno), errno);
        if (n == 0) {
            // End of file with a hang-up: the printer is gone (a pty's far end closed).
            if (revents & (POLLHUP | POLLERR))
                return hungUp(0);
            // A zero-length packet from the printer: nothing to deliver, and no reason to
            // spin on a node that keeps reporting it.
            int left = remainingMs(until);
            if (left == 0)
                return IoResult::done(0);
            if (pollUnlessCancelled(-1, 0, std::min(left, 5), m_cancel, &revents, &cancelled) == 0 && cancelled)
                return cancelledRead();
            continue;
        }
        // An escape that ends this read waits in the decoder for its partner.
        m_decoder.feed(raw, static_cast<int>(n), m_decoded);
    }
}
