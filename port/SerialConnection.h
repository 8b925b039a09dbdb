#pragma once
// A printer on a serial line (RS-232, a USB serial adapter, a USB virtual serial port).
// The connection holds its own line (SerialDevice): bytes go out through its fd and count as
// written only once they left the UART; the printer's bytes come in through its
// ThreadWatchComm and receive queue.
#include "port/DeviceConnection.h"
#include "port/SerialDevice.h"

class SerialConnection final : public DeviceConnection {
public:
    SerialConnection(const ConnectionSettings& settings, ConnectionHost host);
    ~SerialConnection() override;

    PortKind kind() const override { return PortKind::Serial; }
    std::string describe() const override;
    // Opens the line with the settings (incomplete settings fail with EINVAL, a port another
    // program holds with EBUSY); the error log gets the failing step.
    IoResult open() override;
    bool isOpen() const override { return m_device.isOpen(); }
    void close() override;
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    // Takes what the receive queue holds, waiting up to `wait` for the watch thread to bring
    // something. While another reader (a dialog's WM_RECEIVE_NOTIFY handler) drains the
    // queue, this one sees nothing: use one or the other.
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;

    // Whether open() starts the watch thread (default: yes; readFor needs it). The port
    // facade turns it off for the tools that read the line themselves.
    void setReceiveThread(bool on) { m_receiveThread = on; }
    SerialDevice& device() { return m_device; }

private:
    SerialDevice m_device;
    bool m_receiveThread = true;
};
