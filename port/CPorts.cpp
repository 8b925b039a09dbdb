#include "port/CPorts.h"

#include "port/ConnectionTraits.h"

#include "port/DeadlineIo.h"
#include "port/ParallelDevice.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/MessageTarget.h"
#include "app/Prompter.h"
#include "common/UniqueFd.h"
#include "port/SerialLine.h"

#include "app/ConnectionRules.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

// A second Open on an open COM port waits this long after closing the old fd, so that a
// USB serial adapter has re-armed before it is opened again.
constexpr milliseconds kReopenWait{1000};
// ThreadWatchComm reads at most this many bytes per block.
constexpr int kWatchBlock = 2048;
// A device whose line is gone (hang-up) keeps reporting it; the watch thread looks again
// after this pause instead of spinning.
constexpr int kHangupPauseMs = 100;

// The bytes waiting on a serial fd (at most capacity), read without waiting; 0 when none.
int readWaiting(int fd, std::uint8_t* buffer, int capacity)
{
    if (fd < 0 || !buffer || capacity <= 0)
        return 0;
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0)
        return 0;
    int want = std::min(waiting, capacity);
    ssize_t n;
    do {
        n = ::read(fd, buffer, static_cast<size_t>(want));
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : 0;
}

void signalEvent(int fd)
{
    std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

} // namespace

// What a watch thread shares with the CPorts that started it. The thread holds io while it
// waits on or reads the fd; Close sets stop, wakes it and takes io before the fd goes, so
// the thread never touches a closed (or reused) fd and never pushes after Close.
struct CPorts::WatchState {
    std::mutex io;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    UniqueFd wake;
    int fd = -1;
};

CPorts::CPorts(Prompter& prompter, Clock& clock, CErrorLog& log)
    : CPorts(prompter, clock, log, DeviceRoots::fromEnvironment())
{
}

