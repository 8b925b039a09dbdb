#include "common/FileIo.h"

#include "common/UniqueFd.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

FileOutcome failure(FileOutcome::Fault fault, int error, const fs::path& file, const std::string& reason)
{
    FileOutcome out;
    out.fault = fault;
    out.error = error;
    out.message = file.string() + ": " + reason;
    return out;
}

FileOutcome systemFailure(const fs::path& file, const std::string& what, int error)
{
    auto fault = error == ENOENT || error == ENOTDIR ? FileOutcome::Fault::Missing : FileOutcome::Fault::Io;
    return failure(fault, error, file, what + ": " + std::strerror(error));
}

template <class Buffer>
FileOutcome readInto(const fs::path& file, std::uintmax_t maxBytes, Buffer* out)
{
    out->clear();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        return systemFailure(file, "cannot open", errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return systemFailure(file, "cannot read", errno);
    if (!S_ISREG(st.st_mode))
        return failure(FileOutcome::Fault::NotRegular, 0, file, "not a regular file");
    const auto tooLarge = [&] {
        out->clear();
        return failure(FileOutcome::Fault::TooLarge, 0, file,
                       "larger than " + std::to_string(maxBytes) + " bytes");
    };
    if (std::uintmax_t(st.st_size) > maxBytes)
        return tooLarge();
    // The size is a hint only: the file may change while we read, so the cap is kept on
    // what arrives, reading at most one byte past it.
    out->resize(std::size_t(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == out->size()) {
            if (got > maxBytes)
                return tooLarge();
            out->resize(std::size_t(std::min<std::uintmax_t>(maxBytes + 1, std::uintmax_t(got) * 2 + 4096)));
        }
        ssize_t n = ::read(fd.get(), out->data() + got, out->size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            out->clear();
            return systemFailure(file, "read failed", err);
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    if (got > maxBytes)
        return tooLarge();
    out->resize(got);
    return {};
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

// A temporary file is stale when the process that made it is gone (killed during its save)
// or, should its id have been reused, when it is far older than any save takes.
bool isStale(const fs::path& dir, const std::string& name, const std::string& prefix)
{
    const std::string rest = name.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 9)
        return false;
    for (std::size_t i = 0; i < dash; ++i)
        if (rest[i] < '0' || rest[i] > '9')
            return false;
    const pid_t pid = pid_t(std::stol(rest.substr(0, dash)));
    if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    struct stat st {};
    if (::lstat((dir / name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    constexpr time_t kOldSeconds = 600;
    return ::time(nullptr) - st.st_mtime > kOldSeconds;
}

void removeStaleTemps(const fs::path& dir, const std::string& prefix)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            isStale(dir, name, prefix))
            ::unlink((dir / name).c_str());
    }
    ::closedir(d);
}

std::string tempSuffix()
{
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random(std::random_device{}());
    char text[64];
    std::snprintf(text, sizeof text, "%ld-%u%06x", long(::getpid()), counter++ % 1000u, unsigned(random() & 0xFFFFFF));
    return text;
}

} // namespace

FileOutcome readWholeFile(const fs::path& file, std::uintmax_t maxBytes, std::string* out)
{
    return readInto(file, maxBytes, out);
}

FileOutcome readWholeFile(const fs::path& file, std::uintmax_t maxBytes, std::vector<std::uint8_t>* out)
{
    return readInto(file, maxBytes, out);
}

std::string atomicTempPrefix(const fs::path& file)
{
    return "." + file.filename().string() + ".tmp-";
}

FileOutcome writeFileAtomically(const fs::path& requested, std::string_view bytes)
{
    // Replace what a link points to, not the link: the user keeps the file where they put it.
    fs::path file = requested;
    std::error_code ec;
    if (fs::is_symlink(file, ec)) {
        fs::path target = fs::weakly_canonical(file, ec);
        if (ec)
            return failure(FileOutcome::Fault::Io, ec.value(), requested, "cannot follow link: " + ec.message());
        file = target;
    }
    if (file.filename().empty())
        return failure(FileOutcome::Fault::NotRegular, 0, requested, "not a file name");
    const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();

    struct stat old {};
    const bool exists = ::stat(file.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return failure(FileOutcome::Fault::NotRegular, 0, requested, "not a regular file");

    const std::string prefix = atomicTempPrefix(file);
    removeStaleTemps(dir, prefix);

    fs::path temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = dir / (prefix + tempSuffix());
        fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (!fd && errno != EEXIST)
            return systemFailure(requested, "cannot create a file in " + dir.string(), errno);
    }
    if (!fd)
        return failure(FileOutcome::Fault::Io, EEXIST, requested, "no free temporary file name");

    const auto abandon = [&](const std::string& what) {
        int err = errno;
        fd.reset();
        ::unlink(temp.c_str());
        return systemFailure(requested, what, err);
    };
    if (exists && ::fchmod(fd.get(), old.st_mode & 07777) != 0)
        return abandon("cannot set the permissions");
    if (!writeAll(fd.get(), bytes))
        return abandon("cannot write");
    // The data must be on disk before the rename makes it the file, or a power cut can leave
    // an empty file under the old name.
    if (::fsync(fd.get()) != 0)
        return abandon("cannot flush to disk");
    if (::close(fd.release()) != 0)
        return abandon("cannot write");
    if (::rename(temp.c_str(), file.c_str()) != 0)
        return abandon("cannot replace");
    // The rename itself lives in the folder: flush it so the new name survives a power cut.
    // The file is replaced by now, so a failure here is not reported as a failed save.
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd)
        ::fsync(dirFd.get());
    return {};
}
