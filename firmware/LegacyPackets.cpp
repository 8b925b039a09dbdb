#include "firmware/LegacyPackets.h"

#include <algorithm>

std::optional<LegacyAreaSpec> legacyAreaSpec(LegacyArea area)
{
    switch (area) {
    case LegacyArea::Program: return LegacyAreaSpec{area, 0x1D0000, 0x1F0000, 0x20, 0x22, 500};
    case LegacyArea::Boot: return LegacyAreaSpec{area, 0x1F0000, 0x200000, 0x22, 0x23, 400};
    case LegacyArea::Font: return LegacyAreaSpec{area, 0x190000, 0x1B0000, 0x1C, 0x1E, 500};
    case LegacyArea::ExtFont: break;
    }
    return std::nullopt;
}

std::string_view legacyAreaName(LegacyArea area)
{
    switch (area) {
    case LegacyArea::Program: return "program";
    case LegacyArea::ExtFont: return "ext-font";
    case LegacyArea::Boot: return "boot";
    case LegacyArea::Font: break;
    }
    return "font";
}

std::optional<LegacyArea> legacyAreaFromName(std::string_view name)
{
    for (LegacyArea a : {LegacyArea::Program, LegacyArea::ExtFont, LegacyArea::Boot, LegacyArea::Font})
        if (legacyAreaName(a) == name)
            return a;
    return std::nullopt;
}

std::vector<std::uint8_t> legacyErasePacket(const LegacyAreaSpec& area)
{
    return {0x40, 0xF2, area.firstSector, area.endSector, 0, 0, 0, 0, 0, 0};
}

std::uint16_t legacyChecksum(std::span<const std::uint8_t> data)
{
    std::uint32_t sum = 0;
    for (std::uint8_t b : data)
        sum += b;
    return static_cast<std::uint16_t>(sum);
}

std::vector<std::uint8_t> legacyDataPacket(const LegacyAreaSpec& area, std::uint32_t position,
                                           std::span<const std::uint8_t> file)
{
    const std::uint32_t left = area.end - position;
    const bool last = left <= kLegacyMaxData;
    const std::uint32_t n = last ? left : static_cast<std::uint32_t>(kLegacyMaxData);
    std::vector<std::uint8_t> p(n + 10, 0);
    p[0] = 0x40;
    p[1] = last ? 0xF1 : 0xF0;
    p[2] = static_cast<std::uint8_t>(n >> 8);
    p[3] = static_cast<std::uint8_t>(n);
    p[4] = static_cast<std::uint8_t>(position >> 24);
    p[5] = static_cast<std::uint8_t>(position >> 16);
    p[6] = static_cast<std::uint8_t>(position >> 8);
    p[7] = static_cast<std::uint8_t>(position);
    if (position < file.size()) {
        const std::size_t have = std::min<std::size_t>(n, file.size() - position);
        std::copy_n(file.begin() + position, have, p.begin() + 8);
    }
    const std::uint16_t sum = legacyChecksum(std::span(p).subspan(8, n));
    p[8 + n] = static_cast<std::uint8_t>(sum >> 8);
    p[9 + n] = static_cast<std::uint8_t>(sum);
    return p;
}

std::vector<LegacyAckParser::Answer> LegacyAckParser::feed(std::span<const std::uint8_t> bytes)
{
    std::vector<Answer> answers;
    for (std::uint8_t b : bytes) {
        if (m_dle) {
            m_dle = false;
            if (b == kAck)
                answers.push_back(Answer::Ack);
            else if (b == kNak)
                answers.push_back(Answer::Nak);
            continue;
        }
        m_dle = b == kDle;
    }
    return answers;
}
