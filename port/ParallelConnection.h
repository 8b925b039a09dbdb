#pragma once
// A printer on a parallel port (/dev/lp*, ppdev's /dev/parport*, "LPTn"), through
// ParPortCtl: its read thread brings the printer's answers, with the automatic status
// reports (ASB) kept apart.
#include "app/ConnectionRules.h"
#include "port/ParPortCtl.h"
#include "port/PrinterConnection.h"

#include <memory>

class ParallelConnection final : public PrinterConnection {
public:
    ParallelConnection(const ConnectionSettings& settings, ConnectionHost host);
    ~ParallelConnection() override;

    PortKind kind() const override { return PortKind::Parallel; }
    std::string describe() const override { return "parallel port " + m_settings.portName; }
    // Opens the port (a ppdev port held by another program fails after a few seconds with
    // EBUSY) and tells the host's observer.
    IoResult open() override;
    bool isOpen() const override { return m_control.IsOpen(); }
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    // Starts the read thread on first use and asks it for a read whenever nothing waits.
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;
    // Ends the read thread, gives the printer 100 ms (on the Clock) and closes.
    void close() override;
    IoResult reopen(const ReopenPolicy& policy) override;
    bool canAnswer() const override { return true; }
    IoResult startReadThread() override;
    void stopReadThread() override { m_control.StopReadThread(); }
    std::string deviceErrorText() const override { return m_control.GetErrorText(); }

    // The port control itself, for the acknowledgement of the setup read (queue state, ASB).
    ParPortCtl& control() { return m_control; }

private:
    ConnectionSettings m_settings;
    ConnectionHost m_host;
    ParPortCtl m_control;
};
