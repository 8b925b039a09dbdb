#include "setup/SetupFrames.h"

#include <string>

namespace {

constexpr std::uint8_t GS = 0x1D;

// Appends one item and counts its bytes for pL pH.
class ItemWriter {
public:
    explicit ItemWriter(Bytes& frame) : m_frame(frame) {}
    void item(std::uint8_t a, std::uint8_t lo, std::uint8_t hi)
    {
        m_frame.insert(m_frame.end(), {a, lo, hi});
        m_count += 3;
    }
    void raw(std::initializer_list<std::uint8_t> bytes)
    {
        m_frame.insert(m_frame.end(), bytes);
        m_count += static_cast<int>(bytes.size());
    }
    int count() const { return m_count; }

private:
    Bytes& m_frame;
    int m_count = 1; // the function byte 05
};

bool inRange(int value, int low, int high) { return value >= low && value <= high; }

// An option holding either no value or an index below size.
Status checkChoice(int value, int size, const char* what)
{
    if (value == kNoValue || inRange(value, 0, size - 1))
        return Status::success();
    return Status::failure(std::string(what) + ": value " + std::to_string(value) +
                           " is outside its list (0.." + std::to_string(size - 1) + ")");
}

std::uint8_t lo(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

} // namespace

Bytes enterUserSettingFrame() { return {GS, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E}; }

Bytes endUserSettingFrame() { return {GS, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54}; }

Bytes disableAsbFrame() { return {GS, 0x61, 0x00}; }

Bytes transmitSettingFrame(std::uint8_t settingNumber)
{
    return {GS, 0x28, 0x45, 0x02, 0x00, 0x06, settingNumber};
}

std::vector<std::uint8_t> readRequestList(SetupReadList list)
{
    switch (list) {
    case SetupReadList::Network:
        return {3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 1, 2, 255};
    case SetupReadList::Parallel:
        return {1, 2, 3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 255};
    case SetupReadList::Full:
        break;
    }
    return {3, 116, 118, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 1, 2, 255};
}

std::vector<std::uint8_t> readRequestList(PortKind kind) { return readRequestList(connectionTraits(kind).setupReadList); }

CountedRequestList lptRequestList()
{
    CountedRequestList list;
    auto numbers = readRequestList(SetupReadList::Parallel);
    list.count = static_cast<std::uint8_t>(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i)
        list.numbers[i] = numbers[i];
    return list;
}

std::optional<std::uint32_t> parseCustomCode(std::string_view text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t code = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        code = code * 16 + static_cast<std::uint32_t>(digit);
    }
    return code;
}

std::string formatCustomCode(std::uint32_t code)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[code & 0xF]);
        code >>= 4;
    } while (code != 0);
    return text;
}

