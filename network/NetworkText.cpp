#include "network/NetworkText.h"

#include <cstdio>

std::string dottedText(const std::array<uint8_t, 4>& b)
{
    char buf[20];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return buf;
}

std::string macText(const std::array<uint8_t, 6>& m)
{
    char buf[20];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return buf;
}

namespace {

// The decimal value of the leading digits, wrapped to a byte as the address bytes take it.
uint8_t leadingNumber(std::string_view part)
{
    size_t i = 0;
    while (i < part.size() && (part[i] == ' ' || part[i] == '\t'))
        ++i;
    unsigned value = 0;
    for (; i < part.size() && part[i] >= '0' && part[i] <= '9'; ++i)
        value = (value * 10 + static_cast<unsigned>(part[i] - '0')) & 0xFFFFu;
    return static_cast<uint8_t>(value);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::array<uint8_t, 4> readDottedText(std::string_view text)
{
    std::array<uint8_t, 4> out{};
    for (size_t part = 0; part < 4 && !text.empty(); ++part) {
        size_t dot = part < 3 ? text.find('.') : std::string_view::npos;
        out[part] = leadingNumber(text.substr(0, dot));
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    return out;
}

std::optional<std::array<uint8_t, 4>> parseIpv4Text(std::string_view text)
{
    std::array<uint8_t, 4> out{};
    for (size_t part = 0; part < 4; ++part) {
        size_t end = text.find('.');
        if ((part < 3) != (end != std::string_view::npos))
            return std::nullopt;
        std::string_view p = text.substr(0, end);
        if (p.empty() || p.size() > 3)
            return std::nullopt;
        unsigned v = 0;
        for (char c : p) {
            if (c < '0' || c > '9')
                return std::nullopt;
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        if (v > 255)
            return std::nullopt;
        out[part] = static_cast<uint8_t>(v);
        if (end != std::string_view::npos)
            text.remove_prefix(end + 1);
    }
    return out;
}

std::optional<uint8_t> readHexByte(std::string_view text)
{
    if (text.size() != 2)
        return std::nullopt;
    int hi = hexDigit(text[0]), lo = hexDigit(text[1]);
    if (hi < 0 || lo < 0)
        return std::nullopt;
    return static_cast<uint8_t>(hi << 4 | lo);
}

std::optional<std::array<uint8_t, 6>> readMacText(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    std::array<uint8_t, 6> out{};
    for (size_t i = 0; i < 6; ++i) {
        if (i < 5 && text[i * 3 + 2] != ':')
            return std::nullopt;
        auto byte = readHexByte(text.substr(i * 3, 2));
        if (!byte)
            return std::nullopt;
        out[i] = *byte;
    }
    return out;
}

NetworkPrinterRow networkPrinterRow(const NetworkSettings& s)
{
    NetworkPrinterRow row;
    row.ip = dottedText(s.ip);
    if (s.dhcpOn())
        row.ip += " (DHCP)";
    row.port = std::to_string(s.port);
    row.subnet = dottedText(s.mask);
    row.gateway = dottedText(s.gateway);
    row.mac = macText(s.mac);
    row.settings = s;
    return row;
}

bool ipColumnSaysDhcp(std::string_view ipColumn)
{
    return ipColumn.size() > 1 && ipColumn.find('D', 1) != std::string_view::npos;
}
