#include "app/MessageCatalog.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

const MessageTable* g_pMsg = &englishCatalog();

const char* catalogText(Msg entry)
{
    const int n = static_cast<int>(entry);
    if (n < 0 || n >= kCatalogSize)
        return "";
    return (*g_pMsg)[static_cast<std::size_t>(n)];
}

namespace {

template <class Arg>
std::string formatWith(const char* format, Arg arg)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int needed = std::snprintf(nullptr, 0, format, arg);
    if (needed < 0)
        return format;
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::snprintf(buffer.data(), buffer.size(), format, arg);
#pragma GCC diagnostic pop
    return std::string(buffer.data(), static_cast<std::size_t>(needed));
}

// The value of LANG= in a locale file ("LANG=ko_KR.UTF-8", quotes allowed), if any.
std::optional<std::string> langFromFile(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::optional<std::string> lang;
    while (std::getline(in, line)) {
        auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 5, "LANG=") != 0)
            continue;
        std::string value = line.substr(start + 5);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        lang = value;
    }
    return lang;
}

bool namesKorean(const std::string& lang)
{
    return lang.size() >= 2 && lang[0] == 'k' && lang[1] == 'o' &&
           (lang.size() == 2 || lang[2] == '_' || lang[2] == '.' || lang[2] == '@');
}

} // namespace

std::string catalogFormat(Msg entry, int value)
{
    return formatWith(catalogText(entry), value);
}

std::string catalogFormat(Msg entry, const std::string& value)
{
    return formatWith(catalogText(entry), value.c_str());
}

std::string downloadWriteFailureText(PortKind kind, int error)
{
    switch (kind) {
    case PortKind::Serial:
    case PortKind::Usb:
    case PortKind::Ethernet:
    case PortKind::Wifi: return catalogText(Msg::WriteFail);
    case PortKind::Parallel:
    case PortKind::PrintToFile:
    case PortKind::File: break;
    }
    return catalogFormat(Msg::LptWriteError, error);
}

LocaleSources LocaleSources::fromEnvironment()
{
    LocaleSources sources;
    // A redirect of /etc, so that a demo or a screenshot can play a Korean system.
    if (const char* root = std::getenv("TAVRO_ETC_ROOT"); root && *root)
        sources.etcRoot = root;
    // LC_ALL overrides LANG for every category, as the C library reads them.
    if (const char* all = std::getenv("LC_ALL"); all && *all)
        sources.langEnv = all;
    else if (const char* lang = std::getenv("LANG"))
        sources.langEnv = lang;
    return sources;
}

bool systemDefaultIsKorean(const LocaleSources& sources)
{
    for (const char* name : {"locale.conf", "default/locale"}) {
        std::filesystem::path file = sources.etcRoot / name;
        std::error_code ec;
        // A file that names no language (Debian's /etc/default/locale before update-locale
        // wrote one) does not decide: the next place does.
        if (std::filesystem::exists(file, ec)) {
            auto lang = langFromFile(file);
            if (lang && !lang->empty())
                return namesKorean(*lang);
        }
    }
    return sources.langEnv && namesKorean(*sources.langEnv);
}

bool selectCatalog(const LocaleSources& sources)
{
    bool korean = systemDefaultIsKorean(sources);
    selectCatalog(korean);
    return korean;
}

void selectCatalog(bool korean)
{
    g_pMsg = korean ? &koreanCatalog() : &englishCatalog();
}
