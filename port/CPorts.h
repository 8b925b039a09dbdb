#pragma once
// CPorts: the port object of the desktop tool's dialogs and tavroctl, with the names they
// know: the connection settings that the connection dialog (or tavroctl's options) write and
// every tool reads, and Open, Write, Close of the printer they name, over a serial port, a
// parallel port, a USB printer-class device or an output file. It is a facade: Open makes
// one PrinterConnection (makeConnection) from the settings and the connection owns the
// device; CPorts holds no device of its own and no state is shared with other connections,
// so a tool's jobs may open connections of their own beside it. Network connections
// ("ETHERNET_II") do not go through it: callers test portKindOf(m_PortName) and use
// port/EthernetLink.h or a NetworkConnection instead.
//
// Threads: the owner's thread (the GUI thread in the desktop tool) calls every operation.
// ThreadWatchComm, started by Open for COM in user setup and in the TAVRO15 firmware
// download, is the only producer of m_QueueRead while it runs; the owner pops from
// m_QueueRead inside its WM_RECEIVE_NOTIFY handler.
#include "app/ConnectionRules.h"
#include "app/PortName.h"
#include "port/CByteQueue.h"
#include "port/DeviceDiscovery.h"
#include "port/PrinterConnection.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CErrorLog;
class Clock;
struct ConnectionSettings;
class MessageTarget;
class Prompter;
class SerialConnection;

class CPorts final : public ConnectionObserver {
public:
    // The host services are lent for the object's lifetime: theErrorLog() and
    // SystemClock::instance() in the programs. The device roots (for "USB" and EnumPorts)
    // are read from the environment once, here; tests pass their own.
    CPorts(Prompter& prompter, Clock& clock, CErrorLog& log);
    CPorts(Prompter& prompter, Clock& clock, CErrorLog& log, DeviceRoots roots);
    // Clears m_hNotifyWnd, closes the port and waits for the watch threads to end.
    ~CPorts();
    CPorts(const CPorts&) = delete;
    CPorts& operator=(const CPorts&) = delete;

    // Takes a connection's settings into the fields: m_PortName, m_ModelFamily, the network
    // address and the output file always, the serial settings only where they are given
    // (not -1), so that a parallel, USB or network choice leaves those of an earlier serial
    // choice as they were. The one place that copies settings into CPorts.
    void Configure(const ConnectionSettings& settings);
    // The settings the fields hold now (the inverse of Configure). A network printer
    // configured without an address uses the one the network dialog handed to the network
    // library.
    ConnectionSettings Settings() const;

    // Opens the port named by m_PortName with the stored settings. 1 opened, 0 failed (the
    // reason is in the error log; the caller shows its own message).
    //  - serial ("COMn" or a tty path): fails at once when m_PortName is empty or a setting
    //    is still -1; raw termios from the settings, non-blocking fd, input flushed;
    //    ThreadWatchComm started when m_Function is 2, or 3 with m_ModelFamily 2. A second
    //    Open while a port is held closes it, logs and waits 1000 ms on the Clock.
    //  - parallel ("LPTn" or an lp/parport path): opened; "CPorts::Open() CreateFile
    //    error\r\n" logged when it fails.
    //  - "FILE": asks the Prompter for the output file name ("temp.prn" when none);
    //    m_PortName becomes that name; the file is created or truncated.
    //  - "USB": OpenUsbPrinter with the open id of m_ModelFamily (families 5 and 6 try
    //    their second id too); m_DevicePath keeps the node. A node path under /dev/usb/
    //    opens that node.
    //  - a plain file name: created or truncated.
    //  - anything else ("ETHERNET_II", "WIFI", an empty name): "CPorts::Open() Invalid
    //    Handle\r\n", 0.
    // A serial port is held exclusively (flock and TIOCEXCL) until Close. On failure
    // LastError()/LastErrorText() tell why.
    int Open();
    // errno of the last failed Open (0 when it failed without one) and its text with the port.
    int LastError() const { return m_lastError; }
    std::string LastErrorText() const;
    // 1 when a port was open, else 0. Ends the watch thread at once (it sends no further
    // notification and never touches the fd again), but does not wait for a notification
    // that the thread is handing over at that moment.
    int Close();
    // Writes length bytes. Returns the count written, 0 on failure.
    //  - serial: deadline of 100 ms per byte, covering the bytes leaving the UART (the
    //    kernel's output queue drained); at the deadline the count that left so far
    //    ("WriteFile Time-out!" logged).
    //  - parallel and USB: the same per-byte deadline, at least 10 s.
    //  - files: length, or 0 when not all bytes could be written.
    int Write(const std::uint8_t* data, int length);
    // Serial only: reads the bytes waiting (at most capacity) without waiting. Returns the
    // count, 0 when nothing waits or on error. The owner may call it only while no watch
    // thread runs.
    int ReadBlock(std::uint8_t* buffer, int capacity);
    // The serial (parallel == false) or parallel port names of this machine, as device
    // paths. On a serial listing failure logs "Registry open fail".
    std::vector<std::string> EnumPorts(bool parallel);

