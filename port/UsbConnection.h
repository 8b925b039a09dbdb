#pragma once
// A USB printer-class printer (usblp's /dev/usb/lp*): the family's printer found by its
// id ("USB"), or the node the technician named. Requests and answers share the ONE open
// descriptor, which the connection owns: usblp refuses a second open of its node while the
// first is held. Answers are delivered decoded (the printer sends 00 as 1B 30 and 1B as
// 1B 1B).
#include "common/UniqueFd.h"
#include "port/DeviceConnection.h"
#include "port/DeviceDiscovery.h"
#include "port/UsbReplyDecoder.h"

#include <vector>

class UsbConnection final : public DeviceConnection {
public:
    UsbConnection(const ConnectionSettings& settings, ConnectionHost host);
    ~UsbConnection() override;

    PortKind kind() const override { return PortKind::Usb; }
    // "USB printer /dev/usb/lp0" once the node is known, "USB printer" before.
    std::string describe() const override;
    // "USB": OpenUsbPrinter with the open ids of the model family (families 5 and 6 try their
    // second id too); a node path opens that node ("CreateFile Fail [%d]" logged when it
    // refuses). No printer with the ids: ENODEV, with the ids named in the message.
    IoResult open() override;
    bool isOpen() const override { return m_fd.valid(); }
    void close() override;
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;

    // The node of the last open: the one opened, or the family's node that refused (empty
    // when no printer with the ids is attached).
    const std::string& devicePath() const { return m_devicePath; }

private:
    // The fd, or -1 with the errno in m_lastError.
    int openNode();

    DeviceRoots m_roots;
    UniqueFd m_fd;
    std::string m_devicePath;
    int m_lastError = 0;
    UsbReplyDecoder m_decoder;
    std::vector<std::uint8_t> m_decoded; // decoded bytes that did not fit the caller's buffer
};
