#pragma once
// One way into the virtual printer (a pty, the TCP listener, a UDP socket), as the event loop
// sees it: the fds to poll, what to do when they are ready, and the next moment it has work
// without any fd becoming ready.
//
// Threads: the event loop's thread only.
#include "sim/SimHost.h"

#include <optional>
#include <poll.h>
#include <vector>

class Endpoint {
public:
    virtual ~Endpoint() = default;
    // Appends the fds to poll now, with the events wanted.
    virtual void addPollFds(std::vector<pollfd>& fds, SimTime now) = 0;
    // Handles one ready fd that this endpoint added.
    virtual void onReady(const pollfd& ready, SimTime now) = 0;
    // Timed work (replies falling due, status reports, restarts).
    virtual void tick(SimTime now) = 0;
    virtual std::optional<SimTime> nextDeadline() const = 0;
    // The printer restarts: `until` is when it is back.
    virtual void printerRestarting(SimTime now, SimTime until) { (void)now; (void)until; }
    // Stops serving and removes what it created (symlinks, fake sysfs entries).
    virtual void shutdown() = 0;
};
