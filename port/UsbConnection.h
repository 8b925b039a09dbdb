#pragma once
// A USB printer-class printer (usblp's /dev/usb/lp*): the family's printer found by its
// id ("USB"), or the node the technician named. Requests and answers share the ONE open
// descriptor: usblp refuses a second open of its node while the first is held. Answers
// are delivered decoded (the printer sends 00 as 1B 30 and 1B as 1B 1B).
#include "port/PortBackedConnection.h"
#include "port/UsbReplyDecoder.h"

#include <vector>

class UsbConnection final : public PortBackedConnection {
public:
    using PortBackedConnection::PortBackedConnection;

    PortKind kind() const override { return PortKind::Usb; }
    // "USB printer /dev/usb/lp0" once the node is known, "USB printer" before.
    std::string describe() const override;
    IoResult open() override;
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;

private:
    UsbReplyDecoder m_decoder;
    std::vector<std::uint8_t> m_decoded; // decoded bytes that did not fit the caller's buffer
};