    // ThreadWatchComm's work after a receive event: reads 2048-byte blocks until none is
    // left; a block is queued only when 4096 - Count() is greater than its size, else it is
    // dropped and catalog entry 41 is shown. Returns the number of bytes queued. Owner
    // thread only while no watch thread runs (tests).
    int PumpReceived();

    // True when the last serial Open started ThreadWatchComm and the port is still open.
    bool WatchThreadStarted() const;
    // True while a watch thread of this object is still running (also one that Close told
    // to end and that has not yet finished).
    bool WatchThreadActive() const;
    // The kind of the port opened by the last successful Open (meaningful while m_IsOpen).
    PortKind OpenKind() const { return m_openKind; }

    // A connection a tool made from these settings and lent this object to as its observer
    // (ConnectionHost::observer) opened or closed: m_IsOpen follows it, and an output file's
    // name becomes m_PortName, as this object's own Open would have left them.
    void connectionOpened(PortKind kind, const std::string& name) override;
    void connectionClosed() override;
    const DeviceRoots* deviceRoots() const override { return &m_roots; }

    // --- fields (the settings are written by the connection dialog / tavroctl) ---
    int m_hUsbRead = -1;              // never opened: usblp allows one open (kept for callers)
    int m_StopBits = 0;               // 0 one, 1 one and a half, 2 two
    std::string m_DevicePath;         // USB node opened by the last "USB" Open
    std::uint8_t m_Function = 0;      // 1 logo download, 2 user setup, 3 firmware download
    std::atomic<MessageTarget*> m_hNotifyWnd{nullptr}; // gets WM_RECEIVE_NOTIFY
    CByteQueue m_QueueRead;           // what ThreadWatchComm received
    std::atomic<int> m_IsOpen{0};
    ModelFamily m_ModelFamily = ModelFamily::None;
    int m_hPort = -1;                 // the open connection's fd (serial; -1 for other kinds)
    int m_FlowCtrl = -1;              // 1 H/W, 2 S/W, 3 none
    int m_ByteSize = -1;
    int m_Parity = -1;                // 0 none, 1 odd, 2 even
    std::string m_PortName;
    int m_BaudRate = -1;

private:
    ConnectionHost host();
    SerialConnection* serial() const;
    // Keeps a serial connection whose watch thread has not ended yet (it may be handing a
    // notification to this thread), and ends the ones whose thread has.
    void retire(std::unique_ptr<PrinterConnection> connection);
    void reapRetired(bool all);

    Prompter& m_prompter;
    Clock& m_clock;
    CErrorLog& m_log;
    DeviceRoots m_roots;
    PortKind m_openKind = PortKind::File;
    int m_lastError = 0;
    // What Configure took that has no field of its own: the network address, the output
    // file and the interface of the device entry.
    std::string m_host;
    int m_tcpPort = 0;
    std::string m_outputFile;
    int m_interfaceKind = 0;
    std::unique_ptr<PrinterConnection> m_connection;
    std::vector<std::unique_ptr<PrinterConnection>> m_retired;
};
