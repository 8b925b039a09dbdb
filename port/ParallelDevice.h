#pragma once
// Opening a parallel port node. /dev/lp* (the lp driver) is written directly; /dev/parport*
// (ppdev) must first be claimed for this process, or every write fails.
#include <string>

// Opens path with the given open(2) flags and, for a ppdev node, claims the port (the
// compatibility mode that printers take). Returns the fd, or -1 with errno set.
int openParallelDevice(const std::string& path, int flags);
