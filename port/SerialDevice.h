#pragma once
// SerialDevice: one serial line held open by one connection (RS-232, a USB serial adapter, a
// USB virtual serial port). It owns the fd, in raw mode from the connection settings and held
// exclusively, and ThreadWatchComm, the thread that queues what the printer sends. Each
// SerialConnection has its own, so several serial printers can be open in one process.
//
// Threads: the owner's thread calls every operation. The watch thread, while it runs, is the
// only producer of the receive queue; the owner pops from it (directly, or inside the
// WM_RECEIVE_NOTIFY handler of the notify target).
#include "common/UniqueFd.h"
#include "port/CByteQueue.h"
#include "port/SerialLine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CErrorLog;
class MessageTarget;
class Prompter;

class SerialDevice {
public:
    // The prompter shows "m_QueueRead FULL!" when the printer's bytes do not fit; the log gets
    // the open steps that fail. Both are lent for the object's lifetime.
    SerialDevice(Prompter& prompter, CErrorLog& log);
    // Closes the line and waits for its watch threads to end.
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // True when a port is named and no serial setting is still -1 (the connection dialog's OK
    // has run).
    static bool settingsComplete(const std::string& portName, const SerialSettings& settings);

    // Opens the tty of portName ("COMn" or a tty path), raw from the settings, non-blocking,
    // input and output flushed, held exclusively (flock and TIOCEXCL) until close(); starts
    // ThreadWatchComm when watch is true. 1 opened, 0 failed: lastError() has the errno
    // (EINVAL for incomplete settings, EBUSY for a port another program holds) and the error
    // log the step, as service staff know them ("CPorts::Open() CreateFile error\r\n",
    // "... GetCommState failed.\r\n", "... SetCommstate failed(%d).\r\n", ...). An open
    // line is closed first.
    int open(const std::string& portName, const SerialSettings& settings, bool watch);
    bool isOpen() const { return m_fd.valid(); }
    // -1 while closed.
    int fd() const { return m_fd.get(); }
    int lastError() const { return m_lastError; }
    // 1 when a line was open, else 0. Ends the watch thread at once (it sends no further
    // notification and never touches the fd again), but does not wait for a notification that
    // the thread is handing over at that moment. A line whose output was stuck drops its
    // output queue instead of waiting the kernel's closing time.
    int close();

    // Writes length bytes; the count returned is what left the UART before the deadline (the
    // kernel's output queue drained), 0 on failure. Logs "WriteFile Time-out!" when the
    // deadline ended the write and "WriteFile get error result [%d]" when nothing could be
    // written.
    int write(const std::uint8_t* data, int length, std::chrono::milliseconds deadline);
    // Reads the bytes waiting (at most capacity) without waiting. The count, 0 when nothing
    // waits or on error. Only while no watch thread runs.
    int readBlock(std::uint8_t* buffer, int capacity);
    // ThreadWatchComm's work after a receive event, for the owner while no watch thread runs:
    // reads 2048-byte blocks until none is left; a block is queued only when 4096 - Count()
    // is greater than its size, else it is dropped and catalog entry 41 is shown. Returns the
    // number of bytes queued.
    int pumpReceived();

    // The receive queue and the window told of new bytes (WM_RECEIVE_NOTIFY): the device's
    // own, or the ones a port facade lends so that its m_QueueRead and m_hNotifyWnd are this
    // line's. Set while closed; the lent objects must outlive the device.
    void lendReceivePath(CByteQueue& queue, std::atomic<MessageTarget*>& notifyTarget);
    CByteQueue& queue() { return *m_queue; }
    // An eventfd that the watch thread signals after it queued bytes or saw the line hang up;
    // readers poll it (and reset it by reading) instead of spinning on the queue. -1 when it
    // could not be made.
    int receiveSignalFd() const { return m_rxSignal.get(); }
    // True once the watch thread saw the line hang up since the last open().
    bool lineHungUp() const { return m_lineHungUp.load(); }
    // A write whose bytes did not all leave: close() then drops the output queue.
    void noteOutputStuck() { m_outputStuck = true; }
    // True when the current open started a watch thread.
    bool watchThreadStarted() const { return m_watch != nullptr; }
    // True while a watch thread of this device still runs (also one that close() told to end
    // and that has not yet finished).
    bool watchThreadActive() const;

private:
    struct WatchState;

    bool startWatchThread(const std::string& portName);
    void stopWatchThread();
    void reapWatchThreads(bool all);
    static void ThreadWatchComm(SerialDevice* device, std::shared_ptr<WatchState> state);
    void notify();

    Prompter& m_prompter;
    CErrorLog& m_log;
    UniqueFd m_fd;
    int m_lastError = 0;
    // A write that did not leave: the output queue is flushed before close, so close does
    // not wait the kernel's closing time for a printer that holds CTS off.
    bool m_outputStuck = false;
    CByteQueue m_ownQueue;
    std::atomic<MessageTarget*> m_ownTarget{nullptr};
    CByteQueue* m_queue = &m_ownQueue;
    std::atomic<MessageTarget*>* m_notifyTarget = &m_ownTarget;
    UniqueFd m_rxSignal;
    std::atomic<bool> m_lineHungUp{false};

    // The watch thread of the current open and those told to end but not yet joined.
    std::shared_ptr<WatchState> m_watch;
    std::thread m_watchThread;
    std::vector<std::pair<std::thread, std::shared_ptr<WatchState>>> m_retired;
};