CPorts::CPorts(Prompter& prompter, Clock& clock, CErrorLog& log, DeviceRoots roots)
    : m_prompter(prompter), m_clock(clock), m_log(log), m_roots(std::move(roots)),
      m_rxSignal(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

CPorts::~CPorts()
{
    m_hNotifyWnd = nullptr;
    Close();
    reapWatchThreads(true);
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
    return s;
}

std::string CPorts::LastErrorText() const
{
    std::string what = m_PortName.empty() ? std::string("no port named") : m_PortName;
    if (m_lastError == 0)
        return what;
    return what + ": " + std::strerror(m_lastError);
}

int CPorts::Open()
{
    reapWatchThreads(false);
    m_lastError = 0;
    m_lineHungUp = false;
    m_outputStuck = false;
    PortKind kind = portKindOf(m_PortName);
    if (kind != PortKind::Serial && m_hPort >= 0)
        Close(); // a port left open would otherwise leak its fd
    switch (kind) {
    case PortKind::Serial: return openSerial();
    case PortKind::Parallel: return openParallel();
    case PortKind::PrintToFile: {
        auto name = m_prompter.askOutputFileName();
        m_PortName = name && !name->empty() ? *name : "temp.prn";
        return openFile(m_PortName);
    }
    case PortKind::File:
        if (m_PortName.empty())
            break; // nothing to open: the same log line as any other unopenable name
        return openFile(m_PortName);
    case PortKind::Usb: return openUsb();
    case PortKind::Ethernet:
    case PortKind::Wifi: break;
    }
    m_hPort = -1;
    m_log.WriteLog("CPorts::Open() Invalid Handle\r\n");
    return 0;
}

int CPorts::openSerial()
{
    if (m_PortName.empty() || m_BaudRate == -1 || m_ByteSize == -1 || m_FlowCtrl == -1 || m_Parity == -1) {
        m_lastError = EINVAL;
        return 0;
    }
    if (m_hPort >= 0) {
        stopWatchThread();
        ::close(m_hPort);
        m_hPort = -1;
        m_IsOpen = 0;
        if (m_openKind == PortKind::Usb)
            CloseUsbDeviceList();
        m_log.WriteLog("CPorts::Open() CloseHandle run\r\n");
        m_clock.sleep(kReopenWait);
    }
    std::string path = devicePathOf(m_PortName);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    // No sharing: a second tool on the same port would steal the printer's answers. flock
    // only stops programs that ask for it; TIOCEXCL makes the kernel refuse every other
    // open of the tty until Close.
    if (!fd) {
        m_lastError = errno;
        m_log.WriteLog("CPorts::Open() CreateFile error\r\n");
        return 0;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        m_lastError = errno == EWOULDBLOCK ? EBUSY : errno;
        m_log.WriteLog("CPorts::Open() CreateFile error\r\n");
        return 0;
    }
    (void)::ioctl(fd.get(), TIOCEXCL);
    // The deadlines of Write and the watch thread's poll need a non-blocking fd.
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        m_log.WriteLog("CPorts::Open() SetComTimeouts failed.\r\n");
        return 0;
    }
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) {
        m_lastError = errno;
        m_log.WriteLog("CPorts::Open() GetCommState failed.\r\n");
        return 0;
    }
    if (!termiosForSettings(tio, {m_BaudRate, m_ByteSize, m_Parity, m_StopBits, m_FlowCtrl})) {
        m_lastError = EINVAL;
        m_log.WriteLog("CPorts::Open() SetCommstate failed(%d).\r\n", EINVAL);
        return 0;
    }
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        m_lastError = errno;
        m_log.WriteLog("CPorts::Open() SetCommstate failed(%d).\r\n", errno);
        return 0;
    }
    // H/W: DTR and RTS up so the printer may send; none: both lines down. A pty has no
    // modem lines and refuses these; that is no reason to fail.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (m_FlowCtrl == 1)
        (void)::ioctl(fd.get(), TIOCMBIS, &lines);
    else if (m_FlowCtrl == 3)
        (void)::ioctl(fd.get(), TIOCMBIC, &lines);
    ::tcflush(fd.get(), TCIOFLUSH);

    m_hPort = fd.release();
    m_openKind = PortKind::Serial;
    m_IsOpen = 1;
    m_KeepWatching = 1;
    if (m_alwaysWatch || m_Function == 2 || (m_Function == 3 && m_ModelFamily == kFamilyTavro15)) {
        if (!startWatchThread()) {
            Close();
            return 0;
        }
    }
    return 1;
}

int CPorts::openParallel()
{
    std::string path = devicePathOf(m_PortName);
    int fd = openParallelDevice(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = errno;
        m_log.WriteLog("CPorts::Open() CreateFile error\r\n");
        return 0;
    }
    m_hPort = fd;
    m_openKind = PortKind::Parallel;
    m_IsOpen = 1;
    m_KeepWatching = 1;
    return 1;
}

int CPorts::openFile(const std::string& name)
{
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_lastError = errno;
        return 0;
    }
    m_hPort = fd;
    m_openKind = PortKind::File;
    m_IsOpen = 1;
    m_KeepWatching = 1;
    return 1;
}

