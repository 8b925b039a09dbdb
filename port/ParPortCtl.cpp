#include "port/ParPortCtl.h"

#include "common/EventFd.h"
#include "port/DeadlineIo.h"
#include "port/ParallelDevice.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/PortName.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

using namespace std::chrono;

namespace {

// The printer gets 5 s to take a written block (paper feed, a cut) before the write counts
// as failed.
constexpr milliseconds kWriteWait{5000};
// ClosePort gives the printer this long to finish an answer before the fd goes.
constexpr milliseconds kCloseWait{100};
// The drains on stop pick up what is already waiting, three reads as the Windows tool did.
constexpr int kStopDrains = 3;
// A pending read looks again this often on a port whose driver raises no poll readiness.
constexpr int kReadRetryMs = 20;

std::string formatText(const char* format, int value)
{
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}


void resetEvent(int fd)
{
    std::uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

} // namespace

ParPortCtl::ParPortCtl(CErrorLog& log, Clock& clock)
    : m_log(log), m_clock(clock),
      m_hThreadEnded(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_hReadRequest(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_hStop(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

ParPortCtl::~ParPortCtl()
{
    StopReadThread();
    m_IsOpen = 0;
    m_hPort.reset();
}

int ParPortCtl::OpenPort(const std::string& portName)
{
    if (m_hThread.joinable())
        StopReadThread();
    m_hPort.reset();
    m_IsOpen = 0;
    std::string path = devicePathOf(portName);
    int fd = openParallelDevice(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_LastError = errno;
        SetErrorText(formatText("[ParPortCtl] CreateFile fail : %d", m_LastError));
        return 0;
    }
    m_hPort.reset(fd);
    m_hungUp = false;
    m_LastError = 0;
    m_IsOpen = 1;
    return 1;
}

int ParPortCtl::ClosePort()
{
    m_IsOpen = 0;
    StopReadThread();
    if (!m_hPort)
        return 1; // closed already: nothing to wait for
    m_clock.sleep(kCloseWait);
    m_hPort.reset();
    return 1;
}

int ParPortCtl::WritePort(const std::uint8_t* data, int length)
{
    if (!m_IsOpen || !m_hPort || !data || length <= 0)
        return 0;
    DeadlineWrite w = writeBefore(m_hPort.get(), data, length, steady_clock::now() + kWriteWait);
    if (w.error != 0) {
        SetErrorText(formatText("[ParPortCtl] Write fail : %d", w.error));
        return 0;
    }
    // Not all bytes taken within the wait: the write counts as failed.
    return w.timedOut ? 0 : w.written;
}

DeadlineWrite ParPortCtl::WriteWithin(const std::uint8_t* data, std::size_t length,
                                      steady_clock::time_point deadline, milliseconds stallLimit,
                                      const CancelToken* cancel)
{
    if (!m_IsOpen || !m_hPort) {
        DeadlineWrite w;
        w.error = EBADF;
        return w;
    }
    DeadlineWrite w = writeWithin(m_hPort.get(), data, length, deadline, stallLimit, cancel);
    if (w.error != 0)
        SetErrorText(formatText("[ParPortCtl] Write fail : %d", w.error));
    return w;
}

int ParPortCtl::StartReadThread()
{
    if (m_running)
        return 1;
    joinThread(); // a thread that ended by itself (full queue)
    if (!m_hStop || !m_hReadRequest || !m_hThreadEnded) {
        m_LastError = EMFILE;
        SetErrorText(formatText("[ParPortCtl] CreateThread fail : %d", m_LastError));
        return 0;
    }
    resetEvent(m_hStop.get());
    resetEvent(m_hThreadEnded.get());
    m_running = true;
    try {
        m_hThread = std::thread(&ParPortCtl::ReadThread, this);
    } catch (const std::system_error& e) {
        m_running = false;
        m_LastError = e.code().value();
        SetErrorText(formatText("[ParPortCtl] CreateThread fail : %d", m_LastError));
        return 0;
    }
    return 1;
}

int ParPortCtl::StopReadThread()
{
    if (m_hThread.joinable()) {
        signalEventFd(m_hStop.get());
        joinThread();
    }
    return 1;
}

void ParPortCtl::joinThread()
{
    if (m_hThread.joinable())
        m_hThread.join();
}

int ParPortCtl::RequestRead()
{
    signalEventFd(m_hReadRequest.get());
    return 1;
}

std::uint8_t ParPortCtl::PopByte(int& status)
{
    if (m_Queue.IsEmpty()) {
        status = -1;
        SetErrorText("[ParPortCtl] Receive Queue is Empty");
        return 0;
    }
    status = 1;
    return m_Queue.Pop();
}

std::string ParPortCtl::GetErrorText() const
{
    std::lock_guard lock(m_textMutex);
    return m_ErrorText;
}

void ParPortCtl::SetErrorText(const std::string& text)
{
    std::lock_guard lock(m_textMutex);
    m_ErrorText = text;
}

std::array<std::uint8_t, 4> ParPortCtl::GetAsb() const
{
    std::lock_guard lock(m_asbMutex);
    return m_Asb;
}

bool ParPortCtl::IsAsbReport(const std::uint8_t* b, int length, int i)
{
    return i >= 0 && i + 3 < length && (b[i] & 0x93) == 0x10 && (b[i + 1] & 0x90) == 0 &&
           (b[i + 2] & 0xF0) == 0 && b[i + 3] == 0x0F;
}

bool ParPortCtl::ProcessReceived(const std::uint8_t* buffer, int length)
{
    for (int i = 0; i < length; ++i) {
        if (IsAsbReport(buffer, length, i)) {
            std::array<std::uint8_t, 4> report{buffer[i], buffer[i + 1], buffer[i + 2], buffer[i + 3]};
            {
                std::lock_guard lock(m_asbMutex);
                if (report != m_Asb)
                    m_Asb = report;
            }
            i += 3;
            continue;
        }
        if (!m_Queue.TryPush(buffer[i]))
            return false;
    }
    return true;
}

int ParPortCtl::drainWaiting(std::uint8_t* buffer, int capacity)
{
    if (!m_hPort)
        return 0;
    ssize_t n;
    do {
        n = ::read(m_hPort.get(), buffer, static_cast<size_t>(capacity));
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : 0;
}

int ParPortCtl::readPort(std::uint8_t* buffer, int capacity)
{
    if (!m_IsOpen || !m_hPort)
        return 0;
    ssize_t n;
    do {
        n = ::read(m_hPort.get(), buffer, static_cast<size_t>(capacity));
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return static_cast<int>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        int error = errno;
        if (error == EIO || error == ENODEV || error == ENXIO)
            m_hungUp = true;
        SetErrorText(formatText("[ParPortCtl] Read fail : %d\r\n", error));
        m_log.WriteLog("[ParPortCtl] Read fail : %d", error);
        return 0;
    }
    // Nothing yet: wait for the printer, or for a stop request, which ends the wait at once.
    // ppdev raises no poll readiness without the printer's interrupt, so the read is tried
    // again every kReadRetry even when poll says nothing.
    for (;;) {
        pollfd fds[2] = {{m_hPort.get(), POLLIN, 0}, {m_hStop.get(), POLLIN, 0}};
        int ready = ::poll(fds, 2, kReadRetryMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return 0;
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            if (!(fds[0].revents & POLLIN)) {
                m_hungUp = true;
                return 0;
            }
        }
        if (fds[0].revents)
            break;
        do {
            n = ::read(m_hPort.get(), buffer, static_cast<size_t>(capacity));
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            return static_cast<int>(n);
    }
    do {
        n = ::read(m_hPort.get(), buffer, static_cast<size_t>(capacity));
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return static_cast<int>(n);
    int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK)
        return 0;
    if (error == EIO || error == ENODEV || error == ENXIO)
        m_hungUp = true;
    SetErrorText(formatText("[ParPortCtl] Read fail : %d", error));
    m_log.WriteLog("[ParPortCtl] Read fail : %d", error);
    return 0;
}

void ParPortCtl::ReadThread(ParPortCtl* self)
{
    std::uint8_t buffer[kReadSize];
    auto end = [self] {
        resetEvent(self->m_hStop.get());
        signalEventFd(self->m_hThreadEnded.get());
        self->m_running = false;
    };
    for (;;) {
        pollfd fds[2] = {{self->m_hStop.get(), POLLIN, 0}, {self->m_hReadRequest.get(), POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[0].revents & POLLIN)) {
            for (int i = 0; i < kStopDrains; ++i)
                self->drainWaiting(buffer, kReadSize);
            end();
            return;
        }
        if (!(fds[1].revents & POLLIN))
            continue;
        resetEvent(self->m_hReadRequest.get());
        int n = self->readPort(buffer, kReadSize);
        if (!self->ProcessReceived(buffer, n)) {
            self->SetErrorText("Receive Queue is FULL!");
            end();
            return;
        }
    }
}
