#include "state/Inventory.h"

#include "app/PortName.h"
#include "common/FileIo.h"
#include "setup/SetupSnapshot.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace {

int lineOf(const YAML::Node& node)
{
    return node.Mark().line >= 0 ? node.Mark().line + 1 : 0;
}

Status fail(const std::string& name, const YAML::Node& node, const std::string& key, const std::string& why)
{
    return Status::failure(name + ":" + std::to_string(lineOf(node)) + ": " + key + ": " + why);
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            items.push_back(item);
    return items;
}

bool plainName(const std::string& s)
{
    return !s.empty() && s.size() <= 64 && std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
}

constexpr const char* kPrinterKeys[] = {"name", "device", "port", "baud", "data", "parity",
                                        "stop", "flow", "tags", "settings"};

Result<InventoryPrinter> readPrinter(const std::string& name, const YAML::Node& node, std::size_t index)
{
    using R = Result<InventoryPrinter>;
    const std::string where = "printers[" + std::to_string(index + 1) + "]";
    if (!node.IsMap())
        return R(fail(name, node, where, "must be a mapping (name, device, port, tags, settings)"));
    InventoryPrinter p;
    p.line = lineOf(node);
    for (const auto& kv : node) {
        const std::string key = kv.first.Scalar();
        if (std::none_of(std::begin(kPrinterKeys), std::end(kPrinterKeys), [&](const char* k) { return key == k; }))
            return R(fail(name, kv.first, where + "." + key,
                          "unknown key (known: name, device, port, baud, data, parity, stop, flow, tags, settings)"));
    }
    const YAML::Node n = node["name"];
    if (!n || !n.IsScalar() || !plainName(n.Scalar()))
        return R(fail(name, n ? n : node, where + ".name",
                      "wants a name of letters, digits, '-', '_' or '.' (at most 64)"));
    p.name = n.Scalar();
    const std::string at = "printers[" + p.name + "]";
    auto scalar = [&](const char* key, std::optional<InventoryValue>& out) -> Status {
        const YAML::Node v = node[key];
        if (!v)
            return Status::success();
        if (!v.IsScalar() || v.Scalar().empty())
            return fail(name, v, at + "." + key, "must be a single value");
        out = InventoryValue{v.Scalar(), lineOf(v)};
        return Status::success();
    };
    for (auto [key, out] : {std::pair{"device", &p.device}, std::pair{"port", &p.port}, std::pair{"baud", &p.baud},
                            std::pair{"data", &p.data}, std::pair{"parity", &p.parity}, std::pair{"stop", &p.stop},
                            std::pair{"flow", &p.flow}})
        if (Status s = scalar(key, *out); !s)
            return R(s);
    if (p.device && familyForDeviceChange(p.device->value) == ModelFamily::None)
        return R(fail(name, node["device"], at + ".device", "\"" + p.device->value + "\" is not a known printer model"));
    if (p.port && !inventoryPortForm(p.port->value))
        return R(fail(name, node["port"], at + ".port",
                      "\"" + p.port->value + "\" is not usb, a device path, a USB serial number or tcp://HOST[:PORT]"));
    struct Choice {
        const char* key;
        std::optional<InventoryValue>* value;
        std::set<std::string> allowed;
    };
    for (const Choice& c : {Choice{"baud", &p.baud, {"115200", "57600", "38400", "19200", "9600"}},
                            Choice{"data", &p.data, {"8", "7"}}, Choice{"parity", &p.parity, {"none", "odd", "even"}},
                            Choice{"stop", &p.stop, {"1", "2"}}, Choice{"flow", &p.flow, {"hw", "sw", "none"}}}) {
        if (*c.value && !c.allowed.count((*c.value)->value)) {
            std::string list;
            for (const auto& a : c.allowed)
                list += (list.empty() ? "" : ", ") + a;
            return R(fail(name, node[c.key], at + "." + c.key, "\"" + (*c.value)->value + "\" is not one of " + list));
        }
    }
    if (const YAML::Node t = node["tags"]) {
        if (!t.IsSequence())
            return R(fail(name, t, at + ".tags", "must be a list of names"));
        for (const auto& tag : t) {
            if (!tag.IsScalar() || !plainName(tag.Scalar()))
                return R(fail(name, tag, at + ".tags", "wants names of letters, digits, '-', '_' or '.'"));
            p.tags.push_back(tag.Scalar());
        }
    }
    if (const YAML::Node s = node["settings"]) {
        if (!s.IsMap())
            return R(fail(name, s, at + ".settings", "must be a mapping of setting keys to values"));
        const auto known = snapshotKeys();
        for (const auto& kv : s) {
            const std::string key = lower(kv.first.Scalar());
            const std::string path = at + ".settings." + key;
            if (std::find(known.begin(), known.end(), key) == known.end())
                return R(fail(name, kv.first, path, "unknown setting"));
            if (!kv.second.IsScalar())
                return R(fail(name, kv.second, path, "must be a single value"));
            if (std::any_of(p.settings.begin(), p.settings.end(), [&](const auto& e) { return e.first == key; }))
                return R(fail(name, kv.first, path, "given twice"));
            p.settings.emplace_back(key, InventoryValue{kv.second.Scalar(), lineOf(kv.first)});
        }
    }
    return p;
}

} // namespace

