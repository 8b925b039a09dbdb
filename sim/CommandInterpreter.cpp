#include "sim/CommandInterpreter.h"

#include "sim/NvLogoStore.h"

#include <algorithm>

namespace {

// A text line longer than this without LF is reported in pieces.
constexpr size_t kMaxTextLine = 4096;
// Raw data is reported in pieces of this size.
constexpr size_t kMaxRawChunk = 256;
// The largest transfer block the printer accepts (the whole 8 MiB flash).
constexpr uint32_t kMaxFirmwareBlock = 0x800000;

struct FlashArea {
    uint8_t code;
    const char* name;
    uint32_t length;
};

// Transfer block areas by family: code, area, block length including the 10-byte header.
std::vector<FlashArea> flashAreas(int family)
{
    std::vector<FlashArea> areas;
    if (family == 2)
        return areas; // the TAVRO15 takes its firmware in legacy packets only
    if (family == 5)
        areas.push_back({0x52, "program", 0xA0000});
    else
        areas.push_back({0x51, "program", 0xD0000});
    areas.push_back({0x46, "ext-font", 0x100000});
    if (family == 6)
        areas.push_back({0xBB, "lcd-font", 0x200000});
    areas.push_back({0x44, "download", 0x18000});
    areas.push_back({0x42, "boot", 0x15000});
    return areas;
}

struct LegacyArea {
    uint8_t first, last;
    const char* name;
    uint32_t start, end;
};

// Legacy areas: the erase packet names the area by its first and end 64 KiB sector numbers
// (file offset / 0x10000 + 3).
const LegacyArea kLegacyAreas[] = {
    {0x20, 0x22, "legacy-program", 0x1D0000, 0x1F0000},
    {0x22, 0x23, "legacy-boot", 0x1F0000, 0x200000},
    {0x1C, 0x1E, "legacy-font", 0x190000, 0x1B0000},
};

// Parameter bytes after ESC x for the ESC commands a receipt may carry; others take none.
int escParams(uint8_t c)
{
    switch (c) {
    case '!': case '-': case '3': case 'E': case 'G': case 'J': case 'M': case 'R': case 'U':
    case 'V': case 'a': case 'c': case 'd': case 'e': case 'r': case 't': case '{': case ' ':
        return 1;
    case '$': case '\\':
        return 2;
    case 'p':
        return 3;
    default:
        return 0;
    }
}

const char* justifyName(int n)
{
    switch (n % 48) {
    case 0: return "left";
    case 1: return "center";
    case 2: return "right";
    default: return "unknown";
    }
}

} // namespace

CommandInterpreter::CommandInterpreter(PrinterState& state, InterpreterSink& sink, InterpreterFaults faults)
    : m_state(state), m_sink(sink), m_faults(std::move(faults))
{
}

void CommandInterpreter::emit(SimEvent e)
{
    m_sink.event(std::move(e));
}

void CommandInterpreter::feed(const uint8_t* data, size_t size)
{
    size_t done = 0;
    while (done < size)
        done += feedSome(data + done, size - done);
}

size_t CommandInterpreter::feedSome(const uint8_t* data, size_t size)
{
    size_t i = 0;
    m_pause = false;
    if (m_state.openDefinition && m_stateKind == State::Idle && size > 0)
        resumeDefinition();
    while (i < size && !m_pause) {
        if (m_stateKind == State::FsqData) {
            size_t n = std::min(m_def.remaining, size - i);
            if (n > 0 && m_def.readyAtMs >= 0 && m_nowMs < m_def.readyAtMs && !m_def.earlyData) {
                m_def.earlyData = true;
                emit(SimEvent("nv-define").num("count", m_def.count)
                         .num("picture", static_cast<int64_t>(m_def.pictures.size() + 1))
                         .num("earlyMs", m_def.readyAtMs - m_nowMs)
                         .str("error", "raster data arrived while the NV memory was still erasing"));
            }
            if (!m_def.overflow && m_def.refused.empty())
                m_def.current.data.insert(m_def.current.data.end(), data + i, data + i + n);
            m_def.remaining -= n;
            i += n;
            if (m_def.remaining == 0)
                nextPicture();
            continue;
        }
        if (m_stateKind == State::FwData) {
            size_t n = std::min<size_t>(m_fw.remaining, size - i);
            firmwareData(data + i, n);
            i += n;
            if (m_fw.remaining == 0)
                firmwareDone();
            continue;
        }
        feedByte(data[i++]);
    }
    flushRaw();
    return i;
}

