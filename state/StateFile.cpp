#include "state/StateFile.h"

#include "app/Sha256.h"
#include "common/FileIo.h"
#include "firmware/FirmwareChecks.h"
#include "logo/BmpImage.h"
#include "network/NetworkSettingEngine.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

struct ModelEntry {
    const char* name;
    ModelFamily family;
};
constexpr ModelEntry kModels[] = {{"TAVRO15", kFamilyTavro15},   {"TAVRO25", kFamilyTavro25},
                                  {"TAVRO25II", kFamilyTavro25II}, {"TAVRO44i", kFamilyTavro44i},
                                  {"TAVRO36/38", kFamilyTavro36},  {"TAVRO46/48", kFamilyTavro46}};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// A refusal that names the file, the line and the key.
class Checker {
public:
    Checker(std::string name) : m_name(std::move(name)) {}
    Status fail(const YAML::Node& node, const std::string& key, const std::string& why) const
    {
        const int line = node.Mark().line >= 0 ? node.Mark().line + 1 : 0;
        return Status::failure(m_name + ":" + std::to_string(line) + ": " + key + ": " + why);
    }
    const std::string& name() const { return m_name; }

private:
    std::string m_name;
};

// The keys of a mapping must all be known.
Status onlyKeys(const Checker& c, const YAML::Node& map, const std::string& where,
                std::initializer_list<const char*> known)
{
    if (!map.IsMap())
        return c.fail(map, where, "must be a mapping of keys to values");
    for (const auto& kv : map) {
        const std::string key = kv.first.Scalar();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; })) {
            std::string list;
            for (const char* k : known)
                list += (list.empty() ? "" : ", ") + std::string(k);
            return c.fail(kv.first, where.empty() ? key : where + "." + key, "unknown key (known: " + list + ")");
        }
    }
    return Status::success();
}

Result<bool> boolOf(const Checker& c, const YAML::Node& node, const std::string& key)
{
    if (node.IsScalar()) {
        const std::string t = lower(node.Scalar());
        if (t == "true")
            return true;
        if (t == "false")
            return false;
    }
    return Result<bool>(c.fail(node, key, "must be true or false"));
}

Result<int> intOf(const Checker& c, const YAML::Node& node, const std::string& key, int lo, int hi)
{
    if (node.IsScalar()) {
        const std::string& t = node.Scalar();
        std::size_t used = 0;
        long v = 0;
        try {
            v = std::stol(t, &used, 10);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == t.size() && !t.empty()) {
            if (v < lo || v > hi)
                return Result<int>(c.fail(node, key, t + " is out of range " + std::to_string(lo) + ".." +
                                                         std::to_string(hi)));
            return int(v);
        }
    }
    return Result<int>(c.fail(node, key, "must be a whole number " + std::to_string(lo) + ".." + std::to_string(hi)));
}

Result<std::string> textOf(const Checker& c, const YAML::Node& node, const std::string& key)
{
    if (!node.IsScalar() || node.Scalar().empty())
        return Result<std::string>(c.fail(node, key, "must be a text"));
    return node.Scalar();
}

// The file's digest, checked against a pin when there is one.
Result<std::string> digestOf(const Checker& c, const YAML::Node& at, const std::string& key,
                             const std::filesystem::path& path, const YAML::Node& pin, const std::string& pinKey)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return Result<std::string>(c.fail(at, key, path.string() + ": no such file"));
    auto digest = sha256OfFile(path);
    if (!digest)
        return Result<std::string>(c.fail(at, key, path.string() + ": cannot be read: " + digest.message()));
    if (pin.IsDefined() && !pin.IsNull()) {
        const std::string wanted = pin.IsScalar() ? normalisedSha256(pin.Scalar()) : std::string();
        if (wanted.empty())
            return Result<std::string>(c.fail(pin, pinKey, "wants 64 hexadecimal digits"));
        if (wanted != *digest)
            return Result<std::string>(
                c.fail(pin, pinKey, "the file's SHA-256 is " + *digest + ", not " + wanted));
    }
    return *digest;
}

