#pragma once
// What the serial and USB printer connections share: the port object they work through
// (the tool's one CPorts, or one of their own configured from the settings), the open and
// close through it with errno text, and the write loop with its stall bound.
#include "app/ConnectionRules.h"
#include "port/PrinterConnection.h"

#include <memory>

class PortBackedConnection : public PrinterConnection {
public:
    PortBackedConnection(const ConnectionSettings& settings, ConnectionHost host);
    ~PortBackedConnection() override;

    IoResult open() override;
    bool isOpen() const override;
    void close() override;
    IoResult reopen(const ReopenPolicy& policy) override;
    bool canAnswer() const override { return true; }

    CPorts& ports() { return m_ports; }

protected:
    // Called before CPorts::Open (the serial connection asks for its watch thread).
    virtual void beforeOpen() {}
    // The kind-specific end of a failed write: a hang-up, a stall, a time-out, an error.
    IoResult writeFailure(int error, std::size_t sent, std::size_t total, bool stalled);
    // EIO/ENODEV/ENXIO/EPIPE/ECONNRESET: the device or the far end is gone.
    static bool isHangUpError(int error);
    IoResult hungUp(std::size_t count) const;

    ConnectionSettings m_settings;
    ConnectionHost m_host;
    std::unique_ptr<CPorts> m_ownPorts;
    CPorts& m_ports;
};
