#include "port/NetworkConnection.h"

#include "port/EthernetLink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace std::chrono;

NetworkConnection::NetworkConnection(const ConnectionSettings& settings, ConnectionHost host)
    : m_settings(settings), m_host(host)
{
}

NetworkConnection::~NetworkConnection()
{
    if (m_open)
        close();
}

std::string NetworkConnection::describe() const
{
    if (m_settings.host.empty())
        return "network printer";
    return "network printer " + m_settings.host + ":" + std::to_string(m_settings.tcpPort);
}

IoResult NetworkConnection::open()
{
    if (m_open)
        close();
    // A connection without an address of its own is to the printer the connection dialog
    // handed to the network library; the time-outs are the library's.
    const EthernetLink& library = EthernetLink::defaultLink();
    if (!m_settings.host.empty())
        m_link.init(m_settings.host, m_settings.tcpPort);
    else
        m_link.init(library.host(), library.tcpPort());
    m_link.setTimeouts(library.timeouts());
    if (!m_link.open(m_cancel)) {
        int error = m_link.lastError();
        m_link.close();
        if (error == ECANCELED)
            return IoResult::cancelled(0, "connecting to " + describe() + " cancelled");
        std::string where = m_settings.host.empty() ? describe()
                                                    : m_settings.host + ":" + std::to_string(m_settings.tcpPort);
        return IoResult::failed("cannot connect to " + where + ": " +
                                    (error != 0 ? std::strerror(error) : "no address was given"),
                                error);
    }
    m_open = true;
    m_taken = 0;
    return IoResult::done();
}

IoResult NetworkConnection::closedByPrinter(std::size_t count, int error)
{
    if (error == 0 || error == ECONNRESET || error == EPIPE || error == ENOTCONN)
        return IoResult::hungUp(count, describe() + ": " + kPrinterClosedText);
    return IoResult::failed("connection to " + describe() + " broke: " + std::strerror(error), error, count);
}

IoResult NetworkConnection::write(std::span<const std::uint8_t> bytes, Ms deadline)
{
    return send(bytes, deadline, 0);
}

IoResult NetworkConnection::stream(std::span<const std::uint8_t> bytes, Ms deadline)
{
    return send(bytes, deadline, kStreamWindow);
}

IoResult NetworkConnection::drain(Ms deadline)
{
    return send({}, deadline, 0);
}

IoResult NetworkConnection::send(std::span<const std::uint8_t> bytes, Ms deadline, std::size_t inFlight)
{
    if (!m_open)
        return IoResult::failed("cannot write to " + describe() + ": not connected", ENOTCONN);
    auto until = steady_clock::now() + deadline;
    EthTransfer t = m_link.sendWithin(bytes.data(), bytes.size(), until, m_stallLimit, m_cancel);
    std::size_t sent = static_cast<std::size_t>(t.sent);
    m_taken += sent;
    std::string counted = std::to_string(sent) + " of " + std::to_string(bytes.size()) + " bytes sent";
    if (t.error != 0)
        return closedByPrinter(sent, t.error);
    // What the socket took reaches the printer unless the connection breaks: it counts, as
    // for a stream, so that a caller that completes a definition goes on after it.
    if (t.cancelled)
        return cancelledWrite(sent, bytes.size());
    if (t.stalled)
        return IoResult::timedOut(sent, stallText(m_stallLimit) + "; " + counted + " to " + describe());
    if (t.timedOut)
        return IoResult::timedOut(sent, "write to " + describe() + " timed out; " + counted);
    // In the socket is not at the printer: wait for its acknowledgement.
    EthAck ack = m_link.drain(inFlight, until, m_stallLimit, m_cancel);
    if (ack.error != 0)
        return closedByPrinter(0, ack.error);
    if (ack.cancelled)
        return bytes.empty() ? IoResult::cancelled(m_taken - std::min(m_taken, static_cast<std::size_t>(ack.unacked)),
                                                   "waiting for " + describe() + " to acknowledge " +
                                                               std::to_string(ack.unacked) + " bytes cancelled")
                             : cancelledWrite(sent, bytes.size());
    const std::size_t unacked = static_cast<std::size_t>(ack.unacked);
    if (unacked > inFlight) {
        // A streamed byte in the socket stays taken; a written one counts once acknowledged,
        // and a drain counts every byte since open() that arrived.
        const std::size_t base = bytes.empty() ? m_taken : sent;
        const std::size_t taken = inFlight > 0 ? sent : base - std::min(base, unacked);
        std::string what = "the printer did not acknowledge " + std::to_string(unacked) + " bytes";
        if (ack.stalled)
            return IoResult::timedOut(taken, stallText(m_stallLimit) + "; " + what + " (" + describe() + ")");
        return IoResult::timedOut(taken, what + " in time (" + describe() + ")");
    }
    return IoResult::done(bytes.size());
}

IoResult NetworkConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!m_open)
        return IoResult::failed("cannot read from " + describe() + ": not connected", ENOTCONN);
    int error = 0;
    int n = m_link.recvFor(buffer.data(), static_cast<int>(buffer.size()), wait, &error, m_cancel);
    if (n == 0 && error == ECANCELED)
        return cancelledRead();
    if (n < 0)
        return closedByPrinter(0, error);
    return IoResult::done(static_cast<std::size_t>(n));
}

void NetworkConnection::close()
{
    m_link.close();
    m_open = false;
}

IoResult NetworkConnection::reopen(const ReopenPolicy& policy) { return reopenByPolicy(*this, m_host.clock, policy); }
