#include "sim/SettingTable.h"

namespace SettingTable {

size_t valueLength(int number)
{
    return number == 255 ? 5 : 2;
}

std::optional<std::string> valueText(int number, const SettingBytes& v)
{
    if (v.size() < valueLength(number))
        return std::nullopt;
    const unsigned lo = v[0], hi = v[1];
    auto dec = [](unsigned x) { return std::to_string(x); };
    switch (number) {
    case 116:
    case 249:
        return dec(lo + 256 * hi);
    case 242:
        return hi != 0 ? "1" + dec(hi) : std::string("0");
    case 243:
        return lo == 1 ? "1" + dec(hi) : std::string("0");
    case 244:
        return dec(hi);
    case 245:
        return dec(lo) + dec(hi);
    case 250:
        // The firmware prints the high byte and then the low byte, each in decimal: the host
        // has to undo this by digit count (576 = 02·256+64 reads "264").
        return dec(hi) + dec(lo);
    case 252:
        return std::string{static_cast<char>(lo), static_cast<char>(hi)};
    case 255: {
        uint32_t code = v[0] | (v[1] << 8) | (v[2] << 16) | (static_cast<uint32_t>(v[3]) << 24);
        return std::to_string(code);
    }
    default:
        return dec(lo);
    }
}

std::vector<uint8_t> replyFrame(int number, const std::string& text)
{
    std::vector<uint8_t> out{0x37, 0x27};
    for (char c : std::to_string(number))
        out.push_back(static_cast<uint8_t>(c));
    out.push_back(0x1F);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0x00);
    return out;
}

SettingMap factoryValues(int family)
{
    SettingMap m;
    m[1] = {1, 0};       // NV user memory 64 KB
    m[2] = {7, 0};       // NV graphic memory 384 KB
    if (family == 5)
        m[2] = {3, 0};   // the TAVRO36/38 has 128 KB of NV graphic memory
    m[3] = {6, 0};       // 80 mm
    m[116] = {1, 0};     // Black
    m[118] = {85, 0};    // second colour MEDIUM
    m[242] = {0, 0};     // water mark off
    m[243] = {0, 0};     // cutting position adjustment off
    m[244] = {0, 0};     // no drawer open with cut
    m[245] = {1, 3};     // ZAVON Bell, 3 times
    m[246] = {0, 0};     // code page PC437
    m[247] = {0, 1};     // partial cut
    m[248] = {1, 1};     // bold Korean font off
    m[249] = family == 5 ? SettingBytes{180, 0} : SettingBytes{220, 0};
    m[250] = {0, 0};     // left margin 0
    m[251] = {1, 1};     // no drawer open in self-test
    m[252] = {'0', '4'}; // receive buffer 4 KB
    m[253] = {0, 1};     // one stop bit
    m[255] = {0, 0, 0, 0, 4};
    // The write-only options of the newer models.
    m[196] = {0xFF, 0};  // Bluetooth power from USB off
    m[198] = {2, 0};     // external bell
    m[199] = {0, 0x0A};  // WiFi keep-connection disabled
    m[204] = {2, 0};     // EPSON emulation
    m[205] = {2, 0};     // kitchen bell off
    m[206] = {1, 0};     // auto cut on
    m[207] = {2, 0};     // self-test
    m[208] = {2, 0};     // density level 2
    m[210] = {1, 0};     // USB mode
    m[212] = {0, 0};     // sleep off
    m[213] = {0, 0};     // paper save off
    m[214] = {0xFF, 0};  // LCD password untouched
    return m;
}

size_t nvGraphicBytes(const SettingMap& settings)
{
    int code = 7;
    if (auto it = settings.find(2); it != settings.end() && !it->second.empty())
        code = it->second[0];
    if (code < 1 || code > 7)
        code = 7;
    return static_cast<size_t>(code - 1) * 64 * 1024;
}

int nvUserKb(const SettingMap& settings)
{
    int code = 1;
    if (auto it = settings.find(1); it != settings.end() && !it->second.empty())
        code = it->second[0];
    if (code < 1 || code > 5)
        code = 1;
    return code * 64;
}

} // namespace SettingTable