Result<SetValueFrame> buildSetValueFrame(const SetupOptions& o, ModelFamily modelFamily)
{
    const std::vector<int> speeds = speedEntries(modelFamily);
    const Status checks[] = {
        checkChoice(o.btPower, 2, "Bluetooth PWR from USB"),
        checkChoice(o.bell, 2, "Bell"),
        checkChoice(o.paperSave, static_cast<int>(kPaperSaveModes.size()), "Paper Save Mode"),
        checkChoice(o.sleepMode, static_cast<int>(kSleepModes.size()), "Sleep mode"),
        checkChoice(o.emulation, 2, "Emulation"),
        checkChoice(o.autoCut, 2, "AutoCut"),
        checkChoice(o.kitchenBell, 2, "Kitchen Bell"),
        checkChoice(o.selfTest, 2, "SELF-TEST"),
        checkChoice(o.density, static_cast<int>(kDensityLevels.size()), "Density"),
        checkChoice(o.usbMode, 2, "USB mode"),
        checkChoice(o.lcdPassword, 2, "LCD Password"),
        checkChoice(o.wifiKeep, 2, "WiFi Auto Keep-Connection"),
        checkChoice(o.paperWidth, 2, "Paper Width"),
        checkChoice(o.columns, static_cast<int>(kColumnEntries.size()), "Max. Column"),
        checkChoice(o.paperType, 2, "Paper Type"),
        checkChoice(o.colorDensity, static_cast<int>(kColorDensities.size()), "second-colour density"),
        checkChoice(o.watermark, 2, "Water Mark Function"),
        checkChoice(o.cutAdjust, 2, "Cutting postion adjustment Function"),
        checkChoice(o.drawerOnCut, 2, "Drawer open with cutting"),
        checkChoice(o.bellType, static_cast<int>(kBellTypes.size()), "Kitchen Bell Type"),
        checkChoice(o.bellCount, 5, "Kitchen Bell Length"),
        checkChoice(o.codePage, static_cast<int>(codePageTable().size()), "Default Code Page"),
        checkChoice(o.nvUser, static_cast<int>(kNvUserSizes.size()), "NV User Memory Size"),
        checkChoice(o.nvGraphic, static_cast<int>(kNvGraphicSizes.size()), "NV Graphic Memory Size"),
        checkChoice(o.cutMode, 2, "Cutting Mode Select"),
        checkChoice(o.speed, static_cast<int>(speeds.size()), "Max Print Speed"),
        checkChoice(o.boldKorean, 2, "Bold Korean Font"),
        checkChoice(o.drawerSelfTest, 2, "Drawer Open In Self-Test"),
        checkChoice(o.stopBit, 2, "STOP BIT(COM PORT)"),
        checkChoice(o.rxBuffer, static_cast<int>(kRxBufferSizes.size()), "Receive Buffer Size"),
    };
    for (const Status& check : checks)
        if (!check)
            return Result<SetValueFrame>(check);
    if (!inRange(o.margin, 0, 576))
        return Result<SetValueFrame>::failure("Set Left Paper Margin: " + std::to_string(o.margin) +
                                              " dots is outside 0 ~ 576");
    if (o.watermark == 1 && !inRange(o.imageNumber, 1, 255))
        return Result<SetValueFrame>::failure("Image#: " + std::to_string(o.imageNumber) +
                                              " is outside 1..255");
    if (o.cutAdjust == 1 && !inRange(o.lines, 0, 255))
        return Result<SetValueFrame>::failure("Lines: " + std::to_string(o.lines) + " is outside 0..255");

    SetValueFrame out;
    Bytes& f = out.bytes;
    f = {GS, 0x28, 0x45, 0x00, 0x00, 0x05};
    ItemWriter w(f);

    if (o.btPower != kNoValue)
        w.item(0xC4, o.btPower == 1 ? 0x01 : 0xFF, 0x00);
    if (o.bell != kNoValue)
        w.item(0xC6, o.bell == 1 ? 0x01 : 0x02, 0x00);
    if (o.paperSave != kNoValue)
        w.item(0xD5, static_cast<std::uint8_t>(o.paperSave % 3), 0x00);
    if (o.sleepMode != kNoValue)
        w.item(0xD4, static_cast<std::uint8_t>(o.sleepMode % 4), 0x00);
    if (o.emulation != kNoValue)
        w.item(0xCC, o.emulation == 0 ? 0x02 : 0x01, 0x00);
    if (o.autoCut != kNoValue)
        w.item(0xCE, o.autoCut == 0 ? 0x01 : 0x02, 0x00);
    if (o.kitchenBell != kNoValue)
        w.item(0xCD, o.kitchenBell == 1 ? 0x01 : 0x02, 0x00);
    if (o.selfTest != kNoValue)
        w.item(0xCF, o.selfTest == 0 ? 0x02 : 0x01, 0x00);
    if (o.density != kNoValue)
        w.item(0xD0, static_cast<std::uint8_t>(o.density % 4 + 1), 0x00);
    if (o.usbMode != kNoValue) {
        w.item(0xD2, o.usbMode == 0 ? 0x01 : 0x02, 0x00);
        out.usbModeChange = true;
    }
    if (o.lcdPassword != kNoValue)
        w.item(0xD6, o.lcdPassword == 0 ? 0x00 : 0xFF, 0x00);
    if (o.wifiKeep != kNoValue)
        w.item(0xC7, o.wifiKeep == 0 ? 0x01 : 0x00, 0x0A);
    if (o.paperWidth != kNoValue) {
        // The printer knows 58 mm with 32 or 34 columns and 80 mm; a 58 mm form whose
        // column combo reads neither is written as 80 mm, as the dialog always did.
        int columnText = o.columns == 0 ? 32 : o.columns == 1 ? 34 : 0;
        std::uint8_t w3 = 6;
        if (o.paperWidth == 1 && columnText == 32)
            w3 = 2;
        else if (o.paperWidth == 1 && columnText == 34)
            w3 = 3;
        w.item(0x03, w3, 0x00);
    }
    if (o.paperType != kNoValue) {
        // Paper type and second-colour density travel together; an unset density is MEDIUM.
        static const std::uint8_t densities[] = {70, 85, 100};
        std::uint8_t d = o.colorDensity == kNoValue ? 85 : densities[o.colorDensity];
        w.raw({0x74, 0x01, static_cast<std::uint8_t>(o.paperType == 1 ? 1 : 0), 0x76, d, 0x00});
    }
    if (o.watermark != kNoValue)
        w.item(0xF2, 0x00, o.watermark == 1 ? static_cast<std::uint8_t>(o.imageNumber) : 0x00);
    if (o.cutAdjust != kNoValue) {
        if (o.cutAdjust == 1)
            w.item(0xF3, 0x01, static_cast<std::uint8_t>(o.lines));
        else
            w.item(0xF3, 0x00, 0x00);
    }
    if (o.drawerOnCut != kNoValue)
        w.item(0xF4, 0x00, o.drawerOnCut == 1 ? 0x01 : 0x00);
    if (o.bellType != kNoValue) {
        static const std::uint8_t typeCodes[] = {1, 2, 3, 4, 0, 5};
        int count = o.bellCount == kNoValue ? 3 : o.bellCount + 1;
        w.item(0xF5, typeCodes[o.bellType], static_cast<std::uint8_t>(count));
    }
    if (o.codePage != kNoValue)
        w.item(0xF6, static_cast<std::uint8_t>(codePageTable()[static_cast<std::size_t>(o.codePage)].number), 0x00);
    if (o.nvUser != kNoValue)
        w.item(0x01, static_cast<std::uint8_t>(o.nvUser + 1), 0x00);
    if (o.nvGraphic != kNoValue)
        w.item(0x02, static_cast<std::uint8_t>(o.nvGraphic + 1), 0x00);
    if (o.cutMode != kNoValue)
        w.item(0xF7, o.cutMode == 1 ? 0x01 : 0x00, 0x01);
    if (o.speed != kNoValue) {
        int mmPerSecond = speeds[static_cast<std::size_t>(o.speed)];
        w.item(0xF9, lo(mmPerSecond), hi(mmPerSecond));
    }
    if (o.boldKorean != kNoValue)
        w.item(0xF8, o.boldKorean == 1 ? 0x00 : 0x01, 0x01);
    if (o.drawerSelfTest != kNoValue)
        w.item(0xFB, o.drawerSelfTest == 1 ? 0x01 : 0x00, 0x01);
    if (o.stopBit != kNoValue)
        w.item(0xFD, o.stopBit == 1 ? 0x01 : 0x00, 0x01);
    if (o.rxBuffer != kNoValue) {
        // The printer takes the receive buffer size as two ASCII digits.
        static const char* texts[] = {"64", "32", "20", "04"};
        const char* t = texts[o.rxBuffer];
        w.item(0xFC, static_cast<std::uint8_t>(t[0]), static_cast<std::uint8_t>(t[1]));
    }
    w.item(0xFA, lo(o.margin), hi(o.margin));

    std::optional<std::uint32_t> code = parseCustomCode(o.customCode);
    if (!code) {
        code = 0;
        out.customCodeReset = true;
    }
    w.raw({0xFF, static_cast<std::uint8_t>(*code & 0xFF), static_cast<std::uint8_t>((*code >> 8) & 0xFF),
           static_cast<std::uint8_t>((*code >> 16) & 0xFF), static_cast<std::uint8_t>((*code >> 24) & 0xFF), 0x04});

    f[3] = lo(w.count());
    f[4] = hi(w.count());
    return out;
}