void CommandInterpreter::finish()
{
    switch (m_stateKind) {
    case State::Idle:
        break;
    case State::Collect:
        emit(SimEvent("incomplete").hex("bytes", m_cmd));
        break;
    case State::FsqData:
        emit(SimEvent("nv-define").num("count", m_def.count).num("received", static_cast<int64_t>(m_def.pictures.size()))
                 .str("verdict", "refused: stream ended inside picture data"));
        break;
    case State::FwData:
        emit(SimEvent("firmware").num("code", m_fw.code).num("fileSize", m_fw.fileSize)
                 .num("received", m_fw.received).str("verdict", "refused: stream ended inside the block"));
        break;
    }
    backToIdle();
    flushText(false);
    flushRaw();
}

void CommandInterpreter::suspend()
{
    const bool inHeader = m_stateKind == State::Collect && m_collecting == Collecting::FsqHeader;
    if (m_stateKind != State::FsqData && !inHeader)
        return;
    m_def.inData = m_stateKind == State::FsqData;
    m_def.headerBytes = inHeader ? m_cmd : std::vector<uint8_t>{};
    emit(SimEvent("nv-define").num("count", m_def.count)
             .num("received", static_cast<int64_t>(m_def.pictures.size()))
             .str("note", "connection ended inside the definition; the printer waits for the rest"));
    m_state.openDefinition = std::move(m_def);
    m_def = Define{};
    backToIdle();
}

void CommandInterpreter::resumeDefinition()
{
    m_def = std::move(*m_state.openDefinition);
    m_state.openDefinition.reset();
    if (m_def.inData) {
        m_stateKind = State::FsqData;
    } else {
        m_stateKind = State::Collect;
        m_collecting = Collecting::FsqHeader;
        m_cmd = m_def.headerBytes;
        m_need = 4;
    }
    m_def.headerBytes.clear();
}

void CommandInterpreter::backToIdle()
{
    m_stateKind = State::Idle;
    m_collecting = Collecting::Command;
    m_cmd.clear();
    m_need = 0;
}

void CommandInterpreter::feedByte(uint8_t b)
{
    if (m_stateKind == State::Collect) {
        m_cmd.push_back(b);
        if (m_cmd.size() >= m_need)
            complete();
        return;
    }
    idleByte(b);
}

void CommandInterpreter::startCollect(uint8_t first, size_t need)
{
    m_stateKind = State::Collect;
    m_collecting = Collecting::Command;
    m_cmd.assign(1, first);
    m_need = need;
}

void CommandInterpreter::refeed(std::vector<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        feedByte(b);
}

void CommandInterpreter::idleByte(uint8_t b)
{
    switch (b) {
    case 0x1B:
    case 0x1D:
    case 0x1C:
        flushText(false);
        flushRaw();
        startCollect(b, 2);
        return;
    case 0x40: // possibly a legacy download packet 40 F0/F1/F2
        // Only the TAVRO15 speaks the packet protocol; to the others '@' is text.
        if (m_state.family() != 2) {
            addText(b);
            return;
        }
        startCollect(b, 2);
        return;
    case 0x01: // possibly the firmware transfer block 01 11 code 32
        startCollect(b, 2);
        return;
    case 0x0A:
        flushRaw();
        flushText(true);
        return;
    case 0x0D:
    case 0x00:
        // CR is folded into the LF that follows it; NUL is the padding the tool sends behind
        // its text blocks and after a parallel-port read. Neither prints anything.
        return;
    default:
        if (b >= 0x20)
            addText(b);
        else
            addRaw(b);
    }
}

void CommandInterpreter::complete()
{
    switch (m_collecting) {
    case Collecting::FsqHeader:
        fsqHeader();
        return;
    case Collecting::LegacyHead:
        legacyHead();
        return;
    case Collecting::LegacyBody:
        legacyBody();
        return;
    case Collecting::Command:
        break;
    }
    switch (m_cmd[0]) {
    case 0x1B:
        completeEsc();
        return;
    case 0x1D:
        completeGs();
        return;
    case 0x1C:
        completeFs();
        return;
    case 0x01:
        if (m_cmd.size() == 2 && m_cmd[1] != 0x11) {
            std::vector<uint8_t> rest(m_cmd.begin() + 1, m_cmd.end());
            backToIdle();
            addRaw(0x01);
            refeed(rest);
            return;
        }
        if (m_cmd.size() < 4) {
            m_need = 4;
            return;
        }
        if (m_cmd[3] != 0x32) {
            std::vector<uint8_t> rest(m_cmd.begin() + 1, m_cmd.end());
            backToIdle();
            addRaw(0x01);
            refeed(rest);
            return;
        }
        if (m_cmd.size() < 10) {
            m_need = 10;
            return;
        }
        firmwareHeader();
        return;
    case 0x40:
        if (m_cmd[1] == 0xF0 || m_cmd[1] == 0xF1 || m_cmd[1] == 0xF2) {
            flushText(false);
            flushRaw();
            m_collecting = Collecting::LegacyHead;
            m_need = m_cmd[1] == 0xF2 ? 10 : 8;
            return;
        }
        {
            std::vector<uint8_t> rest(m_cmd.begin() + 1, m_cmd.end());
            backToIdle();
            addText(0x40);
            refeed(rest);
        }
        return;
    default:
        backToIdle();
    }
}

