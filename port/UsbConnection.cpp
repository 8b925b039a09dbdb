#include "port/UsbConnection.h"

#include "app/CErrorLog.h"
#include "port/DeadlineIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

// One read of the node takes at most this much (the printer's replies are short).
constexpr std::size_t kUsbReadSize = 256;

} // namespace

UsbConnection::UsbConnection(const ConnectionSettings& settings, ConnectionHost host)
    : DeviceConnection(settings, host)
{
    if (host.roots)
        m_roots = *host.roots;
    else if (const DeviceRoots* lent = host.observer ? host.observer->deviceRoots() : nullptr)
        m_roots = *lent;
    else
        m_roots = DeviceRoots::fromEnvironment();
}

UsbConnection::~UsbConnection() { close(); }

std::string UsbConnection::describe() const
{
    if (!m_devicePath.empty())
        return "USB printer " + m_devicePath;
    if (toUpperAscii(m_settings.portName) != "USB" && !m_settings.portName.empty())
        return "USB printer " + m_settings.portName;
    return "USB printer";
}

IoResult UsbConnection::open()
{
    if (m_fd)
        close();
    m_decoder = UsbReplyDecoder();
    m_decoded.clear();
    m_lastError = 0;
    m_fd.reset(openNode());
    if (!m_fd) {
        if (m_lastError == ENODEV && toUpperAscii(m_settings.portName) == "USB")
            return IoResult::failed("no USB printer with the ids of this model is attached (" +
                                        usbOpenIds(m_settings.modelFamily).front() + ")",
                                    m_lastError);
        return openFailure(m_lastError);
    }
    opened(m_settings.portName);
    return IoResult::done();
}

int UsbConnection::openNode()
{
    if (toUpperAscii(m_settings.portName) != "USB") {
        // A node the technician named: that printer, whatever its id.
        int fd = ::open(m_settings.portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            m_lastError = errno;
            m_host.log.WriteLog("CreateFile Fail [%d]", errno);
            return -1;
        }
        m_devicePath = m_settings.portName;
        return fd;
    }
    std::vector<std::string> ids = usbOpenIds(m_settings.modelFamily);
    for (const auto& id : ids) {
        int fd = OpenUsbPrinter(id, m_devicePath, m_host.log, m_roots);
        if (fd >= 0)
            return fd;
    }
    // ENODEV: no printer with the family's ids is attached; else why its node refused.
    m_lastError = ENODEV;
    for (const auto& printer : listUsbPrinters(m_roots)) {
        if (std::none_of(ids.begin(), ids.end(), [&](const std::string& id) { return hardwareIdMatches(printer.hardwareId, id); }))
            continue;
        int probe = ::open(printer.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        m_lastError = probe < 0 ? errno : EBUSY;
        if (probe >= 0)
            ::close(probe);
        m_devicePath = printer.node;
        break;
    }
    if (m_lastError == ENODEV)
        m_devicePath.clear();
    return -1;
}

void UsbConnection::close()
{
    if (!m_fd)
        return;
    m_fd.reset();
    closed();
}

IoResult UsbConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    if (!m_fd)
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    const auto until = steady_clock::now() + deadline;
    DeadlineWrite w = writeWithin(m_fd.get(), bytes.data(), bytes.size(), until, m_stallLimit, m_cancel);
    // Done only once the last transfer completed: a close right after (the end of a firmware
    // download) would otherwise cancel it, and the printer would miss the last bytes.
    awaitWritable(m_fd.get(), w, until, m_stallLimit, m_cancel);
    if (w.cancelled)
        return cancelledWrite(static_cast<std::size_t>(w.written), bytes.size());
    if (w.error != 0 || w.timedOut || w.stalled)
        return writeFailure(w.error, static_cast<std::size_t>(w.written), bytes.size(), w.stalled);
    return IoResult::done(bytes.size());
}

IoResult UsbConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!m_fd)
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
        int ready = pollUnlessCancelled(m_fd.get(), POLLIN, remainingMs(until), m_cancel, &revents, &cancelled);
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
        ssize_t n = ::read(m_fd.get(), raw, sizeof raw);
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
