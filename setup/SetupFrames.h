#pragma once
// The printer's GS ( E user-setting frames: enter and end user setting mode (Functions 1
// and 2), set customized setting values (Function 5) and transmit one customized setting
// value (Function 6), plus GS a 0 for the parallel port. Pure functions over bytes; the
// session (SetupSession) only sequences them. Any thread may call them.
#include "app/PortName.h"
#include "app/Result.h"
#include "port/ConnectionTraits.h"
#include "setup/SetupOptions.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// 1D 28 45 03 00 01 49 4E: enter user setting mode.
Bytes enterUserSettingFrame();
// 1D 28 45 04 00 02 4F 55 54: end user setting mode; the printer stores the values and
// restarts.
Bytes endUserSettingFrame();
// 1D 61 00: disable automatic status back. A parallel-port printer otherwise keeps
// sending its four-byte status reports between the answers.
Bytes disableAsbFrame();
// 1D 28 45 02 00 06 a: ask for the value of setting a.
Bytes transmitSettingFrame(std::uint8_t settingNumber);

// The Function 6 requests of one "Get Value", in order, as the connection's traits choose
// them: 18 for serial, USB and files (3, 116, ..., 253, 1, 2, 255), 17 for ETHERNET_II (no
// 253) and 17 for the parallel port (1, 2, 3, ..., 252, 255; no 253).
std::vector<std::uint8_t> readRequestList(SetupReadList list);
// The list of a connection of this kind (its traits' choice).
std::vector<std::uint8_t> readRequestList(PortKind kind);

// The parallel port's request list as the acknowledgement walks it again: the count, then
// the setting numbers.
struct CountedRequestList {
    std::uint8_t count = 0;
    std::array<std::uint8_t, 255> numbers{};
};
CountedRequestList lptRequestList();

// The customize setup code as the printer takes it: 1 to 8 hexadecimal digits, either
// case. Nothing for an empty or longer text or any other character (the dialog then
// sends 0 and shows "0").
std::optional<std::uint32_t> parseCustomCode(std::string_view text);
// The code as the edit field shows it: upper-case hexadecimal without leading zeros.
std::string formatCustomCode(std::uint32_t code);

struct SetValueFrame {
    Bytes bytes;                  // 1D 28 45 pL pH 05 items...
    bool usbModeChange = false;   // setting 210 is in it: the printer leaves this interface
    bool customCodeReset = false; // the code text was not valid hex: 0 sent, show "0"
};

// The Function 5 frame of the options that have a value, in the printer's item order
// (196, 198, 213, 212, 204, 206, 205, 207, 208, 210, 214, 199, 3, 116+118, 242, 243, 244,
// 245, 246, 1, 2, 247, 249, 248, 251, 253, 252, 250, 255); 250 and 255 always. The speed
// combo is the one of modelFamily. Fails, naming the option, when a value lies outside
// its list (an index past the combo, a margin over 576, an image number outside 1..255,
// lines outside 0..255): such a frame would write a value the dialog cannot show.
Result<SetValueFrame> buildSetValueFrame(const SetupOptions& options, ModelFamily modelFamily);
