#include "setup/SetupValueCodec.h"

#include "setup/SetupFrames.h"

namespace {

char firstChar(const std::string& data) { return data.empty() ? '\0' : data[0]; }

// 1 for a reply '0', 2 for '1': the answer code of the on/off settings.
std::optional<long> zeroOneCode(const std::string& data)
{
    switch (firstChar(data)) {
    case '1':
        return 2;
    case '0':
        return 1;
    default:
        return std::nullopt;
    }
}

std::string afterFirst(const std::string& data) { return data.size() > 1 ? data.substr(1) : std::string(); }

} // namespace

std::optional<std::uint64_t> leadingDecimal(std::string_view text, std::uint64_t max)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > max)
            return std::nullopt;
    }
    return value;
}

std::optional<long> dispatchReply(const SetupReplyParser::Reply& reply, SetupTextSlots& slots)
{
    const std::string& d = reply.data;
    const char c = firstChar(d);
    switch (reply.number) {
    case 1:
        switch (c) {
        case '5': return 4;
        case '4': return 3;
        case '3': return 2;
        case '2': return 1;
        default: return 0;
        }
    case 2:
        if (c >= '1' && c <= '6')
            return c - '1';
        return 6;
    case 3:
        switch (c) {
        case '2': return 2;
        case '3': return 3;
        case '6': return 1;
        default: return std::nullopt;
        }
    case 116:
        if (d == "1")
            return 1;
        if (d == "257")
            return 2;
        return std::nullopt;
    case 118:
        slots.store(TextSlot::Density, d);
        return 0;
    case 242:
    case 243:
        if (c == '1') {
            slots.store(reply.number == 242 ? TextSlot::ImageNumber : TextSlot::Lines, afterFirst(d));
            return 2;
        }
        if (c == '0')
            return 1;
        return std::nullopt;
    case 244:
    case 247:
    case 248:
        return zeroOneCode(d);
    case 245:
        slots.store(TextSlot::BellCount, afterFirst(d));
        return static_cast<unsigned char>(c);
    case 246:
        slots.store(TextSlot::CodePage, d);
        return 2;
    case 249:
        slots.store(TextSlot::Speed, d);
        return 1;
    case 250:
        slots.store(TextSlot::Margin, d);
        return 1;
    case 251:
        return c == '1' ? 2 : 1;
    case 252:
        if (d == "64")
            return 64;
        if (d == "32")
            return 32;
        if (d == "20")
            return 20;
        if (d == "04" || d == "4")
            return 4;
        return std::nullopt;
    case 253:
        // A stop-bit answer that is not a digit is no stop-bit setting: showing it as TWO
        // would invite writing a stop bit the printer never had.
        if (c < '0' || c > '9')
            return std::nullopt;
        return c - '0' + 1;
    case 255: {
        auto code = leadingDecimal(d, 0xFFFFFFFFu);
        if (!code)
            return std::nullopt;
        return static_cast<long>(*code);
    }
    default:
        return std::nullopt;
    }
}

std::optional<int> decodeMargin(std::string_view digits)
{
    std::size_t k = 0;
    while (k < digits.size() && digits[k] >= '0' && digits[k] <= '9')
        ++k;
    auto d = leadingDecimal(digits.substr(0, k), 999999);
    if (!d)
        return std::nullopt;
    std::uint64_t margin;
    switch (k) {
    case 4: margin = *d % 1000 + 256 * (*d / 1000); break;
    case 3: margin = *d % 100 + 256 * (*d / 100); break;
    case 2: margin = *d % 10 + 256 * (*d / 10); break;
    default: margin = *d; break;
    }
    if (margin > 576)
        return std::nullopt;
    return static_cast<int>(margin);
}

int decodeSpeedSelection(ModelFamily modelFamily, std::string_view text, int currentSelection)
{
    auto speed = leadingDecimal(text, 99999);
    long s = speed ? static_cast<long>(*speed) : 0;
    if (modelFamily == kFamilyTavro46) {
        if (s == 150)
            return 3;
        if (s == 180)
            return 2;
        if (s == 200)
            return 1;
        return 0;
    }
    if (modelFamily == kFamilyTavro36)
        return s == 150 ? 1 : 0;
    return currentSelection;
}

