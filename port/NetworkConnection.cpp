#include "port/NetworkConnection.h"

#include "port/EthernetLink.h"

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
    if (!m_settings.host.empty())
        EthInit(nullptr, "Ethernet", m_settings.host.c_str(), m_settings.tcpPort);
    if (!EthOpen()) {
        int error = EthLastError();
        EthClose();
        std::string where = m_settings.host.empty() ? describe()
                                                    : m_settings.host + ":" + std::to_string(m_settings.tcpPort);
        return IoResult::failed("cannot connect to " + where + ": " +
                                    (error != 0 ? std::strerror(error) : "no address was given"),
                                error);
    }
    m_open = true;
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
    if (!m_open)
        return IoResult::failed("cannot write to " + describe() + ": not connected", ENOTCONN);
    auto until = steady_clock::now() + deadline;
    EthTransfer t = EthSendWithin(bytes.data(), bytes.size(), until, m_stallLimit);
    std::size_t sent = static_cast<std::size_t>(t.sent);
    std::string counted = std::to_string(sent) + " of " + std::to_string(bytes.size()) + " bytes sent";
    if (t.error != 0)
        return closedByPrinter(sent, t.error);
    if (t.stalled)
        return IoResult::timedOut(sent, stallText(m_stallLimit) + "; " + counted + " to " + describe());
    if (t.timedOut)
        return IoResult::timedOut(sent, "write to " + describe() + " timed out; " + counted);
    // In the socket is not at the printer: wait for its acknowledgement of every byte.
    int error = 0;
    int unacked = EthDrain(std::min(until, steady_clock::now() + m_stallLimit), &error);
    if (unacked < 0)
        return closedByPrinter(0, error);
    if (unacked > 0) {
        std::size_t acked = sent > static_cast<std::size_t>(unacked) ? sent - static_cast<std::size_t>(unacked) : 0;
        return IoResult::timedOut(acked, "the printer did not acknowledge " + std::to_string(unacked) + " of " +
                                             std::to_string(bytes.size()) + " bytes in time (" + describe() + ")");
    }
    return IoResult::done(bytes.size());
}

IoResult NetworkConnection::readFor(std::span<std::uint8_t> buffer, Ms wait)
{
    if (!m_open)
        return IoResult::failed("cannot read from " + describe() + ": not connected", ENOTCONN);
    int error = 0;
    int n = EthRecvFor(buffer.data(), static_cast<int>(buffer.size()), wait, &error);
    if (n < 0)
        return closedByPrinter(0, error);
    return IoResult::done(static_cast<std::size_t>(n));
}

void NetworkConnection::close()
{
    EthClose();
    m_open = false;
}

IoResult NetworkConnection::reopen(const ReopenPolicy& policy) { return reopenByPolicy(*this, m_host.clock, policy); }
