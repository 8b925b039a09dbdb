#pragma once
// A printer with an Ethernet or wireless module, over a TCP link of its own (so connections
// to several printers can be open at once). A write is done only when the printer acknowledged every byte (the socket's
// send queue empty); a stream() keeps up to kStreamWindow bytes in flight and drain() waits
// for them. A reset or a closed connection is a failure, never a success.
#include "app/ConnectionRules.h"
#include "port/EthernetLink.h"
#include "port/PrinterConnection.h"

class NetworkConnection final : public PrinterConnection {
public:
    NetworkConnection(const ConnectionSettings& settings, ConnectionHost host);
    ~NetworkConnection() override;

    PortKind kind() const override { return PortKind::Ethernet; }
    // "network printer 10.0.0.5:6001", or "network printer" for the address the network
    // dialog handed to the library.
    std::string describe() const override;
    // Connects to the host of the settings, or without one to the address last given to
    // EthInit; with the connect time-out of EthSetTimeouts.
    IoResult open() override;
    bool isOpen() const override { return m_open; }
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    IoResult stream(std::span<const std::uint8_t> bytes, Ms deadline) override;
    IoResult drain(Ms deadline) override;
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;
    void close() override;
    IoResult reopen(const ReopenPolicy& policy) override;
    bool canAnswer() const override { return true; }

private:
    IoResult closedByPrinter(std::size_t count, int error);
    // Sends every byte, then waits until at most inFlight bytes are unacknowledged.
    IoResult send(std::span<const std::uint8_t> bytes, Ms deadline, std::size_t inFlight);

    ConnectionSettings m_settings;
    ConnectionHost m_host;
    EthernetLink m_link;
    bool m_open = false;
    std::size_t m_taken = 0; // bytes the socket took since open()
};
