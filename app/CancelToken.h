#pragma once
// A request to stop one printer job, seen inside every blocking wait of the connection layer:
// cancel() makes fd() readable, so a poll() on a stalled printer ends at once instead of at
// its deadline. One token per job, lent by reference or pointer to the connection and to
// whoever may cancel (a Cancel button, a signal handler); never process-wide.
//
// Threads: cancel() is async-signal-safe and may be called from any thread or from a signal
// handler, any number of times. cancelled() and fd() may be called from any thread. reset()
// only by the job's own thread while nobody can cancel.
#include "common/UniqueFd.h"

#include <atomic>

class CancelToken {
public:
    // Without an eventfd (descriptor limit reached) fd() is -1: waits then see the request
    // only through cancelled(), which they check at least every poll slice.
    CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void cancel() noexcept;
    bool cancelled() const noexcept { return m_cancelled.load(std::memory_order_acquire); }
    // Readable once cancel() was called; -1 when the token has no descriptor.
    int fd() const noexcept { return m_fd.get(); }
    // Takes back a request (the next job of the same host). Owner thread only.
    void reset() noexcept;

private:
    std::atomic<bool> m_cancelled{false};
    UniqueFd m_fd;
};
