#include "sim/DeviceEndpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How soon a node that failed or is not there yet is tried again. Short, because a host that
// re-enumerates the printer opens it within a few hundred milliseconds.
constexpr auto kRetry = std::chrono::milliseconds(100);
// A restarting printer finishes sending what it had answered before its USB interface goes;
// a host that does not read in this time loses the rest, as it would with a real printer.
constexpr auto kDrainBeforeUnplug = std::chrono::milliseconds(500);
constexpr auto kDrainPoll = std::chrono::milliseconds(10);

struct Rate {
    int bps;
    speed_t speed;
};
constexpr Rate kRates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                           {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
                           {230400, B230400}};

bool speedOf(int bps, speed_t* out)
{
    for (auto r : kRates)
        if (r.bps == bps) {
            *out = r.speed;
            return true;
        }
    return false;
}

int bpsOf(speed_t s)
{
    for (auto r : kRates)
        if (r.speed == s)
            return r.bps;
    return 0;
}

bool parseInt(const std::string& text, int* out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

std::vector<std::string> splitComma(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        auto comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return out;
        start = comma + 1;
    }
}

bool fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool LineSettings::parse(const std::string& text, LineSettings* out, std::string* error)
{
    LineSettings l;
    auto parts = splitComma(text);
    if (parts.size() > 2)
        return fail(error, "not BAUD[,FORMAT]: " + text);
    speed_t s;
    if (!parseInt(parts[0], &l.baud) || !speedOf(l.baud, &s))
        return fail(error, "not a line rate (1200 .. 230400): " + parts[0]);
    if (parts.size() == 2) {
        std::string f = parts[1];
        if (!f.empty() && (f.back() == 'H' || f.back() == 'h')) {
            l.rtscts = true;
            f.pop_back();
        }
        if (f.size() != 3 || f[0] < '5' || f[0] > '8' || (f[2] != '1' && f[2] != '2'))
            return fail(error, "not a line format such as 8N1 or 7E2: " + parts[1]);
        char p = static_cast<char>(std::toupper(static_cast<unsigned char>(f[1])));
        if (p != 'N' && p != 'E' && p != 'O')
            return fail(error, "parity must be N, E or O: " + parts[1]);
        l.dataBits = f[0] - '0';
        l.parity = p;
        l.stopBits = f[2] - '0';
    }
    *out = l;
    return true;
}

std::string LineSettings::text() const
{
    return std::to_string(baud) + "," + std::to_string(dataBits) + parity + std::to_string(stopBits) +
           (rtscts ? "H" : "");
}

bool DeviceSpec::parse(Kind kind, const std::string& text, DeviceSpec* out, std::string* error)
{
    DeviceSpec s;
    s.kind = kind;
    auto comma = text.find(',');
    s.path = text.substr(0, comma);
    const std::string rest = comma == std::string::npos ? "" : text.substr(comma + 1);
    if (s.path.empty() || s.path[0] != '/')
        return fail(error, "not an absolute device path: " + text);
    switch (kind) {
    case Kind::UsbPrinterGadget:
    case Kind::UsbSerialGadget:
        if (comma != std::string::npos && (rest.empty() || rest[0] != '/'))
            return fail(error, "not an absolute UDC attribute path: " + rest);
        s.udcFile = rest;
        break;
    case Kind::Tty:
        if (comma != std::string::npos && !LineSettings::parse(rest, &s.line, error))
            return false;
        break;
    case Kind::ParallelFarEnd:
        if (comma != std::string::npos)
            return fail(error, "the parallel port's far end takes only a path: " + text);
        break;
    }
    *out = s;
    return true;
}

const char* DeviceSpec::via() const
{
    switch (kind) {
    case Kind::UsbPrinterGadget: return "usb";
    case Kind::UsbSerialGadget: return "usb-serial";
    case Kind::Tty: return "serial";
    case Kind::ParallelFarEnd: return "parallel";
    }
    return "device";
}

