#include "state/StateEngine.h"

#include "app/Sha256.h"
#include "firmware/FirmwareChecks.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/TransferBlock.h"
#include "logo/BitmapList.h"
#include "logo/LogoOptions.h"
#include "logo/PreparedLogos.h"
#include "network/NetworkSettingEngine.h"
#include "network/NetworkText.h"
#include "port/DeviceDiscovery.h"
#include "state/StateLogoSet.h"
#include "setup/SetupLink.h"

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netdb.h>

using json = nlohmann::json;

namespace {

// The state file is the user's consent to what it changes: the engines' questions ("Are you
// sure?") are answered Yes. A question whose safe answer is No, and every message, still go
// to the host's Prompter.
class ConsentPrompter final : public Prompter {
public:
    explicit ConsentPrompter(Prompter& host) : m_host(host) {}
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon icon, std::string_view caption) override
    {
        switch (buttons) {
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return PromptAnswer::Yes;
        case PromptButtons::OkCancel:
            return PromptAnswer::Ok;
        case PromptButtons::Ok:
        case PromptButtons::YesNoDefaultNo:
            break;
        }
        return m_host.show(text, buttons, icon, caption);
    }
    std::optional<std::string> askOutputFileName() override { return m_host.askOutputFileName(); }

private:
    Prompter& m_host;
};

// The network engine's side of the same consent: its question is answered Yes, and its
// messages (the search's socket failure, "Update Complete") are kept for the result rather
// than shown, because the apply reports what it verified itself.
class QuietConsent final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons buttons, PromptIcon, std::string_view) override
    {
        last = text;
        switch (buttons) {
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return PromptAnswer::Yes;
        case PromptButtons::OkCancel:
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNoDefaultNo:
            break;
        }
        return PromptAnswer::No;
    }
    std::optional<std::string> askOutputFileName() override { return std::nullopt; }
    std::string last;
};

bool isNetworkKind(PortKind kind)
{
    return kind == PortKind::Ethernet || kind == PortKind::Wifi;
}

// The connection's host as the address a module answers with: dotted, or a name resolved.
std::optional<Ipv4Bytes> hostAddress(const std::string& host)
{
    if (auto dotted = readAddressText(host))
        return dotted;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    const std::uint32_t a = ntohl(reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(list);
    return Ipv4Bytes{std::uint8_t(a >> 24), std::uint8_t(a >> 16), std::uint8_t(a >> 8), std::uint8_t(a)};
}

json networkJson(const NetworkSettings& s)
{
    return {{"dhcp", s.dhcpOn()}, {"ip", dottedText(s.ip)}, {"mask", dottedText(s.mask)},
            {"gateway", dottedText(s.gateway)}, {"port", s.port}};
}

std::string networkSummary(const NetworkSettings& s)
{
    return std::string("dhcp ") + (s.dhcpOn() ? "on" : "off") + ", ip " + dottedText(s.ip) + ", mask " +
           dottedText(s.mask) + ", gateway " + dottedText(s.gateway) + ", port " + std::to_string(s.port);
}

std::string shortDigest(const std::string& digest)
{
    return "digest " + digest.substr(0, 12) + "…";
}

std::string settingItem(const std::string& key)
{
    return "settings." + key;
}

std::string firmwareItem(FirmwareArea area)
{
    return "firmware." + std::string(firmwareAreaName(area));
}

json logosJson(const StateLogos& logos)
{
    json files = json::array(), pins = json::object();
    for (const auto& f : logos.files) {
        std::error_code ec;
        const std::string path = std::filesystem::absolute(f.path, ec).lexically_normal().string();
        files.push_back(path);
        pins[path] = f.sha256;
    }
    return {{"files", files},         {"sha256", pins},
            {"gray", logos.gray},     {"star", logos.star},
            {"center", logos.center}, {"max_area", logos.maxArea},
            {"diverging", logos.diverging}};
}

const char* alignName(logo_frames::LogoJustify j)
{
    return j == logo_frames::LogoJustify::Left ? "left" : j == logo_frames::LogoJustify::Right ? "right" : "center";
}

json logoSettingsJson(const logo_frames::LogoSettingsValues& v)
{
    return {{"top", {{"enabled", v.topEnable}, {"number", v.topNumber}, {"align", alignName(v.topJustify)}}},
            {"bottom", {{"enabled", v.bottomEnable}, {"number", v.bottomNumber}, {"align", alignName(v.bottomJustify)}}},
            {"power_on", v.powerOn}};
}

// A JSON value of the record as YAML, for capture.
void emitJson(YAML::Emitter& out, const json& value)
{
    if (value.is_object()) {
        out << YAML::BeginMap;
        for (auto it = value.begin(); it != value.end(); ++it) {
            out << YAML::Key << it.key() << YAML::Value;
            emitJson(out, it.value());
        }
        out << YAML::EndMap;
    } else if (value.is_array()) {
        out << YAML::Flow << YAML::BeginSeq;
        for (const auto& v : value)
            emitJson(out, v);
        out << YAML::EndSeq;
    } else if (value.is_boolean()) {
        out << (value.get<bool>() ? "true" : "false");
    } else if (value.is_number_integer()) {
        out << value.get<long long>();
    } else if (value.is_string()) {
        out << YAML::DoubleQuoted << value.get<std::string>();
    }
}

} // namespace

