#include "cli/CliInterrupt.h"

#include <atomic>
#include <csignal>

namespace {

// The handler must reach the running command's token without arguments: this pointer is the
// only process-wide state, and it lends, never owns.
std::atomic<CancelToken*> g_running{nullptr};
std::atomic<int> g_requests{0};
static_assert(std::atomic<CancelToken*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int signal)
{
    CancelToken* token = g_running.load();
    if (!token || g_requests.fetch_add(1) > 0) {
        // Nothing to cancel, or the user insists: end as the signal itself would.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    token->cancel();
}

} // namespace

void installInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    for (int signal : {SIGINT, SIGTERM}) {
        // A signal the parent ignores stays ignored: a shell starts background jobs with
        // SIGINT ignored so that Ctrl-C at the prompt does not reach them.
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &sa, nullptr);
    }
}

InterruptCancels::InterruptCancels(CancelToken& token) : m_previous(g_running.exchange(&token)) {}

InterruptCancels::~InterruptCancels() { g_running.store(m_previous); }