Status readSettings(const Checker& c, const YAML::Node& node, ModelFamily family, DesiredState& state)
{
    if (!node.IsMap())
        return c.fail(node, "settings", "must be a mapping of setting keys to values");
    SetupOptions form;
    std::set<std::string> given;
    StateSettings settings;
    for (const auto& kv : node) {
        const std::string key = lower(kv.first.Scalar());
        if (!kv.second.IsScalar())
            return c.fail(kv.second, "settings." + key, "must be a single value");
        if (given.count(key))
            return c.fail(kv.first, "settings." + key, "given twice");
        if (Status s = applySnapshotValue(form, key, kv.second.Scalar(), family); !s)
            return c.fail(kv.first, "settings." + key, s.message());
        given.insert(key);
    }
    SetupOptions complete = form;
    if (Status s = completeGivenForm(complete, given); !s)
        return c.fail(node, "settings", s.message());
    // The values as the snapshot writes them, so that they compare with what a printer reports.
    const SnapshotLines lines = snapshotOf(form, family);
    for (const auto& kv : node) {
        const std::string key = lower(kv.first.Scalar());
        auto it = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == key; });
        if (it != lines.end())
            settings.values.push_back(*it);
    }
    state.settings = std::move(settings);
    return Status::success();
}

Status readLogos(const Checker& c, const YAML::Node& node, const std::filesystem::path& folder, DesiredState& state)
{
    if (Status s = onlyKeys(c, node, "logos", {"files", "sha256", "gray", "star", "center", "max_area", "diverging"}); !s)
        return s;
    StateLogos logos;
    const YAML::Node files = node["files"];
    if (!files || !files.IsSequence() || files.size() == 0)
        return c.fail(files ? files : node, "logos.files", "must list one picture or more");
    if (files.size() > 255)
        return c.fail(files, "logos.files", "at most 255 pictures");
    const YAML::Node pins = node["sha256"];
    if (pins && !pins.IsMap())
        return c.fail(pins, "logos.sha256", "must map picture names to digests");
    std::set<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string key = "logos.files[" + std::to_string(i + 1) + "]";
        auto name = textOf(c, files[i], key);
        if (!name)
            return name.status();
        StateLogoFile f;
        f.name = *name;
        f.path = std::filesystem::path(*name).is_absolute() ? std::filesystem::path(*name) : folder / *name;
        auto digest = digestOf(c, files[i], key, f.path, pins ? pins[*name] : YAML::Node(YAML::NodeType::Undefined),
                               "logos.sha256." + *name);
        if (!digest)
            return digest.status();
        f.sha256 = *digest;
        if (auto bmp = BmpImage::load(f.path); !bmp)
            return c.fail(files[i], key, f.path.string() + ": not a picture the tool reads: " + bmp.message());
        names.insert(*name);
        logos.files.push_back(std::move(f));
    }
    if (pins)
        for (const auto& kv : pins)
            if (!names.count(kv.first.Scalar()))
                return c.fail(kv.first, "logos.sha256." + kv.first.Scalar(), "names no picture of logos.files");
    if (const YAML::Node n = node["gray"]) {
        auto v = boolOf(c, n, "logos.gray");
        if (!v)
            return v.status();
        logos.gray = *v;
    }
    if (const YAML::Node n = node["star"]) {
        auto v = boolOf(c, n, "logos.star");
        if (!v)
            return v.status();
        logos.star = *v;
    }
    if (const YAML::Node n = node["center"]) {
        if (!n.IsSequence())
            return c.fail(n, "logos.center", "must list image numbers");
        for (const auto& item : n) {
            auto v = intOf(c, item, "logos.center", 1, int(logos.files.size()));
            if (!v)
                return v.status();
            logos.center.insert(*v);
        }
    }
    if (const YAML::Node n = node["max_area"]) {
        auto v = intOf(c, n, "logos.max_area", 1, 576);
        if (!v)
            return v.status();
        logos.maxArea = *v;
    }
    if (const YAML::Node n = node["diverging"]) {
        auto v = intOf(c, n, "logos.diverging", 0, 255);
        if (!v)
            return v.status();
        logos.diverging = *v;
    }
    state.logos = std::move(logos);
    return Status::success();
}

Status readLogoPlace(const Checker& c, const YAML::Node& node, const std::string& key, bool& enabled, int& number,
                     logo_frames::LogoJustify& justify)
{
    if (Status s = onlyKeys(c, node, key, {"enabled", "number", "align"}); !s)
        return s;
    if (const YAML::Node n = node["enabled"]) {
        auto v = boolOf(c, n, key + ".enabled");
        if (!v)
            return v.status();
        enabled = *v;
    }
    if (const YAML::Node n = node["number"]) {
        auto v = intOf(c, n, key + ".number", 1, 255);
        if (!v)
            return v.status();
        number = *v;
    }
    if (const YAML::Node n = node["align"]) {
        const std::string a = n.IsScalar() ? lower(n.Scalar()) : std::string();
        if (a == "left")
            justify = logo_frames::LogoJustify::Left;
        else if (a == "center")
            justify = logo_frames::LogoJustify::Center;
        else if (a == "right")
            justify = logo_frames::LogoJustify::Right;
        else
            return c.fail(n, key + ".align", "must be left, center or right");
    }
    return Status::success();
}