std::string printerIdentity(const ConnectionSettings& settings, const std::string& mac, const std::string& usbSerial)
{
    if (!usbSerial.empty() && (settings.kind() == PortKind::Usb || settings.kind() == PortKind::Serial))
        return "usb:" + usbSerial;
    switch (settings.kind()) {
    case PortKind::Ethernet:
    case PortKind::Wifi:
        if (!mac.empty())
            return "mac:" + mac;
        return "tcp:" + settings.host + ":" + std::to_string(settings.tcpPort);
    case PortKind::Usb: {
        if (settings.portName != "USB" && settings.portName != "usb")
            return "usb:" + settings.portName;
        const auto ids = usbOpenIds(settings.modelFamily);
        return "usb:" + (ids.empty() ? std::string("USB") : ids.front());
    }
    case PortKind::PrintToFile:
        return "file:" + (settings.outputFile.empty() ? std::string("temp.prn") : settings.outputFile);
    case PortKind::File:
        return "file:" + settings.portName;
    case PortKind::Serial:
    case PortKind::Parallel:
        break;
    }
    return settings.portName;
}

std::string StateChange::text() const
{
    switch (section) {
    case StateSection::Logos:
    case StateSection::Firmware:
        return path + ": " + to + " (record: " + from + ")";
    case StateSection::Settings:
    case StateSection::LogoSettings:
    case StateSection::Network:
        break;
    }
    return path + ": " + from + " -> " + to + (fromRecord ? " (from record)" : "");
}

bool StatePlan::has(StateSection section) const
{
    return std::any_of(changes.begin(), changes.end(), [&](const StateChange& c) { return c.section == section; });
}

StateEngine::StateEngine(StateDeps deps, StateRecord* record)
    : m_deps(std::move(deps)), m_record(record), m_consent(std::make_unique<ConsentPrompter>(m_deps.prompter))
{
}

StateEngine::StateEngine(StateDeps deps, StateRecord* record, std::string identity)
    : m_deps(std::move(deps)), m_record(record), m_identity(std::move(identity)),
      m_consent(std::make_unique<ConsentPrompter>(m_deps.prompter)), m_identified(true)
{
    if (m_record)
        m_applied = m_record->applied(m_identity);
}

void StateEngine::identify()
{
    if (m_identified)
        return;
    m_identified = true;
    const ConnectionSettings& settings = m_deps.settings;
    std::string mac, serial;
    if (isNetworkKind(settings.kind())) {
        // A printer that does not answer the search (another subnet, no module) is known by
        // its address until it does.
        if (locate())
            mac = macText(m_seen->mac);
    } else if (settings.kind() == PortKind::Usb || settings.kind() == PortKind::Serial) {
        const DeviceRoots roots = m_deps.host.roots ? *m_deps.host.roots : DeviceRoots::fromEnvironment();
        const bool family = toUpperAscii(settings.portName) == "USB";
        serial = usbSerialNumber(family ? std::string() : settings.portName,
                                 family ? usbOpenIds(settings.modelFamily) : std::vector<std::string>{}, roots);
    }
    m_identity = printerIdentity(settings, mac, serial);
    if (m_record)
        m_applied = m_record->applied(m_identity);
}