// ---------------------------------------------------------------------------------- ESC

void CommandInterpreter::completeEsc()
{
    const uint8_t c = m_cmd[1];
    if (c == 0x1C) { // the star emulation puts ESC in front of FS q and FS p
        if (m_cmd.size() < 3) {
            m_need = 3;
            return;
        }
        if (m_cmd[2] == 0x71) {
            if (m_cmd.size() < 4) {
                m_need = 4;
                return;
            }
            int n = m_cmd[3];
            backToIdle();
            startDefine(n, true);
            return;
        }
        if (m_cmd[2] == 0x70) {
            if (m_cmd.size() < 5) {
                m_need = 5;
                return;
            }
            int n = m_cmd[3], m = m_cmd[4];
            backToIdle();
            printPicture(n, m, true);
            return;
        }
        emit(SimEvent("raw").hex("bytes", m_cmd).str("note", "unknown ESC FS command"));
        backToIdle();
        return;
    }
    size_t need = 2 + static_cast<size_t>(escParams(c));
    if (m_cmd.size() < need) {
        m_need = need;
        return;
    }
    std::vector<uint8_t> cmd = m_cmd;
    backToIdle();
    switch (c) {
    case '@':
        m_color = 1;
        m_justify = 0;
        emit(SimEvent("init"));
        return;
    case 'i':
        emit(SimEvent("cut").str("mode", "partial"));
        m_sink.cut();
        return;
    case 'm':
        emit(SimEvent("cut").str("mode", "partial"));
        m_sink.cut();
        return;
    case 'a':
        m_justify = cmd[2];
        emit(SimEvent("justify").num("n", cmd[2]).str("align", justifyName(cmd[2])));
        return;
    default:
        emit(SimEvent("esc").hex("bytes", cmd));
    }
}

// ---------------------------------------------------------------------------------- GS

void CommandInterpreter::completeGs()
{
    const uint8_t c = m_cmd[1];
    if (c == 0x28) {
        completeGsParen();
        return;
    }
    if (c == 0x49 || c == 0x61 || c == 0x21 || c == 0x56) {
        if (m_cmd.size() < 3) {
            m_need = 3;
            return;
        }
        if (c == 0x56 && (m_cmd[2] == 65 || m_cmd[2] == 66) && m_cmd.size() < 4) {
            m_need = 4;
            return;
        }
    }
    std::vector<uint8_t> cmd = m_cmd;
    backToIdle();
    switch (c) {
    case 0x49: { // GS I n: transmit printer ID
        int n = cmd[2];
        std::vector<uint8_t> answer;
        if (n == 1 || n == 49)
            answer = {static_cast<uint8_t>(0x20 + m_state.family())}; // model ID
        else if (n == 2 || n == 50)
            answer = {0x02}; // type ID: auto-cutter fitted, no multi-byte font
        else if (n == 3 || n == 51)
            answer = {0x10}; // ROM version ID
        else if (n == 0x42)
            answer = {'_', 'T', 'A', 'V', 'R', 'O', 0x00};
        else if (n == 0x43) {
            static const char* names[] = {"TAVRO25", "TAVRO15", "TAVRO25II", "TAVRO44i", "TAVRO36/38", "TAVRO46/48"};
            std::string name = std::string("_") + names[(m_state.family() - 1) % 6];
            answer.assign(name.begin(), name.end());
            answer.push_back(0x00);
        }
        SimEvent e("printer-id");
        e.num("n", n);
        if (answer.empty()) {
            e.str("note", "no answer for this n");
        } else {
            e.hex("reply", answer);
            m_sink.reply(answer);
        }
        emit(std::move(e));
        return;
    }
    case 0x61: { // GS a n: automatic status back
        bool on = cmd[2] != 0;
        emit(SimEvent("asb").num("n", cmd[2]).flag("enabled", on));
        m_sink.asbEnabled(on);
        return;
    }
    case 0x56:
        emit(SimEvent("cut").str("mode", (cmd[2] == 0 || cmd[2] == 48 || cmd[2] == 65) ? "full" : "partial"));
        m_sink.cut();
        return;
    default:
        emit(SimEvent("gs").hex("bytes", cmd));
    }
}

