#include "app/AppPaths.h"

#include "app/Profile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* kAppFolder = "tavroset";

std::string envOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// An XDG variable counts only when it holds an absolute path; anything else is to be
// ignored, and the fallback under the home folder applies.
std::optional<fs::path> xdgBase(const std::string& value, const std::string& home, const char* fallback)
{
    if (!value.empty() && value.front() == '/')
        return fs::path(value);
    if (home.empty() || home.front() != '/')
        return std::nullopt;
    return fs::path(home) / fallback;
}

// mkdir -p with the given mode for the folders it creates.
Status makeFolders(const fs::path& folder, mode_t mode)
{
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return Status::success();
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (Status s = makeFolders(folder.parent_path(), mode); !s)
            return s;
    }
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST)
        return Status::failure("cannot create " + folder.string() + ": " + std::strerror(errno));
    if (!fs::is_directory(folder, ec))
        return Status::failure(folder.string() + " exists and is not a folder");
    return Status::success();
}

} // namespace

XdgDirs XdgDirs::fromEnvironment()
{
    XdgDirs dirs;
    dirs.home = envOrEmpty("HOME");
    if (dirs.home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            dirs.home = pw->pw_dir;
    }
    dirs.configHome = envOrEmpty("XDG_CONFIG_HOME");
    dirs.stateHome = envOrEmpty("XDG_STATE_HOME");
    return dirs;
}

AppPaths resolveAppPaths(const fs::path& startDir, const XdgDirs& dirs)
{
    AppPaths paths;
    const fs::path startProfile = Profile::defaultPath(startDir);
    std::error_code ec;
    if (fs::exists(startProfile, ec)) {
        paths.profile = startProfile;
        paths.errorLog = startDir / "error.log";
        paths.inStartDir = true;
        paths.reason = "a profile is in the start-up directory";
        return paths;
    }
    auto config = xdgBase(dirs.configHome, dirs.home, ".config");
    auto state = xdgBase(dirs.stateHome, dirs.home, ".local/state");
    if (!config || !state) {
        paths.profile = startProfile;
        paths.errorLog = startDir / "error.log";
        paths.inStartDir = true;
        paths.reason = "no home folder to put the files in, so the start-up directory";
        return paths;
    }
    paths.profile = Profile::defaultPath(*config / kAppFolder);
    paths.errorLog = *state / kAppFolder / "error.log";
    paths.reason = "no profile in the start-up directory " + startDir.string() + ", so the XDG places";
    return paths;
}

Status prepareAppPaths(const AppPaths& paths)
{
    for (const fs::path* file : {&paths.profile, &paths.errorLog}) {
        if (Status s = makeFolders(file->parent_path(), 0700); !s)
            return s;
    }
    return Status::success();
}