int CPorts::openUsb()
{
    if (toUpperAscii(m_PortName) != "USB") {
        // A node the technician named: that printer, whatever its id.
        int fd = ::open(m_PortName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            m_lastError = errno;
            m_log.WriteLog("CreateFile Fail [%d]", errno);
            return 0;
        }
        m_DevicePath = m_PortName;
        m_hPort = fd;
        m_openKind = PortKind::Usb;
        m_IsOpen = 1;
        m_KeepWatching = 1;
        return 1;
    }
    std::vector<std::string> ids = usbOpenIds(m_ModelFamily);
    int fd = -1;
    for (const auto& id : ids) {
        fd = OpenUsbPrinter(id, m_DevicePath, m_log, m_roots);
        if (fd >= 0)
            break;
    }
    m_hPort = fd;
    if (fd < 0) {
        // ENODEV: no printer with the family's ids is attached; else why its node refused.
        m_lastError = ENODEV;
        for (const auto& printer : listUsbPrinters(m_roots)) {
            if (std::none_of(ids.begin(), ids.end(), [&](const std::string& id) { return hardwareIdMatches(printer.hardwareId, id); }))
                continue;
            int probe = ::open(printer.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            m_lastError = probe < 0 ? errno : EBUSY;
            if (probe >= 0)
                ::close(probe);
            m_DevicePath = printer.node;
            break;
        }
        if (m_lastError == ENODEV)
            m_DevicePath.clear();
        return 0;
    }
    m_openKind = PortKind::Usb;
    m_IsOpen = 1;
    m_KeepWatching = 1;
    return 1;
}

int CPorts::Close()
{
    if (m_hUsbRead >= 0) {
        ::close(m_hUsbRead);
        m_hUsbRead = -1;
    }
    m_KeepWatching = 0;
    stopWatchThread();
    reapWatchThreads(false);
    if (m_hPort < 0)
        return 0;
    if (m_openKind == PortKind::Serial) {
        // Bytes a printer never took would hold close() for the kernel's closing wait
        // (30 s on a UART): drop them, the write was already reported as failed.
        if (m_outputStuck)
            ::tcflush(m_hPort, TCOFLUSH);
        (void)::ioctl(m_hPort, TIOCNXCL);
    }
    ::close(m_hPort);
    m_hPort = -1;
    m_IsOpen = 0;
    if (m_openKind == PortKind::Usb && UsbDeviceListHeld())
        CloseUsbDeviceList();
    return 1;
}

int CPorts::Write(const std::uint8_t* data, int length)
{
    if (m_hPort < 0 || length <= 0 || !data)
        return 0;
    if (m_openKind == PortKind::File) {
        int written = 0;
        while (written < length) {
            ssize_t n = ::write(m_hPort, data + written, static_cast<size_t>(length - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return 0;
            written += static_cast<int>(n);
        }
        return written;
    }
    const milliseconds deadline = connectionTraits(m_openKind).writeDeadline(std::size_t(length));
    auto until = steady_clock::now() + deadline;
    int written = writeDevice(data, length, deadline, true);
    if (m_openKind != PortKind::Serial || written <= 0)
        return written;
    // A UART takes a short write into the kernel's buffer at once; only bytes that left
    // the line count, so a printer holding CTS off is a time-out, not a success.
    int queued = drainSerialOutput(m_hPort, until);
    if (queued > 0) {
        m_outputStuck = true;
        m_log.WriteLog("WriteFile Time-out!");
        return std::max(0, written - queued);
    }
    return written;
}

int CPorts::writeDevice(const std::uint8_t* data, int length, milliseconds allowed, bool logFailures)
{
    const auto until = steady_clock::now() + allowed;
    DeadlineWrite w = writeBefore(m_hPort, data, length, until);
    if (m_openKind == PortKind::Usb)
        awaitWritable(m_hPort, w, until, milliseconds::max());
    if (w.error != 0 && w.written == 0) {
        if (logFailures)
            m_log.WriteLog("WriteFile get error result [%d]", w.error);
        return 0;
    }
    // A deadline that passed, or a device that failed part-way, gives the count so far.
    if ((w.timedOut || w.error != 0) && logFailures)
        m_log.WriteLog("WriteFile Time-out!");
    return w.written;
}

int CPorts::ReadBlock(std::uint8_t* buffer, int capacity)
{
    if (m_openKind != PortKind::Serial)
        return 0;
    return readWaiting(m_hPort, buffer, capacity);
}

int CPorts::PumpReceived()
{
    int queued = 0;
    std::uint8_t block[kWatchBlock];
    for (;;) {
        int n = ReadBlock(block, kWatchBlock);
        if (n <= 0)
            break;
        if (CByteQueue::kSize - m_QueueRead.Count() > n) {
            for (int i = 0; i < n; ++i)
                m_QueueRead.Push(block[i]);
            queued += n;
        } else {
            m_prompter.message(catalogText(41));
        }
    }
    return queued;
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

void CPorts::notify()
{
    if (MessageTarget* target = m_hNotifyWnd.load())
        target->SendMessage(WM_RECEIVE_NOTIFY, 0, 0);
}

bool CPorts::startWatchThread()
{
    auto state = std::make_shared<WatchState>();
    state->wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!state->wake) {
        // The thread cannot wait without its wake-up; the port stays open unwatched.
        m_prompter.message(std::string(catalogText(40)) + m_PortName);
        return true;
    }
    state->fd = m_hPort;
    try {
        m_hWatchThread = std::thread(&CPorts::ThreadWatchComm, this, state);
    } catch (const std::system_error&) {
        return false;
    }
    m_watch = std::move(state);
    return true;
}

void CPorts::stopWatchThread()
{
    if (!m_watch)
        return;
    m_watch->stop = true;
    signalEvent(m_watch->wake.get());
    {
        // Waits only for a poll that the wake-up has just ended, or a read in progress;
        // never for a notification (the thread does not hold io while it notifies).
        std::lock_guard lock(m_watch->io);
    }
    m_retired.emplace_back(std::move(m_hWatchThread), std::move(m_watch));
    m_watch.reset();
}

void CPorts::reapWatchThreads(bool all)
{
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (all || it->second->ended) {
            if (it->first.joinable())
                it->first.join();
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

bool CPorts::WatchThreadActive() const
{
    if (m_watch && !m_watch->ended)
        return true;
    return std::any_of(m_retired.begin(), m_retired.end(), [](const auto& r) { return !r.second->ended; });
}

void CPorts::ThreadWatchComm(CPorts* ports, std::shared_ptr<WatchState> state)
{
    std::uint8_t block[kWatchBlock];
    std::unique_lock lock(state->io);
    while (!state->stop && ports->m_IsOpen && ports->m_KeepWatching) {
        pollfd fds[2] = {{state->fd, POLLIN, 0}, {state->wake.get(), POLLIN, 0}};
        int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || state->stop || (fds[1].revents & POLLIN))
            break;
        // A pty whose far end closed reports POLLIN with its POLLHUP, but has nothing to
        // read (a read gives EIO): that is a hang-up too, not data.
        int waiting = 0;
        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) &&
                      (!(fds[0].revents & POLLIN) || ::ioctl(state->fd, FIONREAD, &waiting) != 0 || waiting <= 0);
        if (hungUp || !(fds[0].revents & POLLIN)) {
            // Hang-up or error without data: the line is gone for now. Readers hear of it at
            // once instead of waiting out their answer time.
            ports->m_lineHungUp = true;
            signalEvent(ports->m_rxSignal.get());
            lock.unlock();
            pollfd w{state->wake.get(), POLLIN, 0};
            ::poll(&w, 1, kHangupPauseMs);
            lock.lock();
            continue;
        }
        int dropped = 0;
        for (;;) {
            int got = readWaiting(state->fd, block, kWatchBlock);
            if (got <= 0)
                break;
            if (CByteQueue::kSize - ports->m_QueueRead.Count() > got) {
                for (int i = 0; i < got; ++i)
                    ports->m_QueueRead.Push(block[i]);
            } else {
                ++dropped;
            }
        }
        lock.unlock();
        signalEvent(ports->m_rxSignal.get());
        for (int i = 0; i < dropped; ++i)
            ports->m_prompter.message(catalogText(41));
        if (state->stop) {
            lock.lock();
            break;
        }
        ports->notify();
        lock.lock();
    }
    state->ended = true;
}
