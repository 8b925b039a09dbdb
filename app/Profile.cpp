#include "app/Profile.h"

// Values are bytes (UTF-8 Korean passes through unchanged); no wide-char conversion needed.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A profile is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxProfileBytes = 4u << 20;

std::unique_ptr<CSimpleIniA> newIni()
{
    auto ini = std::make_unique<CSimpleIniA>(/*isUtf8*/ false, /*multiKey*/ false, /*multiLine*/ false);
    ini->SetSpaces(false); // "key=value", as the Windows profile functions write it
    return ini;
}

// Loads the file. A missing file is an empty profile; an unreadable, oversized or binary
// file is a failure, so that no write replaces it.
Result<std::unique_ptr<CSimpleIniA>> load(const std::filesystem::path& file)
{
    auto ini = newIni();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return ini;
    auto size = std::filesystem::file_size(file, ec);
    if (ec)
        return Status::failure("cannot read profile " + file.string() + ": " + ec.message());
    if (size > kMaxProfileBytes)
        return Status::failure("profile " + file.string() + " is too large");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Status::failure("cannot open profile " + file.string() + ": " + std::strerror(errno));
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Status::failure("cannot read profile " + file.string());
    if (data.find('\0') != std::string::npos)
        return Status::failure("profile " + file.string() + " is not a text file");
    if (ini->LoadData(data) < 0)
        return Status::failure("profile " + file.string() + " is malformed");
    return ini;
}

// Writes the whole profile to a temporary file beside it and renames it over the old one,
// so that a crash or a full disk never leaves a half-written profile.
Status save(const std::filesystem::path& file, CSimpleIniA& ini)
{
    std::string data;
    if (ini.Save(data) < 0)
        return Status::failure("cannot format profile");
    std::filesystem::path dir = file.parent_path().empty() ? "." : file.parent_path();
    std::string tmpl = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        return Status::failure("cannot write profile " + file.string() + ": " + std::strerror(errno));
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int err = errno;
            ::close(fd);
            ::unlink(name.data());
            return Status::failure("cannot write profile " + file.string() + ": " + std::strerror(err));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int err = errno;
        ::unlink(name.data());
        return Status::failure("cannot write profile " + file.string() + ": " + std::strerror(err));
    }
    if (std::rename(name.data(), file.c_str()) != 0) {
        int err = errno;
        ::unlink(name.data());
        return Status::failure("cannot replace profile " + file.string() + ": " + std::strerror(err));
    }
    return Status::success();
}

} // namespace

Profile::Profile(std::filesystem::path file) : m_file(std::move(file)) {}

std::filesystem::path Profile::defaultPath(const std::filesystem::path& startDir)
{
    return startDir / "tavroset.INI";
}

std::string Profile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback) const
{
    auto ini = load(m_file);
    if (!ini)
        return fallback;
    const char* value = (*ini)->GetValue(section.c_str(), key.c_str(), nullptr);
    return value ? std::string(value) : fallback;
}

std::vector<std::pair<std::string, std::string>> Profile::entries(const std::string& section) const
{
    std::vector<std::pair<std::string, std::string>> out;
    auto ini = load(m_file);
    if (!ini)
        return out;
    CSimpleIniA::TNamesDepend names;
    (*ini)->GetAllKeys(section.c_str(), names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& name : names) {
        const char* value = (*ini)->GetValue(section.c_str(), name.pItem, "");
        out.emplace_back(name.pItem, value ? value : "");
    }
    return out;
}

std::vector<std::string> Profile::keys(const std::string& section) const
{
    std::vector<std::string> out;
    for (auto& [key, value] : entries(section))
        out.push_back(key);
    return out;
}

Status Profile::writeString(const std::string& section, const std::string& key, const std::string& value)
{
    if (section.empty() || key.empty())
        return Status::failure("profile section and key must not be empty");
    if (value.find_first_of("\r\n") != std::string::npos || key.find_first_of("=\r\n[]") != std::string::npos)
        return Status::failure("profile value or key contains a line break or '='");
    auto ini = load(m_file);
    if (!ini)
        return ini.status();
    if ((*ini)->SetValue(section.c_str(), key.c_str(), value.c_str()) < 0)
        return Status::failure("cannot set " + section + "/" + key);
    return save(m_file, **ini);
}

Status Profile::deleteKey(const std::string& section, const std::string& key)
{
    auto ini = load(m_file);
    if (!ini)
        return ini.status();
    if (!(*ini)->Delete(section.c_str(), key.c_str()))
        return Status::success();
    return save(m_file, **ini);
}

Status Profile::deleteSection(const std::string& section)
{
    auto ini = load(m_file);
    if (!ini)
        return ini.status();
    if (!(*ini)->Delete(section.c_str(), nullptr))
        return Status::success();
    return save(m_file, **ini);
}
