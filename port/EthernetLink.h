#pragma once
// The network library of the tool: one TCP client connection to the printer's raw port,
// used whenever m_PortName is "ETHERNET_II". The address given to EthInit is kept for every
// later EthOpen. One process-wide connection; connections are never nested. All functions
// are safe to call from any thread (they serialise on one lock), but a connection belongs to
// one action of one thread at a time.
#include <chrono>
#include <cstddef>
#include <cstdint>

class CancelToken;
class MessageTarget;

// Keeps name (always "Ethernet"), the address (dotted IPv4 text or a host name) and the TCP
// port for the following EthOpen calls. owner is kept for the caller's bookkeeping only.
// Closes a connection that is still open.
void EthInit(MessageTarget* owner, const char* name, const char* ipAddress, int tcpPort);

// Connects to the EthInit address within the connect time-out. Non-zero when connected,
// 0 on failure (no EthInit yet, bad address, refused, timed out, or the token, when given,
// cancelled the wait: EthLastError() is then ECANCELED). An open connection is closed first.
int EthOpen(const CancelToken* cancel = nullptr);

// Sends length bytes unchanged. Returns length, or a negative value when not connected or
// when the bytes could not all be sent within the send time-out (the peer stopped reading or
// the connection broke).
int EthSend(const std::uint8_t* data, int length);

// Waits up to the receive time-out for the printer's bytes, then takes what keeps arriving
// with gaps under 50 ms, up to capacity. Returns the number of bytes placed in buffer: 0 when
// nothing came in time, when not connected, or when the peer closed.
int EthRecv(std::uint8_t* buffer, int capacity);

// Ends the connection; harmless when none is open.
void EthClose();

// Time-outs (defaults: connect 3 s, receive 1 s, send 10 s). Tests shorten them.
struct EthTimeouts {
    std::chrono::milliseconds connect{3000};
    std::chrono::milliseconds receive{1000};
    std::chrono::milliseconds send{10000};
};
void EthSetTimeouts(const EthTimeouts& timeouts);
EthTimeouts EthGetTimeouts();

// The connection layer's finer calls on the same one connection (port/NetworkConnection).

// errno of the last EthOpen that failed (ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH, ...; EINVAL
// without EthInit or for an unknown host name), 0 after a success.
int EthLastError();

struct EthTransfer {
    int sent = 0;          // bytes handed to the socket
    int error = 0;         // errno (EPIPE, ECONNRESET, ...), 0 if none
    bool timedOut = false; // the deadline passed
    bool stalled = false;  // the printer took nothing for the stall limit
    bool cancelled = false; // the token ended the wait (a token cancelled before: nothing sent)
};
// Sends every byte before deadline; gives up when the socket took nothing for stallLimit or
// when the token (may be null) is cancelled.
EthTransfer EthSendWithin(const std::uint8_t* data, std::size_t length,
                          std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds stallLimit,
                          const CancelToken* cancel = nullptr);
struct EthAck {
    int unacked = 0;      // bytes sent that the printer has not acknowledged yet
    int error = 0;        // errno when the connection broke (ECONNRESET for a reset), else 0
    bool stalled = false; // the printer acknowledged nothing for the stall limit
    bool cancelled = false; // the token ended the wait
};
// Waits until at most inFlight of the bytes sent are still unacknowledged by the printer (the
// socket's send queue, SIOCOUTQ; 0: every byte acknowledged), the deadline passes, or the
// printer acknowledges nothing for stallLimit. The count is checked at once, then with a
// back-off from tens of microseconds to 2 ms that starts again at each acknowledgement: on
// a fast link the wait costs microseconds, on a slow one a few checks per step.
// The token (may be null) is looked at with every check.
EthAck EthDrain(std::size_t inFlight, std::chrono::steady_clock::time_point deadline,
                std::chrono::milliseconds stallLimit, const CancelToken* cancel = nullptr);
// Waits up to `wait` for bytes and returns what is there (up to capacity) at once: > 0 the
// count, 0 nothing within the wait (*error ECANCELED when the token ended it), -1 the printer
// closed the connection or it broke (errno in *error, 0 for an orderly close).
int EthRecvFor(std::uint8_t* buffer, int capacity, std::chrono::milliseconds wait, int* error,
               const CancelToken* cancel = nullptr);
