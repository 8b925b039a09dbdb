#pragma once
// ParPortCtl: both directions of a parallel port for the user setup. It writes commands and
// reads the printer's answers with a read thread woken on request, and keeps the printer's
// four-byte automatic status back (ASB) reports apart from the data.
//
// Threads: the owner thread opens, writes, requests reads, pops and stops; the read thread
// reads and pushes into the queue (one producer, one consumer). Every wait of the read
// thread is cancellable: StopReadThread and ClosePort end it within one poll period even
// when the printer sends nothing.
#include "common/UniqueFd.h"
#include "port/CByteQueue.h"
#include "port/DeadlineIo.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CancelToken;
class CErrorLog;
class Clock;

class ParPortCtl {
public:
    // Bytes the read thread asks for per request.
    static constexpr int kReadSize = 512;

    ParPortCtl(CErrorLog& log, Clock& clock);
    // Stops the read thread (if started) and closes the port.
    virtual ~ParPortCtl();
    ParPortCtl(const ParPortCtl&) = delete;
    ParPortCtl& operator=(const ParPortCtl&) = delete;

    // Opens "LPTn" (-> /dev/lp{n-1}) or a device path for reading and writing. 1 opened;
    // 0 with m_LastError = errno and "[ParPortCtl] CreateFile fail : %d".
    int OpenPort(const std::string& portName);
    // Ends the read thread, waits 100 ms on the Clock (the printer finishing its answer),
    // closes the port. Always 1.
    int ClosePort();
    // Writes length bytes, waiting up to 5000 ms for the printer to take them. The count,
    // or 0 (not open, time-out, or "[ParPortCtl] Write fail : %d").
    int WritePort(const std::uint8_t* data, int length);

    // Writes every byte before deadline, giving up when the printer took nothing for
    // stallLimit (the connection layer's write; WritePort keeps its fixed 5000 ms) or when
    // the token (may be null) is cancelled.
    DeadlineWrite WriteWithin(const std::uint8_t* data, std::size_t length,
                              std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit,
                              const CancelToken* cancel = nullptr);
    // True once a read found the port gone (the printer or its cable hung up) since OpenPort.
    bool HungUp() const { return m_hungUp.load(); }

    // 1 started, 0 not open or "[ParPortCtl] CreateThread fail : %d". A thread that is
    // already running is kept (1).
    int StartReadThread();
    // Asks the thread to end (it drains up to three reads of what is already waiting) and
    // joins it. Always 1.
    int StopReadThread();
    // Asks the thread for one read of up to 512 bytes. Always 1.
    int RequestRead();

    // The oldest data byte with status 1; 0 with status -1 and m_ErrorText
    // "[ParPortCtl] Receive Queue is Empty" when there is none.
    std::uint8_t PopByte(int& status);
    bool IsQueueEmpty() const { return m_Queue.IsEmpty(); }
    int QueueCount() const { return m_Queue.Count(); }

    std::string GetErrorText() const;
    void SetErrorText(const std::string& text);
    int LastError() const { return m_LastError.load(); }
    // The last ASB report the printer sent (zeros before the first).
    std::array<std::uint8_t, 4> GetAsb() const;
    // True from a successful StartReadThread until the thread ended (stopped, or by itself
    // when the queue was full).
    bool ReadThreadRunning() const { return m_running.load(); }
    bool IsOpen() const { return m_IsOpen.load() != 0; }
    // Always 0 on Linux: there are no Windows 95/98 time-outs to emulate.
    int Win9xMode() const { return m_Win9xMode; }

    // The ASB pattern test at buffer[i] (needs four bytes from i on).
    static bool IsAsbReport(const std::uint8_t* buffer, int length, int i);
    // Walks one read: ASB reports are kept apart (only a changed report stored), all other
    // bytes are pushed. False when the queue was full (the thread must then end). Read thread
    // only (tests call it while no thread runs).
    bool ProcessReceived(const std::uint8_t* buffer, int length);

private:
    static void ReadThread(ParPortCtl* self);
    // One read of up to 512 bytes; waits for data until a stop request. Returns the count,
    // 0 on stop, error or hang-up.
    int readPort(std::uint8_t* buffer, int capacity);
    int drainWaiting(std::uint8_t* buffer, int capacity);
    void joinThread();

    CErrorLog& m_log;
    Clock& m_clock;

    UniqueFd m_hThreadEnded; // eventfd, set by the thread when it ends
    UniqueFd m_hPort;
    mutable std::mutex m_textMutex;
    std::string m_ErrorText;
    std::atomic<int> m_LastError{0};
    std::thread m_hThread;
    int m_Win9xMode = 0;
    mutable std::mutex m_asbMutex;
    std::array<std::uint8_t, 4> m_Asb{};
    std::atomic<int> m_IsOpen{0};
    UniqueFd m_hReadRequest; // eventfd, one count per request
    CByteQueue m_Queue;
    UniqueFd m_hStop;        // eventfd, set to end the thread
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_hungUp{false};
};