Status readLogoSettings(const Checker& c, const YAML::Node& node, DesiredState& state)
{
    if (Status s = onlyKeys(c, node, "logo_settings", {"top", "bottom", "power_on"}); !s)
        return s;
    logo_frames::LogoSettingsValues v;
    if (const YAML::Node n = node["top"])
        if (Status s = readLogoPlace(c, n, "logo_settings.top", v.topEnable, v.topNumber, v.topJustify); !s)
            return s;
    if (const YAML::Node n = node["bottom"])
        if (Status s = readLogoPlace(c, n, "logo_settings.bottom", v.bottomEnable, v.bottomNumber, v.bottomJustify);
            !s)
            return s;
    if (const YAML::Node n = node["power_on"]) {
        auto b = boolOf(c, n, "logo_settings.power_on");
        if (!b)
            return b.status();
        v.powerOn = *b;
    }
    state.logoSettings = v;
    return Status::success();
}

Status readFirmware(const Checker& c, const YAML::Node& node, const std::filesystem::path& folder,
                    ModelFamily family, DesiredState& state)
{
    if (Status s = onlyKeys(c, node, "firmware", {"file", "sha256", "areas"}); !s)
        return s;
    if (family == kFamilyTavro15)
        return c.fail(node, "firmware", "the TAVRO15's packet download is not offered in a state file; use "
                                        "`tavroctl firmware download`");
    StateFirmware fw;
    const YAML::Node file = node["file"];
    if (!file)
        return c.fail(node, "firmware.file", "missing: the firmware image to download");
    auto name = textOf(c, file, "firmware.file");
    if (!name)
        return name.status();
    fw.name = *name;
    fw.path = std::filesystem::path(*name).is_absolute() ? std::filesystem::path(*name) : folder / *name;
    auto digest = digestOf(c, file, "firmware.file", fw.path, node["sha256"], "firmware.sha256");
    if (!digest)
        return digest.status();
    fw.sha256 = *digest;
    const YAML::Node areas = node["areas"];
    if (!areas)
        fw.areas = {FirmwareArea::Program};
    else if (!areas.IsSequence() || areas.size() == 0)
        return c.fail(areas, "firmware.areas", "must list one area or more (program, ext-font, lcd-font)");
    else
        for (const auto& a : areas) {
            auto area = a.IsScalar() ? firmwareAreaFromName(a.Scalar()) : std::nullopt;
            if (!area)
                return c.fail(a, "firmware.areas", "unknown area (program, ext-font, lcd-font)");
            // The areas that can leave a printer that does not start are not for a file that
            // is applied to printer after printer.
            if (isDangerousArea(*area))
                return c.fail(a, "firmware.areas",
                              a.Scalar() + " is not offered in a state file; use `tavroctl --service firmware download`");
            if (std::find(fw.areas.begin(), fw.areas.end(), *area) != fw.areas.end())
                return c.fail(a, "firmware.areas", a.Scalar() + " given twice");
            fw.areas.push_back(*area);
        }
    for (FirmwareArea area : fw.areas) {
        auto checked = checkAreaDownload(fw.path.string(), area, std::string(firmwareAreaName(area)), family, false,
                                         {}, false);
        if (!checked)
            return c.fail(file, "firmware", fw.path.string() + ": " + checked.message());
    }
    state.firmware = std::move(fw);
    return Status::success();
}

