#include "logo/LogoSelection.h"

#include <string>

namespace {

// A number of the selection: digits only, 1..255. Long digit runs are refused before they
// can overflow.
std::optional<int> imageNumber(std::string_view digits)
{
    if (digits.empty() || digits.size() > 3)
        return std::nullopt;
    int n = 0;
    for (char c : digits)
        n = n * 10 + (c - '0');
    if (n < 1 || n > 255)
        return std::nullopt;
    return n;
}

} // namespace

std::optional<std::vector<int>> parseLogoSelection(std::string_view text)
{
    // Leading zeros are harmless ("007" is 7), so strip them before the length check.
    auto number = [](std::string_view s) -> std::optional<int> {
        std::size_t i = 0;
        while (i + 1 < s.size() && s[i] == '0')
            ++i;
        return imageNumber(s.substr(i));
    };

    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != ',' && c != '-')
            return std::nullopt;
    if (text.find(",,") != std::string_view::npos || text.find("--") != std::string_view::npos)
        return std::nullopt;
    if (!text.empty() && text.front() == ',')
        text.remove_prefix(1);
    if (!text.empty() && text.back() == ',')
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;

    std::vector<int> numbers;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        if (dash == std::string_view::npos) {
            auto n = number(item);
            if (!n)
                return std::nullopt;
            numbers.push_back(*n);
        } else {
            // "a-b" only: "-5", "3-" and "1-2-3" name no clear range.
            if (item.find('-', dash + 1) != std::string_view::npos)
                return std::nullopt;
            auto first = number(item.substr(0, dash));
            auto last = number(item.substr(dash + 1));
            if (!first || !last)
                return std::nullopt;
            const int step = *first <= *last ? 1 : -1;
            for (int n = *first;; n += step) {
                numbers.push_back(n);
                if (n == *last)
                    break;
            }
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return numbers;
}
