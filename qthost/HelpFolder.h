#pragma once
// Where the help pages of the desktop tool are, and which pages there are. The pages are
// HTML files, <folder>/en/<topic>.html and <folder>/ko/<topic>.html, with index.html linking
// them all. The package installs the folder as /usr/share/tavroset/help beside /usr/bin; the
// build copies it to <build>/share/tavroset/help beside <build>/bin; so one rule finds it from
// both: ../share/tavroset/help from the folder of the running program. Plain C++, any thread.
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The topics F1 opens, one page each in both languages (index is the contents page).
std::span<const std::string_view> helpTopics();

// What decides the folder; fromEnvironment() is the one reader of the environment.
struct HelpPlaces {
    // TAVRO_HELP_DIR when set and not empty: then it alone is tried (tests, a page writer's
    // own copy).
    std::optional<std::filesystem::path> override;
    // The running program (/proc/self/exe); empty when it cannot be read.
    std::filesystem::path executable;

    static HelpPlaces fromEnvironment();
};

// The help folder: the first place tried that holds en/index.html. Nothing when none does;
// `tried` (when given) receives every place looked at, for the message that says so.
std::optional<std::filesystem::path> findHelpFolder(const HelpPlaces& places,
                                                    std::vector<std::filesystem::path>* tried = nullptr);

// The page of a topic in the folder: the Korean one when asked for and present, else the
// English one. The file may not exist (the caller says so).
std::filesystem::path helpPage(const std::filesystem::path& folder, std::string_view topic, bool korean);
