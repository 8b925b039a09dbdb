#include "port/CPorts.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "port/FileConnection.h"
#include "port/SerialConnection.h"
#include "port/UsbConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace std::chrono;

namespace {

// A second Open on an open COM port waits this long after closing the old fd, so that a
// USB serial adapter has re-armed before it is opened again.
constexpr milliseconds kReopenWait{1000};

} // namespace

CPorts::CPorts(Prompter& prompter, Clock& clock, CErrorLog& log)
    : CPorts(prompter, clock, log, DeviceRoots::fromEnvironment())
{
}

CPorts::CPorts(Prompter& prompter, Clock& clock, CErrorLog& log, DeviceRoots roots)
    : m_prompter(prompter), m_clock(clock), m_log(log), m_roots(std::move(roots))
{
}

CPorts::~CPorts()
{
    m_hNotifyWnd = nullptr;
    Close();
    // The connections' watch threads use m_QueueRead and m_hNotifyWnd: they end first.
    m_connection.reset();
    reapRetired(true);
}

void CPorts::Configure(const ConnectionSettings& s)
{
    m_PortName = s.portName;
    m_ModelFamily = s.modelFamily;
    if (s.baudRate != -1)
        m_BaudRate = s.baudRate;
    if (s.byteSize != -1)
        m_ByteSize = s.byteSize;
    if (s.parity != -1)
        m_Parity = s.parity;
    if (s.flowCtrl != -1)
        m_FlowCtrl = s.flowCtrl;
    m_StopBits = s.stopBits;
    m_host = s.host;
    m_tcpPort = s.tcpPort;
    m_outputFile = s.outputFile;
    m_interfaceKind = s.interfaceKind;
}

ConnectionSettings CPorts::Settings() const
{
    ConnectionSettings s;
    s.portName = m_PortName;
    s.modelFamily = m_ModelFamily;
    s.baudRate = m_BaudRate;
    s.byteSize = m_ByteSize;
    s.parity = m_Parity;
    s.stopBits = m_StopBits;
    s.flowCtrl = m_FlowCtrl;
    s.host = m_host;
    s.tcpPort = m_tcpPort;
    s.outputFile = m_outputFile;
    s.interfaceKind = m_interfaceKind;
    return s;
}

std::string CPorts::LastErrorText() const
{
    std::string what = m_PortName.empty() ? std::string("no port named") : m_PortName;
    if (m_lastError == 0)
        return what;
    return what + ": " + std::strerror(m_lastError);
}

ConnectionHost CPorts::host() { return ConnectionHost{m_clock, m_prompter, m_log, nullptr, &m_roots}; }

SerialConnection* CPorts::serial() const
{
    return m_connection && m_connection->kind() == PortKind::Serial ? static_cast<SerialConnection*>(m_connection.get())
                                                                     : nullptr;
}

int CPorts::Open()
{
    reapRetired(false);
    m_lastError = 0;
    const PortKind kind = portKindOf(m_PortName);
    const bool held = m_connection && m_connection->isOpen();
    if (kind == PortKind::Serial) {
        if (!SerialDevice::settingsComplete(m_PortName, {m_BaudRate, m_ByteSize, m_Parity, m_StopBits, m_FlowCtrl})) {
            m_lastError = EINVAL;
            return 0;
        }
        if (held) {
            Close();
            m_log.WriteLog("CPorts::Open() CloseHandle run\r\n");
            m_clock.sleep(kReopenWait);
        }
    } else if (held) {
        Close(); // a port left open would otherwise leak its fd
    }
    if (kind == PortKind::Ethernet || kind == PortKind::Wifi) {
        m_log.WriteLog("CPorts::Open() Invalid Handle\r\n");
        return 0;
    }

    retire(std::move(m_connection));
    m_connection = makeConnection(Settings(), host());
    if (SerialConnection* line = serial()) {
        line->device().lendReceivePath(m_QueueRead, m_hNotifyWnd);
        line->setReceiveThread(m_Function == 2 || (m_Function == 3 && m_ModelFamily == kFamilyTavro15));
    }
    IoResult opened = m_connection->open();
    if (kind == PortKind::PrintToFile)
        m_PortName = static_cast<FileConnection&>(*m_connection).fileName();
    if (kind == PortKind::Usb)
        m_DevicePath = static_cast<UsbConnection&>(*m_connection).devicePath();
    if (!opened) {
        m_lastError = opened.error();
        if (kind == PortKind::Parallel)
            m_log.WriteLog("CPorts::Open() CreateFile error\r\n");
        return 0;
    }
    m_openKind = kind == PortKind::PrintToFile ? PortKind::File : kind;
    if (SerialConnection* line = serial())
        m_hPort = line->device().fd();
    m_IsOpen = 1;
    return 1;
}

