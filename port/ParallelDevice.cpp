#include "port/ParallelDevice.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool isPpdevNode(const std::string& path)
{
    auto slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return base.rfind("parport", 0) == 0;
}

} // namespace

int openParallelDevice(const std::string& path, int flags)
{
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 || !isPpdevNode(path))
        return fd;
    if (::ioctl(fd, PPCLAIM) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}
