#pragma once
// The "TEST" page of the user setup: a title, ten digit lines alternating between the
// printer's two print colours, the 128 character codes 80..FF of the current code page,
// on Korean systems a line of Korean and Chinese text in code page 949, and a cut. Each
// block is one write, in order; the title and digit blocks carry their terminating 00 to
// the printer, as they always have. Pure; any thread.
#include "app/Result.h"

#include <cstdint>
#include <vector>

using TestPageBlocks = std::vector<std::vector<std::uint8_t>>;

// 358 bytes in 31 blocks, or 395 bytes in 32 with the KOREAN block. Fails only when the
// system's iconv cannot convert to code page 949 (the Korean page then cannot be built).
Result<TestPageBlocks> testPageBlocks(bool korean);

// The KOREAN block: "한글출력테스트 漢子 한글 0123456789\n" in code page 949 and a 00.
Result<std::vector<std::uint8_t>> koreanTestLine();
