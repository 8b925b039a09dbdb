#include "port/ParallelDevice.h"

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
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

int openParallelDevice(const std::string& path, int flags, std::chrono::milliseconds claimWait)
{
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 || !isPpdevNode(path))
        return fd;
    // PPCLAIM sleeps for as long as another program holds the port, and nothing cancels
    // it: it runs on a helper thread, and the open gives up after claimWait. A claim that
    // is granted after that is released and closed by the helper itself.
    struct Claim {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        int result = -1;
        int error = 0;
    };
    auto claim = std::make_shared<Claim>();
    try {
        std::thread([claim, fd] {
            int r = ::ioctl(fd, PPCLAIM);
            int error = errno;
            std::lock_guard lock(claim->mutex);
            claim->finished = true;
            claim->result = r;
            claim->error = error;
            if (claim->abandoned) {
                if (r == 0)
                    ::ioctl(fd, PPRELEASE);
                ::close(fd);
            }
            claim->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        ::close(fd);
        errno = e.code().value();
        return -1;
    }
    std::unique_lock lock(claim->mutex);
    if (!claim->done.wait_for(lock, claimWait, [&] { return claim->finished; })) {
        claim->abandoned = true;
        errno = EBUSY;
        return -1;
    }
    if (claim->result != 0) {
        ::close(fd);
        errno = claim->error;
        return -1;
    }
    return fd;
}