Status StateEngine::locate()
{
    if (m_located)
        return m_locateStatus;
    m_seen.reset();
    if (cancelled())
        return Status::failure("interrupted before the LAN search");
    m_located = true;
    const std::string& host = m_deps.settings.host;
    const auto address = hostAddress(host);
    if (!address)
        return m_locateStatus = Status::failure("the host " + host + " has no IPv4 address to look for in a LAN search");
    QuietConsent quiet;
    NetworkSettingEngine search(quiet, m_deps.network);
    NetworkSearchResult r;
    auto row = search.SearchFor([&](const NetworkPrinterRow& row) { return row.settings.ip == *address; }, &r);
    if (row) {
        m_seen = row->settings;
        return m_locateStatus = Status::success();
    }
    if (!r.socketsOk || r.end == NetworkSearchResult::End::ReceiveError)
        return m_locateStatus = Status::failure("the LAN search failed: " + r.detail);
    return m_locateStatus = Status::failure(
               "no network module at " + dottedText(*address) + " answered the LAN search (sent to " +
               m_deps.network.destination + ", UDP port " + std::to_string(m_deps.network.port) + "; " +
               std::to_string(r.rows.size()) + " other answer" + (r.rows.size() == 1 ? "" : "s") + ")");
}

StateEngine::~StateEngine()
{
    closeLink();
}

ModelFamily StateEngine::firmwareFamily() const
{
    // The same model as a download without --device assumes.
    return m_deps.settings.modelFamily == ModelFamily::None ? kFamilyTavro25 : m_deps.settings.modelFamily;
}

Status StateEngine::openLink()
{
    if (m_link)
        return Status::success();
    const ConnectionHost host{m_deps.host.clock, *m_consent, m_deps.host.log, m_deps.host.observer, m_deps.host.roots};
    m_link = std::make_unique<SetupLink>(m_deps.settings, host, m_deps.stallLimit, m_deps.cancel);
    Status s = m_link->open();
    if (!s)
        m_link.reset();
    return s;
}

void StateEngine::closeLink()
{
    m_link.reset();
}

Status StateEngine::readPrinter()
{
    // A file does not answer: it is not even opened until something is written to it.
    const PortKind kind = m_deps.settings.kind();
    if (kind == PortKind::File || kind == PortKind::PrintToFile) {
        m_read.reset();
        return Status::success();
    }
    if (Status s = openLink(); !s)
        return s;
    auto read = m_link->read(m_deps.readTimeout);
    if (!read)
        return read.status();
    if (read->nothingAnswered())
        return Status::failure("the printer on " + m_link->where() + " did not answer: " +
                               missingSettingsText(read->missing));
    m_read = std::make_unique<SetupReadOutcome>(std::move(*read));
    return Status::success();
}

void StateEngine::planSettings(const DesiredState& state, bool force, StatePlan& plan)
{
    const SnapshotLines printer =
        m_read ? snapshotOf(m_read->values, m_link->family(), &m_read->shown) : SnapshotLines{};
    auto reported = [&](const std::string& key) -> std::optional<std::string> {
        for (const auto& [k, v] : printer)
            if (k == key)
                return v;
        return std::nullopt;
    };
    for (const auto& [key, value] : state.settings->values) {
        StateChange c{StateSection::Settings, settingItem(key), "none", value, false};
        std::optional<std::string> now;
        if (m_read && m_link->readsBackAsWritten(key) && (now = reported(key))) {
            c.from = *now;
        } else {
            c.fromRecord = true;
            if (auto it = m_applied.find(c.path); it != m_applied.end())
                c.from = it->second.value;
        }
        if (force || c.from != c.to)
            plan.changes.push_back(std::move(c));
    }
}

Status StateEngine::planFirmware(const DesiredState& state, bool force, StatePlan& plan)
{
    auto image = FirmwareImage::load(state.firmware->path);
    if (!image)
        return Status::failure("firmware: " + state.firmware->path.string() + ": " + image.message());
    for (FirmwareArea area : state.firmware->areas) {
        const std::string digest = areaDigest(image->bytes(), imageRangeOf(area, firmwareFamily(), false));
        StateChange c{StateSection::Firmware, firmwareItem(area), "none", "download", true};
        if (auto it = m_applied.find(c.path); it != m_applied.end()) {
            if (it->second.digest == digest && !force)
                continue;
            c.from = shortDigest(it->second.digest);
        }
        plan.changes.push_back(std::move(c));
    }
    return Status::success();
}

