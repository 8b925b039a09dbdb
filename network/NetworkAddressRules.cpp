#include "network/NetworkAddressRules.h"

#include "app/MessageCatalogNetwork.h"
#include "network/NetworkText.h"

namespace {

uint32_t value(const Ipv4Bytes& b)
{
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

NetText fieldName(AddressField field)
{
    switch (field) {
    case AddressField::Mask: return NetText::FieldMask;
    case AddressField::Gateway: return NetText::FieldGateway;
    case AddressField::Ip: break;
    }
    return NetText::FieldIp;
}

} // namespace

std::optional<Ipv4Bytes> readAddressText(std::string_view text)
{
    return parseIpv4Text(trimmed(text));
}

bool maskIsContiguous(const Ipv4Bytes& mask)
{
    const uint32_t m = value(mask);
    // Ones then zeros: the inverted mask plus one is a power of two (or wraps to zero).
    return m != 0 && ((~m + 1) & ~m) == 0;
}

bool gatewayInSubnet(const Ipv4Bytes& ip, const Ipv4Bytes& mask, const Ipv4Bytes& gateway)
{
    const uint32_t g = value(gateway);
    return g == 0 || (g & value(mask)) == (value(ip) & value(mask));
}

AddressRuleCheck checkNetworkAddresses(std::string_view ip, std::string_view mask, std::string_view gateway)
{
    AddressRuleCheck check;
    const std::pair<AddressField, std::string_view> fields[] = {
        {AddressField::Ip, ip}, {AddressField::Mask, mask}, {AddressField::Gateway, gateway}};
    Ipv4Bytes* values[] = {&check.ip, &check.mask, &check.gateway};
    for (size_t i = 0; i < 3; ++i) {
        auto bytes = readAddressText(fields[i].second);
        if (!bytes) {
            check.problem = AddressRuleCheck::Problem::NotAnAddress;
            check.field = fields[i].first;
            check.text = std::string(fields[i].second);
            return check;
        }
        *values[i] = *bytes;
    }
    if (!maskIsContiguous(check.mask)) {
        check.problem = AddressRuleCheck::Problem::MaskNotContiguous;
        check.field = AddressField::Mask;
        check.text = std::string(mask);
        return check;
    }
    check.gatewayOutsideSubnet = !gatewayInSubnet(check.ip, check.mask, check.gateway);
    return check;
}

std::string AddressRuleCheck::refusalText() const
{
    switch (problem) {
    case Problem::None: return {};
    case Problem::MaskNotContiguous: return fillText(networkText(NetText::MaskNotContiguous), {dottedText(mask)});
    case Problem::NotAnAddress: break;
    }
    return fillText(networkText(NetText::NotAnAddress), {networkText(fieldName(field)), text});
}

std::string AddressRuleCheck::gatewayText() const
{
    if (!ok() || !gatewayOutsideSubnet)
        return {};
    return fillText(networkText(NetText::GatewayOutsideSubnet), {dottedText(gateway), dottedText(ip), dottedText(mask)});
}
