#pragma once
// The texts of the network settings: dotted addresses as the address controls hold them, the
// MAC text of a list row, and the five columns of a found printer's row. Pure functions.
#include "network/NetworkSettingsRecord.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "%d.%d.%d.%d".
std::string dottedText(const std::array<uint8_t, 4>& bytes);
// "%02X:%02X:%02X:%02X:%02X:%02X".
std::string macText(const std::array<uint8_t, 6>& mac);

// Reads a dotted text the way the address fields are read: up to four parts separated by
// ".", each converted as a decimal number (leading digits; none reads as 0) and kept as one
// byte; the fourth part is the rest of the text, so "192.168.0.7 (DHCP)" gives 192.168.0.7.
// Missing parts are 0.
std::array<uint8_t, 4> readDottedText(std::string_view text);

// Strict form for values typed on a command line: exactly four decimal numbers 0..255.
std::optional<std::array<uint8_t, 4>> parseIpv4Text(std::string_view text);

// Two hexadecimal digits; upper case as the list writes them, lower case accepted because
// people type it. Anything else: nothing.
std::optional<uint8_t> readHexByte(std::string_view text);
// Six two-digit hexadecimal parts separated by ":". Nothing for any other text.
std::optional<std::array<uint8_t, 6>> readMacText(std::string_view text);

// One row of the printer list.
struct NetworkPrinterRow {
    std::string ip;      // "%d.%d.%d.%d", with " (DHCP)" behind when the DHCP byte is non-zero
    std::string port;    // "%u"
    std::string subnet;  // "%d.%d.%d.%d"
    std::string gateway; // "%d.%d.%d.%d"
    std::string mac;     // "%02X:%02X:%02X:%02X:%02X:%02X"
    NetworkSettings settings;
};
NetworkPrinterRow networkPrinterRow(const NetworkSettings& settings);

// The DHCP box of a clicked row: the IP column holds the letter "D" after its first character
// (the " (DHCP)" suffix).
bool ipColumnSaysDhcp(std::string_view ipColumn);

// The MAC address that a manual change addresses: the fixed maker prefix 02 5C 3A and the
// three low bytes typed by the user.
inline constexpr std::array<uint8_t, 3> kManualMacPrefix{0x02, 0x5C, 0x3A};
