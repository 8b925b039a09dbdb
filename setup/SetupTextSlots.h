#pragma once
// The seven 16-byte text slots through which RcvDataProcess hands the data text of the
// settings whose value is a number rather than a choice. The worker stores a slot just
// before it sends WM_SETUP_VALUE; the handler takes it inside that synchronous call, so the
// two never touch a slot at the same time (the MessageTarget's hand-over orders them).
#include <array>
#include <string>
#include <string_view>

enum class TextSlot {
    ImageNumber, // 242
    Density,     // 118
    Margin,      // 250
    Lines,       // 243
    CodePage,    // 246
    BellCount,   // 245
    Speed,       // 249
};

class SetupTextSlots {
public:
    static constexpr int kSlotSize = 16;
    static constexpr int kSlotCount = 7;

    // Stores text, cut to the 15 characters that fit before the terminator.
    void store(TextSlot slot, std::string_view text);
    // The text of the slot; its first 15 bytes are cleared afterwards.
    std::string take(TextSlot slot);
    // The text without clearing it.
    std::string peek(TextSlot slot) const;

private:
    std::array<std::array<char, kSlotSize>, kSlotCount> m_slots{};
};