std::optional<InventoryPortForm> inventoryPortForm(const std::string& port)
{
    if (toUpperAscii(port) == "USB")
        return InventoryPortForm::Usb;
    if (startsWithNoCase(port, "tcp://"))
        return port.size() > 6 ? std::optional(InventoryPortForm::Tcp) : std::nullopt;
    if (startsWithNoCase(port, "file:"))
        return port.size() > 5 ? std::optional(InventoryPortForm::File) : std::nullopt;
    if (isDeviceKind(portKindOf(port)))
        return InventoryPortForm::Device;
    // What a USB device reports as its serial number: letters and digits.
    if (!port.empty() && port.size() <= 126 &&
        std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; }))
        return InventoryPortForm::UsbSerialNumber;
    return std::nullopt;
}

Result<Inventory> parseInventoryText(const std::string& text, const std::string& name)
{
    using R = Result<Inventory>;
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        return R::failure(name + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg);
    }
    if (!root.IsMap())
        return R::failure(name + ":1: the list must be a mapping with `printers:`");
    for (const auto& kv : root)
        if (kv.first.Scalar() != "printers")
            return R(fail(name, kv.first, kv.first.Scalar(), "unknown key (known: printers)"));
    const YAML::Node list = root["printers"];
    if (!list || !list.IsSequence() || list.size() == 0)
        return R(fail(name, list ? list : root, "printers", "wants a list of at least one printer"));
    Inventory inventory;
    inventory.name = name;
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        auto p = readPrinter(name, list[i], i);
        if (!p)
            return R(p.status());
        if (!names.insert(p->name).second)
            return R(fail(name, list[i]["name"], "printers[" + std::to_string(i + 1) + "].name",
                          "\"" + p->name + "\" is given twice"));
        inventory.printers.push_back(std::move(*p));
    }
    return inventory;
}

Result<Inventory> loadInventory(const std::filesystem::path& file)
{
    constexpr std::uintmax_t kMaxBytes = 4u << 20; // thousands of printers fit in far less
    std::string text;
    if (const FileOutcome read = readWholeFile(file, kMaxBytes, &text); !read)
        return Result<Inventory>::failure(read.fault == FileOutcome::Fault::TooLarge
                                              ? file.string() + ": larger than a printer list can be (4 MiB)"
                                              : read.message);
    return parseInventoryText(text, file.filename().string());
}

Result<std::vector<InventoryPrinter>> selectPrinters(const std::vector<InventoryPrinter>& printers,
                                                     const std::vector<std::string>& limits)
{
    using R = Result<std::vector<InventoryPrinter>>;
    if (limits.empty())
        return printers;
    std::set<std::string> wanted;
    for (const auto& l : limits)
        for (const auto& item : splitList(l))
            wanted.insert(item);
    for (const auto& w : wanted) {
        const bool known = std::any_of(printers.begin(), printers.end(), [&](const InventoryPrinter& p) {
            return p.name == w || std::find(p.tags.begin(), p.tags.end(), w) != p.tags.end();
        });
        if (!known)
            return R::failure("--limit " + w + ": no printer has this name or tag");
    }
    std::vector<InventoryPrinter> chosen;
    for (const auto& p : printers)
        if (wanted.count(p.name) ||
            std::any_of(p.tags.begin(), p.tags.end(), [&](const std::string& t) { return wanted.count(t) > 0; }))
            chosen.push_back(p);
    return chosen;
}

Result<DesiredState> stateForPrinter(const DesiredState& state, const InventoryPrinter& printer, ModelFamily family,
                                     const std::string& inventoryName)
{
    using R = Result<DesiredState>;
    if (printer.settings.empty())
        return state;
    DesiredState mine = state;
    SetupOptions form;
    std::set<std::string> given;
    std::vector<std::string> order;
    if (state.settings)
        for (const auto& [key, value] : state.settings->values) {
            if (Status s = applySnapshotValue(form, key, value, family); !s)
                return R::failure(state.file.filename().string() + ": settings." + key + ": " + s.message());
            given.insert(key);
            order.push_back(key);
        }
    for (const auto& [key, v] : printer.settings) {
        if (Status s = applySnapshotValue(form, key, v.value, family); !s)
            return R::failure(inventoryName + ":" + std::to_string(v.line) + ": printers[" + printer.name +
                              "].settings." + key + ": " + s.message());
        if (given.insert(key).second)
            order.push_back(key);
    }
    SetupOptions complete = form;
    if (Status s = completeGivenForm(complete, given); !s)
        return R::failure(inventoryName + ":" + std::to_string(printer.line) + ": printers[" + printer.name +
                          "].settings: " + s.message());
    const SnapshotLines lines = snapshotOf(form, family);
    StateSettings settings;
    for (const auto& key : order)
        if (auto it = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == key; });
            it != lines.end())
            settings.values.push_back(*it);
    mine.settings = std::move(settings);
    return mine;
}
