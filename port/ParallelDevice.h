#pragma once
// Opening a parallel port node. /dev/lp* (the lp driver) is written directly; /dev/parport*
// (ppdev) must first be claimed for this process, or every write fails.
#include <chrono>
#include <string>

// How long an open waits for another program to let go of a ppdev port.
inline constexpr std::chrono::milliseconds kParallelClaimWait{3000};

// Opens path with the given open(2) flags and, for a ppdev node, claims the port (the
// compatibility mode that printers take). Returns the fd, or -1 with errno set (EBUSY when
// another program held the port for all of claimWait). Never blocks much longer than
// claimWait, so the GUI thread may call it.
int openParallelDevice(const std::string& path, int flags,
                       std::chrono::milliseconds claimWait = kParallelClaimWait);
