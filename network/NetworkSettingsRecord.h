#pragma once
// The 35-byte network settings record that printers' network modules speak on UDP port 2918,
// for search requests, answers and set requests alike:
//
//   0  AA AA   markers
//   2  command 00 search, 02 set, 04 the second packet of a change
//   3  IP address[4]      first number of the dotted form first
//   7  subnet mask[4]
//  11  gateway[4]
//  15  MAC address[6]     first byte first
//  21  DHCP               1 on, 0 off (an answer may carry any non-zero value for on)
//  22  TCP port           big-endian
//  24  zero[9]
//  33  55 55   markers
//
// Pure functions over bytes: no sockets here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kNetworkRecordSize = 35;

enum class NetworkCommand : uint8_t { Search = 0x00, Set = 0x02, Apply = 0x04 };

using NetworkRecordBytes = std::array<uint8_t, kNetworkRecordSize>;

struct NetworkSettings {
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> mask{};
    std::array<uint8_t, 4> gateway{};
    std::array<uint8_t, 6> mac{};
    // Kept as the byte that arrived: an answer's 2 is "on" as much as 1 is.
    uint8_t dhcp = 0;
    uint16_t port = 0;

    bool dhcpOn() const { return dhcp != 0; }
    bool operator==(const NetworkSettings&) const = default;
};

// The record with the markers, the command and the settings; a set request writes the DHCP
// byte as 1 or 0 whatever non-zero value the settings hold.
NetworkRecordBytes encodeNetworkRecord(NetworkCommand command, const NetworkSettings& settings);

// The search request: markers and command 00, everything else zero.
NetworkRecordBytes networkSearchRequest();

// The settings of an answer. Only bytes 3 to 23 are read; markers, command and length are
// not examined, because modules in the field differ there. Bytes that did not arrive (a
// datagram shorter than 24 bytes) read as zero.
NetworkSettings decodeNetworkAnswer(std::span<const uint8_t> datagram);