void CommandInterpreter::completeGsParen()
{
    if (m_cmd.size() < 5) {
        m_need = 5;
        return;
    }
    // pL pH count the body, at most 65535 bytes: buffered whole, it is small.
    const size_t len = m_cmd[3] | (m_cmd[4] << 8);
    if (m_cmd.size() < 5 + len) {
        m_need = 5 + len;
        return;
    }
    std::vector<uint8_t> cmd = m_cmd;
    backToIdle();
    const uint8_t kind = cmd[2];
    std::vector<uint8_t> body(cmd.begin() + 5, cmd.end());
    if (kind == 0x45) { // GS ( E: user setting commands
        if (body.empty()) {
            emit(SimEvent("user-setting").str("error", "empty body"));
            return;
        }
        uint8_t fn = body[0];
        userSetting(fn, std::vector<uint8_t>(body.begin() + 1, body.end()));
        return;
    }
    if (kind == 0x4E && body.size() == 2 && body[0] == 0x30) { // GS ( N fn 48: character colour
        flushText(false);
        int colour = body[1] - '0';
        if (colour == 1 || colour == 2 || colour == 3)
            m_color = colour;
        emit(SimEvent("color").num("color", colour));
        return;
    }
    emit(SimEvent("gs-paren").hex("bytes", cmd));
}

void CommandInterpreter::userSetting(uint8_t fn, const std::vector<uint8_t>& body)
{
    switch (fn) {
    case 1:
        if (body != std::vector<uint8_t>{'I', 'N'}) {
            emit(SimEvent("user-setting").num("fn", 1).str("error", "parameter is not \"IN\"").hex("body", body));
            return;
        }
        m_state.userSettingMode = true;
        // The ESC/POS mode notice: header 37, identifier 20, NUL.
        m_sink.reply({0x37, 0x20, 0x00});
        emit(SimEvent("user-setting").num("fn", 1).str("action", "enter").hex("reply", {0x37, 0x20, 0x00}));
        return;
    case 2: {
        if (body != std::vector<uint8_t>{'O', 'U', 'T'}) {
            emit(SimEvent("user-setting").num("fn", 2).str("error", "parameter is not \"OUT\"").hex("body", body));
            return;
        }
        bool wasIn = m_state.userSettingMode;
        m_state.userSettingMode = false;
        emit(SimEvent("user-setting").num("fn", 2).str("action", "end").flag("restart", wasIn));
        if (wasIn)
            m_sink.restart("end user setting mode");
        return;
    }
    case 5:
        functionFive(body);
        return;
    case 6:
        functionSix(body);
        return;
    default:
        emit(SimEvent("user-setting").num("fn", fn).hex("body", body).str("note", "function not supported"));
    }
}

void CommandInterpreter::functionFive(const std::vector<uint8_t>& body)
{
    SimEvent e("user-setting");
    e.num("fn", 5);
    if (!m_state.userSettingMode) {
        // Function 5 is honoured only between Function 1 and Function 2.
        e.str("error", "not in user setting mode, ignored").hex("body", body);
        emit(std::move(e));
        return;
    }
    std::string items = "[";
    std::string error;
    size_t i = 0;
    int applied = 0;
    while (i < body.size()) {
        int number = body[i];
        size_t len = SettingTable::valueLength(number);
        if (number == 0) {
            error = "setting number 0 at offset " + std::to_string(i);
            break;
        }
        if (i + 1 + len > body.size()) {
            error = "item " + std::to_string(number) + " cut short at offset " + std::to_string(i);
            break;
        }
        SettingBytes value(body.begin() + i + 1, body.begin() + i + 1 + len);
        if (number == 255 && value[4] != 0x04) {
            error = "item 255 does not end in 04";
            break;
        }
        m_state.settings[number] = value;
        ++applied;
        auto text = SettingTable::valueText(number, value);
        if (items.size() > 1)
            items += ',';
        items += "{\"n\":" + std::to_string(number) + ",\"bytes\":" + SimEvent::quote(SimEvent::hexText(value)) +
                 ",\"value\":" + SimEvent::quote(text.value_or("")) + "}";
        i += 1 + len;
    }
    items += ']';
    e.num("count", applied).json("items", items);
    if (!error.empty())
        e.str("error", error);
    int total = SettingTable::nvUserKb(m_state.settings) + static_cast<int>(SettingTable::nvGraphicBytes(m_state.settings) / 1024);
    if (total > 448)
        e.str("warning", "NV user + graphic memory " + std::to_string(total) + " KB exceeds 448 KB");
    if (applied) {
        m_state.settingsDirty = true;
        m_sink.stateChanged();
    }
    emit(std::move(e));
}

std::vector<uint8_t> CommandInterpreter::settingReply(const PrinterState& state, int number)
{
    auto it = state.settings.find(number);
    if (it == state.settings.end())
        return {};
    auto text = SettingTable::valueText(number, it->second);
    if (!text)
        return {};
    return SettingTable::replyFrame(number, *text);
}