Status StateEngine::planNetwork(const DesiredState& state, bool force, StatePlan& plan)
{
    if (Status s = locate(); !s)
        return Status::failure("network: " + s.message());
    const StateNetwork& want = *state.network;
    const NetworkSettings& now = *m_seen;
    auto compare = [&](const char* key, const std::string& from, const std::string& to) {
        if (force || from != to)
            plan.changes.push_back({StateSection::Network, std::string("network.") + key, from, to, false});
    };
    compare("dhcp", now.dhcpOn() ? "true" : "false", want.dhcp ? "true" : "false");
    // With DHCP on the server gives the address: what the module reports is not compared.
    if (!want.dhcp) {
        compare("ip", dottedText(now.ip), dottedText(*want.ip));
        compare("mask", dottedText(now.mask), dottedText(*want.mask));
        compare("gateway", dottedText(now.gateway), dottedText(*want.gateway));
    }
    if (want.port)
        compare("port", std::to_string(now.port), std::to_string(*want.port));
    return Status::success();
}

Result<StatePlan> StateEngine::plan(const DesiredState& state, const std::set<StateSection>& force)
{
    identify();
    StatePlan plan;
    if (state.firmware)
        if (Status s = planFirmware(state, force.count(StateSection::Firmware) > 0, plan); !s)
            return Result<StatePlan>(s);
    if (state.settings) {
        if (Status s = readPrinter(); !s)
            return Result<StatePlan>(s);
        planSettings(state, force.count(StateSection::Settings) > 0, plan);
    }
    if (state.logos) {
        StateChange c{StateSection::Logos, "logos", "none",
                      "upload " + std::to_string(state.logos->files.size()) + " picture" +
                          (state.logos->files.size() == 1 ? "" : "s"),
                      true};
        auto it = m_applied.find("logos");
        if (it != m_applied.end())
            c.from = shortDigest(it->second.digest);
        if (it == m_applied.end() || it->second.digest != state.logos->digest() || force.count(StateSection::Logos))
            plan.changes.push_back(std::move(c));
    }
    if (state.logoSettings) {
        StateChange c{StateSection::LogoSettings, "logo_settings", "none", logoSettingsText(*state.logoSettings), true};
        if (auto it = m_applied.find("logo_settings"); it != m_applied.end())
            c.from = it->second.digest;
        if (c.from != c.to || force.count(StateSection::LogoSettings))
            plan.changes.push_back(std::move(c));
    }
    if (state.network)
        if (Status s = planNetwork(state, force.count(StateSection::Network) > 0, plan); !s)
            return Result<StatePlan>(s);
    return plan;
}

Status StateEngine::recordSection(std::int64_t run, const std::vector<StateChange>& changes,
                                  const std::function<Status(std::map<std::string, AppliedItem>&)>& change)
{
    std::string before, after;
    for (const auto& c : changes) {
        before += (before.empty() ? "" : "; ") + c.path + "=" + c.from;
        after += (after.empty() ? "" : "; ") + c.path + "=" + c.to;
    }
    std::int64_t row = 0;
    if (m_record) {
        auto begun = m_record->beginChange(run, m_identity, stateSectionName(changes.front().section), before, after);
        if (!begun)
            return begun.status();
        row = *begun;
    }
    std::map<std::string, AppliedItem> items;
    Status s = change(items);
    if (m_record) {
        if (Status r = m_record->finishChange(row, s ? "changed" : "failed: " + s.message(), m_identity,
                                              s ? items : std::map<std::string, AppliedItem>{});
            !r && s)
            return Status::failure("the change was made, but " + r.message());
        for (const auto& [k, v] : items)
            if (s)
                m_applied[k] = v;
    }
    if (m_deps.onSectionEnd)
        m_deps.onSectionEnd(changes, s);
    return s;
}

Status StateEngine::applyFirmware(const DesiredState& state, const StateChange& change)
{
    closeLink();
    const StateFirmware& fw = *state.firmware;
    const ModelFamily family = firmwareFamily();
    auto area = firmwareAreaFromName(change.path.substr(std::string("firmware.").size()));
    if (!area)
        return Status::failure("unknown area " + change.path);
    auto image = checkAreaDownload(fw.path.string(), *area, std::string(firmwareAreaName(*area)), family, false,
                                   fw.sha256, false);
    if (!image)
        return image.status();
    auto block = buildTransferBlock(*image, *area, family);
    auto connection = m_deps.connect(m_deps.settings);
    if (!connection)
        return Status::failure("no connection can use " + m_deps.settings.describe());
    FirmwareTransfer transfer(*connection, std::move(block), m_deps.clock, m_deps.progress);
    FirmwareTransferOutcome out = transfer.run();
    if (!out.completed())
        return Status::failure(out.message + " (" + out.detail + "; " + std::to_string(out.sent) + " of " +
                               std::to_string(out.total) + " bytes sent): the area may be half written; apply "
                               "again to download it whole");
    return Status::success();
}

