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
    // The byte as the module sends it: 1 on, 0 off; some modules report on as 2.
    uint8_t dhcp = 0;
    uint16_t tcpPort = 6001;

    std::vector<uint8_t> encode(uint8_t command) const;
    // Reads a datagram: exactly kSize bytes with both markers; the command byte in *command.
    // nullopt for anything else (the module drops it).
    static std::optional<NetworkRecord> decode(const std::vector<uint8_t>& datagram, uint8_t* command);

    std::string ipText() const;
    std::string maskText() const;
    std::string gatewayText() const;
    std::string macText() const;
    // "ip=.. mask=.. gw=.. mac=.. dhcp=0 port=6001": the form of the state file. Every record
    // the module can hold (any DHCP byte, port 0..65535) is written and read back alike.
    std::string toLine() const;
    static std::optional<NetworkRecord> fromLine(const std::string& line);
    // "a.b.c.d" and "XX:XX:XX:XX:XX:XX" as the command line gives them.
    static bool parseIp(const std::string& text, std::array<uint8_t, 4>& out);
    static bool parseMac(const std::string& text, std::array<uint8_t, 6>& out);
};

// How the module behaves beyond its record: where it lives and the faults a test switches on.
struct NetModuleOptions {
    // On a LAN (inside a network namespace made for it): listen on 0.0.0.0 so that a
    // broadcast to 255.255.255.255 arrives, answer any requester, and move the interface
    // address after an applied change. Off: loopback printers only.
    bool lan = false;
    int restartMs = 1000;       // how long the module is deaf after an applied change
    bool longAnswer = false;    // fault: search answers 40 bytes long
    bool duplicate = false;     // fault: every search answer twice
    bool silentSet = false;     // fault: no echo of a set request (it still takes effect)
    bool silent = false;        // fault: no answer at all (requests still take effect)
    // The first printer's record where the state folder holds none (the others follow with
    // the next MAC and their own address).
    std::optional<std::array<uint8_t, 4>> ip, mask, gateway;
    std::optional<std::array<uint8_t, 6>> mac;
    std::optional<uint8_t> dhcp;
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
    void setRecord(const NetworkRecord& record) { m_record = record; m_pending.reset(); }

private:
    NetworkRecord m_record;
    std::optional<NetworkRecord> m_pending;
};
