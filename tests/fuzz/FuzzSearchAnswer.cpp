// Answers to the LAN search as datagrams of any length, and the printer list row made from
// each: what the row shows must read back to the bytes that came, since a Change from that
// row sends what its texts say.
#include "FuzzCheck.h"

#include "network/NetworkSettingsRecord.h"
#include "network/NetworkText.h"
#include "sim/NetworkRecord.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint8_t shape = in.ConsumeIntegral<uint8_t>();
    std::vector<uint8_t> datagram = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));

    const NetworkSettings s = decodeNetworkAnswer(datagram);

    // Only bytes 3..23 count; what a short datagram lacks reads as zero.
    std::vector<uint8_t> settingsBytes(24, 0);
    std::copy_n(datagram.begin(), std::min<std::size_t>(datagram.size(), 24), settingsBytes.begin());
    for (std::size_t i = 0; i < 3; ++i)
        settingsBytes[i] = static_cast<uint8_t>(shape + i);
    FUZZ_CHECK(decodeNetworkAnswer(settingsBytes) == s);
    if (datagram.size() >= 24)
        FUZZ_CHECK(s.port == (datagram[22] << 8 | datagram[23]));
    else
        FUZZ_CHECK(s.dhcp == 0 || datagram.size() > 21);

    // The row's texts read back to the answer.
    const NetworkPrinterRow row = networkPrinterRow(s);
    FUZZ_CHECK(row.settings == s);
    FUZZ_CHECK(readDottedText(row.ip) == s.ip);
    FUZZ_CHECK(ipColumnSaysDhcp(row.ip) == s.dhcpOn());
    FUZZ_CHECK(parseIpv4Text(row.subnet) == s.mask);
    FUZZ_CHECK(parseIpv4Text(row.gateway) == s.gateway);
    FUZZ_CHECK(readMacText(row.mac) == s.mac);
    FUZZ_CHECK(row.port == std::to_string(s.port));

    // A set request built from the answer carries the same settings, DHCP as 1 or 0.
    const auto request = encodeNetworkRecord(NetworkCommand::Set, s);
    FUZZ_CHECK(request[0] == 0xAA && request[1] == 0xAA && request[2] == 0x02);
    FUZZ_CHECK(request[33] == 0x55 && request[34] == 0x55);
    for (std::size_t i = 24; i < 33; ++i)
        FUZZ_CHECK(request[i] == 0);
    NetworkSettings expected = s;
    expected.dhcp = s.dhcpOn() ? 1 : 0;
    FUZZ_CHECK(decodeNetworkAnswer(request) == expected);

    // The virtual printer's module reads that request as the same record, and its answer
    // decodes to it again: the two sides of the protocol agree.
    uint8_t command = 0xFF;
    const auto record = NetworkRecord::decode(std::vector<uint8_t>(request.begin(), request.end()), &command);
    FUZZ_CHECK(record.has_value() && command == 0x02);
    FUZZ_CHECK(record->ip == s.ip && record->mask == s.mask && record->gateway == s.gateway && record->mac == s.mac);
    FUZZ_CHECK(record->dhcp == expected.dhcp && record->tcpPort == s.port);
    FUZZ_CHECK(decodeNetworkAnswer(record->encode(0x00)) == expected);
    return 0;
}