Status readNetwork(const Checker& c, const YAML::Node& node, int line, DesiredState& state)
{
    if (Status s = onlyKeys(c, node, "network", {"dhcp", "ip", "mask", "gateway", "port", "gateway_outside_subnet"}); !s)
        return s;
    StateNetwork net;
    net.line = line;
    if (const YAML::Node n = node["dhcp"]) {
        auto v = boolOf(c, n, "network.dhcp");
        if (!v)
            return v.status();
        net.dhcp = *v;
    }
    if (const YAML::Node n = node["gateway_outside_subnet"]) {
        auto v = boolOf(c, n, "network.gateway_outside_subnet");
        if (!v)
            return v.status();
        net.gatewayOutsideSubnet = *v;
    }
    // The same rules as the Network Setting dialog and `tavroctl net set`.
    struct Field {
        const char* key;
        std::optional<Ipv4Bytes>* out;
    };
    for (Field f : {Field{"ip", &net.ip}, Field{"mask", &net.mask}, Field{"gateway", &net.gateway}}) {
        const YAML::Node n = node[f.key];
        const std::string key = std::string("network.") + f.key;
        if (!n) {
            if (!net.dhcp)
                return c.fail(node, key, "missing: a fixed address (dhcp: false) needs ip, mask and gateway");
            continue;
        }
        auto bytes = n.IsScalar() ? readAddressText(n.Scalar()) : std::nullopt;
        if (!bytes)
            return c.fail(n, key, "must be four numbers 0..255 separated by dots");
        *f.out = *bytes;
    }
    if (net.ip && ((*net.ip)[3] == 0 || (*net.ip)[3] == 255))
        return c.fail(node["ip"], "network.ip", "the last number must be 1..254");
    if (net.mask && !maskIsContiguous(*net.mask))
        return c.fail(node["mask"], "network.mask", "must be ones from the left followed by zeros (255.255.255.0)");
    if (net.ip && net.mask && net.gateway && !gatewayInSubnet(*net.ip, *net.mask, *net.gateway) &&
        !net.gatewayOutsideSubnet) {
        const AddressRuleCheck rules = checkNetworkAddresses(node["ip"].Scalar(), node["mask"].Scalar(),
                                                             node["gateway"].Scalar());
        return c.fail(node["gateway"], "network.gateway",
                      rules.gatewayText() + " Add gateway_outside_subnet: true to send it all the same.");
    }
    if (const YAML::Node n = node["port"]) {
        auto v = intOf(c, n, "network.port", 1, 65535);
        if (!v)
            return v.status();
        if (!NetworkSettingEngine::changePortAccepted(unsigned(*v)))
            return c.fail(n, "network.port", std::to_string(*v) + " is not accepted (1024..65534, or 515)");
        net.port = std::uint16_t(*v);
    }
    state.network = net;
    return Status::success();
}

} // namespace

Status checkStateConnection(const DesiredState& state, const ConnectionSettings& connection)
{
    if (!state.network)
        return Status::success();
    const PortKind kind = connection.kind();
    if ((kind == PortKind::Ethernet || kind == PortKind::Wifi) && !connection.host.empty())
        return Status::success();
    return Status::failure(state.file.filename().string() + ":" + std::to_string(state.network->line) +
                           ": network: the " + connection.describe() + " is not a network printer; a network "
                           "section wants a connection tcp://HOST[:PORT]");
}

const char* stateSectionName(StateSection section)
{
    switch (section) {
    case StateSection::Firmware: return "firmware";
    case StateSection::Settings: return "settings";
    case StateSection::Logos: return "logos";
    case StateSection::LogoSettings: return "logo_settings";
    case StateSection::Network: return "network";
    }
    return "";
}

Result<std::set<StateSection>> parseStateSections(const std::string& text)
{
    std::set<StateSection> sections;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item == "all") {
            sections.insert(std::begin(kStateSections), std::end(kStateSections));
            continue;
        }
        auto it = std::find_if(std::begin(kStateSections), std::end(kStateSections),
                               [&](StateSection s) { return item == stateSectionName(s); });
        if (it == std::end(kStateSections))
            return Result<std::set<StateSection>>::failure(
                "unknown section \"" + item + "\" (settings, logos, logo_settings, firmware, network or all)");
        sections.insert(*it);
    }
    return sections;
}

ModelFamily modelOfName(const std::string& name)
{
    for (const auto& m : kModels)
        if (lower(name) == lower(m.name))
            return m.family;
    return ModelFamily::None;
}

std::string modelName(ModelFamily family)
{
    for (const auto& m : kModels)
        if (m.family == family)
            return m.name;
    return {};
}

