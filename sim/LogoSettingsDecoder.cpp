#include "sim/LogoSettingsDecoder.h"

#include "sim/TextLine.h"

void LogoSettingsDecoder::complete()
{
    if (m_frame.size() < 3) {
        needBytes(3);
        return;
    }
    if (m_frame[2] != 0x30) {
        emit(SimEvent("raw").hex("bytes", takeFrame()).str("note", "unknown FS 01 command"));
        return;
    }
    if (m_frame.size() < 12) {
        needBytes(12);
        return;
    }
    settingsFrame(takeFrame());
}

void LogoSettingsDecoder::settingsFrame(const std::vector<uint8_t>& f)
{
    if (f[9] != 0x1C || f[10] != 0x02 || f[11] != 0x30) {
        emit(SimEvent("logo-settings").hex("bytes", f).str("error", "frame does not end in 1C 02 30, ignored"));
        return;
    }
    LogoSettings s{f[3], f[4], f[5], f[6], f[7], f[8]};
    SimEvent e("logo-settings");
    e.flag("topEnable", s.topEnable == 1).num("topNumber", s.topNumber)
        .str("topJustify", TextLine::justifyName(s.topFlags & 0x03)).flag("powerOn", (s.topFlags & 0x04) != 0)
        .flag("bottomEnable", s.bottomEnable == 1).num("bottomNumber", s.bottomNumber)
        .str("bottomJustify", TextLine::justifyName(s.bottomJustify & 0x03)).hex("bytes", f);
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