bool DeviceEndpoint::applyLine(int fd, const LineSettings& line, bool isTty, std::string* error)
{
    if (!isTty)
        return true;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return fail(error, std::string("tcgetattr: ") + std::strerror(errno));
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSize[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSize[line.dataBits - 5];
    if (line.parity != 'N')
        t.c_cflag |= PARENB | (line.parity == 'O' ? PARODD : 0);
    if (line.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (line.rtscts)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t s = 0;
    if (line.baud && speedOf(line.baud, &s)) {
        ::cfsetispeed(&t, s);
        ::cfsetospeed(&t, s);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return fail(error, std::string("tcsetattr: ") + std::strerror(errno));
    // tcsetattr succeeds when any part was taken: read back what the port really does, since a
    // printer on other line settings than the host's only sees garbage.
    termios back{};
    if (::tcgetattr(fd, &back) != 0)
        return fail(error, std::string("tcgetattr: ") + std::strerror(errno));
    const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    if ((back.c_cflag & mask) != (t.c_cflag & mask) || (line.baud && ::cfgetospeed(&back) != s)) {
        LineSettings got;
        got.baud = bpsOf(::cfgetospeed(&back));
        got.dataBits = 5 + static_cast<int>((back.c_cflag & CSIZE) == CS6) + 2 * ((back.c_cflag & CSIZE) == CS7) +
                       3 * ((back.c_cflag & CSIZE) == CS8);
        got.parity = (back.c_cflag & PARENB) ? ((back.c_cflag & PARODD) ? 'O' : 'E') : 'N';
        got.stopBits = (back.c_cflag & CSTOPB) ? 2 : 1;
        got.rtscts = back.c_cflag & CRTSCTS;
        return fail(error, "the port does not take " + line.text() + " (it keeps " + got.text() + ")");
    }
    ::tcflush(fd, TCIOFLUSH);
    return true;
}

DeviceEndpoint::DeviceEndpoint(SimHost& host, DeviceSpec deviceSpec) : m_host(host), m_spec(std::move(deviceSpec)) {}

DeviceEndpoint::~DeviceEndpoint()
{
    shutdown();
}

bool DeviceEndpoint::writeUdc(const std::string& value, std::string* error)
{
    std::ofstream out(m_spec.udcFile);
    out << value << "\n";
    out.flush();
    if (!out)
        return fail(error, "cannot write " + m_spec.udcFile + ": " + std::strerror(errno));
    return true;
}

bool DeviceEndpoint::up(SimTime now, std::string* error)
{
    if (!m_spec.udcFile.empty() && m_udcName.empty()) {
        std::ifstream in(m_spec.udcFile);
        std::getline(in, m_udcName);
        if (!in && m_udcName.empty())
            return fail(error, "cannot read " + m_spec.udcFile + ": " + std::strerror(errno));
        if (m_udcName.empty())
            return fail(error, "the gadget is not bound to a UDC (" + m_spec.udcFile + " is empty)");
    }
    UniqueFd fd(::open(m_spec.path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return fail(error, "cannot open " + m_spec.path + ": " + std::strerror(errno));
    const bool tty = ::isatty(fd.get());
    if (m_spec.kind == DeviceSpec::Kind::Tty && !tty)
        return fail(error, m_spec.path + " is not a tty");
    // The gadget's tty carries bytes only: raw, whatever rate the host sets.
    if (!applyLine(fd.get(), m_spec.line, tty, error))
        return fail(error, m_spec.path + ": " + (error ? *error : std::string()));
    m_fd = std::move(fd);
    // Only the printer-class interface escapes its replies; the virtual serial port carries
    // them as a serial port does, and the tool reads it as one.
    const bool escape = m_spec.kind == DeviceSpec::Kind::UsbPrinterGadget;
    m_link = std::make_unique<PrinterLink>(m_host, LinkOptions{m_spec.via(), escape, false}, now);
    m_retryAt.reset();
    m_reportedMissing = false;
    return true;
}

void DeviceEndpoint::down(const std::string& why)
{
    if (m_link)
        m_link->finish();
    m_link.reset();
    if (m_fd) {
        m_fd.reset();
        m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "closed").str("path", m_spec.path).str("why", why));
    }
}

void DeviceEndpoint::shutdown()
{
    down("stop");
    m_retryAt.reset();
    m_unplugBy.reset();
    // Leave the gadget plugged in, as it was found.
    if (m_backAt && !m_udcName.empty())
        writeUdc(m_udcName, nullptr);
    m_backAt.reset();
}

void DeviceEndpoint::addPollFds(std::vector<pollfd>& fds, SimTime now)
{
    if (!m_fd || !m_link)
        return;
    short events = 0;
    if (m_link->wantsInput(now) && !m_unplugBy)
        events |= POLLIN;
    if (!m_link->pendingOutput(now).empty())
        events |= POLLOUT;
    // POLLERR and POLLHUP are reported without asking: a vanished node is noticed even while
    // the printer is not reading.
    fds.push_back({m_fd.get(), events, 0});
}

void DeviceEndpoint::flushOutput(SimTime now)
{
    if (!m_link)
        return;
    const auto& out = m_link->pendingOutput(now);
    if (out.empty())
        return;
    if (m_spec.kind == DeviceSpec::Kind::ParallelFarEnd) {
        // A parallel port's far end has no way back to the host.
        m_link->wrote(out.size(), now);
        return;
    }
    ssize_t n = ::write(m_fd.get(), out.data(), out.size());
    if (n > 0) {
        m_link->wrote(static_cast<size_t>(n), now);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        down(std::string("write: ") + std::strerror(errno));
        m_retryAt = now + kRetry;
    }
}

void DeviceEndpoint::onReady(const pollfd& ready, SimTime now)
{
    if (!m_fd || ready.fd != m_fd.get() || !m_link)
        return;
    if (ready.revents & POLLIN) {
        uint8_t buf[4096];
        size_t want = std::min(sizeof buf, m_link->maxRead());
        ssize_t n = ::read(m_fd.get(), buf, want);
        if (n > 0) {
            m_link->receive(buf, static_cast<size_t>(n), now);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // The host side is gone (USB disconnect, tty hang-up): the node comes back with it.
            down(n == 0 ? "end of stream" : std::string("read: ") + std::strerror(errno));
            m_retryAt = now + kRetry;
            return;
        }
    } else if (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        down("hang-up");
        m_retryAt = now + kRetry;
        return;
    }
    flushOutput(now);
    if (m_link && m_link->hangupRequested()) {
        down("hang-up fault");
        m_retryAt = now + kRetry;
    }
}

void DeviceEndpoint::tick(SimTime now)
{
    if (m_unplugBy) {
        flushOutput(now);
        if (now >= *m_unplugBy || outputDrained())
            unplug(now);
    }
    if (m_backAt && now >= *m_backAt) {
        m_backAt.reset();
        std::string error;
        if (writeUdc(m_udcName, &error))
            m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "plugged").str("udc", m_udcName));
        else
            m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "failed").str("error", error));
        m_retryAt = now;
    }
    if (!m_fd && m_retryAt && now >= *m_retryAt) {
        std::string error;
        if (up(now, &error)) {
            m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "back").str("path", m_spec.path));
        } else {
            if (!m_reportedMissing)
                m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "waiting").str("error", error));
            m_reportedMissing = true;
            m_retryAt = now + kRetry;
        }
    }
    if (!m_link)
        return;
    m_link->pump(now);
    m_link->tick(now);
    flushOutput(now);
}

