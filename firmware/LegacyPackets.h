#pragma once
// The packets of the TAVRO15's firmware download and the parser of its answers.
//
// Erase packet (10 bytes):  40 F2 <first sector> <end sector> 00 00 00 00 00 00
// Data packet (n + 10):     40 F0|F1 <n:2> <address:4> <n data bytes> <sum of data:2>
// All numbers big-endian; F1 marks the area's last packet; n is 1..512.
// The printer answers DLE ACK (10 06) to take a packet and DLE NAK (10 15) to have it again.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// In the order of the dialog's radio group; Ext Font has no range and is never offered.
enum class LegacyArea { Program = 0, ExtFont = 1, Boot = 2, Font = 3 };

struct LegacyAreaSpec {
    LegacyArea area;
    std::uint32_t start, end;      // file range [start, end)
    std::uint8_t firstSector, endSector; // start / 0x10000 + 3 and end / 0x10000 + 3
    std::uint32_t erasePauseMs;    // each of the six pauses while the printer erases
};

// Program, Boot and Font; nothing for ExtFont.
std::optional<LegacyAreaSpec> legacyAreaSpec(LegacyArea area);
std::string_view legacyAreaName(LegacyArea area); // "program", "ext-font", "boot", "font"
std::optional<LegacyArea> legacyAreaFromName(std::string_view name);

inline constexpr std::size_t kLegacyMaxData = 512;
inline constexpr std::uint8_t kDle = 0x10, kAck = 0x06, kNak = 0x15;

std::vector<std::uint8_t> legacyErasePacket(const LegacyAreaSpec& area);

// The data packet at `position` of the area: up to 512 bytes taken from `file` (the whole
// flat image as read; bytes beyond its end are zeros, so a short file still gives full
// packets). Precondition: area.start <= position < area.end.
std::vector<std::uint8_t> legacyDataPacket(const LegacyAreaSpec& area, std::uint32_t position,
                                           std::span<const std::uint8_t> file);

// Sum of the data bytes modulo 65536, as the packet's last two bytes carry it.
std::uint16_t legacyChecksum(std::span<const std::uint8_t> data);

// The printer's answers, fed in whatever pieces the port delivers them: a DLE at the end of
// one piece and its ACK at the start of the next still count, and a 06 without a DLE in
// front is ignored.
class LegacyAckParser {
public:
    enum class Answer { Ack, Nak };
    // The answers found in these bytes, in order.
    std::vector<Answer> feed(std::span<const std::uint8_t> bytes);
    void reset() { m_dle = false; }

private:
    bool m_dle = false;
};