int CPorts::Close()
{
    if (m_hUsbRead >= 0) {
        ::close(m_hUsbRead);
        m_hUsbRead = -1;
    }
    reapRetired(false);
    if (!m_connection || !m_connection->isOpen())
        return 0;
    m_connection->close();
    m_hPort = -1;
    m_IsOpen = 0;
    return 1;
}

int CPorts::Write(const std::uint8_t* data, int length)
{
    if (!m_connection || !m_connection->isOpen() || length <= 0 || !data)
        return 0;
    const milliseconds deadline = m_connection->traits().writeDeadline(std::size_t(length));
    if (SerialConnection* line = serial())
        return line->device().write(data, length, deadline);
    // The per-byte deadline is the only bound, as it always was for these callers: a printer
    // that takes nothing for a while is not given up on before it.
    m_connection->setStallLimit(deadline);
    IoResult r = m_connection->write({data, std::size_t(length)}, deadline);
    if (r)
        return static_cast<int>(r.count());
    if (m_connection->kind() == PortKind::File)
        return 0;
    if (r.count() == 0 && r.error() != 0) {
        m_log.WriteLog("WriteFile get error result [%d]", r.error());
        return 0;
    }
    // A deadline that passed, or a device that failed part-way, gives the count so far.
    m_log.WriteLog("WriteFile Time-out!");
    return static_cast<int>(r.count());
}

int CPorts::ReadBlock(std::uint8_t* buffer, int capacity)
{
    SerialConnection* line = serial();
    return line && line->isOpen() ? line->device().readBlock(buffer, capacity) : 0;
}

int CPorts::PumpReceived()
{
    SerialConnection* line = serial();
    return line && line->isOpen() ? line->device().pumpReceived() : 0;
}

std::vector<std::string> CPorts::EnumPorts(bool parallel)
{
    if (parallel)
        return listParallelPorts(m_roots).names;
    PortList list = listSerialPorts(m_roots);
    if (!list.ok)
        m_log.WriteLog("Registry open fail");
    return list.names;
}

bool CPorts::WatchThreadStarted() const
{
    SerialConnection* line = serial();
    return line && line->device().watchThreadStarted();
}

bool CPorts::WatchThreadActive() const
{
    if (SerialConnection* line = serial(); line && line->device().watchThreadActive())
        return true;
    return std::any_of(m_retired.begin(), m_retired.end(), [](const auto& c) {
        return static_cast<SerialConnection&>(*c).device().watchThreadActive();
    });
}

void CPorts::connectionOpened(PortKind kind, const std::string& name)
{
    if (kind == PortKind::File)
        m_PortName = name;
    m_IsOpen = 1;
}

void CPorts::connectionClosed() { m_IsOpen = 0; }

void CPorts::retire(std::unique_ptr<PrinterConnection> connection)
{
    if (!connection)
        return;
    if (connection->isOpen())
        connection->close();
    if (connection->kind() == PortKind::Serial &&
        static_cast<SerialConnection&>(*connection).device().watchThreadActive())
        m_retired.push_back(std::move(connection));
}

void CPorts::reapRetired(bool all)
{
    std::erase_if(m_retired, [all](const auto& c) {
        return all || !static_cast<SerialConnection&>(*c).device().watchThreadActive();
    });
}