std::optional<SimTime> DeviceEndpoint::nextDeadline() const
{
    std::optional<SimTime> t = m_link ? m_link->nextDeadline() : std::nullopt;
    std::optional<SimTime> drainCheck;
    if (m_unplugBy)
        drainCheck = std::min(*m_unplugBy, SimClock::now() + kDrainPoll);
    for (auto x : {drainCheck, m_backAt, m_fd ? std::nullopt : m_retryAt})
        if (x && (!t || *x < *t))
            t = x;
    return t;
}

void DeviceEndpoint::printerRestarting(SimTime now, SimTime until)
{
    if (m_spec.udcFile.empty() || m_udcName.empty())
        return;
    // A power cycle: the host sees the device go and come back and enumerates it again. The
    // printer reads nothing more; what it already answered leaves first.
    m_unplugBy = now + kDrainBeforeUnplug;
    m_backAt = until;
    m_retryAt.reset();
    flushOutput(now);
    if (outputDrained())
        unplug(now);
}

bool DeviceEndpoint::outputDrained() const
{
    if (!m_fd || !m_link)
        return true;
    if (m_link->hasPendingOutput())
        return false;
    int queued = 0;
    if (::isatty(m_fd.get()) && ::ioctl(m_fd.get(), TIOCOUTQ, &queued) == 0 && queued > 0)
        return false;
    return true;
}

void DeviceEndpoint::unplug(SimTime now)
{
    (void)now;
    m_unplugBy.reset();
    down("printer restart");
    std::string error;
    if (writeUdc("", &error))
        m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "unplugged").str("udc", m_udcName));
    else
        m_host.logEvent(m_spec.via(), SimEvent("node").str("action", "failed").str("error", error));
}
