#include "port/DeviceConnection.h"

#include <cerrno>
#include <cstring>

DeviceConnection::DeviceConnection(const ConnectionSettings& settings, ConnectionHost host)
    : m_settings(settings), m_host(host)
{
}

IoResult DeviceConnection::reopen(const ReopenPolicy& policy)
{
    return reopenByPolicy(*this, m_host.clock, policy);
}

IoResult DeviceConnection::openFailure(int error) const
{
    std::string why = error != 0 ? std::strerror(error) : "the port could not be opened";
    if (error == EBUSY)
        why += " (another program is using it)";
    return IoResult::failed("cannot open " + describe() + ": " + why, error);
}

bool DeviceConnection::isHangUpError(int error)
{
    return error == EIO || error == ENODEV || error == ENXIO || error == EPIPE || error == ECONNRESET;
}

IoResult DeviceConnection::hungUp(std::size_t count, int error) const
{
    return IoResult::hungUp(count, describe() + ": " + kPrinterClosedText, error);
}

IoResult DeviceConnection::writeFailure(int error, std::size_t sent, std::size_t total, bool stalled)
{
    std::string counted = std::to_string(sent) + " of " + std::to_string(total) + " bytes sent";
    if (error != 0) {
        if (isHangUpError(error))
            return hungUp(sent, error);
        return IoResult::failed("cannot write to " + describe() + ": " + std::strerror(error) + " (" + counted + ")",
                                error, sent);
    }
    if (stalled)
        return IoResult::timedOut(sent, stallText(m_stallLimit) + "; " + counted + " to " + describe());
    return IoResult::timedOut(sent, "write to " + describe() + " timed out; " + counted);
}

void DeviceConnection::opened(const std::string& name)
{
    if (m_host.observer)
        m_host.observer->connectionOpened(kind(), name);
}

void DeviceConnection::closed()
{
    if (m_host.observer)
        m_host.observer->connectionClosed();
}
