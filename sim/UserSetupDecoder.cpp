#include "sim/UserSetupDecoder.h"

#include "sim/SettingTable.h"

#include <algorithm>
#include <string>

void UserSetupDecoder::complete()
{
    if (!haveParenBody())
        return;
    const std::vector<uint8_t> cmd = takeFrame();
    if (cmd.size() == 5) {
        emit(SimEvent("user-setting").str("error", "empty body"));
        return;
    }
    function(cmd[5], std::vector<uint8_t>(cmd.begin() + 6, cmd.end()));
}

void UserSetupDecoder::function(uint8_t fn, const std::vector<uint8_t>& body)
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
        const bool wasIn = m_state.userSettingMode;
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

void UserSetupDecoder::functionFive(const std::vector<uint8_t>& body)
{
    SimEvent e("user-setting");
    e.num("fn", 5);
    if (!m_state.userSettingMode) {
        // Function 5 is honoured only between Function 1 and Function 2.
        e.str("error", "not in user setting mode, ignored").hex("body", body);
        emit(std::move(e));
        return;
    }
    SimEvent::Json items = SimEvent::Json::array();
    std::string error;
    size_t i = 0;
    int applied = 0, refused = 0;
    while (i < body.size()) {
        const int number = body[i];
        const size_t len = SettingTable::valueLength(number);
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
        auto text = SettingTable::valueText(number, value);
        SimEvent::Json item{{"n", number}, {"bytes", SimEvent::hexText(value)}, {"value", SimEvent::latin1(text.value_or(""))}};
        if (m_refuse.count(number)) {
            item["fault"] = "not stored";
            ++refused;
        } else {
            m_state.settings[number] = value;
            ++applied;
        }
        items.push_back(std::move(item));
        i += 1 + len;
    }
    e.num("count", applied).json("items", std::move(items));
    if (refused)
        e.num("refused", refused);
    if (!error.empty())
        e.str("error", error);
    const int total = SettingTable::nvUserKb(m_state.settings) +
                      static_cast<int>(SettingTable::nvGraphicBytes(m_state.settings) / 1024);
    if (total > 448)
        e.str("warning", "NV user + graphic memory " + std::to_string(total) + " KB exceeds 448 KB");
    if (applied) {
        m_state.settingsDirty = true;
        m_sink.stateChanged();
    }
    emit(std::move(e));
}

std::vector<uint8_t> UserSetupDecoder::settingReply(const PrinterState& state, int number)
{
    auto it = state.settings.find(number);
    if (it == state.settings.end())
        return {};
    auto text = SettingTable::valueText(number, it->second);
    if (!text)
        return {};
    return SettingTable::replyFrame(number, *text);
}

void UserSetupDecoder::functionSix(const std::vector<uint8_t>& body)
{
    SimEvent e("user-setting");
    e.num("fn", 6);
    if (body.size() != 1) {
        e.str("error", "expected one setting number").hex("body", body);
        emit(std::move(e));
        return;
    }
    const int number = body[0];
    e.num("setting", number);
    if (m_noAnswer.count(number)) {
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
