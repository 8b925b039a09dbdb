#pragma once
// The printer command bytes of the logo tool, built whole before anything is sent: the
// define-NV-bit-image command and its pictures, the clear, the print command with its header
// line, the top/bottom logo settings frame and the sample receipt. Pure functions; the
// engines only sequence them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace logo_frames {

using Bytes = std::vector<uint8_t>;

// ESC @: sent after opening a connection that needs the printer reset to its defaults.
Bytes initialise();
// GS I 1: asks for the printer's model id; the upload only uses it to see the printer awake.
Bytes printerCheck();

// FS q n (ESC FS q n with the star emulation): starts a definition of n pictures; the printer
// erases its whole NV bit-image memory when it reads it.
Bytes defineCommand(int count, bool star);
// A picture header with zero size and no data: completes one picture of a definition.
Bytes emptyPicture();
// FS q 1 followed by one empty picture: an erased NV memory.
Bytes clearAll();

// The four print modes of FS p.
enum class PrintMode : uint8_t { Normal = 0, DoubleWidth = 1, DoubleHeight = 2, Quadruple = 3 };
// FS p n m (ESC FS p n m with the star emulation).
Bytes printCommand(int number, PrintMode mode, bool star);
// "--- Logo %d ---\n".
Bytes headerLine(int number);

enum class LogoJustify : uint8_t { Left = 0, Center = 1, Right = 2 };

// What the printer adds to every receipt by itself. Numbers are 1..255.
struct LogoSettingsValues {
    bool topEnable = false;
    int topNumber = 1;
    LogoJustify topJustify = LogoJustify::Center;
    bool powerOn = false; // the top logo is also printed when the printer is switched on
    bool bottomEnable = false;
    int bottomNumber = 2;
    LogoJustify bottomJustify = LogoJustify::Center;
};
// The 12-byte frame FS 01 30 TE TN TF BE BN BJ FS 02 30. Numbers outside 1..255 are a caller's
// bug (the pages and the CLI refuse them first); they are clamped so the frame stays 12 bytes.
std::array<uint8_t, 12> logoSettingsFrame(const LogoSettingsValues& values);

// The sample receipt (1031 bytes): 40-column lines ending in CR LF, then the feed and the cut
// the printer's bottom logo comes before.
inline constexpr std::size_t kSampleReceiptSize = 1031;
Bytes sampleReceipt();

} // namespace logo_frames