void CommandInterpreter::functionSix(const std::vector<uint8_t>& body)
{
    SimEvent e("user-setting");
    e.num("fn", 6);
    if (body.size() != 1) {
        e.str("error", "expected one setting number").hex("body", body);
        emit(std::move(e));
        return;
    }
    int number = body[0];
    e.num("setting", number);
    if (m_faults.noAnswerSettings.count(number)) {
        e.str("fault", "no answer");
        emit(std::move(e));
        return;
    }
    auto reply = settingReply(m_state, number);
    if (reply.empty()) {
        e.str("error", "unknown setting, no answer");
        emit(std::move(e));
        return;
    }
    std::vector<uint8_t> text(reply.begin() + 2, reply.end() - 1);
    auto sep = std::find(text.begin(), text.end(), 0x1F);
    e.bytes("value", std::vector<uint8_t>(sep + 1, text.end())).hex("reply", reply);
    m_sink.reply(reply);
    emit(std::move(e));
}

// ---------------------------------------------------------------------------------- FS

void CommandInterpreter::completeFs()
{
    const uint8_t c = m_cmd[1];
    if (c == 0x71) {
        if (m_cmd.size() < 3) {
            m_need = 3;
            return;
        }
        int n = m_cmd[2];
        backToIdle();
        startDefine(n, false);
        return;
    }
    if (c == 0x70) {
        if (m_cmd.size() < 4) {
            m_need = 4;
            return;
        }
        int n = m_cmd[2], m = m_cmd[3];
        backToIdle();
        printPicture(n, m, false);
        return;
    }
    if (c == 0x01) {
        if (m_cmd.size() < 3) {
            m_need = 3;
            return;
        }
        if (m_cmd[2] != 0x30) {
            emit(SimEvent("raw").hex("bytes", m_cmd).str("note", "unknown FS 01 command"));
            backToIdle();
            return;
        }
        if (m_cmd.size() < 12) {
            m_need = 12;
            return;
        }
        logoFrame();
        return;
    }
    emit(SimEvent("fs").hex("bytes", m_cmd));
    backToIdle();
}

void CommandInterpreter::startDefine(int count, bool star)
{
    m_def = Define{};
    m_def.count = count;
    m_def.star = star;
    m_def.capacity = SettingTable::nvGraphicBytes(m_state.settings);
    if (m_nowMs >= 0 && m_nvEraseMs > 0)
        m_def.readyAtMs = m_nowMs + m_nvEraseMs;
    if (count == 0) {
        emit(SimEvent("nv-define").num("count", 0).flag("star", star).str("verdict", "refused: n = 0"));
        return;
    }
    m_stateKind = State::Collect;
    m_collecting = Collecting::FsqHeader;
    m_cmd.clear();
    m_need = 4;
}

void CommandInterpreter::fsqHeader()
{
    const uint8_t xL = m_cmd[0], xH = m_cmd[1], yL = m_cmd[2], yH = m_cmd[3];
    NvPicture p;
    p.gray = (xH & 0xA0) == 0xA0;
    p.xBytes = xL + 256 * (p.gray ? (xH & ~0xA0) : xH);
    p.yBytes = yL + 256 * yH;
    m_cmd.clear();
    if (p.xBytes == 0 && p.yBytes == 0) {
        // An empty picture: the tool pads a cancelled upload and clears the memory with it.
        p.xBytes = p.yBytes = 0;
        m_def.current = p;
        m_def.remaining = 0;
        nextPicture();
        return;
    }
    size_t size = NvPicture::dataSize(p.xBytes, p.yBytes, p.gray);
    if (std::string why = nv_store::refusal(p.xBytes, p.yBytes, p.gray); !why.empty()) {
        // The printer cannot take the picture, so the definition fails; its raster bytes are
        // still the definition's and are skipped, never taken as commands.
        emit(SimEvent("nv-define").num("count", m_def.count).flag("star", m_def.star)
                 .num("picture", static_cast<int64_t>(m_def.pictures.size() + 1))
                 .num("x", p.xBytes).num("y", p.yBytes).flag("gray", p.gray).str("error", why));
        if (m_def.refused.empty())
            m_def.refused = "picture " + std::to_string(m_def.pictures.size() + 1) + ": " + why;
        p.data.clear();
        m_def.current = p;
        m_def.remaining = size;
        m_stateKind = size ? State::FsqData : State::Collect;
        if (!size)
            nextPicture();
        return;
    }
    m_def.total += size;
    if (m_def.total > m_def.capacity)
        m_def.overflow = true;
    m_def.current = p;
    if (!m_def.overflow)
        m_def.current.data.reserve(size);
    m_def.remaining = size;
    m_stateKind = size ? State::FsqData : State::Collect;
    if (!size)
        nextPicture();
}