Status StateEngine::waitForPrinter()
{
    closeLink();
    const PortKind kind = m_deps.settings.kind();
    if (kind == PortKind::File || kind == PortKind::PrintToFile)
        return Status::success();
    const auto start = m_deps.clock.now();
    Status last = Status::failure("no answer");
    while (m_deps.clock.now() - start < m_deps.readyWait) {
        if (cancelled())
            return Status::failure("interrupted while waiting for the printer after the firmware download");
        last = readPrinter();
        if (last)
            return last;
        closeLink();
        m_deps.clock.sleep(std::chrono::milliseconds(1000));
    }
    return Status::failure("the printer did not answer within " +
                           std::to_string(m_deps.readyWait.count() / 1000) + " s after the firmware download: " +
                           last.message());
}

Status StateEngine::applySettings(const DesiredState& state, const std::vector<StateChange>& changes)
{
    if (Status s = openLink(); !s)
        return s;
    const ModelFamily family = m_link->family();
    // Only what changes is written; a key whose meaning depends on another goes with it.
    std::set<std::string> given;
    for (const auto& c : changes)
        given.insert(c.path.substr(std::string("settings.").size()));
    auto inState = [&](const std::string& key) {
        return std::any_of(state.settings->values.begin(), state.settings->values.end(),
                           [&](const auto& l) { return l.first == key; });
    };
    for (auto [key, partner] : {std::pair{"columns", "paper_width"}, std::pair{"color_density", "paper_type"},
                                std::pair{"bell_count", "bell_type"}, std::pair{"paper_width", "columns"},
                                std::pair{"paper_type", "color_density"}, std::pair{"bell_type", "bell_count"}})
        if (given.count(key) && inState(partner))
            given.insert(partner);
    SetupOptions form;
    for (const auto& [key, value] : state.settings->values)
        if (given.count(key))
            if (Status s = applySnapshotValue(form, key, value, family); !s)
                return s;
    if (Status s = completeGivenForm(form, given); !s)
        return s;
    if (m_read)
        if (Status s = keepPrinterValues(form, given, *m_read); !s)
            return s;
    if (given.count("stop_bit"))
        m_link->session().NoteStopBitChosen();
    bool readBack = !m_link->isFile();
    switch (m_link->session().SetValue(form)) {
    case SetupSession::WriteResult::Cancelled:
        if (!m_link->session().WriteCancelledAfterSending())
            return Status::failure("interrupted before anything was written; the printer's settings are unchanged");
        return Status::failure("interrupted while writing the settings: the printer may hold some of them");
    case SetupSession::WriteResult::Nothing:
    case SetupSession::WriteResult::Refused:
        return Status::failure("the settings were refused before anything was sent; the printer is unchanged");
    case SetupSession::WriteResult::Failed:
        return Status::failure(m_link->because("writing the settings to " + m_link->where() + " failed") +
                               "; the printer may hold some of them");
    case SetupSession::WriteResult::ReopenFailed:
        return Status::failure(m_link->because("the settings were sent, but the printer did not come back after its "
                                               "restart, so they could not be read back"));
    case SetupSession::WriteResult::ConnectionClosed:
        readBack = false; // usb_mode: the printer left this interface
        break;
    case SetupSession::WriteResult::Written:
        break;
    }
    const SnapshotLines wrote = snapshotOf(form, family);
    if (readBack) {
        auto back = m_link->read(m_deps.readTimeout);
        if (!back)
            return Status::failure("the settings were sent, but reading them back failed: " + back.message());
        const SetupReadBack checked = compareReadBack(wrote, given, *back, *m_link);
        if (!checked.differences.empty()) {
            std::string text;
            for (const auto& d : checked.differences)
                text += (text.empty() ? "" : "; ") + d;
            return Status::failure("the printer reports other values after the write: " + text);
        }
        if (!checked.unreported.empty())
            return Status::failure("the write is not confirmed: " + missingSettingsText(checked.unreported));
        m_read = std::make_unique<SetupReadOutcome>(std::move(*back));
    }
    return Status::success();
}

logo_tool::LogoToolDeps StateEngine::logoDeps()
{
    return {m_deps.settings, m_deps.connect, m_deps.clock, *m_consent, m_deps.log, m_deps.progress, m_deps.cancel, {}};
}

