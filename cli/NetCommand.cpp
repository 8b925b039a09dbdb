// tavroctl net: find printers' network modules on the LAN and change their network settings
// (the Network Setting dialog of the desktop tool).
//
//   tavroctl net search [--json] [--timeout-ms N] [--broadcast ADDR] [--bind ADDR]
//   tavroctl net set --mac MAC --ip IP --mask M --gateway G --port P [--dhcp] [--verify]
//   tavroctl --service net set --mac-low XX:XX:XX ...        (a printer not found by search)
#include "cli/CliCommand.h"
#include "cli/CliPrompter.h"
#include "cli/JsonLine.h"

#include "app/Clock.h"
#include "network/NetworkSettingEngine.h"

#include <chrono>
#include <iostream>

namespace {

struct NetOptions {
    std::string broadcast = "255.255.255.255";
    std::string bind = "0.0.0.0";
    int udpPort = kNetworkSettingsPort;
    int timeoutMs = 1000;

    std::string mac, macLow, ip, mask, gateway;
    int port = -1;
    bool dhcp = false;
    bool gatewayOutsideSubnet = false;
    bool verify = false;
    int verifyTimeoutMs = 30000;
};

UdpSettings udpSettings(const NetOptions& n)
{
    UdpSettings s;
    s.destination = n.broadcast;
    s.bindAddress = n.bind;
    s.port = n.udpPort;
    s.silence = std::chrono::milliseconds(n.timeoutMs);
    return s;
}

void addChannelOptions(CLI::App* cmd, NetOptions& n)
{
    cmd->add_option("--broadcast", n.broadcast, "where requests go (default 255.255.255.255; a subnet's broadcast address, or a loopback address for the simulator)");
    cmd->add_option("--bind", n.bind, "local address the answers are received on (default 0.0.0.0)");
    cmd->add_option("--udp-port", n.udpPort, "UDP port of the settings protocol (default 2918)")->check(CLI::Range(1, 65535));
    cmd->add_option("--timeout-ms", n.timeoutMs, "silence that ends a search, and the wait for the answer to a change (default 1000)")
        ->check(CLI::Range(1, 600000));
}

std::string rowJson(const NetworkPrinterRow& row)
{
    const NetworkSettings& s = row.settings;
    return toJsonLine({{"ip", dottedText(s.ip)}, {"dhcp", s.dhcpOn()}, {"port", s.port}, {"subnet", row.subnet},
                       {"gateway", row.gateway}, {"mac", row.mac}});
}

// One line per row as the printer list shows it: IP, Port, Subnet, Gateway, Mac Address.
std::string rowText(const NetworkPrinterRow& row)
{
    return row.ip + "\t" + row.port + "\t" + row.subnet + "\t" + row.gateway + "\t" + row.mac;
}

int runSearch(const CliOptions& options, const NetOptions& n)
{
    CliPrompter prompter(options.yes);
    NetworkSettingEngine engine(prompter, udpSettings(n));
    NetworkSearchResult result = engine.Search([&](const NetworkPrinterRow& row) {
        std::cout << (options.json ? rowJson(row) : rowText(row)) << "\n" << std::flush;
    });
    if (!std::cout)
        return cliFail("cannot write the printer list to standard output");
    if (!result.socketsOk)
        return cliFail("search failed: " + result.detail);
    if (result.end == NetworkSearchResult::End::ReceiveError)
        return cliFail("search failed: " + result.detail);
    if (result.end == NetworkSearchResult::End::TooLong)
        std::cerr << "tavroctl: warning: the search ended early on " << result.detail
                  << "; printers that answered later are not listed\n";
    if (result.end == NetworkSearchResult::End::Limit)
        std::cerr << "tavroctl: warning: the search stopped after " << kMaxSearchAnswers << " answers\n";
    if (!options.json)
        std::cerr << "tavroctl: " << result.rows.size() << (result.rows.size() == 1 ? " printer" : " printers")
                  << " answered\n";
    return 0;
}

int verifyChange(const NetOptions& n, const NetworkSettings& wanted)
{
    // The module restarts after the change: search until it answers with the new settings or
    // the verify time is over. Each search ends after the silence time on its own.
    class QuietPrompter final : public Prompter {
    public:
        std::string last;
        PromptAnswer show(std::string_view text, PromptButtons, PromptIcon, std::string_view) override
        {
            last = text;
            return PromptAnswer::No;
        }
    } quiet;
    NetworkSettingEngine engine(quiet, udpSettings(n));
    const NetworkVerifyResult v =
        engine.VerifyChange(wanted, std::chrono::milliseconds(n.verifyTimeoutMs), SystemClock::instance());
    if (v.verified) {
        std::cout << "verified: " << rowText(*v.lastSeen) << "\n";
        std::cerr << "tavroctl: the printer " << v.lastSeen->mac << " answers with the new settings\n";
        return 0;
    }
    if (!v.socketsOk)
        return cliFail("not verified: the search failed: " + v.detail);
    const std::string waited = std::to_string(n.verifyTimeoutMs) + " ms (" + std::to_string(v.searches) + " searches)";
    if (v.lastSeen)
        return cliFail("not verified: the printer " + v.lastSeen->mac + " still answers with " + rowText(*v.lastSeen) +
                       " after " + waited);
    return cliFail("not verified: the printer " + macText(wanted.mac) + " did not answer a search within " + waited);
}

int runSet(const CliOptions& options, const NetOptions& n)
{
    const bool manual = !n.macLow.empty();
    if (manual == !n.mac.empty())
        return cliFail("give the printer as --mac XX:XX:XX:XX:XX:XX, or with --service as --mac-low XX:XX:XX");
    if (manual && !options.service)
        return cliFail("--mac-low is a service function: add --service");
    NetworkChangeRequest req;
    // The dialog's address rules, named by option; a gateway outside the subnet only when asked for.
    const AddressRuleCheck rules = checkNetworkAddresses(n.ip, n.mask, n.gateway);
    const char* option = rules.field == AddressField::Ip ? "--ip" : rules.field == AddressField::Mask ? "--mask" : "--gateway";
    if (!rules.ok())
        return cliFail(std::string(option) + ": " + rules.refusalText());
    if (rules.gatewayOutsideSubnet && !n.gatewayOutsideSubnet)
        return cliFail("--gateway: " + rules.gatewayText() + " Nothing sent (--gateway-outside-subnet sends it all the same).");
    req.outsideGateway = NetworkChangeRequest::OutsideGateway::Send;
    req.ipText = n.ip;
    req.maskText = n.mask;
    req.gatewayText = n.gateway;
    req.port = static_cast<unsigned>(n.port);
    req.dhcp = n.dhcp;
    NetworkSettings wanted;
    if (manual) {
        if (n.macLow.size() != 8 || n.macLow[2] != ':' || n.macLow[5] != ':')
            return cliFail("--mac-low: not XX:XX:XX: '" + n.macLow + "'");
        req.macLow = {n.macLow.substr(0, 2), n.macLow.substr(3, 2), n.macLow.substr(6, 2)};
    } else {
        auto mac = readMacText(n.mac);
        if (!mac)
            return cliFail("--mac: not XX:XX:XX:XX:XX:XX: '" + n.mac + "'");
        // The list writes upper case; the request is built from the same text form.
        req.macText = macText(*mac);
    }

    CliPrompter prompter(options.yes);
    NetworkSettingEngine engine(prompter, udpSettings(n));
    NetworkChangeResult r = manual ? engine.ManualChange(req) : engine.Change(req);
    using Outcome = NetworkChangeResult::Outcome;
    switch (r.outcome) {
    case Outcome::RefusedIp:
    case Outcome::RefusedAddress:
    case Outcome::RefusedGateway:
    case Outcome::RefusedPort:
    case Outcome::RefusedMac:
        return cliFail("nothing sent: the values were refused");
    case Outcome::Declined:
        return cliFail("nothing sent: the change was not confirmed (--yes confirms it)");
    case Outcome::SendFailed:
        return cliFail("the change request could not be sent: " + r.detail);
    case Outcome::Answered:
    case Outcome::NotAnswered:
        break;
    }
    wanted = decodeNetworkAnswer(r.request);
    if (r.outcome == Outcome::Answered)
        std::cerr << "tavroctl: " << macText(wanted.mac) << " answered the change request from " << r.answerFrom << "\n";
    if (n.verify)
        return verifyChange(n, wanted);
    if (r.outcome == Outcome::NotAnswered)
        return cliFail("no printer answered the change request; the settings were sent, but nobody confirmed them "
                       "(--verify searches until the printer answers)");
    return 0;
}

void installNet(CLI::App& app, CliContext& context)
{
    static NetOptions n;
    auto* net = app.add_subcommand("net", "find printers on the LAN and change their network settings (UDP port 2918)");
    net->require_subcommand(1);

    auto* search = net->add_subcommand("search", "broadcast a search and list every answer, one line per answer "
                                                  "(IP, port, subnet, gateway, MAC; --json: one JSON object per line)");
    addChannelOptions(search, n);
    search->callback([&context] { context.action = [&context] { return runSearch(context.options, n); }; });

    auto* set = net->add_subcommand("set", "change a printer's network settings, chosen by its MAC address "
                                           "(asks first; --yes answers)");
    addChannelOptions(set, n);
    set->add_option("--mac", n.mac, "the printer's MAC address, as the search lists it");
    set->add_option("--mac-low", n.macLow, "service: the low three bytes of the MAC (XX:XX:XX) of a printer the search does not find");
    set->add_option("--ip", n.ip, "new IP address")->required();
    set->add_option("--mask", n.mask, "new subnet mask")->required();
    set->add_option("--gateway", n.gateway, "new gateway")->required();
    set->add_option("--port", n.port, "new TCP port (1024..65534, or 515; --mac-low: 1024..65534)")->required()
        ->check(CLI::Range(0, 65535));
    set->add_flag("--dhcp", n.dhcp, "switch DHCP on");
    set->add_flag("--gateway-outside-subnet", n.gatewayOutsideSubnet,
                  "send a gateway that is outside the subnet of --ip and --mask (refused without this)");
    set->add_flag("--verify", n.verify, "search again until the printer answers with the new settings (it restarts)");
    set->add_option("--verify-timeout-ms", n.verifyTimeoutMs, "how long --verify waits for the printer (default 30000)")
        ->check(CLI::Range(1, 600000));
    set->callback([&context] { context.action = [&context] { return runSet(context.options, n); }; });
}

const CommandRegistrar registrar("net", installNet);

} // namespace
