#pragma once
// The image numbers a "Selection" names: numbers separated by ",", a range "a-b" for a, a+1,
// ... b. Refused: empty text, any character other than digits, "," and "-", a doubled
// separator (",," or "--"), a number outside 1..255 (either end of a range included). One
// leading and one trailing comma are ignored. A range written backwards ("9-3") names the same
// numbers in descending order, as the user wrote it.
#include <optional>
#include <string_view>
#include <vector>

// The numbers in the order they are printed, or nothing when the text is refused.
std::optional<std::vector<int>> parseLogoSelection(std::string_view text);
