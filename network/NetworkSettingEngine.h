#pragma once
// Search, Change and Manual change of printers' network settings over UDP: the sequences
// that the Network Setting dialog and `tavroctl net` run. Messages go to the Prompter in the
// active catalog's language; the results tell the caller what happened, so that a dialog can
// set its buttons and the CLI its exit status.
//
// Threads: one operation at a time per engine, on any thread (the dialog runs it on a
// worker; the Prompter must then accept calls from that thread). cancel() from any thread.
#include "network/NetworkAddressRules.h"
#include "network/NetworkText.h"
#include "port/UdpChannel.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CancelToken;
class Clock;
class Prompter;

// A search reads at most this many datagrams (own broadcast included).
inline constexpr int kMaxSearchAnswers = 254;

struct NetworkSearchResult {
    enum class End {
        Silence,      // no datagram for the silence time: the normal end
        TooLong,      // a datagram longer than a record arrived
        ReceiveError, // the receive failed (no socket, an error)
        Limit,        // 254 datagrams read
        Cancelled,
    };
    std::vector<NetworkPrinterRow> rows;
    End end = End::Silence;
    std::string detail;        // what ended it, for logs and the CLI
    bool socketsOk = true;     // false when a socket step failed (the user was told)
    int skippedOwn = 0;        // our own broadcast coming back
};

// What a search after a change saw of the changed module.
struct NetworkVerifyResult {
    bool verified = false;
    std::optional<NetworkPrinterRow> lastSeen; // the module's last answer (its MAC), if any
    int searches = 0;
    bool socketsOk = true; // false: a search could not use its sockets (detail says why)
    std::string detail;
};

// The module answers with what it was given: its MAC and the new values. With DHCP on the
// address, mask and gateway are the DHCP server's to give, so only MAC, port and DHCP count.
bool networkSettingsMatch(const NetworkSettings& seen, const NetworkSettings& wanted);

struct NetworkChangeRequest {
    std::string ipText, maskText, gatewayText;
    std::string macText;                 // Change: the MAC text of the chosen row
    std::array<std::string, 3> macLow;   // Manual change: the three low bytes
    unsigned port = 0;
    bool dhcp = false;
    // A gateway outside the printer's subnet: ask (Yes/No, No unless Yes is chosen), send it,
    // or refuse it.
    enum class OutsideGateway { Ask, Send, Refuse };
    OutsideGateway outsideGateway = OutsideGateway::Ask;
};

struct NetworkChangeResult {
    enum class Outcome {
        RefusedIp,   // last IP number 0 or 255 (Change only); nothing sent
        RefusedAddress, // an address that breaks the address rules; nothing sent
        RefusedGateway, // a gateway outside the subnet, refused or not confirmed; nothing sent
        RefusedPort, // port outside the accepted range; nothing sent
        RefusedMac,  // the MAC text cannot be read; nothing sent
        Declined,    // the user said No; nothing sent
        Answered,    // both datagrams sent, a module answered the first
        NotAnswered, // both datagrams sent, nobody answered the first within the silence time
        SendFailed,  // a datagram could not be sent
    };
    Outcome outcome = Outcome::SendFailed;
    // True once the operation got as far as its sockets: the dialog then wants a new row
    // click before the next change.
    bool reachedSockets = false;
    NetworkRecordBytes request{}; // the set request (command 02) as built
    std::string answerFrom;       // Answered: "a.b.c.d:port"
    std::string detail;           // SendFailed and socket failures: why
    AddressField refusedField = AddressField::Ip; // RefusedIp, RefusedAddress, RefusedGateway: which
};

class NetworkSettingEngine {
public:
    // Lent: the prompter outlives the engine.
    NetworkSettingEngine(Prompter& prompter, UdpSettings settings);

    // Broadcasts a search request and collects the answers until the silence time passes.
    // onRow (optional) is called for every row as it arrives, on the calling thread. Socket
    // failures are shown ("socket() error", catalog 56) and the search goes on, finding
    // nothing. The caller shows "The printer has finished searching." when it wants to.
    NetworkSearchResult Search(const std::function<void(const NetworkPrinterRow&)>& onRow = {});

    // A search that ends as soon as a row is the one wanted (one round trip instead of the
    // silence time). The row, or nothing when the search ended without it (result says how).
    std::optional<NetworkPrinterRow> SearchFor(const std::function<bool(const NetworkPrinterRow&)>& wanted,
                                               NetworkSearchResult* result = nullptr);

    // After a change: searches until the module with wanted.mac answers with the wanted
    // settings (networkSettingsMatch) or `wait` has passed on the clock, 200 ms apart. The
    // module restarts after a change and answers nothing meanwhile. A cancelled token (may
    // be null) ends it after the running search (detail "cancelled").
    NetworkVerifyResult VerifyChange(const NetworkSettings& wanted, std::chrono::milliseconds wait, Clock& clock,
                                     const CancelToken* cancel = nullptr);

    // Sends the set request for a printer found by a search (its MAC text from the row),
    // after the checks and the question; then the same record with command 04.
    NetworkChangeResult Change(const NetworkChangeRequest& request);
    // The same for a printer whose MAC address is typed in (the low three bytes; the prefix
    // is the maker's), with the manual rules: any last IP number, port 1024..65534 only.
    NetworkChangeResult ManualChange(const NetworkChangeRequest& request);

    // Ends a running search or wait at once. Any thread.
    void cancel();

    // The port rules of the two kinds of change.
    static bool changePortAccepted(unsigned port) { return (port >= 1024 && port <= 65534) || port == 515; }
    static bool manualPortAccepted(unsigned port) { return port >= 1024 && port <= 65534; }

private:
    NetworkChangeResult runChange(const NetworkChangeRequest& request, bool manual);
    void setChannel(UdpChannel* channel);

    Prompter& m_prompter;
    UdpSettings m_settings;
    std::mutex m_mutex;
    UdpChannel* m_channel = nullptr; // the running operation's, under m_mutex
    bool m_cancelled = false;
};