void CommandInterpreter::nextPicture()
{
    if (m_def.overflow || !m_def.refused.empty())
        m_def.current.data.clear();
    m_def.pictures.push_back(std::move(m_def.current));
    m_def.current = NvPicture{};
    if (static_cast<int>(m_def.pictures.size()) >= m_def.count) {
        finishDefine();
        return;
    }
    m_stateKind = State::Collect;
    m_collecting = Collecting::FsqHeader;
    m_cmd.clear();
    m_need = 4;
}

void CommandInterpreter::finishDefine()
{
    backToIdle();
    std::string list = "[";
    int defined = 0;
    for (size_t i = 0; i < m_def.pictures.size(); ++i) {
        auto& p = m_def.pictures[i];
        if (!p.empty())
            ++defined;
        if (i)
            list += ',';
        list += "{\"k\":" + std::to_string(i + 1) + ",\"x\":" + std::to_string(p.xBytes) +
                ",\"y\":" + std::to_string(p.yBytes) + ",\"width\":" + std::to_string(p.widthDots()) +
                ",\"height\":" + std::to_string(p.heightDots()) + ",\"gray\":" + (p.gray ? "true" : "false") +
                ",\"bytes\":" + std::to_string(NvPicture::dataSize(p.xBytes, p.yBytes, p.gray)) + "}";
    }
    list += ']';
    SimEvent e("nv-define");
    e.num("count", m_def.count).flag("star", m_def.star).num("defined", defined)
        .num("total", static_cast<int64_t>(m_def.total)).num("capacity", static_cast<int64_t>(m_def.capacity))
        .json("pictures", list);
    std::string refusal = m_def.refused;
    if (refusal.empty() && m_def.overflow)
        refusal = "exceeds NV graphic memory";
    if (refusal.empty() && m_def.earlyData)
        refusal = "raster data arrived while the NV memory was still erasing";
    if (!refusal.empty()) {
        // FS q n erased the memory before the first picture came: a definition the printer
        // cannot store leaves it empty.
        e.str("verdict", "refused: " + refusal + "; NV memory erased");
        m_state.pictures.clear();
        m_state.picturesDirty = true;
        m_sink.stateChanged();
    } else {
        if (defined == 0)
            m_state.pictures.clear();
        else
            m_state.pictures = std::move(m_def.pictures);
        m_state.picturesDirty = true;
        m_sink.stateChanged();
        e.str("verdict", defined == 0 ? "cleared" : "stored");
    }
    m_def = Define{};
    emit(std::move(e));
}

void CommandInterpreter::printPicture(int n, int m, bool star)
{
    SimEvent e("nv-print");
    e.num("n", n).num("m", m).flag("star", star);
    static const char* modes[] = {"normal", "double-width", "double-height", "quadruple"};
    e.str("mode", (m & 3) == m ? modes[m] : (m >= 48 && m <= 51) ? modes[m - 48] : "unknown");
    if (n >= 1 && static_cast<size_t>(n) <= m_state.pictures.size() && !m_state.pictures[n - 1].empty()) {
        auto& p = m_state.pictures[n - 1];
        e.flag("defined", true).num("width", p.widthDots()).num("height", p.heightDots()).flag("gray", p.gray);
    } else {
        e.flag("defined", false);
    }
    emit(std::move(e));
    m_sink.printedPicture(n, m & 3);
}

void CommandInterpreter::logoFrame()
{
    std::vector<uint8_t> f = m_cmd;
    backToIdle();
    if (f[9] != 0x1C || f[10] != 0x02 || f[11] != 0x30) {
        emit(SimEvent("logo-settings").hex("bytes", f).str("error", "frame does not end in 1C 02 30, ignored"));
        return;
    }
    LogoSettings s{f[3], f[4], f[5], f[6], f[7], f[8]};
    SimEvent e("logo-settings");
    e.flag("topEnable", s.topEnable == 1).num("topNumber", s.topNumber)
        .str("topJustify", justifyName(s.topFlags & 0x03)).flag("powerOn", (s.topFlags & 0x04) != 0)
        .flag("bottomEnable", s.bottomEnable == 1).num("bottomNumber", s.bottomNumber)
        .str("bottomJustify", justifyName(s.bottomJustify & 0x03)).hex("bytes", f);
    if (s.topNumber == 0 || s.bottomNumber == 0) {
        e.str("error", "logo number 0, ignored");
        emit(std::move(e));
        return;
    }
    m_state.logo = s;
    m_state.logoDirty = true;
    m_sink.stateChanged();
    emit(std::move(e));
    m_sink.restart("logo settings");
}

