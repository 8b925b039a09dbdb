#pragma once
// The program's version: the caption shows "1.10" + "E", the log header the four parts.
inline constexpr int kVersionParts[4] = {1, 10, 0, 0};
inline constexpr const char* kVersionText = "1.10";
inline constexpr const char* kVersionSuffix = "E";