Status StateEngine::applyLogos(const DesiredState& state)
{
    closeLink();
    std::shared_ptr<const PreparedLogos> logos = m_deps.logos;
    if (!logos) {
        auto prepared = prepareStateLogos(*state.logos, m_deps.settings.modelFamily, *m_consent);
        if (!prepared)
            return prepared.status();
        logos = *prepared;
    }
    const logo_tool::LogoReport r = logo_tool::uploadPreparedLogos(logoDeps(), *logos);
    switch (r.outcome) {
    case logo_tool::LogoOutcome::Done:
        return Status::success();
    case logo_tool::LogoOutcome::Declined:
        return Status::failure("the upload was declined; the printer keeps what it held");
    case logo_tool::LogoOutcome::NotConnected:
        return Status::failure("no connection can use " + m_deps.settings.describe());
    case logo_tool::LogoOutcome::Cancelled:
        return Status::failure("upload cancelled: " + r.printerHolds);
    case logo_tool::LogoOutcome::Failed:
        break;
    }
    return Status::failure(r.message + "; " + r.printerHolds);
}

Status StateEngine::applyLogoSettings(const DesiredState& state)
{
    closeLink();
    const logo_tool::LogoReport r = logo_tool::setLogoSettings(logoDeps(), *state.logoSettings);
    if (r.done())
        return Status::success();
    if (r.outcome == logo_tool::LogoOutcome::NotConnected)
        return Status::failure("no connection can use " + m_deps.settings.describe());
    return Status::failure(r.message + "; the printer may keep its earlier logo settings");
}

Status StateEngine::applyNetwork(const DesiredState& state, NetworkSettings& now)
{
    closeLink();
    const StateNetwork& want = *state.network;
    // What the file leaves out stays as the module has it.
    NetworkSettings wanted = *m_seen;
    wanted.dhcp = want.dhcp ? 1 : 0;
    wanted.ip = want.ip.value_or(wanted.ip);
    wanted.mask = want.mask.value_or(wanted.mask);
    wanted.gateway = want.gateway.value_or(wanted.gateway);
    wanted.port = want.port.value_or(wanted.port);
    NetworkChangeRequest request;
    request.ipText = dottedText(wanted.ip);
    request.maskText = dottedText(wanted.mask);
    request.gatewayText = dottedText(wanted.gateway);
    request.macText = macText(wanted.mac);
    request.port = wanted.port;
    request.dhcp = want.dhcp;
    request.outsideGateway = want.gatewayOutsideSubnet ? NetworkChangeRequest::OutsideGateway::Send
                                                       : NetworkChangeRequest::OutsideGateway::Refuse;
    QuietConsent quiet;
    NetworkSettingEngine engine(quiet, m_deps.network);
    using Outcome = NetworkChangeResult::Outcome;
    const NetworkChangeResult r = engine.Change(request);
    switch (r.outcome) {
    case Outcome::RefusedIp:
    case Outcome::RefusedAddress:
    case Outcome::RefusedGateway:
    case Outcome::RefusedPort:
    case Outcome::RefusedMac:
    case Outcome::Declined:
        return Status::failure("refused before anything was sent (" + quiet.last + "); the printer keeps " +
                               networkSummary(*m_seen));
    case Outcome::SendFailed:
        return Status::failure("the change request could not be sent: " + r.detail + "; the printer keeps " +
                               networkSummary(*m_seen));
    case Outcome::Answered:
    case Outcome::NotAnswered:
        break;
    }
    // The module restarts with the new settings; it counts as changed once it answers a
    // search with them, at its new address.
    const NetworkVerifyResult v = engine.VerifyChange(wanted, m_deps.networkWait, m_deps.clock, m_deps.cancel);
    m_located = false;
    if (v.verified) {
        now = v.lastSeen->settings;
        m_seen = now;
        m_located = true;
        m_locateStatus = Status::success();
        return Status::success();
    }
    const std::string sent = std::string(r.outcome == Outcome::Answered ? "the module took the change request"
                                                                          : "nobody answered the change request");
    if (v.detail == "cancelled")
        return Status::failure(sent + ", and the wait for its answer was interrupted; it may hold " +
                               networkSummary(wanted));
    if (!v.socketsOk)
        return Status::failure(sent + ", but the search that verifies it failed: " + v.detail);
    if (v.lastSeen)
        return Status::failure(sent + ", but " + v.lastSeen->mac + " still answers with " +
                               networkSummary(v.lastSeen->settings) + " after " +
                               std::to_string(m_deps.networkWait.count()) + " ms");
    return Status::failure(sent + ", but " + macText(wanted.mac) + " did not answer a search within " +
                           std::to_string(m_deps.networkWait.count()) + " ms; it may hold " + networkSummary(wanted) +
                           " or still " + networkSummary(*m_seen));
}