std::string StateLogos::digest() const
{
    std::string text = "gray=" + std::to_string(gray) + ";star=" + std::to_string(star) +
                       ";max_area=" + std::to_string(maxArea) + ";diverging=" + std::to_string(diverging) + ";center=";
    for (int n : center)
        text += std::to_string(n) + ",";
    for (const auto& f : files)
        text += ";" + f.sha256;
    return sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool DesiredState::has(StateSection section) const
{
    switch (section) {
    case StateSection::Firmware: return firmware.has_value();
    case StateSection::Settings: return settings.has_value();
    case StateSection::Logos: return logos.has_value();
    case StateSection::LogoSettings: return logoSettings.has_value();
    case StateSection::Network: return network.has_value();
    }
    return false;
}

void DesiredState::keepOnly(const std::set<StateSection>& sections)
{
    if (!sections.count(StateSection::Firmware))
        firmware.reset();
    if (!sections.count(StateSection::Settings))
        settings.reset();
    if (!sections.count(StateSection::Logos))
        logos.reset();
    if (!sections.count(StateSection::LogoSettings))
        logoSettings.reset();
    if (!sections.count(StateSection::Network))
        network.reset();
}

std::string logoSettingsText(const logo_frames::LogoSettingsValues& v)
{
    auto align = [](logo_frames::LogoJustify j) {
        return j == logo_frames::LogoJustify::Left ? "left" : j == logo_frames::LogoJustify::Right ? "right" : "center";
    };
    return std::string("top ") + (v.topEnable ? "on " : "off ") + std::to_string(v.topNumber) + " " +
           align(v.topJustify) + ", bottom " + (v.bottomEnable ? "on " : "off ") + std::to_string(v.bottomNumber) +
           " " + align(v.bottomJustify) + ", power_on " + (v.powerOn ? "on" : "off");
}

Result<DesiredState> parseStateText(const std::string& text, const std::string& name,
                                    const std::filesystem::path& folder, ModelFamily family)
{
    using R = Result<DesiredState>;
    const Checker c(name);
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        return R::failure(name + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg);
    }
    if (!root.IsMap())
        return R::failure(name + ":1: the file must be a mapping that begins with `tavro: 1`");
    if (Status s = onlyKeys(c, root, "", {"tavro", "model", "settings", "logos", "logo_settings", "firmware", "network"}); !s)
        return R(s);
    const YAML::Node version = root["tavro"];
    if (!version)
        return R::failure(name + ":1: tavro: missing: the schema version (tavro: 1)");
    if (!version.IsScalar() || version.Scalar() != "1")
        return R(c.fail(version, "tavro", "schema version " + version.Scalar() + " is not known (this tool reads 1)"));

    DesiredState state;
    state.file = folder / name;
    if (const YAML::Node model = root["model"]) {
        state.model = model.IsScalar() ? modelOfName(model.Scalar()) : ModelFamily::None;
        if (state.model == ModelFamily::None)
            return R(c.fail(model, "model",
                            "unknown model (TAVRO15, TAVRO25, TAVRO25II, TAVRO44i, TAVRO36/38, TAVRO46/48)"));
        if (family != ModelFamily::None && family != state.model)
            return R(c.fail(model, "model",
                            "the file is for a " + modelName(state.model) + ", the printer is a " + modelName(family)));
    }
    const ModelFamily checkFamily =
        family != ModelFamily::None ? family : state.model != ModelFamily::None ? state.model : kFamilyTavro36;
    if (const YAML::Node n = root["settings"])
        if (Status s = readSettings(c, n, checkFamily, state); !s)
            return R(s);
    if (const YAML::Node n = root["logos"])
        if (Status s = readLogos(c, n, folder, state); !s)
            return R(s);
    if (const YAML::Node n = root["logo_settings"])
        if (Status s = readLogoSettings(c, n, state); !s)
            return R(s);
    if (const YAML::Node n = root["firmware"])
        if (Status s = readFirmware(c, n, folder, checkFamily, state); !s)
            return R(s);
    if (const YAML::Node n = root["network"]) {
        int line = 0; // the key's line: the section begins there
        for (const auto& kv : root)
            if (kv.first.Scalar() == "network")
                line = kv.first.Mark().line + 1;
        if (Status s = readNetwork(c, n, line, state); !s)
            return R(s);
    }
    return state;
}

Result<DesiredState> loadStateFile(const std::filesystem::path& file, ModelFamily family)
{
    // A state file is a page of text; a bigger one is not one.
    constexpr std::uintmax_t kMaxBytes = 1u << 20;
    std::string text;
    if (const FileOutcome read = readWholeFile(file, kMaxBytes, &text); !read)
        return Result<DesiredState>::failure(read.fault == FileOutcome::Fault::TooLarge
                                                 ? file.string() + ": larger than a state file can be (1 MiB)"
                                                 : read.message);
    auto state = parseStateText(text, file.filename().string(), file.parent_path().empty() ? "." : file.parent_path(),
                                family);
    if (state)
        state->file = file;
    return state;
}
