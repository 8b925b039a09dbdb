#include "sim/PtyEndpoint.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int baudOf(speed_t s)
{
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

} // namespace

PtyEndpoint::PtyEndpoint(SimHost& host, Config config) : m_host(host), m_config(std::move(config)) {}

PtyEndpoint::~PtyEndpoint()
{
    shutdown();
}

std::string PtyEndpoint::portPath() const
{
    return m_config.usb ? m_config.usb->nodePath() : m_config.symlinkPath;
}

bool PtyEndpoint::up(SimTime now, std::string* error)
{
    auto pty = std::make_unique<PtyPair>();
    if (!pty->valid()) {
        if (error)
            *error = pty->error();
        return false;
    }
    if (!pty->holdSlaveOpen() || !pty->setMasterNonBlocking(true)) {
        if (error)
            *error = "cannot prepare the pty " + pty->slavePath() + ": " + std::strerror(errno);
        return false;
    }
    if (m_config.usb) {
        if (!m_config.usb->plug(pty->slavePath(), error))
            return false;
    } else {
        std::error_code ec;
        fs::remove(m_config.symlinkPath, ec);
        fs::create_symlink(pty->slavePath(), m_config.symlinkPath, ec);
        if (ec) {
            if (error)
                *error = "cannot create " + m_config.symlinkPath + ": " + ec.message();
            return false;
        }
    }
    m_slavePath = pty->slavePath();
    m_pty = std::move(pty);
    m_link = std::make_unique<PrinterLink>(m_host, m_config.link, now);
    if (m_config.singleOpen)
        watchOpens();
    return true;
}

void PtyEndpoint::watchOpens()
{
    m_openers = 0;
    m_opens.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (m_opens && ::inotify_add_watch(m_opens.get(), m_slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        m_opens.reset();
    if (!m_opens)
        m_host.logEvent(m_config.link.via, SimEvent("node").str("action", "cannot-watch-opens").str("error", std::strerror(errno)));
}

void PtyEndpoint::readOpenEvents()
{
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(m_opens.get(), buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_OPEN) {
                if (++m_openers == 1 && m_pty)
                    (void)::ioctl(m_pty->slaveHoldFd(), TIOCEXCL);
                if (m_openers >= 2)
                    m_host.logEvent(m_config.link.via,
                                    SimEvent("node").str("action", "second-open").str("path", portPath()));
            }
            if ((e->mask & IN_CLOSE) && m_openers > 0 && --m_openers == 0 && m_pty)
                (void)::ioctl(m_pty->slaveHoldFd(), TIOCNXCL);
        }
    }
}

void PtyEndpoint::down()
{
    if (m_link)
        m_link->finish();
    m_link.reset();
    m_opens.reset();
    if (m_config.usb) {
        m_config.usb->remove();
    } else if (!m_config.symlinkPath.empty()) {
        std::error_code ec;
        fs::remove(m_config.symlinkPath, ec);
    }
    m_pty.reset();
}

void PtyEndpoint::shutdown()
{
    m_backAt.reset();
    down();
}

void PtyEndpoint::updatePacing()
{
    if (!m_config.pace || !m_pty || !m_link)
        return;
    termios t{};
    if (::tcgetattr(m_pty->slaveHoldFd(), &t) != 0)
        return;
    int bits = 1; // start bit
    switch (t.c_cflag & CSIZE) {
    case CS5: bits += 5; break;
    case CS6: bits += 6; break;
    case CS7: bits += 7; break;
    default: bits += 8; break;
    }
    if (t.c_cflag & PARENB)
        bits += 1;
    bits += (t.c_cflag & CSTOPB) ? 2 : 1;
    m_link->setLineRate(baudOf(cfgetospeed(&t)), bits);
}

void PtyEndpoint::addPollFds(std::vector<pollfd>& fds, SimTime now)
{
    if (!m_pty || !m_link)
        return;
    // The opens first: a second open is seen before the requests it came with.
    if (m_opens)
        fds.push_back({m_opens.get(), POLLIN, 0});
    short events = 0;
    if (m_link->wantsInput(now))
        events |= POLLIN;
    if (!m_link->pendingOutput(now).empty())
        events |= POLLOUT;
    if (events)
        fds.push_back({m_pty->master(), events, 0});
}

void PtyEndpoint::flushOutput(SimTime now)
{
    const auto& out = m_link->pendingOutput(now);
    if (out.empty())
        return;
    ssize_t n = ::write(m_pty->master(), out.data(), out.size());
    if (n > 0)
        m_link->wrote(static_cast<size_t>(n), now);
}

void PtyEndpoint::onReady(const pollfd& ready, SimTime now)
{
    if (m_opens && ready.fd == m_opens.get()) {
        readOpenEvents();
        return;
    }
    if (!m_pty || ready.fd != m_pty->master())
        return;
    if (ready.revents & POLLIN) {
        updatePacing();
        uint8_t buf[4096];
        size_t want = std::min(sizeof buf, m_link->maxRead());
        ssize_t n = ::read(m_pty->master(), buf, want);
        if (n > 0)
            m_link->receive(buf, static_cast<size_t>(n), now);
    }
    // Replies leave at once, before a restart or hang-up caused by a later command of the
    // same read can take the line away (the mode notice comes before the restart of "OUT").
    if (m_link)
        flushOutput(now);
    if (m_link && m_link->hangupRequested()) {
        // The fault closes the line for good: the tool sees its port hang up.
        m_hungUp = true;
        down();
    }
}

void PtyEndpoint::tick(SimTime now)
{
    if (m_backAt && now >= *m_backAt) {
        m_backAt.reset();
        std::string error;
        if (up(now, &error))
            m_host.logEvent(m_config.link.via, SimEvent("node").str("action", "back").str("path", portPath()));
        else
            m_host.logEvent(m_config.link.via, SimEvent("node").str("action", "failed").str("error", error));
    }
    if (!m_link)
        return;
    if (m_asbBackAt && now >= *m_asbBackAt) {
        m_asbBackAt.reset();
        m_link->setAsb(true, now);
    }
    m_link->pump(now);
    m_link->tick(now);
    flushOutput(now);
}

std::optional<SimTime> PtyEndpoint::nextDeadline() const
{
    std::optional<SimTime> t = m_link ? m_link->nextDeadline() : std::nullopt;
    for (auto x : {m_backAt, m_asbBackAt})
        if (x && (!t || *x < *t))
            t = x;
    return t;
}

void PtyEndpoint::printerRestarting(SimTime now, SimTime until)
{
    if (m_hungUp)
        return;
    if (m_config.restartsWithPrinter) {
        if (m_link)
            flushOutput(now);
        down();
        m_host.logEvent(m_config.link.via, SimEvent("node").str("action", "gone").str("path", portPath()));
        m_backAt = until;
    } else if (m_config.link.asb) {
        // After power-on the printer reports its status again until told otherwise.
        m_asbBackAt = until;
    }
}
