#pragma once
// What a virtual fleet (`tavro-sim --printers N`) is made of, worked out before a socket is
// opened: the loopback address and MAC of printer k, and which printers a fault switch hits.
// Pure functions; any thread may call them.
//
// Addresses: printer 1 has the first address (127.0.1.1 by default); the next ones count up
// the last byte from 1 to 254 and then carry into the byte before it (127.0.1.254 is followed
// by 127.0.2.1), so that no printer sits on a .0 or .255 address. Every 127.x.y.z reaches lo
// on Linux without any configuration.
//
// Fault switches (--fleet-fault, repeatable): KIND:WHICH[:NAME=VALUE...]
//   WHICH   k=LIST     printers by index: 3   3,5,9   10-20   1,4-6
//           every=N    every N-th printer: N, 2N, 3N ...
//           all        every printer
//   KIND    stall           stops reading after=BYTES (0) of a connection for ms=MS (3000)
//           hangup          resets a connection after=BYTES (0) received
//           silent          takes everything and answers nothing, on TCP and to a search
//           no-answer       Function 6 requests for settings=LIST (all) stay unanswered
//           refuse-setting  Function 5 items for settings=LIST (all) are not stored
//           delay           every reply leaves ms=MS (1000) later
//           noise           noise bytes in front of every reply
//           net-silent-set  network set requests are taken and not answered
//           net-duplicate   every search answered twice
//           net-long-answer search answers 40 bytes long
#include "sim/NetworkRecord.h"
#include "sim/SimHost.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FleetFault {
    enum class Kind {
        Stall,
        Hangup,
        Silent,
        NoAnswer,
        RefuseSetting,
        Delay,
        Noise,
        NetSilentSet,
        NetDuplicate,
        NetLongAnswer,
    };
    Kind kind = Kind::Stall;
    std::string name; // the kind as written ("stall")

    // Which printers: all of them, every N-th, or the listed ranges (inclusive).
    bool all = false;
    int every = 0;
    std::vector<std::pair<int, int>> ranges;

    long after = 0;         // stall, hangup: bytes received first
    int ms = -1;            // stall (3000), delay (1000): -1 takes the default
    std::set<int> settings; // no-answer, refuse-setting: empty means every setting

    // Reads "KIND:WHICH[:NAME=VALUE...]". nullopt with *error naming what is wrong.
    static std::optional<FleetFault> parse(const std::string& text, std::string* error);
    // Whether printer k (1..N) has this fault.
    bool hits(int k) const;
    // Switches the fault on in a printer's settings and network module options.
    void applyTo(SimSettings& settings, NetModuleOptions& network) const;
};

namespace FleetPlan {

// Printer k's address (k from 1) after `first`; nullopt when it would leave 127.0.0.0/8.
std::optional<std::array<uint8_t, 4>> address(const std::array<uint8_t, 4>& first, int k);
// Printer k's MAC: `base` counted up by k-1 in its last three bytes (the first three, the
// maker part, stay). The default base gives 02:5C:3A:01:00:01 for printer 1.
std::array<uint8_t, 6> mac(const std::array<uint8_t, 6>& base, int k);
constexpr std::array<uint8_t, 6> kDefaultMacBase{0x02, 0x5C, 0x3A, 0x01, 0x00, 0x01};
// Model family of printer k from a round-robin list (empty: `fallback`).
int family(const std::vector<int>& models, int k, int fallback);
// "a.b.c.d".
std::string text(const std::array<uint8_t, 4>& address);

} // namespace FleetPlan
