#include "logo/LogoLog.h"

#include "app/ProfileText.h"

#include <algorithm>
#include <map>

namespace {

// The index of a "Logofile<k>" key as this log writes it (k from 1, no leading zeros);
// 0 for any other key.
long indexOfKey(const std::string& key)
{
    constexpr std::size_t kStem = 8; // "Logofile"
    if (key.size() <= kStem || !ProfileText::sameName(key.substr(0, kStem), "Logofile"))
        return 0;
    const std::string digits = key.substr(kStem);
    if (digits.size() > 9 || digits.front() == '0')
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    return std::stol(digits);
}

} // namespace

std::string LogoLog::keyName(int index) { return "Logofile" + std::to_string(index); }

std::vector<std::string> LogoLog::read() const
{
    // One read of the file for the whole log, not one per key.
    std::map<long, std::string> byIndex;
    for (auto& [key, value] : m_profile.entries(kSection))
        if (long k = indexOfKey(key); k > 0 && k <= kMaxKeys)
            byIndex.emplace(k, std::move(value));
    std::vector<std::string> paths;
    for (int k = 1; k <= kMaxKeys; ++k) {
        auto it = byIndex.find(k);
        if (it == byIndex.end() || it->second.empty())
            break;
        paths.push_back(std::move(it->second));
    }
    return paths;
}

std::vector<int> LogoLog::centred() const
{
    std::vector<int> numbers;
    const std::string text = m_profile.getString(kSection, kCentredKey);
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string item = text.substr(at, comma - at);
        if (!item.empty() && item.size() <= 3 && item.find_first_not_of("0123456789") == std::string::npos) {
            const int n = std::stoi(item);
            if (n >= 1 && n <= kMaxKeys)
                numbers.push_back(n);
        }
        at = comma + 1;
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

Status LogoLog::write(const std::vector<std::string>& paths, int previousCount, const std::vector<bool>& centred)
{
    const int n = int(paths.size());
    if (n > kMaxKeys)
        return Status::failure("logo log of " + std::to_string(n) + " pictures exceeds " + std::to_string(kMaxKeys));
    Profile::Edit edit;
    // Every higher key goes, not only those up to the count read: a log with a gap (an empty
    // Logofile1 before a Logofile3) or one another program extended past 255 would otherwise
    // keep keys that a later gap-free log brings back as pictures the printer does not hold.
    for (const auto& [key, value] : m_profile.entries(kSection))
        if (indexOfKey(key) > n)
            edit.remove(kSection, key);
    for (int k = n + 1; k <= previousCount && k <= kMaxKeys; ++k)
        edit.remove(kSection, keyName(k));
    for (int k = 1; k <= n; ++k)
        edit.set(kSection, keyName(k), paths[std::size_t(k - 1)]);
    std::string numbers;
    for (int k = 1; k <= n && std::size_t(k) <= centred.size(); ++k)
        if (centred[std::size_t(k - 1)])
            numbers += (numbers.empty() ? "" : ",") + std::to_string(k);
    if (numbers.empty()) {
        if (!m_profile.getString(kSection, kCentredKey).empty())
            edit.remove(kSection, kCentredKey);
    } else {
        edit.set(kSection, kCentredKey, numbers);
    }
    if (Status s = m_profile.apply(edit); !s)
        return s.context("cannot write the logo log");
    return Status::success();
}