StateApplyResult StateEngine::apply(const DesiredState& state, const std::set<StateSection>& force,
                                    const std::function<void(const StateChange&)>& onStep)
{
    StateApplyResult result;
    // The run begins before the printer is identified: a network printer's MAC comes from a
    // search, and a run killed during it is a run all the same.
    const std::string provisional = m_identified ? m_identity : printerIdentity(m_deps.settings);
    if (m_record) {
        auto run = m_record->beginRun(provisional, m_deps.settings.describe());
        if (!run) {
            result.error = run.message();
            return result;
        }
        m_run = *run;
    }
    identify();
    if (m_record && m_identity != provisional)
        (void)m_record->identifyRun(m_run, m_identity);
    auto finish = [&](StateApplyResult::Status status, std::string error) {
        result.status = status;
        result.error = std::move(error);
        if (m_record)
            (void)m_record->finishRun(m_run, status == StateApplyResult::Status::Unchanged ? "unchanged"
                                             : status == StateApplyResult::Status::Changed ? "changed"
                                             : status == StateApplyResult::Status::Partial ? "partial"
                                                                                          : "failed");
        closeLink();
        return result;
    };
    auto failAt = [&](const std::string& step, const Status& s) {
        return finish(result.applied.empty() ? StateApplyResult::Status::Failed : StateApplyResult::Status::Partial,
                      step + ": " + s.message());
    };

    // Firmware first, planned from the record alone: the printer restarts with it, what it
    // reports afterwards is what the other sections are compared with, and a printer whose
    // last download was cut off answers nothing until it has its firmware whole.
    StatePlan firmware;
    if (state.firmware)
        if (Status s = planFirmware(state, force.count(StateSection::Firmware) > 0, firmware); !s)
            return failAt("plan", s);
    bool downloaded = false;
    for (const auto& c : firmware.changes) {
        if (onStep)
            onStep(c);
        auto image = FirmwareImage::load(state.firmware->path);
        Status s = recordSection(m_run, {c}, [&](std::map<std::string, AppliedItem>& items) {
            Status done = applyFirmware(state, c);
            if (done && image) {
                auto area = firmwareAreaFromName(c.path.substr(std::string("firmware.").size()));
                const std::string digest = areaDigest(image->bytes(), imageRangeOf(*area, firmwareFamily(), false));
                json value = {{"file", std::filesystem::absolute(state.firmware->path).lexically_normal().string()},
                              {"sha256", state.firmware->sha256}};
                items[c.path] = {value.dump(), digest, {}};
            }
            return done;
        });
        if (!s)
            return failAt(c.path, s);
        result.applied.push_back(c);
        downloaded = true;
    }
    if (downloaded) {
        if (Status s = waitForPrinter(); !s)
            return failAt("waiting for the printer", s);
        m_located = false; // the network module restarted with the printer
    }
    DesiredState rest = state;
    rest.firmware.reset();
    auto planned = plan(rest, force);
    if (!planned)
        return failAt(downloaded ? "plan after the firmware download" : "plan", planned.status());
    const StatePlan todo = std::move(*planned);

    std::vector<StateChange> settings, network;
    for (const auto& c : todo.changes)
        if (c.section == StateSection::Settings)
            settings.push_back(c);
        else if (c.section == StateSection::Network)
            network.push_back(c);
    if (!settings.empty()) {
        for (const auto& c : settings)
            if (onStep)
                onStep(c);
        Status s = recordSection(m_run, settings, [&](std::map<std::string, AppliedItem>& items) {
            Status done = applySettings(state, settings);
            if (done)
                for (const auto& c : settings)
                    items[c.path] = {c.to, {}, {}};
            return done;
        });
        if (!s)
            return failAt("settings", s);
        result.applied.insert(result.applied.end(), settings.begin(), settings.end());
    }
    for (const auto& c : todo.changes) {
        if (c.section != StateSection::Logos && c.section != StateSection::LogoSettings)
            continue;
        if (cancelled())
            return failAt(c.path, Status::failure("interrupted before it was sent; the printer keeps what it held"));
        if (onStep)
            onStep(c);
        Status s = recordSection(m_run, {c}, [&](std::map<std::string, AppliedItem>& items) {
            if (c.section == StateSection::Logos) {
                Status done = applyLogos(state);
                if (done)
                    items["logos"] = {logosJson(*state.logos).dump(), state.logos->digest(), {}};
                return done;
            }
            Status done = applyLogoSettings(state);
            if (done)
                items["logo_settings"] = {logoSettingsJson(*state.logoSettings).dump(),
                                          logoSettingsText(*state.logoSettings), {}};
            return done;
        });
        if (!s)
            return failAt(c.path, s);
        result.applied.push_back(c);
    }
    // The network settings last: afterwards the printer may answer at another address.
    if (!network.empty()) {
        if (cancelled())
            return failAt("network", Status::failure("interrupted before it was sent; the printer keeps " +
                                                     networkSummary(*m_seen)));
        for (const auto& c : network)
            if (onStep)
                onStep(c);
        Status s = recordSection(m_run, network, [&](std::map<std::string, AppliedItem>& items) {
            NetworkSettings now;
            Status done = applyNetwork(state, now);
            if (done)
                items["network"] = {networkJson(now).dump(), networkSummary(now), {}};
            return done;
        });
        if (!s)
            return failAt("network", s);
        result.applied.insert(result.applied.end(), network.begin(), network.end());
    }
    return finish(result.applied.empty() ? StateApplyResult::Status::Unchanged : StateApplyResult::Status::Changed, {});
}