// ---------------------------------------------------------------------------------- firmware

void CommandInterpreter::firmwareHeader()
{
    const std::vector<uint8_t>& h = m_cmd;
    m_fw = Firmware{};
    m_fw.code = h[2];
    m_fw.fileSize = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<uint32_t>(h[7]) << 24);
    m_fw.checksum = static_cast<uint16_t>(h[8] | (h[9] << 8));
    flushText(false);
    flushRaw();
    if (m_fw.fileSize < 10 || m_fw.fileSize > kMaxFirmwareBlock) {
        emit(SimEvent("firmware").num("code", m_fw.code).num("fileSize", m_fw.fileSize)
                 .str("verdict", "refused: FileSize out of range, block ignored"));
        backToIdle();
        return;
    }
    m_fw.remaining = m_fw.fileSize - 10;
    m_cmd.clear();
    m_stateKind = m_fw.remaining ? State::FwData : State::Idle;
    if (!m_fw.remaining)
        firmwareDone();
}

void CommandInterpreter::firmwareData(const uint8_t* data, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        m_fw.sum += data[i];
        m_fw.tail[0] = m_fw.tail[1];
        m_fw.tail[1] = m_fw.tail[2];
        m_fw.tail[2] = m_fw.tail[3];
        m_fw.tail[3] = data[i];
    }
    m_fw.digest.add(data, n);
    m_fw.received += static_cast<uint32_t>(n);
    m_fw.remaining -= static_cast<uint32_t>(n);
}

void CommandInterpreter::firmwareDone()
{
    backToIdle();
    const uint16_t sum = static_cast<uint16_t>(m_fw.sum & 0xFFFF);
    std::string area = "unknown";
    std::string verdict = "ok";
    bool known = false;
    for (auto& a : flashAreas(m_state.family())) {
        if (a.code != m_fw.code)
            continue;
        known = true;
        area = a.name;
        if (m_fw.fileSize != a.length)
            verdict = "refused: FileSize " + std::to_string(m_fw.fileSize) + " is not " + std::to_string(a.length);
        break;
    }
    if (!known)
        verdict = "refused: area code not used by this model family";
    else if (verdict == "ok" && sum != m_fw.checksum)
        verdict = "refused: checksum mismatch";
    else if (verdict == "ok" && area == "boot" &&
             !(m_fw.tail[0] == 0x00 && m_fw.tail[1] == 0x80 && m_fw.tail[2] == 0xFE && m_fw.tail[3] == 0xFF))
        verdict = "refused: boot block does not end in 00 80 FE FF";

    SimEvent e("firmware");
    e.str("area", area).num("code", m_fw.code).num("fileSize", m_fw.fileSize)
        .num("checksum", m_fw.checksum).num("computed", sum).str("digest", m_fw.digest.text())
        .str("verdict", verdict);
    FlashAreaRecord rec{area, m_fw.code, m_fw.fileSize, sum, verdict, m_fw.digest.text()};
    m_state.flash[area] = rec;
    m_state.flashDirty = true;
    m_sink.stateChanged();
    emit(std::move(e));
    m_pause = true;
    m_sink.flashWriting(verdict);
}

// ---------------------------------------------------------------------------------- legacy

void CommandInterpreter::legacyAnswer(bool ack)
{
    const uint8_t answer = ack ? 0x06 : 0x15;
    if (m_faults.strayAck)
        m_sink.reply({0x06});
    if (m_faults.splitDle) {
        m_sink.reply({0x10});
        m_sink.replyApart({answer}, 30);
        return;
    }
    m_sink.reply({0x10, answer});
}

void CommandInterpreter::legacyHead()
{
    if (m_cmd[1] == 0xF2) {
        std::vector<uint8_t> p = m_cmd;
        backToIdle();
        SimEvent e("legacy-erase");
        e.hex("bytes", p).num("first", p[2]).num("last", p[3]);
        const LegacyArea* area = nullptr;
        for (auto& a : kLegacyAreas)
            if (a.first == p[2] && a.last == p[3])
                area = &a;
        bool zeros = std::all_of(p.begin() + 4, p.end(), [](uint8_t b) { return b == 0; });
        if (!area || !zeros) {
            e.str("verdict", area ? "NAK: bytes 4..9 not zero" : "NAK: unknown sectors");
            legacyAnswer(false);
            emit(std::move(e));
            return;
        }
        m_legacy = Legacy{};
        m_legacy.erased = true;
        m_legacy.area = area->name;
        m_legacy.sector = area->first;
        m_legacy.start = m_legacy.next = area->start;
        m_legacy.end = area->end;
        e.str("area", area->name).str("verdict", "ACK");
        emit(std::move(e));
        legacyAnswer(true);
        return;
    }
    size_t n = (m_cmd[2] << 8) | m_cmd[3];
    if (n < 1 || n > 512) {
        std::vector<uint8_t> p = m_cmd;
        backToIdle();
        emit(SimEvent("legacy-data").hex("bytes", p).num("length", static_cast<int64_t>(n))
                 .str("verdict", "NAK: length outside 1..512"));
        legacyAnswer(false);
        return;
    }
    m_collecting = Collecting::LegacyBody;
    m_need = 8 + n + 2;
}

