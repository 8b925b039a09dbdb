#pragma once
// A pseudo-terminal pair: the master is the far end (the printer, or a test playing it),
// the slave path is what the tool opens as its serial or parallel port.
#include "common/UniqueFd.h"

#include <string>

class PtyPair {
public:
    // Opens a new pair with the slave in raw mode. On failure valid() is false and
    // error() says why.
    PtyPair();

    bool valid() const { return m_master.valid(); }
    const std::string& error() const { return m_error; }

    int master() const { return m_master.get(); }
    const std::string& slavePath() const { return m_slavePath; }
    // Keeps a slave fd open so that the master does not see a hang-up (EIO) while the tool
    // has the port closed. Returns false when it cannot be opened.
    bool holdSlaveOpen();
    void releaseSlave() { m_slaveHold.reset(); }
    int slaveHoldFd() const { return m_slaveHold.get(); }

    // Switches the master to non-blocking (or back).
    bool setMasterNonBlocking(bool on);

private:
    UniqueFd m_master;
    UniqueFd m_slaveHold;
    std::string m_slavePath;
    std::string m_error;
};
