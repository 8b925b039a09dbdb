#include "sim/NvLogoDecoder.h"

#include "sim/SettingTable.h"

#include <algorithm>
#include <string>

size_t NvLogoDecoder::feed(const uint8_t* data, size_t size)
{
    size_t i = 0;
    while (i < size && inFrame())
        i += m_phase == Phase::Raster ? raster(data + i, size - i) : collect(data + i, size - i);
    return i;
}

void NvLogoDecoder::complete()
{
    if (m_phase == Phase::Header)
        pictureHeader();
    else
        command();
}

void NvLogoDecoder::command()
{
    // FS q n, FS p n m, or either behind the star emulation's ESC.
    const bool star = m_frame[0] == 0x1B;
    const size_t at = star ? 1 : 0;
    if (m_frame.size() < at + 2) {
        needBytes(at + 2);
        return;
    }
    const uint8_t c = m_frame[at + 1];
    if (c == 0x71) {
        if (m_frame.size() < at + 3) {
            needBytes(at + 3);
            return;
        }
        const int n = m_frame[at + 2];
        m_frame.clear();
        startDefine(n, star);
        return;
    }
    if (c == 0x70) {
        if (m_frame.size() < at + 4) {
            needBytes(at + 4);
            return;
        }
        const int n = m_frame[at + 2], m = m_frame[at + 3];
        takeFrame();
        printPicture(n, m, star);
        return;
    }
    emit(SimEvent("raw").hex("bytes", takeFrame()).str("note", "unknown ESC FS command"));
}

void NvLogoDecoder::finish()
{
    if (inFrame() && m_phase == Phase::Raster) {
        emit(SimEvent("nv-define").num("count", m_def.count).num("received", static_cast<int64_t>(m_def.pictures.size()))
                 .str("verdict", "refused: stream ended inside picture data"));
        takeFrame();
        return;
    }
    ProtocolDecoder::finish();
}

bool NvLogoDecoder::suspend()
{
    if (!inFrame() || m_phase == Phase::Command)
        return false;
    m_def.inData = m_phase == Phase::Raster;
    m_def.headerBytes = m_phase == Phase::Header ? m_frame : std::vector<uint8_t>{};
    emit(SimEvent("nv-define").num("count", m_def.count)
             .num("received", static_cast<int64_t>(m_def.pictures.size()))
             .str("note", "connection ended inside the definition; the printer waits for the rest"));
    m_state.openDefinition = std::move(m_def);
    m_def = nv_store::NvDefinition{};
    takeFrame();
    return true;
}

void NvLogoDecoder::resume()
{
    begin();
    m_def = std::move(*m_state.openDefinition);
    m_state.openDefinition.reset();
    if (m_def.inData) {
        m_phase = Phase::Raster;
    } else {
        m_phase = Phase::Header;
        m_frame = m_def.headerBytes;
        needBytes(4);
    }
    m_def.headerBytes.clear();
}

void NvLogoDecoder::startDefine(int count, bool star)
{
    m_def = nv_store::NvDefinition{};
    m_def.count = count;
    m_def.star = star;
    m_def.capacity = SettingTable::nvGraphicBytes(m_state.settings);
    if (m_nowMs >= 0 && m_eraseMs > 0)
        m_def.readyAtMs = m_nowMs + m_eraseMs;
    if (count == 0) {
        takeFrame();
        emit(SimEvent("nv-define").num("count", 0).flag("star", star).str("verdict", "refused: n = 0"));
        return;
    }
    m_phase = Phase::Header;
    m_frame.clear();
    needBytes(4);
}

size_t NvLogoDecoder::raster(const uint8_t* data, size_t size)
{
    const size_t n = std::min(m_def.remaining, size);
    if (n > 0 && m_def.readyAtMs >= 0 && m_nowMs < m_def.readyAtMs && !m_def.earlyData) {
        m_def.earlyData = true;
        emit(SimEvent("nv-define").num("count", m_def.count)
                 .num("picture", static_cast<int64_t>(m_def.pictures.size() + 1))
                 .num("earlyMs", m_def.readyAtMs - m_nowMs)
                 .str("error", "raster data arrived while the NV memory was still erasing"));
    }
    if (!m_def.overflow && m_def.refused.empty())
        m_def.current.data.insert(m_def.current.data.end(), data, data + n);
    m_def.remaining -= n;
    if (m_def.remaining == 0)
        nextPicture();
    return n;
}

void NvLogoDecoder::pictureHeader()
{
    const uint8_t xL = m_frame[0], xH = m_frame[1], yL = m_frame[2], yH = m_frame[3];
    NvPicture p;
    p.gray = (xH & 0xA0) == 0xA0;
    p.xBytes = xL + 256 * (p.gray ? (xH & ~0xA0) : xH);
    p.yBytes = yL + 256 * yH;
    m_frame.clear();
    if (p.xBytes == 0 && p.yBytes == 0) {
        // An empty picture: the tool pads a cancelled upload and clears the memory with it.
        p.xBytes = p.yBytes = 0;
        m_def.current = p;
        m_def.remaining = 0;
        nextPicture();
        return;
    }
    const size_t size = NvPicture::dataSize(p.xBytes, p.yBytes, p.gray);
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
        if (size)
            m_phase = Phase::Raster;
        else
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
    if (size)
        m_phase = Phase::Raster;
    else
        nextPicture();
}

void NvLogoDecoder::nextPicture()
{
    if (m_def.overflow || !m_def.refused.empty())
        m_def.current.data.clear();
    m_def.pictures.push_back(std::move(m_def.current));
    m_def.current = NvPicture{};
    if (static_cast<int>(m_def.pictures.size()) >= m_def.count) {
        finishDefine();
        return;
    }
    m_phase = Phase::Header;
    m_frame.clear();
    needBytes(4);
}

void NvLogoDecoder::finishDefine()
{
    takeFrame();
    SimEvent::Json list = SimEvent::Json::array();
    int defined = 0;
    for (size_t i = 0; i < m_def.pictures.size(); ++i) {
        auto& p = m_def.pictures[i];
        if (!p.empty())
            ++defined;
        list.push_back(SimEvent::Json{{"k", i + 1}, {"x", p.xBytes}, {"y", p.yBytes}, {"width", p.widthDots()},
                        {"height", p.heightDots()}, {"gray", p.gray},
                        {"bytes", NvPicture::dataSize(p.xBytes, p.yBytes, p.gray)}});
    }
    SimEvent e("nv-define");
    e.num("count", m_def.count).flag("star", m_def.star).num("defined", defined)
        .num("total", static_cast<int64_t>(m_def.total)).num("capacity", static_cast<int64_t>(m_def.capacity))
        .json("pictures", std::move(list));
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
    m_def = nv_store::NvDefinition{};
    emit(std::move(e));
}

void NvLogoDecoder::printPicture(int n, int m, bool star)
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
