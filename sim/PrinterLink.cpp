#include "sim/PrinterLink.h"

#include "sim/PaperRoll.h"

#include <algorithm>

namespace {

SimTime later(SimTime now, long long micros)
{
    return now + std::chrono::microseconds(micros);
}

} // namespace

PrinterLink::PrinterLink(SimHost& host, LinkOptions options, SimTime now)
    : m_host(host), m_options(std::move(options)),
      m_interpreter(host.state(), *this, host.settings().interpreterFaults), m_now(now),
      m_readAllowedAt(now), m_writeAllowedAt(now), m_nextAsb(now)
{
    m_interpreter.setNvEraseMs(host.settings().nvEraseMs);
    if (m_options.asb)
        setAsb(true, now);
}

std::vector<uint8_t> PrinterLink::escapeUsb(const std::vector<uint8_t>& reply)
{
    std::vector<uint8_t> out;
    out.reserve(reply.size() + 4);
    for (uint8_t b : reply) {
        if (b == 0x00) {
            out.push_back(0x1B);
            out.push_back(0x30);
        } else if (b == 0x1B) {
            out.push_back(0x1B);
            out.push_back(0x1B);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

const std::vector<uint8_t>& PrinterLink::asbReport()
{
    // Online, no error, paper present: the four bytes match the host's ASB test
    // (b0 & 93 = 10, b1 & 90 = 0, b2 & F0 = 0, b3 = 0F).
    static const std::vector<uint8_t> report{0x10, 0x00, 0x00, 0x0F};
    return report;
}

const std::vector<uint8_t>& PrinterLink::noiseBytes()
{
    // Line noise and a stray status byte; none of them is a reply header (37) or DLE (10).
    static const std::vector<uint8_t> noise{0x00, 0xFF, 0x41, 0x0D, 0x8A};
    return noise;
}

void PrinterLink::receive(const uint8_t* data, size_t size, SimTime now)
{
    m_inbox.insert(m_inbox.end(), data, data + size);
    pump(now);
}

void PrinterLink::pump(SimTime now)
{
    while (!m_inbox.empty() && !m_hangup && now >= m_readAllowedAt) {
        size_t taken = consume(m_inbox.data(), m_inbox.size(), now);
        m_inbox.erase(m_inbox.begin(), m_inbox.begin() + static_cast<long>(taken));
        if (taken == 0)
            break;
    }
    if (m_hangup)
        m_inbox.clear();
}

size_t PrinterLink::maxRead() const
{
    if (m_baud <= 0)
        return 4096;
    // About 20 ms of line time per read, so that pacing stays smooth.
    return std::max<size_t>(1, static_cast<size_t>(m_baud / m_bitsPerChar / 50));
}

size_t PrinterLink::consume(const uint8_t* data, size_t size, SimTime now)
{
    m_now = now;
    if (m_hangup)
        return 0;
    const LinkFaults& f = m_host.settings().linkFaults;
    size_t take = size;
    if (f.hangupAfter >= 0)
        take = std::min<size_t>(take, static_cast<size_t>(std::max(0L, f.hangupAfter - m_received)));
    if (!m_stalled && f.stallAfter >= 0)
        take = std::min<size_t>(take, static_cast<size_t>(std::max(0L, f.stallAfter - m_received)));
    if (take > 0) {
        m_interpreter.setNowMs(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
        take = m_interpreter.feedSome(data, take);
        m_received += static_cast<long>(take);
        if (m_baud > 0)
            m_readAllowedAt = std::max(m_readAllowedAt, later(now, 1000000LL * m_bitsPerChar * static_cast<long long>(take) / m_baud));
    }
    if (f.hangupAfter >= 0 && m_received >= f.hangupAfter && !m_hangup) {
        m_hangup = true;
        m_host.logEvent(m_options.via, SimEvent("fault").str("fault", "hang-up").num("after", m_received));
        return take;
    }
    if (!m_stalled && f.stallAfter >= 0 && m_received >= f.stallAfter) {
        m_stalled = true;
        m_readAllowedAt = std::max(m_readAllowedAt, now + std::chrono::milliseconds(f.stallMs));
        m_host.logEvent(m_options.via, SimEvent("fault").str("fault", "stall").num("after", m_received).num("ms", f.stallMs));
    }
    return take;
}

void PrinterLink::finish()
{
    m_interpreter.suspend();
    m_interpreter.finish();
}

void PrinterLink::queue(std::vector<uint8_t> bytes, SimTime due)
{
    if (m_host.settings().linkFaults.silent)
        return;
    if (m_options.usbEscape)
        bytes = escapeUsb(bytes);
    // Replies leave in order even when a later one has no delay.
    if (!m_queue.empty())
        due = std::max(due, m_queue.back().due);
    m_queue.push_back({due, std::move(bytes)});
}

void PrinterLink::reply(const std::vector<uint8_t>& bytes)
{
    const LinkFaults& f = m_host.settings().linkFaults;
    std::vector<uint8_t> out;
    if (f.noise)
        out = noiseBytes();
    out.insert(out.end(), bytes.begin(), bytes.end());
    queue(std::move(out), m_now + std::chrono::milliseconds(f.answerDelayMs));
}

void PrinterLink::replyApart(const std::vector<uint8_t>& bytes, int ms)
{
    const LinkFaults& f = m_host.settings().linkFaults;
    SimTime due = m_now + std::chrono::milliseconds(f.answerDelayMs);
    if (!m_queue.empty())
        due = std::max(due, m_queue.back().due);
    queue(bytes, due + std::chrono::milliseconds(ms));
}

void PrinterLink::event(SimEvent e)
{
    m_host.logEvent(m_options.via, e);
}

void PrinterLink::restart(const std::string& reason)
{
    m_host.printerRestart(reason);
}

void PrinterLink::asbEnabled(bool on)
{
    if (m_options.asb)
        setAsb(on, m_now);
}

void PrinterLink::setAsb(bool on, SimTime now)
{
    if (on && !m_asbOn)
        m_nextAsb = now; // a report at once, as the printer does when ASB is switched on
    m_asbOn = on;
}

void PrinterLink::flashWriting(const std::string& verdict)
{
    const int busy = m_host.settings().flashBusyMs;
    m_readAllowedAt = std::max(m_readAllowedAt, m_now + std::chrono::milliseconds(busy));
    m_beepAt = m_now + std::chrono::milliseconds(busy);
    m_flashVerdict = verdict;
}

void PrinterLink::stateChanged()
{
    m_host.stateChanged();
}

void PrinterLink::printedText(const std::vector<uint8_t>& text, int justify)
{
    if (PaperRoll* paper = m_host.paper())
        paper->text(text, justify);
}

void PrinterLink::printedPicture(int number, int mode)
{
    if (PaperRoll* paper = m_host.paper())
        paper->picture(number, mode);
}

void PrinterLink::cut()
{
    if (PaperRoll* paper = m_host.paper())
        paper->cut();
}

void PrinterLink::setLineRate(int bitsPerSecond, int bitsPerChar)
{
    m_baud = bitsPerSecond;
    m_bitsPerChar = std::max(bitsPerChar, 7);
}

const std::vector<uint8_t>& PrinterLink::pendingOutput(SimTime now)
{
    m_now = now;
    if (now < m_writeAllowedAt)
        return m_out;
    while (!m_queue.empty() && m_queue.front().due <= now) {
        auto& c = m_queue.front().bytes;
        m_out.insert(m_out.end(), c.begin(), c.end());
        m_queue.pop_front();
    }
    return m_out;
}

void PrinterLink::wrote(size_t n, SimTime now)
{
    n = std::min(n, m_out.size());
    m_out.erase(m_out.begin(), m_out.begin() + static_cast<long>(n));
    if (m_baud > 0 && n > 0)
        m_writeAllowedAt = later(now, 1000000LL * m_bitsPerChar * static_cast<long long>(n) / m_baud);
}

std::optional<SimTime> PrinterLink::nextDeadline() const
{
    std::optional<SimTime> t;
    auto consider = [&](SimTime x) {
        if (!t || x < *t)
            t = x;
    };
    if (!m_queue.empty())
        consider(std::max(m_queue.front().due, m_writeAllowedAt));
    if (!m_out.empty())
        consider(m_writeAllowedAt);
    if (m_asbOn)
        consider(m_nextAsb);
    if (m_beepAt)
        consider(*m_beepAt);
    if (m_readAllowedAt > m_now || !m_inbox.empty())
        consider(m_readAllowedAt);
    return t;
}

void PrinterLink::tick(SimTime now)
{
    m_now = now;
    if (m_asbOn && now >= m_nextAsb) {
        // Never more than one report waiting: a tool that does not read gets no pile-up.
        bool waiting = std::any_of(m_queue.begin(), m_queue.end(),
                                   [](const Chunk& c) { return c.bytes == asbReport(); });
        if (!waiting && m_out.empty())
            m_queue.push_back({now, asbReport()});
        m_nextAsb = now + std::chrono::milliseconds(std::max(50, m_host.settings().asbIntervalMs));
    }
    if (m_beepAt && now >= *m_beepAt) {
        m_beepAt.reset();
        bool ok = m_flashVerdict == "ok";
        // The buzzer sounds five times when the new firmware is in place, once on an error.
        m_host.logEvent(m_options.via, SimEvent("beep").num("count", ok ? 5 : 1).str("verdict", m_flashVerdict));
        // New firmware in place: the printer starts it (its USB nodes go away for a while).
        if (ok)
            m_host.printerRestart("firmware");
    }
}
