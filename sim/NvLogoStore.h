#pragma once
// What the printer's NV bit-image memory takes, from the printer's side: the limits of one
// picture of a definition and the time the memory needs to erase after FS q n. The command
// interpreter asks these when a definition arrives.
#include "sim/NvPicture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nv_store {

// One picture is at most as wide as the 80 mm head (72 bytes = 576 dots), 288 bands of eight
// dots high, and no larger than the picture buffer of 0x24000 bytes the firmware assembles it
// in.
inline constexpr int kMaxXBytes = 72;
inline constexpr int kMaxYBytes = 288;
inline constexpr std::size_t kMaxPictureBytes = 0x24000;

// Why a picture of x bytes across and y bytes down cannot be stored, or "" when it can.
std::string refusal(int xBytes, int yBytes, bool gray);

// How long the printer erases its NV bit-image memory after FS q n before it can store what
// follows (the tool waits 3500 ms).
inline constexpr int kDefaultEraseMs = 3000;

// A definition the printer is receiving (FS q n, then n pictures).
struct NvDefinition {
    int count = 0;
    bool star = false;
    std::vector<NvPicture> pictures;
    NvPicture current;
    std::size_t remaining = 0; // raster bytes still due for `current`
    std::size_t total = 0;
    std::size_t capacity = 0;
    bool overflow = false;
    std::string refused;    // a picture the printer cannot take: the whole definition fails
    int64_t readyAtMs = -1; // end of the erase (-1: not timed)
    bool earlyData = false; // raster bytes came while the memory was still erasing
    // Kept while no connection carries the definition on: the header bytes already read, and
    // whether raster bytes of `current` are due.
    std::vector<uint8_t> headerBytes;
    bool inData = false;
};

} // namespace nv_store
