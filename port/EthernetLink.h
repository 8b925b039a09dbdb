#pragma once
// The network library of the tool: a TCP client connection to the printer's raw port, used
// whenever m_PortName is "ETHERNET_II" or "WIFI".
//
// EthernetLink is one such connection with its own address, time-outs and last error, so
// that one process can talk to several network printers at once (port/NetworkConnection
// makes one per connection). The Eth* functions below are the library's classic calls over
// one default link of the process, for the connection dialog, the network dialogs and the
// tools that still use them; the address and time-outs given to them are also what a
// network connection without an address of its own starts from.
//
// Threads: every operation of a link is safe from any thread (a link serialises on its own
// lock), but a connection belongs to one action of one thread at a time.
#include "common/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class CancelToken;
class MessageTarget;

// Time-outs (defaults: connect 3 s, receive 1 s, send 10 s). Tests shorten them.
struct EthTimeouts {
    std::chrono::milliseconds connect{3000};
    std::chrono::milliseconds receive{1000};
    std::chrono::milliseconds send{10000};
};

struct EthTransfer {
    int sent = 0;          // bytes handed to the socket
    int error = 0;         // errno (EPIPE, ECONNRESET, ...), 0 if none
    bool timedOut = false; // the deadline passed
    bool stalled = false;  // the printer took nothing for the stall limit
    bool cancelled = false; // the token ended the wait (a token cancelled before: nothing sent)
};

struct EthAck {
    int unacked = 0;      // bytes sent that the printer has not acknowledged yet
    int error = 0;        // errno when the connection broke (ECONNRESET for a reset), else 0
    bool stalled = false; // the printer acknowledged nothing for the stall limit
    bool cancelled = false; // the token ended the wait
};

class EthernetLink {
public:
    EthernetLink() = default;
    EthernetLink(const EthernetLink&) = delete;
    EthernetLink& operator=(const EthernetLink&) = delete;

    // The link of the Eth* functions.
    static EthernetLink& defaultLink();

    // Keeps the address (dotted IPv4 text or a host name) and the TCP port for the following
    // open() calls. Closes a connection that is still open.
    void init(const std::string& host, int tcpPort);
    // The address given to init() ("" and 0 before), and whether it can be connected to.
    std::string host() const;
    int tcpPort() const;
    bool initialised() const;

    // Connects to the init() address within the connect time-out. True when connected; false
    // on failure (no init yet, bad address, refused, timed out, or the token, when given,
    // cancelled the wait: lastError() is then ECANCELED). An open connection is closed first.
    bool open(const CancelToken* cancel = nullptr);
    bool isOpen() const;
    // Ends the connection; harmless when none is open.
    void close();

    // Sends length bytes unchanged within the send time-out. Returns length, or a negative
    // value when not connected or when the bytes could not all be sent (the peer stopped
    // reading or the connection broke).
    int send(const std::uint8_t* data, int length);
    // Waits up to the receive time-out for the printer's bytes, then takes what keeps
    // arriving with gaps under 50 ms, up to capacity. Returns the count: 0 when nothing came
    // in time, when not connected, or when the peer closed.
    int recv(std::uint8_t* buffer, int capacity);

    void setTimeouts(const EthTimeouts& timeouts);
    EthTimeouts timeouts() const;
    // errno of the last open() that failed (ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH, ...; EINVAL
    // without init or for an unknown host name), 0 after a success.
    int lastError() const;

    // The connection layer's finer calls.

    // Sends every byte before deadline; gives up when the socket took nothing for stallLimit
    // or when the token (may be null) is cancelled.
    EthTransfer sendWithin(const std::uint8_t* data, std::size_t length,
                           std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit,
                           const CancelToken* cancel = nullptr);
    // Waits until at most inFlight of the bytes sent are still unacknowledged by the printer
    // (the socket's send queue, SIOCOUTQ; 0: every byte acknowledged), the deadline passes,
    // or the printer acknowledges nothing for stallLimit. The count is checked at once, then
    // with a back-off from tens of microseconds to 2 ms that starts again at each
    // acknowledgement: on a fast link the wait costs microseconds, on a slow one a few checks
    // per step. The token (may be null) is looked at with every check.
    EthAck drain(std::size_t inFlight, std::chrono::steady_clock::time_point deadline,
                 std::chrono::milliseconds stallLimit, const CancelToken* cancel = nullptr);
    // Waits up to `wait` for bytes and returns what is there (up to capacity) at once: > 0 the
    // count, 0 nothing within the wait (*error ECANCELED when the token ended it), -1 the
    // printer closed the connection or it broke (errno in *error, 0 for an orderly close).
    int recvFor(std::uint8_t* buffer, int capacity, std::chrono::milliseconds wait, int* error,
                const CancelToken* cancel = nullptr);

private:
    mutable std::mutex m_mutex;
    std::string m_host;
    int m_port = 0;
    bool m_initialised = false;
    int m_lastError = 0;
    EthTimeouts m_timeouts;
    UniqueFd m_socket;
};

// --- the classic calls, over EthernetLink::defaultLink() ---

// Keeps name (always "Ethernet"), the address (dotted IPv4 text or a host name) and the TCP
// port for the following EthOpen calls. owner is kept for the caller's bookkeeping only.
// Closes a connection that is still open.
void EthInit(MessageTarget* owner, const char* name, const char* ipAddress, int tcpPort);
// EthernetLink::open: non-zero when connected, 0 on failure (EthLastError() tells why).
int EthOpen(const CancelToken* cancel = nullptr);
// EthernetLink::send, recv and close.
int EthSend(const std::uint8_t* data, int length);
int EthRecv(std::uint8_t* buffer, int capacity);
void EthClose();
void EthSetTimeouts(const EthTimeouts& timeouts);
EthTimeouts EthGetTimeouts();
int EthLastError();
EthTransfer EthSendWithin(const std::uint8_t* data, std::size_t length,
                          std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit,
                          const CancelToken* cancel = nullptr);
EthAck EthDrain(std::size_t inFlight, std::chrono::steady_clock::time_point deadline,
                std::chrono::milliseconds stallLimit, const CancelToken* cancel = nullptr);
int EthRecvFor(std::uint8_t* buffer, int capacity, std::chrono::milliseconds wait, int* error,
               const CancelToken* cancel = nullptr);
