#pragma once
// What the serial and USB printer connections share: the settings and host they were made
// with, the reasons an open or a write failed (with errno text), and telling a lent
// ConnectionObserver that the connection opened or closed.
#include "app/ConnectionRules.h"
#include "port/PrinterConnection.h"

class DeviceConnection : public PrinterConnection {
public:
    DeviceConnection(const ConnectionSettings& settings, ConnectionHost host);

    IoResult reopen(const ReopenPolicy& policy) override;
    bool canAnswer() const override { return true; }

protected:
    // "cannot open <describe()>: <errno text>", with a hint for a port another program holds.
    IoResult openFailure(int error) const;
    // The kind-specific end of a failed write: a hang-up, a stall, a time-out, an error.
    IoResult writeFailure(int error, std::size_t sent, std::size_t total, bool stalled);
    // EIO/ENODEV/ENXIO/EPIPE/ECONNRESET: the device or the far end is gone.
    static bool isHangUpError(int error);
    IoResult hungUp(std::size_t count, int error = 0) const;
    // Tell the host's observer, if any.
    void opened(const std::string& name);
    void closed();

    ConnectionSettings m_settings;
    ConnectionHost m_host;
};
