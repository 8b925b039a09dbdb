#include "logo/LogoLog.h"

std::string LogoLog::keyName(int index) { return "Logofile" + std::to_string(index); }

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
    return Status::success();
}
