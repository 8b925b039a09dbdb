#pragma once
// A printer on a serial line (RS-232, a USB serial adapter, a USB virtual serial port).
// Bytes go out through the port object's fd and count as written only once they left the
// UART; the printer's bytes come in through ThreadWatchComm and m_QueueRead, the one
// receive path of a serial port.
#include "port/PortBackedConnection.h"

class SerialConnection final : public PortBackedConnection {
public:
    using PortBackedConnection::PortBackedConnection;

    PortKind kind() const override { return PortKind::Serial; }
    std::string describe() const override;
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    // Takes what m_QueueRead holds, waiting up to `wait` for the watch thread to bring
    // something. While another reader (a dialog's WM_RECEIVE_NOTIFY handler) drains the
    // queue, this one sees nothing: use one or the other.
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;

protected:
    void beforeOpen() override;
};
