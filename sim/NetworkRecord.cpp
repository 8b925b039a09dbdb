#include "sim/NetworkRecord.h"

#include <cstdio>
#include <sstream>

namespace {

template <size_t N>
std::string dotted(const std::array<uint8_t, N>& a)
{
    std::string out;
    for (size_t i = 0; i < N; ++i) {
        if (i)
            out += '.';
        out += std::to_string(a[i]);
    }
    return out;
}

bool parseDotted(const std::string& text, std::array<uint8_t, 4>& out)
{
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4)
        return false;
    if (a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    out = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
    return true;
}

} // namespace

std::vector<uint8_t> NetworkRecord::encode(uint8_t command) const
{
    std::vector<uint8_t> out(kSize, 0);
    out[0] = out[1] = 0xAA;
    out[2] = command;
    std::copy(ip.begin(), ip.end(), out.begin() + 3);
    std::copy(mask.begin(), mask.end(), out.begin() + 7);
    std::copy(gateway.begin(), gateway.end(), out.begin() + 11);
    std::copy(mac.begin(), mac.end(), out.begin() + 15);
    out[21] = dhcp;
    out[22] = static_cast<uint8_t>(tcpPort >> 8);
    out[23] = static_cast<uint8_t>(tcpPort & 0xFF);
    out[33] = out[34] = 0x55;
    return out;
}

std::optional<NetworkRecord> NetworkRecord::decode(const std::vector<uint8_t>& d, uint8_t* command)
{
    if (d.size() != kSize || d[0] != 0xAA || d[1] != 0xAA || d[33] != 0x55 || d[34] != 0x55)
        return std::nullopt;
    NetworkRecord r;
    std::copy(d.begin() + 3, d.begin() + 7, r.ip.begin());
    std::copy(d.begin() + 7, d.begin() + 11, r.mask.begin());
    std::copy(d.begin() + 11, d.begin() + 15, r.gateway.begin());
    std::copy(d.begin() + 15, d.begin() + 21, r.mac.begin());
    r.dhcp = d[21];
    r.tcpPort = static_cast<uint16_t>(d[22] << 8 | d[23]);
    if (command)
        *command = d[2];
    return r;
}

std::string NetworkRecord::ipText() const { return dotted(ip); }
std::string NetworkRecord::maskText() const { return dotted(mask); }
std::string NetworkRecord::gatewayText() const { return dotted(gateway); }

std::string NetworkRecord::macText() const
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

std::string NetworkRecord::toLine() const
{
    return "ip=" + ipText() + " mask=" + maskText() + " gw=" + gatewayText() + " mac=" + macText() +
           " dhcp=" + std::to_string(dhcp) + " port=" + std::to_string(tcpPort);
}

std::optional<NetworkRecord> NetworkRecord::fromLine(const std::string& line)
{
    NetworkRecord r;
    std::istringstream in(line);
    std::string word;
    int seen = 0;
    while (in >> word) {
        auto eq = word.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "ip" && parseDotted(value, r.ip))
            seen |= 1;
        else if (key == "mask" && parseDotted(value, r.mask))
            seen |= 2;
        else if (key == "gw" && parseDotted(value, r.gateway))
            seen |= 4;
        else if (key == "mac") {
            if (!parseMac(value, r.mac))
                return std::nullopt;
            seen |= 8;
        } else if (key == "dhcp") {
            char* end = nullptr;
            long v = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || !end || *end || v < 0 || v > 255)
                return std::nullopt;
            r.dhcp = static_cast<uint8_t>(v);
            seen |= 16;
        } else if (key == "port") {
            // Port 0 is what a set request may carry; the record keeps it and loads it again.
            char* end = nullptr;
            long p = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || !end || *end || p < 0 || p > 65535)
                return std::nullopt;
            r.tcpPort = static_cast<uint16_t>(p);
            seen |= 32;
        } else {
            return std::nullopt;
        }
    }
    if (seen != 63)
        return std::nullopt;
    return r;
}

bool NetworkRecord::parseIp(const std::string& text, std::array<uint8_t, 4>& out)
{
    return parseDotted(text, out);
}

bool NetworkRecord::parseMac(const std::string& text, std::array<uint8_t, 6>& out)
{
    unsigned m[6];
    char tail;
    if (text.size() != 17 ||
        std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<uint8_t>(m[i]);
    return true;
}

NetworkResponder::Outcome NetworkResponder::handle(const std::vector<uint8_t>& datagram)
{
    Outcome out;
    uint8_t command = 0xFF;
    auto rec = NetworkRecord::decode(datagram, &command);
    if (!rec) {
        out.what = "ignored: not a settings record";
        return out;
    }
    switch (command) {
    case 0x00:
        out.what = "search";
        out.reply = m_record.encode(0x00);
        return out;
    case 0x02:
        if (rec->mac != m_record.mac) {
            out.what = "ignored: other MAC " + rec->macText();
            return out;
        }
        m_pending = *rec;
        out.what = "set";
        out.reply = datagram;
        return out;
    case 0x04:
        if (rec->mac != m_record.mac) {
            out.what = "ignored: other MAC " + rec->macText();
            return out;
        }
        // The module applies only what it was told in the set request just before; a lone
        // apply (or one whose values differ from the set) would leave it half configured.
        if (!m_pending || m_pending->encode(0) != rec->encode(0)) {
            out.what = "ignored: apply without a matching set request";
            m_pending.reset();
            return out;
        }
        m_record = *rec;
        m_pending.reset();
        out.applied = true;
        out.what = "apply";
        return out;
    default:
        out.what = "ignored: command " + std::to_string(command);
        return out;
    }
}
