#include "qthost/HelpFolder.h"

#include <array>
#include <cstdlib>
#include <system_error>

namespace {

constexpr std::array<std::string_view, 13> kTopics = {
    "index",          "connect",      "menu",          "user-setup",    "bitmap-selection",
    "preview",        "logo-upload",  "logo-printout", "logo-setup",    "firmware-update",
    "ethernet-ii",    "network-setting", "printer-profile",
};

bool isFile(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

} // namespace

std::span<const std::string_view> helpTopics()
{
    return kTopics;
}

HelpPlaces HelpPlaces::fromEnvironment()
{
    HelpPlaces places;
    if (const char* dir = std::getenv("TAVRO_HELP_DIR"); dir && *dir)
        places.override = dir;
    std::error_code ec;
    places.executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        places.executable.clear();
    return places;
}

std::optional<std::filesystem::path> findHelpFolder(const HelpPlaces& places,
                                                    std::vector<std::filesystem::path>* tried)
{
    std::vector<std::filesystem::path> candidates;
    if (places.override)
        candidates.push_back(*places.override);
    else if (!places.executable.empty())
        candidates.push_back((places.executable.parent_path() / ".." / "share" / "tavroset" / "help").lexically_normal());
    for (const auto& folder : candidates) {
        if (tried)
            tried->push_back(folder);
        if (isFile(folder / "en" / "index.html"))
            return folder;
    }
    return std::nullopt;
}

std::filesystem::path helpPage(const std::filesystem::path& folder, std::string_view topic, bool korean)
{
    const std::string file = std::string(topic) + ".html";
    if (korean && isFile(folder / "ko" / file))
        return folder / "ko" / file;
    return folder / "en" / file;
}