bool applySetupValue(SetupOptions& o, int n, long v, SetupTextSlots& slots, ModelFamily modelFamily)
{
    switch (n) {
    case 1:
        o.nvUser = (v >= 0 && v < static_cast<long>(kNvUserSizes.size())) ? static_cast<int>(v) : kNoValue;
        return true;
    case 2:
        o.nvGraphic = (v >= 0 && v < static_cast<long>(kNvGraphicSizes.size())) ? static_cast<int>(v) : kNoValue;
        return true;
    case 3:
        o.paperWidth = v == 1 ? 0 : 1;
        o.columns = v == 3 ? 1 : v == 2 ? 0 : kNoValue;
        return true;
    case 116:
        o.paperType = v != 1 ? 1 : 0;
        return true;
    case 118: {
        auto d = leadingDecimal(slots.take(TextSlot::Density), 99999);
        o.colorDensity = (d && *d == 70) ? 0 : (d && *d == 100) ? 2 : 1;
        return true;
    }
    case 242: {
        std::string text = slots.take(TextSlot::ImageNumber);
        o.watermark = v != 1 ? 1 : 0;
        if (o.watermark == 1) {
            auto image = leadingDecimal(text, 255);
            if (!image || *image < 1)
                return false;
            o.imageNumber = static_cast<int>(*image);
        }
        return true;
    }
    case 243: {
        std::string text = slots.take(TextSlot::Lines);
        o.cutAdjust = v != 1 ? 1 : 0;
        if (o.cutAdjust == 1) {
            auto lines = leadingDecimal(text, 255);
            if (!lines)
                return false;
            o.lines = static_cast<int>(*lines);
        }
        return true;
    }
    case 244:
        o.drawerOnCut = v != 1 ? 1 : 0;
        return true;
    case 247:
        o.cutMode = v != 1 ? 1 : 0;
        return true;
    case 251:
        o.drawerSelfTest = v != 1 ? 1 : 0;
        return true;
    case 253:
        o.stopBit = v != 1 ? 1 : 0;
        return true;
    case 248:
        o.boldKorean = v == 1 ? 1 : 0;
        return true;
    case 245: {
        switch (v) {
        case '1': o.bellType = 0; break;
        case '2': o.bellType = 1; break;
        case '3': o.bellType = 2; break;
        case '4': o.bellType = 3; break;
        case '5': o.bellType = 5; break;
        default: o.bellType = 4; break;
        }
        std::string count = slots.take(TextSlot::BellCount);
        int index = count.empty() ? -1 : count[0] - '1';
        o.bellCount = (index >= 0 && index <= 4) ? index : kNoValue;
        return o.bellCount != kNoValue;
    }
    case 246: {
        auto number = leadingDecimal(slots.take(TextSlot::CodePage), 99999);
        o.codePage = number ? codePageIndexOf(static_cast<int>(*number)) : kNoValue;
        return o.codePage != kNoValue;
    }
    case 249:
        o.speed = decodeSpeedSelection(modelFamily, slots.take(TextSlot::Speed), o.speed);
        return modelFamily == kFamilyTavro36 || modelFamily == kFamilyTavro46;
    case 250: {
        auto margin = decodeMargin(slots.take(TextSlot::Margin));
        if (!margin)
            return false;
        o.margin = *margin;
        return true;
    }
    case 252:
        switch (v) {
        case 64: o.rxBuffer = 0; break;
        case 32: o.rxBuffer = 1; break;
        case 20: o.rxBuffer = 2; break;
        case 4: o.rxBuffer = 3; break;
        default: return false;
        }
        return true;
    case 255:
        if (v < 0 || v > 0xFFFFFFFFL)
            return false;
        o.customCode = formatCustomCode(static_cast<std::uint32_t>(v));
        return true;
    default:
        return false;
    }
}
