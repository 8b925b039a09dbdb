#include "port/PortBackedConnection.h"

#include "port/CPorts.h"

#include <cerrno>
#include <cstring>

PortBackedConnection::PortBackedConnection(const ConnectionSettings& settings, ConnectionHost host)
    : m_settings(settings), m_host(host),
      m_ownPorts(host.ports ? nullptr : std::make_unique<CPorts>(host.prompter, host.clock, host.log)),
      m_ports(host.ports ? *host.ports : *m_ownPorts)
{
    if (m_ownPorts)
        m_ownPorts->Configure(settings);
}

PortBackedConnection::~PortBackedConnection()
{
    if (m_ownPorts)
        m_ownPorts->Close();
}

IoResult PortBackedConnection::open()
{
    if (m_ports.m_IsOpen)
        m_ports.Close();
    // A lent port object is configured by its owner; the settings name the same port.
    if (!m_ownPorts && m_ports.m_PortName != m_settings.portName && !m_settings.portName.empty())
        m_ports.Configure(m_settings);
    beforeOpen();
    if (!m_ports.Open()) {
        int error = m_ports.LastError();
        std::string why = error != 0 ? std::strerror(error) : "the port could not be opened";
        if (error == EBUSY)
            why += " (another program is using it)";
        else if (error == ENODEV && kind() == PortKind::Usb && toUpperAscii(m_settings.portName) == "USB")
            return IoResult::failed("no USB printer with the ids of this model is attached (" +
                                        usbOpenIds(m_ports.m_ModelFamily).front() + ")",
                                    error);
        return IoResult::failed("cannot open " + describe() + ": " + why, error);
    }
    return IoResult::done();
}

bool PortBackedConnection::isOpen() const { return m_ports.m_IsOpen != 0; }

void PortBackedConnection::close()
{
    if (m_ports.m_IsOpen)
        m_ports.Close();
}

IoResult PortBackedConnection::reopen(const ReopenPolicy& policy)
{
    return reopenByPolicy(*this, m_host.clock, policy);
}

bool PortBackedConnection::isHangUpError(int error)
{
    return error == EIO || error == ENODEV || error == ENXIO || error == EPIPE || error == ECONNRESET;
}

IoResult PortBackedConnection::hungUp(std::size_t count) const
{
    return IoResult::hungUp(count, describe() + ": " + kPrinterClosedText);
}

IoResult PortBackedConnection::writeFailure(int error, std::size_t sent, std::size_t total, bool stalled)
{
    std::string counted = std::to_string(sent) + " of " + std::to_string(total) + " bytes sent";
    if (error != 0) {
        if (isHangUpError(error))
            return hungUp(sent);
        return IoResult::failed("cannot write to " + describe() + ": " + std::strerror(error) + " (" + counted + ")",
                                error, sent);
    }
    if (stalled)
        return IoResult::timedOut(sent, stallText(m_stallLimit) + "; " + counted + " to " + describe());
    return IoResult::timedOut(sent, "write to " + describe() + " timed out; " + counted);
}
