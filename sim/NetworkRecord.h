#pragma once
// The network module's 35-byte settings record on UDP port 2918:
//   AA AA, command (00 search, 02 set, 04 apply), IP[4], mask[4], gateway[4], MAC[6],
//   DHCP, TCP port (big-endian), 9 zero bytes, 55 55.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct NetworkRecord {
    static constexpr size_t kSize = 35;

    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> mask{};
    std::array<uint8_t, 4> gateway{};
    std::array<uint8_t, 6> mac{};
    bool dhcp = false;
    uint16_t tcpPort = 6001;

    std::vector<uint8_t> encode(uint8_t command) const;
    // Reads a datagram: exactly kSize bytes with both markers; the command byte in *command.
    // nullopt for anything else (the module drops it).
    static std::optional<NetworkRecord> decode(const std::vector<uint8_t>& datagram, uint8_t* command);

    std::string ipText() const;
    std::string maskText() const;
    std::string gatewayText() const;
    std::string macText() const;
    // "ip=.. mask=.. gw=.. mac=.. dhcp=0 port=6001": the form of the state file.
    std::string toLine() const;
    static std::optional<NetworkRecord> fromLine(const std::string& line);
};

// The module's side of the protocol, one printer: search answers, a set request with our MAC
// is echoed and remembered, the following apply (04) with the same MAC takes the new values.
class NetworkResponder {
public:
    explicit NetworkResponder(NetworkRecord record) : m_record(record) {}

    struct Outcome {
        std::optional<std::vector<uint8_t>> reply;
        bool applied = false;
        std::string what; // "search", "set", "apply", "ignored: ..."
    };
    Outcome handle(const std::vector<uint8_t>& datagram);
    const NetworkRecord& record() const { return m_record; }

private:
    NetworkRecord m_record;
    std::optional<NetworkRecord> m_pending;
};
