#pragma once
// The printer's customized setting values: what it stores for each setting number, how it
// spells a stored value in its Function 6 answer, and its factory values per model family.
//
// A stored value is the byte string that followed the setting number in a Function 5 item:
// two bytes `lo hi` for every setting except 255, which carries five (`b0 b1 b2 b3 04`).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using SettingBytes = std::vector<uint8_t>;
using SettingMap = std::map<int, SettingBytes>;

namespace SettingTable {

// Bytes that follow setting number `number` in a Function 5 item (2, or 5 for setting 255).
size_t valueLength(int number);

// The text the printer answers for a stored value (for example margin 576 = 40 02 → "264").
// Returns nullopt when the stored bytes are too short for the setting.
std::optional<std::string> valueText(int number, const SettingBytes& stored);

// The full Function 6 answer: 37 27 <number in decimal> 1F <value text> 00.
std::vector<uint8_t> replyFrame(int number, const std::string& valueText);

// Factory values of a model family (1..6): those of the setup dialog's "Default" form
// (80 mm, Black, MEDIUM, code page 0, NV user 64 KB, NV graphic 384 KB, ...).
SettingMap factoryValues(int family);

// NV graphic memory size in bytes that the stored setting 2 gives (code i → (i−1)·64 KB;
// codes outside 1..7 count as 384 KB, the largest size).
size_t nvGraphicBytes(const SettingMap& settings);
// NV user memory in KB from setting 1 (code i → i·64 KB).
int nvUserKb(const SettingMap& settings);

} // namespace SettingTable
