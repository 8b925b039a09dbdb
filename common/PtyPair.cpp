#include "common/PtyPair.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>

PtyPair::PtyPair()
{
    int master = -1, slave = -1;
    char name[256] = {};
    struct termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        m_error = std::string("openpty failed: ") + std::strerror(errno);
        return;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master.reset(master);
    m_slaveHold.reset(slave);
    m_slavePath = name;
}

bool PtyPair::holdSlaveOpen()
{
    if (m_slaveHold.valid())
        return true;
    int fd = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    m_slaveHold.reset(fd);
    return true;
}

bool PtyPair::setMasterNonBlocking(bool on)
{
    int flags = ::fcntl(m_master.get(), F_GETFL);
    if (flags < 0)
        return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(m_master.get(), F_SETFL, flags) == 0;
}
