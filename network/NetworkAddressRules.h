#pragma once
// The rules for the addresses a printer's network module is given, the same for the Network
// Setting dialog and `tavroctl net set`: each address is four numbers 0..255 (nothing is cut
// to a byte), the subnet mask is ones from the left followed by zeros, and a gateway outside
// the printer's subnet is reported so that the caller can ask (the dialog) or refuse unless
// told otherwise (the command line). A gateway 0.0.0.0 means none and is always accepted.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Ipv4Bytes = std::array<uint8_t, 4>;

enum class AddressField { Ip, Mask, Gateway };

struct AddressRuleCheck {
    enum class Problem { None, NotAnAddress, MaskNotContiguous };
    Problem problem = Problem::None;
    AddressField field = AddressField::Ip; // where the problem is
    std::string text;                      // that field's text as typed
    Ipv4Bytes ip{}, mask{}, gateway{};     // the values read (those before a field that is not an address)
    bool gatewayOutsideSubnet = false;

    bool ok() const { return problem == Problem::None; }
    // Why the values cannot be sent, in the active catalog's language ("" when they can).
    std::string refusalText() const;
    // The gateway statement ("The gateway ... is outside the subnet of ..."); "" when inside.
    std::string gatewayText() const;
};

// Checks the three texts as typed (spaces around them are ignored).
AddressRuleCheck checkNetworkAddresses(std::string_view ip, std::string_view mask, std::string_view gateway);

// Four decimal numbers 0..255 separated by ".", each of one to three digits, spaces around the
// whole text ignored. Nothing for any other text.
std::optional<Ipv4Bytes> readAddressText(std::string_view text);
// Ones from the left followed by zeros, at least one of them.
bool maskIsContiguous(const Ipv4Bytes& mask);
// The gateway is in the IP address's subnet (or is 0.0.0.0, no gateway).
bool gatewayInSubnet(const Ipv4Bytes& ip, const Ipv4Bytes& mask, const Ipv4Bytes& gateway);
