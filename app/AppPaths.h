#pragma once
// Where the profile and the error log live. The tool's own place is the start-up directory
// ("tavroset.INI" and "error.log" next to where it was started), which service staff and the
// demo rely on. An installed tool started from a menu has a start-up directory that is not
// the user's to write (/ or $HOME), so when no profile is there the files go to the XDG
// places instead: $XDG_CONFIG_HOME/tavroset/tavroset.INI and $XDG_STATE_HOME/tavroset/error.log.
#include "app/Result.h"

#include <filesystem>
#include <optional>
#include <string>

// The environment that decides the places; fromEnvironment() is the one reader of the
// variables, tests fill it themselves.
struct XdgDirs {
    std::string home;       // $HOME, else the passwd entry's home; empty when neither
    std::string configHome; // $XDG_CONFIG_HOME as set (may be empty or relative)
    std::string stateHome;  // $XDG_STATE_HOME as set

    static XdgDirs fromEnvironment();
};

struct AppPaths {
    std::filesystem::path profile;
    std::filesystem::path errorLog;
    // True when the profile was found in the start-up directory (both files live there).
    bool inStartDir = false;
    // Why these places were chosen, for `tavroctl doctor` and the README's readers.
    std::string reason;
};

// The places of the profile and the error log for a tool started in startDir. A profile
// in startDir wins; otherwise the XDG places (an unset, empty or relative XDG variable
// means $HOME/.config and $HOME/.local/state, as the XDG base directory rules say). With no
// home at all the start-up directory is used after all. Pure: looks only at whether the
// start-up profile exists.
AppPaths resolveAppPaths(const std::filesystem::path& startDir, const XdgDirs& dirs);

// Creates the folders the two files go in (mode 0700 for the XDG folders it creates, as
// the XDG rules ask). Fails with the folder and the reason.
Status prepareAppPaths(const AppPaths& paths);
