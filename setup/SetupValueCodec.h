#pragma once
// From a parsed printer answer to a form value, in two steps as the two threads split it:
//  1. dispatchReply (RcvDataProcess): the setting number and value text become the value
//     code of WM_SETUP_VALUE (lParam); numeric texts go into the text slots.
//  2. applySetupValue (the WM_SETUP_VALUE handler): the value code and the slots change the
//     option model the way the dialog shows them.
// Pure functions; each runs on the thread named, the slots pass between them inside the
// synchronous message.
#include "setup/SetupOptions.h"
#include "setup/SetupReplyParser.h"
#include "setup/SetupTextSlots.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The value code for a complete reply, or nothing when the reply gives no value (unknown
// setting number, setting 0, or a first character not listed for the setting; those are
// dropped and the setting stays unanswered). Stores the value text of 118, 242, 243, 245,
// 246, 249 and 250 in its slot.
std::optional<long> dispatchReply(const SetupReplyParser::Reply& reply, SetupTextSlots& slots);

// The left margin in dots from the printer's digits: the printer sends the high byte in
// decimal followed by the low byte in decimal, so the digit count tells where the low
// byte starts ("264" = 2·256 + 64 = 576, "144" = 300, "05" and "5" = 5). Nothing when the
// text has no leading digits or the result lies outside 0..576.
std::optional<int> decodeMargin(std::string_view digits);

// The speed combo selection for a speed reply (mm/sec as decimal text): TAVRO46/48
// (family 6) 150 -> 3, 180 -> 2, 200 -> 1, else 0 ("220"); TAVRO36/38 (family 5, two
// entries "180", "150") 150 -> 1, else 0; the other families do not report a speed the
// dialog shows, so the current selection stays.
int decodeSpeedSelection(ModelFamily modelFamily, std::string_view text, int currentSelection);

// Applies one WM_SETUP_VALUE (setting number, value code) to the model, taking (and
// clearing) the setting's text slot. Returns true when the model now shows the printer's
// value; false when the setting number is not one the dialog shows, or the value has no
// place in the form (a code page outside the list, a margin outside 0..576, a speed of a
// family whose combo does not show it, ...): the affected option then holds no value or
// keeps its previous one, as the dialog's control would.
bool applySetupValue(SetupOptions& options, int settingNumber, long valueCode,
                     SetupTextSlots& slots, ModelFamily modelFamily);

// The leading decimal digits of text as a number; nothing when text does not start with a
// digit or the number exceeds max.
std::optional<std::uint64_t> leadingDecimal(std::string_view text, std::uint64_t max);