Result<std::string> StateEngine::capture()
{
    identify();
    if (Status s = readPrinter(); !s)
        return Result<std::string>(s);
    const ModelFamily family = m_link ? m_link->family() : m_deps.settings.modelFamily;
    YAML::Emitter out;
    out << YAML::BeginMap << YAML::Key << "tavro" << YAML::Value << 1;
    if (!modelName(family).empty() && family != ModelFamily::None)
        out << YAML::Key << "model" << YAML::Value << modelName(family);

    SnapshotLines settings;
    if (m_read)
        for (const auto& [key, value] : snapshotOf(m_read->values, family, &m_read->shown))
            if (m_link->readsBackAsWritten(key))
                settings.emplace_back(key, value);
    // What the printer does not report: as this PC last wrote it.
    for (const auto& key : snapshotKeys())
        if (auto it = m_applied.find(settingItem(key)); it != m_applied.end())
            if (std::none_of(settings.begin(), settings.end(), [&](const auto& l) { return l.first == key; }))
                settings.emplace_back(key, it->second.value);
    if (!settings.empty()) {
        out << YAML::Key << "settings" << YAML::Value << YAML::BeginMap;
        for (const auto& [key, value] : settings)
            out << YAML::Key << key << YAML::Value << value;
        out << YAML::EndMap;
    }
    for (const char* section : {"logos", "logo_settings"})
        if (auto it = m_applied.find(section); it != m_applied.end()) {
            json value = json::parse(it->second.value, nullptr, false);
            if (value.is_discarded())
                continue;
            out << YAML::Key << section << YAML::Value;
            emitJson(out, value);
        }
    // The firmware of the first area the record knows (one image per state file).
    json firmware;
    json areas = json::array();
    for (FirmwareArea area : kFirmwareAreas)
        if (auto it = m_applied.find(firmwareItem(area)); it != m_applied.end()) {
            json value = json::parse(it->second.value, nullptr, false);
            if (value.is_discarded())
                continue;
            if (firmware.is_null())
                firmware = value;
            if (value == firmware)
                areas.push_back(std::string(firmwareAreaName(area)));
        }
    if (!firmware.is_null()) {
        firmware["areas"] = areas;
        out << YAML::Key << "firmware" << YAML::Value;
        emitJson(out, firmware);
    }
    if (isNetworkKind(m_deps.settings.kind())) {
        if (Status s = locate(); !s) {
            out << YAML::Comment("no network section: " + s.message());
        } else {
            // As the module reports it; with DHCP on, the address is the server's to give.
            const NetworkSettings& n = *m_seen;
            json section = {{"dhcp", n.dhcpOn()}};
            if (!n.dhcpOn()) {
                section["ip"] = dottedText(n.ip);
                section["mask"] = dottedText(n.mask);
                section["gateway"] = dottedText(n.gateway);
                if (!gatewayInSubnet(n.ip, n.mask, n.gateway))
                    section["gateway_outside_subnet"] = true;
            }
            section["port"] = n.port;
            out << YAML::Key << "network" << YAML::Value << YAML::Flow;
            emitJson(out, section);
        }
    }
    out << YAML::EndMap;
    closeLink();
    if (!out.good())
        return Result<std::string>::failure(std::string("cannot write the state: ") + out.GetLastError());
    return std::string(out.c_str()) + "\n";
}
