#include "port/SerialDevice.h"

#include "common/EventFd.h"
#include "app/CErrorLog.h"
#include "app/MessageCatalog.h"
#include "app/MessageTarget.h"
#include "app/PortName.h"
#include "app/Prompter.h"
#include "port/DeadlineIo.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

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


} // namespace

// What a watch thread shares with the device that started it. The thread holds io while it
// waits on or reads the fd; close() sets stop, wakes it and takes io before the fd goes, so
// the thread never touches a closed (or reused) fd and never pushes after close().
struct SerialDevice::WatchState {
    std::mutex io;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    UniqueFd wake;
    int fd = -1;
};

SerialDevice::SerialDevice(Prompter& prompter, CErrorLog& log)
    : m_prompter(prompter), m_log(log), m_rxSignal(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

SerialDevice::~SerialDevice()
{
    close();
    reapWatchThreads(true);
}

bool SerialDevice::settingsComplete(const std::string& portName, const SerialSettings& s)
{
    return !portName.empty() && s.baudRate != -1 && s.byteSize != -1 && s.flowCtrl != -1 && s.parity != -1;
}

void SerialDevice::lendReceivePath(CByteQueue& queue, std::atomic<MessageTarget*>& notifyTarget)
{
    m_queue = &queue;
    m_notifyTarget = &notifyTarget;
}

int SerialDevice::open(const std::string& portName, const SerialSettings& settings, bool watch)
{
    reapWatchThreads(false);
    m_lastError = 0;
    if (!settingsComplete(portName, settings)) {
        m_lastError = EINVAL;
        return 0;
    }
    close();
    m_lineHungUp = false;
    m_outputStuck = false;
    std::string path = devicePathOf(portName);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    // No sharing: a second tool on the same port would steal the printer's answers. flock
    // only stops programs that ask for it; TIOCEXCL makes the kernel refuse every other
    // open of the tty until close.
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
    // The deadlines of write and the watch thread's poll need a non-blocking fd.
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
    if (!termiosForSettings(tio, settings)) {
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
    if (settings.flowCtrl == 1)
        (void)::ioctl(fd.get(), TIOCMBIS, &lines);
    else if (settings.flowCtrl == 3)
        (void)::ioctl(fd.get(), TIOCMBIC, &lines);
    ::tcflush(fd.get(), TCIOFLUSH);

    m_fd = std::move(fd);
    if (watch && !startWatchThread(portName)) {
        close();
        return 0;
    }
    return 1;
}

int SerialDevice::close()
{
    stopWatchThread();
    reapWatchThreads(false);
    if (!m_fd)
        return 0;
    // Bytes a printer never took would hold close() for the kernel's closing wait (30 s on
    // a UART): drop them, the write was already reported as failed.
    if (m_outputStuck)
        ::tcflush(m_fd.get(), TCOFLUSH);
    (void)::ioctl(m_fd.get(), TIOCNXCL);
    m_fd.reset();
    return 1;
}

int SerialDevice::write(const std::uint8_t* data, int length, milliseconds deadline)
{
    if (!m_fd || length <= 0 || !data)
        return 0;
    const auto until = steady_clock::now() + deadline;
    DeadlineWrite w = writeBefore(m_fd.get(), data, length, until);
    if (w.error != 0 && w.written == 0) {
        m_log.WriteLog("WriteFile get error result [%d]", w.error);
        return 0;
    }
    // A deadline that passed, or a device that failed part-way, gives the count so far.
    if (w.timedOut || w.error != 0)
        m_log.WriteLog("WriteFile Time-out!");
    if (w.written <= 0)
        return w.written;
    // A UART takes a short write into the kernel's buffer at once; only bytes that left
    // the line count, so a printer holding CTS off is a time-out, not a success.
    int queued = drainSerialOutput(m_fd.get(), until);
    if (queued > 0) {
        m_outputStuck = true;
        m_log.WriteLog("WriteFile Time-out!");
        return std::max(0, w.written - queued);
    }
    return w.written;
}

int SerialDevice::readBlock(std::uint8_t* buffer, int capacity) { return readWaiting(m_fd.get(), buffer, capacity); }

int SerialDevice::pumpReceived()
{
    int queued = 0;
    std::uint8_t block[kWatchBlock];
    for (;;) {
        int n = readBlock(block, kWatchBlock);
        if (n <= 0)
            break;
        if (CByteQueue::kSize - m_queue->Count() > n) {
            for (int i = 0; i < n; ++i)
                m_queue->Push(block[i]);
            queued += n;
        } else {
            m_prompter.message(catalogText(Msg::ReceiveQueueFull));
        }
    }
    return queued;
}

void SerialDevice::notify()
{
    if (MessageTarget* target = m_notifyTarget->load())
        target->SendMessage(WM_RECEIVE_NOTIFY, 0, 0);
}

bool SerialDevice::startWatchThread(const std::string& portName)
{
    auto state = std::make_shared<WatchState>();
    state->wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!state->wake) {
        // The thread cannot wait without its wake-up; the port stays open unwatched.
        m_prompter.message(std::string(catalogText(Msg::WatchThreadError)) + portName);
        return true;
    }
    state->fd = m_fd.get();
    try {
        m_watchThread = std::thread(&SerialDevice::ThreadWatchComm, this, state);
    } catch (const std::system_error&) {
        return false;
    }
    m_watch = std::move(state);
    return true;
}

void SerialDevice::stopWatchThread()
{
    if (!m_watch)
        return;
    m_watch->stop = true;
    signalEventFd(m_watch->wake.get());
    {
        // Waits only for a poll that the wake-up has just ended, or a read in progress;
        // never for a notification (the thread does not hold io while it notifies).
        std::lock_guard lock(m_watch->io);
    }
    m_retired.emplace_back(std::move(m_watchThread), std::move(m_watch));
    m_watch.reset();
}

void SerialDevice::reapWatchThreads(bool all)
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

bool SerialDevice::watchThreadActive() const
{
    if (m_watch && !m_watch->ended)
        return true;
    return std::any_of(m_retired.begin(), m_retired.end(), [](const auto& r) { return !r.second->ended; });
}

void SerialDevice::ThreadWatchComm(SerialDevice* device, std::shared_ptr<WatchState> state)
{
    std::uint8_t block[kWatchBlock];
    CByteQueue& queue = *device->m_queue;
    std::unique_lock lock(state->io);
    while (!state->stop) {
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
            device->m_lineHungUp = true;
            signalEventFd(device->m_rxSignal.get());
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
            if (CByteQueue::kSize - queue.Count() > got) {
                for (int i = 0; i < got; ++i)
                    queue.Push(block[i]);
            } else {
                ++dropped;
            }
        }
        lock.unlock();
        signalEventFd(device->m_rxSignal.get());
        for (int i = 0; i < dropped; ++i)
            device->m_prompter.message(catalogText(Msg::ReceiveQueueFull));
        if (state->stop) {
            lock.lock();
            break;
        }
        device->notify();
        lock.lock();
    }
    state->ended = true;
}
