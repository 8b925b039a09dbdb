#pragma once
// The flash areas of the F/W Update download and where each one sits for a model family.
#include "app/ConnectionRules.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// In the order of the dialog's radio group (its index is the area's number).
enum class FirmwareArea { Program = 0, ExtFont = 1, LcdFont = 2, Downloader = 3, Boot = 4 };
inline constexpr std::array<FirmwareArea, 5> kFirmwareAreas = {
    FirmwareArea::Program, FirmwareArea::ExtFont, FirmwareArea::LcdFont, FirmwareArea::Downloader,
    FirmwareArea::Boot};

struct FirmwareAreaSpec {
    FirmwareArea area;
    std::uint32_t offset; // where the area's bytes start in the image
    std::uint32_t length; // the whole transfer block, header included (the FileSize field)
    std::array<std::uint8_t, 4> header;
};

// The area's place for a model family (1..6; family 2 never uses this download).
FirmwareAreaSpec firmwareAreaSpec(FirmwareArea area, ModelFamily family);

// The name tavroctl takes and prints: "program", "ext-font", "lcd-font", "downloader", "boot".
std::string_view firmwareAreaName(FirmwareArea area);
std::optional<FirmwareArea> firmwareAreaFromName(std::string_view name);
// The radio caption, English or Korean.
std::string_view firmwareAreaCaption(FirmwareArea area, bool korean);

// The question asked before the area is written, in the active language; empty for Program.
std::string firmwareAreaQuestion(FirmwareArea area, bool korean);

// Which areas a user may choose: Program and Ext. Font always; LCD font only on a TAVRO46/48
// (family 6); DOWNLOAD only in service mode; Boot only in service mode and only when the
// image's boot-permission byte allows it.
bool firmwareAreaAllowed(FirmwareArea area, ModelFamily family, bool serviceMode, bool bootAllowed);

// The time the printer needs to write its flash after the last byte: one step of
// floor(2 * L / 20480) ms, 16 steps after a port transfer and 256 after a network one.
inline constexpr std::uint32_t kFinalWaitUnits = 20480;
inline std::uint32_t finalWaitStepMs(std::uint32_t length) { return 2 * length / kFinalWaitUnits; }
