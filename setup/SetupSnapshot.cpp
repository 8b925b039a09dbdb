#include "setup/SetupSnapshot.h"

#include "setup/SetupFrames.h"
#include "setup/SetupValueCodec.h"

#include <algorithm>
#include <cctype>

namespace {

struct ChoiceKey {
    const char* key;
    int setting;
    int SetupOptions::*member;
    std::vector<std::string> values; // by option index
};

const std::vector<ChoiceKey>& choiceKeys()
{
    static const std::vector<ChoiceKey> keys = {
        {"paper_width", 3, &SetupOptions::paperWidth, {"80", "58"}},
        {"paper_type", 116, &SetupOptions::paperType, {"black", "2color"}},
        {"color_density", 118, &SetupOptions::colorDensity, {"light", "medium", "dark"}},
        {"drawer_on_cut", 244, &SetupOptions::drawerOnCut, {"disable", "enable"}},
        {"bell_type", 245, &SetupOptions::bellType, {"0", "1", "2", "3", "4", "5"}},
        {"bell_count", 245, &SetupOptions::bellCount, {"1", "2", "3", "4", "5"}},
        {"nv_user", 1, &SetupOptions::nvUser, {"64", "128", "192", "256", "320"}},
        {"nv_graphic", 2, &SetupOptions::nvGraphic, {"0", "64", "128", "192", "256", "320", "384"}},
        {"cut_mode", 247, &SetupOptions::cutMode, {"partial", "full"}},
        {"bold_korean", 248, &SetupOptions::boldKorean, {"off", "on"}},
        {"drawer_self_test", 251, &SetupOptions::drawerSelfTest, {"enable", "disable"}},
        {"rx_buffer", 252, &SetupOptions::rxBuffer, {"64", "32", "20", "4"}},
        {"stop_bit", 253, &SetupOptions::stopBit, {"one", "two"}},
        {"emulation", 204, &SetupOptions::emulation, {"epson", "star"}},
        {"density", 208, &SetupOptions::density, {"1", "2", "3", "4"}},
        {"kitchen_bell", 205, &SetupOptions::kitchenBell, {"off", "on"}},
        {"autocut", 206, &SetupOptions::autoCut, {"on", "off"}},
        {"self_test", 207, &SetupOptions::selfTest, {"selftest", "hexdump"}},
        {"usb_mode", 210, &SetupOptions::usbMode, {"usb", "com"}},
        {"sleep", 212, &SetupOptions::sleepMode, {"0", "5", "10", "15"}},
        {"paper_save", 213, &SetupOptions::paperSave, {"0", "1", "2"}},
        {"wifi_keep", 199, &SetupOptions::wifiKeep, {"enable", "disable"}},
        {"lcd_password", 214, &SetupOptions::lcdPassword, {"reset", "keep"}},
        {"bell", 198, &SetupOptions::bell, {"external", "builtin"}},
        {"bt_usb_power", 196, &SetupOptions::btPower, {"off", "on"}},
    };
    return keys;
}

const ChoiceKey* findChoice(std::string_view key)
{
    for (const auto& c : choiceKeys())
        if (key == c.key)
            return &c;
    return nullptr;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string joinList(const std::vector<std::string>& values)
{
    std::string out;
    for (const auto& v : values)
        out += (out.empty() ? "" : "|") + v;
    return out;
}

Status notInList(std::string_view key, std::string_view value, const std::string& list)
{
    return Status::failure(std::string(key) + ": \"" + std::string(value) + "\" is not one of " + list);
}

// A whole decimal number in low..high.
std::optional<int> wholeNumber(std::string_view text, int low, int high)
{
    if (text.empty() || text.size() > 6)
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    int v = std::stoi(std::string(text));
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

std::string trim(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string codePageList()
{
    std::string out;
    for (const auto& e : codePageTable())
        out += (out.empty() ? "" : "|") + std::to_string(e.number);
    return out;
}

} // namespace

const std::vector<std::string>& snapshotKeys()
{
    static const std::vector<std::string> keys = {
        "paper_width", "columns", "paper_type", "color_density", "watermark", "cut_adjust",
        "drawer_on_cut", "bell_type", "bell_count", "code_page", "nv_user", "nv_graphic",
        "cut_mode", "bold_korean", "speed", "margin", "drawer_self_test", "rx_buffer",
        "stop_bit", "custom_code", "emulation", "density", "kitchen_bell", "autocut",
        "self_test", "usb_mode", "sleep", "paper_save", "wifi_keep", "lcd_password", "bell",
        "bt_usb_power"};
    return keys;
}

int settingOfKey(std::string_view key)
{
    if (const ChoiceKey* c = findChoice(key))
        return c->setting;
    if (key == "columns")
        return 3;
    if (key == "watermark")
        return 242;
    if (key == "cut_adjust")
        return 243;
    if (key == "code_page")
        return 246;
    if (key == "speed")
        return 249;
    if (key == "margin")
        return 250;
    if (key == "custom_code")
        return 255;
    return 0;
}

bool keyIsReadable(std::string_view key)
{
    int n = settingOfKey(key);
    return n != 0 && (n < 196 || n > 214);
}

SnapshotLines snapshotOf(const SetupOptions& o, ModelFamily modelFamily, const std::set<int>* shown)
{
    SnapshotLines lines;
    for (const std::string& key : snapshotKeys()) {
        if (shown && !shown->count(settingOfKey(key)))
            continue;
        std::string value;
        if (const ChoiceKey* c = findChoice(key)) {
            int v = o.*(c->member);
            if (v < 0 || v >= static_cast<int>(c->values.size()))
                continue;
            value = c->values[static_cast<std::size_t>(v)];
        } else if (key == "columns") {
            if (o.paperWidth != 1 || (o.columns != 0 && o.columns != 1))
                continue;
            value = o.columns == 0 ? "32" : "34";
        } else if (key == "watermark") {
            if (o.watermark == kNoValue)
                continue;
            value = o.watermark == 1 ? std::to_string(o.imageNumber) : "off";
        } else if (key == "cut_adjust") {
            if (o.cutAdjust == kNoValue)
                continue;
            value = o.cutAdjust == 1 ? std::to_string(o.lines) : "off";
        } else if (key == "code_page") {
            if (o.codePage < 0 || o.codePage >= static_cast<int>(codePageTable().size()))
                continue;
            value = std::to_string(codePageTable()[static_cast<std::size_t>(o.codePage)].number);
        } else if (key == "speed") {
            auto speeds = speedEntries(modelFamily);
            if (o.speed < 0 || o.speed >= static_cast<int>(speeds.size()))
                continue;
            value = std::to_string(speeds[static_cast<std::size_t>(o.speed)]);
        } else if (key == "margin") {
            value = std::to_string(o.margin);
        } else if (key == "custom_code") {
            auto code = parseCustomCode(o.customCode);
            value = code ? formatCustomCode(*code) : "0";
        }
        lines.emplace_back(key, value);
    }
    return lines;
}

Status applySnapshotValue(SetupOptions& o, std::string_view key, std::string_view rawValue, ModelFamily modelFamily)
{
    const std::string value = lower(trim(rawValue));
    if (const ChoiceKey* c = findChoice(key)) {
        for (std::size_t i = 0; i < c->values.size(); ++i) {
            if (value == c->values[i]) {
                o.*(c->member) = static_cast<int>(i);
                return Status::success();
            }
        }
        return notInList(key, rawValue, joinList(c->values));
    }
    if (key == "columns") {
        if (value == "32" || value == "34") {
            o.columns = value == "32" ? 0 : 1;
            return Status::success();
        }
        return notInList(key, rawValue, "32|34");
    }
    if (key == "watermark" || key == "cut_adjust") {
        const bool mark = key == "watermark";
        if (value == "off") {
            (mark ? o.watermark : o.cutAdjust) = 0;
            return Status::success();
        }
        auto n = wholeNumber(value, mark ? 1 : 0, 255);
        if (!n)
            return notInList(key, rawValue, mark ? "off|1..255" : "off|0..255");
        (mark ? o.watermark : o.cutAdjust) = 1;
        (mark ? o.imageNumber : o.lines) = *n;
        return Status::success();
    }
    if (key == "code_page") {
        auto n = wholeNumber(value, 0, 255);
        int index = n ? codePageIndexOf(*n) : kNoValue;
        if (index == kNoValue)
            return notInList(key, rawValue, codePageList());
        o.codePage = index;
        return Status::success();
    }
    if (key == "speed") {
        auto speeds = speedEntries(modelFamily);
        std::vector<std::string> texts;
        for (int s : speeds)
            texts.push_back(std::to_string(s));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (value == texts[i]) {
                o.speed = static_cast<int>(i);
                return Status::success();
            }
        }
        return notInList(key, rawValue, joinList(texts));
    }
    if (key == "margin") {
        auto n = wholeNumber(value, 0, 576);
        if (!n)
            return notInList(key, rawValue, "0..576");
        o.margin = *n;
        return Status::success();
    }
    if (key == "custom_code") {
        auto code = parseCustomCode(value);
        if (!code)
            return Status::failure("custom_code: \"" + std::string(rawValue) + "\" is not 1 to 8 hexadecimal digits");
        o.customCode = formatCustomCode(*code);
        return Status::success();
    }
    std::string all;
    for (const auto& k : snapshotKeys())
        all += (all.empty() ? "" : ", ") + k;
    return Status::failure("unknown setting \"" + std::string(key) + "\" (the settings are: " + all + ")");
}

Result<std::pair<std::string, std::string>> splitAssignment(std::string_view text)
{
    auto eq = text.find('=');
    if (eq == std::string_view::npos)
        return Result<std::pair<std::string, std::string>>::failure("\"" + std::string(text) +
                                                                    "\" is not KEY=VALUE");
    std::string key = lower(trim(text.substr(0, eq)));
    std::string value = trim(text.substr(eq + 1));
    if (key.empty() || value.empty())
        return Result<std::pair<std::string, std::string>>::failure("\"" + std::string(text) +
                                                                    "\" is not KEY=VALUE");
    return std::make_pair(key, value);
}

Status completeGivenForm(SetupOptions& o, const std::set<std::string>& given)
{
    auto has = [&](const char* key) { return given.count(key) != 0; };
    if (has("columns") && !(has("paper_width") && o.paperWidth == 1))
        return Status::failure("columns applies only with paper_width=58");
    if (has("paper_width") && o.paperWidth == 1 && !has("columns"))
        o.columns = 1; // the 58mm button selects the second column entry
    if (has("color_density") && !has("paper_type"))
        return Status::failure("color_density is written together with paper_type; give paper_type too");
    if (has("bell_count") && !has("bell_type"))
        return Status::failure("bell_count is written together with bell_type; give bell_type too");
    if (o.paperType == 1 && o.watermark == 1)
        return Status::failure("Water mark print is impossible in Two-color print mode: "
                               "give watermark=off or paper_type=black");
    return checkNvSize(o);
}