void CommandInterpreter::legacyBody()
{
    std::vector<uint8_t> p = m_cmd;
    backToIdle();
    const bool last = p[1] == 0xF1;
    const size_t n = (p[2] << 8) | p[3];
    const uint32_t address = (static_cast<uint32_t>(p[4]) << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
    uint32_t sum = 0;
    for (size_t i = 8; i < 8 + n; ++i)
        sum += p[i];
    const uint16_t expected = static_cast<uint16_t>((p[8 + n] << 8) | p[9 + n]);
    SimEvent e("legacy-data");
    e.flag("last", last).num("length", static_cast<int64_t>(n)).num("address", address).num("checksum", expected);

    std::string nak;
    if (!m_legacy.erased)
        nak = "NAK: no erase packet before";
    else if ((sum & 0xFFFF) != expected)
        nak = "NAK: checksum mismatch";
    else if (address != m_legacy.next && !(m_legacy.packets > 0 && address + n == m_legacy.next))
        nak = "NAK: address out of sequence";
    else if (address + n > m_legacy.end)
        nak = "NAK: beyond the end of the area";
    else if (!last && n != 512)
        nak = "NAK: short F0 packet before the end of the area";
    bool repeat = nak.empty() && address != m_legacy.next; // a packet already accepted, sent again
    if (nak.empty() && !repeat && m_faults.nakEvery > 0) {
        int number = m_legacy.packets + 1;
        if (number % m_faults.nakEvery == 0 && !(m_legacy.lastWasNakFault && m_legacy.lastNakAddress == address)) {
            m_legacy.lastWasNakFault = true;
            m_legacy.lastNakAddress = address;
            e.str("fault", "NAK first try").str("verdict", "NAK");
            emit(std::move(e));
            legacyAnswer(false);
            return;
        }
    }
    if (!nak.empty()) {
        e.str("verdict", nak);
        emit(std::move(e));
        legacyAnswer(false);
        return;
    }
    if (!repeat) {
        m_legacy.lastWasNakFault = false;
        m_legacy.next = address + static_cast<uint32_t>(n);
        m_legacy.sum += sum;
        m_legacy.digest.add(p.data() + 8, n);
        ++m_legacy.packets;
    }
    e.num("packet", m_legacy.packets).str("verdict", "ACK");
    emit(std::move(e));
    legacyAnswer(true);
    if (last && !repeat) {
        bool complete = m_legacy.next == m_legacy.end;
        FlashAreaRecord rec{m_legacy.area, m_legacy.sector, m_legacy.next - m_legacy.start,
                            m_legacy.sum & 0xFFFF, complete ? "ok" : "short: ended before the end of the area",
                            m_legacy.digest.text()};
        m_state.flash[m_legacy.area] = rec;
        m_state.flashDirty = true;
        m_sink.stateChanged();
        emit(SimEvent("legacy-complete").str("area", m_legacy.area).num("packets", m_legacy.packets)
                 .num("size", rec.size).num("sum", rec.checksum).str("digest", rec.digest)
                 .str("verdict", rec.verdict));
        m_legacy = Legacy{};
    }
}

// ---------------------------------------------------------------------------------- text

void CommandInterpreter::addText(uint8_t b)
{
    flushRaw();
    m_text.push_back(b);
    if (m_text.size() >= kMaxTextLine)
        flushText(false);
}

void CommandInterpreter::flushText(bool eol)
{
    if (m_text.empty() && !eol)
        return;
    SimEvent e("text");
    e.bytes("text", m_text).num("color", m_color).str("align", justifyName(m_justify)).flag("eol", eol);
    m_sink.printedText(m_text, m_justify);
    m_text.clear();
    emit(std::move(e));
}

void CommandInterpreter::addRaw(uint8_t b)
{
    flushText(false);
    m_raw.push_back(b);
    if (m_raw.size() >= kMaxRawChunk)
        flushRaw();
}

void CommandInterpreter::flushRaw()
{
    if (m_raw.empty())
        return;
    emit(SimEvent("raw").hex("bytes", m_raw).num("length", static_cast<int64_t>(m_raw.size())));
    m_raw.clear();
}
