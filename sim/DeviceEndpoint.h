#pragma once
// The printer's side of a real device node: the USB printer gadget node (/dev/g_printer0),
// the USB serial gadget tty (/dev/ttyGS0), a serial port given by path (a UART on a null-modem
// cable, with the printer's own line settings put on it) or the far end of a parallel port
// (a FIFO or tty onto which a virtual machine's parallel port is wired; nothing goes back).
//
// A USB gadget can restart with the printer: the gadget's UDC attribute (configfs) is cleared,
// which unplugs the device from the host as a power cycle would, and written again when the
// printer is back. When the node fails (the host side went away, the gadget was unbound by
// someone else) it is closed and opened again as soon as it can be.
//
// Threads: the event loop's thread only.
#include "common/UniqueFd.h"
#include "sim/Endpoint.h"
#include "sim/PrinterLink.h"

#include <memory>
#include <string>

// The line settings a serial printer port is set to: "9600,7E2" style.
struct LineSettings {
    int baud = 0;        // 0: leave the line rate as it is
    int dataBits = 8;    // 5..8
    char parity = 'N';   // N, E, O
    int stopBits = 1;    // 1, 2
    bool rtscts = false; // hardware handshake ("H" after the format)

    // Parses "BAUD[,FORMAT[H]]" such as "115200", "9600,7E2", "19200,8N1H".
    static bool parse(const std::string& text, LineSettings* out, std::string* error);
    std::string text() const;
};

struct DeviceSpec {
    enum class Kind { UsbPrinterGadget, UsbSerialGadget, Tty, ParallelFarEnd };
    Kind kind = Kind::Tty;
    std::string path;     // the node the printer's side opens
    std::string udcFile;  // USB gadgets: <configfs>/usb_gadget/NAME/UDC, "" = no restart by unbind
    LineSettings line;    // Tty

    // Parses the text of the command-line switch: "PATH[,UDC_FILE]" for the gadgets,
    // "PATH[,BAUD[,FORMAT]]" for a tty, "PATH" for the parallel far end.
    static bool parse(Kind kind, const std::string& text, DeviceSpec* out, std::string* error);
    const char* via() const;
};

class DeviceEndpoint final : public Endpoint {
public:
    DeviceEndpoint(SimHost& host, DeviceSpec deviceSpec);
    ~DeviceEndpoint() override;

    // Opens the node and applies the line settings. Returns false with a reason.
    bool up(SimTime now, std::string* error);
    bool isUp() const { return m_fd.valid(); }
    const DeviceSpec& deviceSpec() const { return m_spec; }

    void addPollFds(std::vector<pollfd>& fds, SimTime now) override;
    void onReady(const pollfd& ready, SimTime now) override;
    void tick(SimTime now) override;
    std::optional<SimTime> nextDeadline() const override;
    void printerRestarting(SimTime now, SimTime until) override;
    void shutdown() override;

    // Applies line settings to an open tty and reads them back: false with a reason when the
    // tty does not take them (the printer would see garbage).
    static bool applyLine(int fd, const LineSettings& line, bool isTty, std::string* error);

private:
    void down(const std::string& why);
    void unplug(SimTime now);
    bool outputDrained() const;
    void flushOutput(SimTime now);
    bool writeUdc(const std::string& value, std::string* error);

    SimHost& m_host;
    DeviceSpec m_spec;
    UniqueFd m_fd;
    std::unique_ptr<PrinterLink> m_link;
    std::string m_udcName;                // what UDC held when the printer came up
    std::optional<SimTime> m_unplugBy;    // printer restart: unplug once the replies are out, at the latest then
    std::optional<SimTime> m_backAt;      // printer restart: bind again then
    std::optional<SimTime> m_retryAt;     // node failed or not there yet: open again then
    bool m_restarting = false;
    bool m_reportedMissing = false;
};
