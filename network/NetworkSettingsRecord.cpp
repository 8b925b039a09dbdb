#include "network/NetworkSettingsRecord.h"

#include <algorithm>

NetworkRecordBytes encodeNetworkRecord(NetworkCommand command, const NetworkSettings& s)
{
    NetworkRecordBytes out{};
    out[0] = out[1] = 0xAA;
    out[2] = static_cast<uint8_t>(command);
    std::copy(s.ip.begin(), s.ip.end(), out.begin() + 3);
    std::copy(s.mask.begin(), s.mask.end(), out.begin() + 7);
    std::copy(s.gateway.begin(), s.gateway.end(), out.begin() + 11);
    std::copy(s.mac.begin(), s.mac.end(), out.begin() + 15);
    out[21] = s.dhcp ? 1 : 0;
    out[22] = static_cast<uint8_t>(s.port >> 8);
    out[23] = static_cast<uint8_t>(s.port & 0xFF);
    out[33] = out[34] = 0x55;
    return out;
}

NetworkRecordBytes networkSearchRequest()
{
    NetworkRecordBytes out{};
    out[0] = out[1] = 0xAA;
    out[2] = static_cast<uint8_t>(NetworkCommand::Search);
    out[33] = out[34] = 0x55;
    return out;
}

NetworkSettings decodeNetworkAnswer(std::span<const uint8_t> datagram)
{
    std::array<uint8_t, 24> b{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), b.size()), b.begin());
    NetworkSettings s;
    std::copy(b.begin() + 3, b.begin() + 7, s.ip.begin());
    std::copy(b.begin() + 7, b.begin() + 11, s.mask.begin());
    std::copy(b.begin() + 11, b.begin() + 15, s.gateway.begin());
    std::copy(b.begin() + 15, b.begin() + 21, s.mac.begin());
    s.dhcp = b[21];
    s.port = static_cast<uint16_t>(b[22] << 8 | b[23]);
    return s;
}
