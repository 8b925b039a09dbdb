#include "setup/SetupTextSlots.h"

#include <algorithm>
#include <cstring>

void SetupTextSlots::store(TextSlot slot, std::string_view text)
{
    auto& s = m_slots[static_cast<std::size_t>(slot)];
    s.fill('\0');
    std::size_t n = std::min<std::size_t>(text.size(), kSlotSize - 1);
    std::memcpy(s.data(), text.data(), n);
}

std::string SetupTextSlots::take(TextSlot slot)
{
    std::string text = peek(slot);
    auto& s = m_slots[static_cast<std::size_t>(slot)];
    std::fill(s.begin(), s.begin() + (kSlotSize - 1), '\0');
    return text;
}

std::string SetupTextSlots::peek(TextSlot slot) const
{
    const auto& s = m_slots[static_cast<std::size_t>(slot)];
    return std::string(s.data(), ::strnlen(s.data(), kSlotSize));
}
