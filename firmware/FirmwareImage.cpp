#include "firmware/FirmwareImage.h"

#include "common/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint8_t kSignature[4] = {'Q', 'Z', 'M', '2'};

Status setFault(FirmwareImage::Fault* out, FirmwareImage::Fault f, std::string message)
{
    if (out)
        *out = f;
    return Status::failure(std::move(message));
}

// pread until n bytes or end of file; -1 with errno on failure.
ssize_t readAt(int fd, std::uint8_t* buffer, std::size_t n, off_t offset)
{
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, buffer + got, n - got, offset + static_cast<off_t>(got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

} // namespace

std::string fileSizeErrorText(std::uint64_t size)
{
    return "FileSize (" + std::to_string(size) + " bytes) Error!";
}

namespace {

FirmwareImage::Trailer trailerFrom(const std::uint8_t (&t)[5])
{
    FirmwareImage::Trailer trailer;
    trailer.bootPermission = t[0];
    trailer.signature = std::memcmp(t + 1, kSignature, 4) == 0;
    std::copy(t + 1, t + 5, trailer.signatureBytes.begin());
    return trailer;
}

} // namespace

FirmwareImage::Trailer FirmwareImage::trailerOf(std::span<const std::uint8_t> fileBytes,
                                                const FirmwareImageLayout& layout)
{
    std::uint8_t t[5] = {};
    const std::uint32_t at = layout.bootPermissionOffset();
    for (std::uint32_t i = 0; i < 5; ++i)
        if (at + i < fileBytes.size())
            t[i] = fileBytes[at + i];
    return trailerFrom(t);
}

Result<FirmwareImage::Trailer> FirmwareImage::readTrailer(const std::filesystem::path& file)
{
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return Status::failure("cannot open " + file.string() + ": " + std::strerror(errno));
    // Bytes a short file lacks stay zero, so a short file never shows the signature.
    std::uint8_t t[5] = {};
    if (readAt(fd.get(), t, 5, kBootPermissionOffset) < 0)
        return Status::failure("cannot read " + file.string() + ": " + std::strerror(errno));
    return trailerFrom(t);
}

Result<FirmwareImage> FirmwareImage::parse(std::vector<std::uint8_t> bytes, Fault* fault,
                                           const FirmwareImageLayout& layout)
{
    if (fault)
        *fault = Fault::None;
    if (bytes.size() != layout.size)
        return setFault(fault, Fault::WrongSize, fileSizeErrorText(bytes.size()));
    if (!trailerOf(bytes, layout).signature)
        return setFault(fault, Fault::NoSignature, "Wrong File!");
    return FirmwareImage(std::move(bytes), layout);
}

Result<FirmwareImage> FirmwareImage::load(const std::filesystem::path& file, Fault* fault,
                                          std::uint64_t* fileSize)
{
    if (fault)
        *fault = Fault::None;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return setFault(fault, Fault::CannotOpen, "ERROR : File Open");
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return setFault(fault, Fault::CannotOpen, "ERROR : File Open");
    if (fileSize)
        *fileSize = static_cast<std::uint64_t>(st.st_size);
    if (static_cast<std::uint64_t>(st.st_size) != kSize)
        return setFault(fault, Fault::WrongSize, fileSizeErrorText(static_cast<std::uint64_t>(st.st_size)));
    std::vector<std::uint8_t> bytes(kSize, 0xFF);
    ssize_t got = readAt(fd.get(), bytes.data(), kSize, 0);
    if (got != static_cast<ssize_t>(kSize))
        return setFault(fault, Fault::ShortRead, "ERROR : File Size Error");
    return parse(std::move(bytes), fault);
}
