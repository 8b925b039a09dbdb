#pragma once
// The two UDP sockets of a network settings operation: an unbound sending socket with
// SO_BROADCAST, and a receiving socket bound to the settings port, where the modules answer.
// The destination and the bind address are settings so that the tool can be pointed at
// loopback (tests, the simulator) or at one subnet's broadcast address.
//
// Threads: one thread uses a channel; cancel() may be called from any other thread.
#include "app/Result.h"
#include "common/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The UDP port on which the network modules take search and settings requests and send
// their answers.
inline constexpr int kNetworkSettingsPort = 2918;

struct UdpSettings {
    std::string destination = "255.255.255.255";
    std::string bindAddress = "0.0.0.0";
    int port = kNetworkSettingsPort;
    // The silence that ends a search and the longest wait for the answer to a set request.
    std::chrono::milliseconds silence{1000};

    // The defaults, changed by TAVRO_NET_BROADCAST, TAVRO_NET_BIND and TAVRO_NET_PORT where
    // they are set (the desktop tool against a simulator, a one-subnet broadcast). Values
    // that do not parse are ignored.
    static UdpSettings fromEnvironment();
};

class UdpChannel {
public:
    // The set-up step that failed first, for the message the user gets.
    enum class Step { None, SendSocket, Broadcast, ReceiveSocket, ReuseAddress, Bind, Destination };

    explicit UdpChannel(UdpSettings settings);

    // Creates both sockets. On failure the step and a message with the errno are kept
    // (failedStep(), error()) and the channel stays usable as far as it got: what follows
    // fails on its own, as the operation expects.
    Status open();
    Step failedStep() const { return m_failedStep; }

    // Sends one datagram to the destination. Fails with the errno's text, or when the
    // datagram did not leave whole.
    Status send(std::span<const uint8_t> bytes);

    struct Received {
        enum class Kind { Datagram, TooLong, Silence, Cancelled, Failed } kind = Kind::Failed;
        std::vector<uint8_t> bytes; // the datagram (Datagram only)
        uint32_t from = 0;          // the sender's IPv4 address, host order
        std::string fromText;       // "a.b.c.d:port"
        std::string error;          // Failed: why
    };
    // Waits for one datagram of at most maxBytes for the silence time. A longer datagram is
    // consumed and reported as TooLong: it does not fit, as a module's record always would.
    Received receive(std::size_t maxBytes);

    // Ends a receive() that waits now, or the next one, at once. Any thread.
    void cancel();

    const UdpSettings& settings() const { return m_settings; }

    // Every IPv4 address of this host's interfaces (host order): a datagram from one of them
    // is our own broadcast coming back. Empty when the interfaces cannot be listed.
    static std::vector<uint32_t> hostAddresses();

private:
    UdpSettings m_settings;
    UniqueFd m_send, m_receive, m_wake;
    Step m_failedStep = Step::None;
};
