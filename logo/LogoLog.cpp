#include "logo/LogoLog.h"

#include <algorithm>
#include <cctype>

std::string LogoLog::keyName(int index) { return "Logofile" + std::to_string(index); }

int LogoLog::keyIndex(const std::string& key)
{
    static constexpr std::string_view prefix = "logofile";
    if (key.size() <= prefix.size() || key.size() > prefix.size() + 9)
        return 0;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(key[i])) != prefix[i])
            return 0;
    int k = 0;
    for (std::size_t i = prefix.size(); i < key.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(key[i])))
            return 0;
        k = k * 10 + (key[i] - '0');
    }
    return k;
}

std::vector<std::string> LogoLog::read() const
{
    std::vector<std::string> paths;
    for (int k = 1; k <= kMaxKeys; ++k) {
        std::string path = m_profile.getString(kSection, keyName(k));
        if (path.empty())
            break;
        paths.push_back(std::move(path));
    }
    return paths;
}

Status LogoLog::write(const std::vector<std::string>& paths, int previousCount)
{
    const int n = int(paths.size());
    if (n > kMaxKeys)
        return Status::failure("logo log of " + std::to_string(n) + " pictures exceeds " + std::to_string(kMaxKeys));
    for (int k = 1; k <= n; ++k) {
        Status s = m_profile.writeString(kSection, keyName(k), paths[std::size_t(k - 1)]);
        if (!s.ok())
            return s.context("cannot write logo log key " + keyName(k));
    }
    for (int k = n + 1; k <= previousCount; ++k) {
        Status s = m_profile.deleteKey(kSection, keyName(k));
        if (!s.ok())
            return s.context("cannot delete logo log key " + keyName(k));
    }
    // Keys the reader never reaches (beyond a gap, or past the 255th) would otherwise stay in
    // the profile for ever and come back as soon as the keys below them are filled again.
    for (const std::string& key : m_profile.keys(kSection)) {
        const int k = keyIndex(key);
        if (k <= std::max(n, previousCount))
            continue;
        Status s = m_profile.deleteKey(kSection, key);
        if (!s.ok())
            return s.context("cannot delete logo log key " + key);
    }
    return Status::success();
}
