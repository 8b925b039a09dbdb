#pragma once
// SHA-256 digests of files and byte ranges, as lower-case hex text: what `tavroctl firmware
// info` prints and `--sha256` compares, so that a script can pin the exact file it means.
#include "app/Result.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

std::string sha256Hex(std::span<const std::uint8_t> bytes);
// Reads the file in pieces; fails with the reason when it cannot be read.
Result<std::string> sha256OfFile(const std::filesystem::path& file);
// A digest as a user may type it: 64 hex digits, either case, surrounding blanks ignored.
// Empty when the text is not such a digest; else the lower-case form.
std::string normalisedSha256(std::string_view text);
