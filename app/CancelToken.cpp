#include "app/CancelToken.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

static_assert(std::atomic<bool>::is_always_lock_free, "cancel() runs in signal handlers");

CancelToken::CancelToken() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void CancelToken::cancel() noexcept
{
    // Only a lock-free store and write(2): both are allowed in a signal handler. errno is kept
    // for the code the signal interrupted.
    const int saved = errno;
    m_cancelled.store(true, std::memory_order_release);
    if (m_fd.valid()) {
        const std::uint64_t one = 1;
        // The counter only saturates after 2^64 - 1 calls; a failed write leaves the flag set.
        [[maybe_unused]] ssize_t n = ::write(m_fd.get(), &one, sizeof one);
    }
    errno = saved;
}

void CancelToken::reset() noexcept
{
    m_cancelled.store(false, std::memory_order_release);
    if (m_fd.valid()) {
        std::uint64_t value;
        while (::read(m_fd.get(), &value, sizeof value) > 0) {
        }
    }
}
