#pragma once
// The user setup as text: one `key = value` per option, the form that `tavroctl setup get`
// prints, `get --save` writes into an INI file (section [setup]) and `set` / `set --from`
// / `diff` read back. A technician keeps one such snapshot per shop and applies it to the
// next printer. Pure functions; any thread.
//
// Keys and values (words compare case-insensitively; numbers are decimal):
//   paper_width 80|58, columns 32|34 (58 mm only), paper_type black|2color,
//   color_density light|medium|dark, watermark off|1..255, cut_adjust off|0..255,
//   drawer_on_cut disable|enable, bell_type 0..5, bell_count 1..5, code_page <number>,
//   nv_user 64|128|192|256|320, nv_graphic 0|64|128|192|256|320|384, cut_mode partial|full,
//   bold_korean off|on, speed 220|200|180|150 (TAVRO36/38: 180|150), margin 0..576,
//   drawer_self_test enable|disable, rx_buffer 64|32|20|4, stop_bit one|two,
//   custom_code <1-8 hex digits>, and the written-only emulation epson|star, density 1..4,
//   kitchen_bell off|on, autocut on|off, self_test selftest|hexdump, usb_mode usb|com,
//   sleep 0|5|10|15, paper_save 0|1|2, wifi_keep enable|disable, lcd_password reset|keep,
//   bell external|builtin, bt_usb_power off|on.
#include "app/Result.h"
#include "setup/SetupOptions.h"

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using SnapshotLines = std::vector<std::pair<std::string, std::string>>;

inline constexpr const char* kSnapshotSection = "setup";

// Every key, in the order the snapshot lists them.
const std::vector<std::string>& snapshotKeys();
// The setting number a key is read and written as (columns: 3, bell_count: 245).
int settingOfKey(std::string_view key);
// True for the keys the printer can be asked for (the written-only group is not).
bool keyIsReadable(std::string_view key);

// The options of the form as key/value lines, in key order. Options without a value are
// left out (so are columns for 80 mm). shown, when given, limits the lines to the keys
// whose setting number it holds (the settings the printer reported).
SnapshotLines snapshotOf(const SetupOptions& form, ModelFamily modelFamily, const std::set<int>* shown = nullptr);

// Sets one option from its text. Fails with a message that names the key and the values
// it takes when the key is unknown or the value is not in its list.
Status applySnapshotValue(SetupOptions& form, std::string_view key, std::string_view value, ModelFamily modelFamily);

// Splits "KEY=VALUE" (blanks around either side are dropped).
Result<std::pair<std::string, std::string>> splitAssignment(std::string_view text);

// The rules between options that a form given by keys must keep before it is written,
// as the dialog's controls keep them: columns only with paper_width=58 (58 without columns
// takes the 34-column entry, as the 58mm button does), color_density only with
// paper_type, bell_count only with bell_type, no water mark on 2-colour paper, and NV user
// plus graphic memory within 448 KB. given: the keys that were set.
Status completeGivenForm(SetupOptions& form, const std::set<std::string>& given);
