#include "sim/FirmwareBlockDecoder.h"

#include <algorithm>
#include <string>

namespace {

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

} // namespace

size_t FirmwareBlockDecoder::feed(const uint8_t* bytes, size_t size)
{
    size_t i = 0;
    while (i < size && inFrame()) {
        if (!m_inData) {
            i += collect(bytes + i, size - i);
            continue;
        }
        const size_t n = std::min<size_t>(m_block.remaining, size - i);
        data(bytes + i, n);
        i += n;
        if (m_block.remaining == 0)
            done();
    }
    return i;
}

void FirmwareBlockDecoder::markIncomplete(const std::string& detail)
{
    if (m_block.area.empty())
        return;
    m_state.incomplete[m_block.area] = detail;
    m_state.incompleteDirty = true;
    m_sink.stateChanged();
    emit(SimEvent("firmware-area").str("area", m_block.area).str("state", "unfinished").str("detail", detail));
}

void FirmwareBlockDecoder::markComplete()
{
    if (m_block.area.empty() || !m_state.incomplete.erase(m_block.area))
        return;
    m_state.incompleteDirty = true;
    m_sink.stateChanged();
    emit(SimEvent("firmware-area").str("area", m_block.area).str("state", "complete"));
}

void FirmwareBlockDecoder::finish()
{
    if (inFrame() && m_inData) {
        markIncomplete(std::to_string(m_block.received) + " of " + std::to_string(m_block.fileSize - 10) +
                       " data bytes received");
        emit(SimEvent("firmware").num("code", m_block.code).num("fileSize", m_block.fileSize)
                 .num("received", m_block.received).str("verdict", "refused: stream ended inside the block"));
        takeFrame();
        return;
    }
    ProtocolDecoder::finish();
}

void FirmwareBlockDecoder::complete()
{
    if (m_frame.size() < 10) {
        needBytes(10);
        return;
    }
    header();
}

void FirmwareBlockDecoder::header()
{
    const std::vector<uint8_t>& h = m_frame;
    m_block = Block{};
    m_block.code = h[2];
    m_block.fileSize = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<uint32_t>(h[7]) << 24);
    m_block.checksum = static_cast<uint16_t>(h[8] | (h[9] << 8));
    m_line.end();
    if (m_block.fileSize < 10 || m_block.fileSize > kMaxFirmwareBlock) {
        takeFrame();
        emit(SimEvent("firmware").num("code", m_block.code).num("fileSize", m_block.fileSize)
                 .str("verdict", "refused: FileSize out of range, block ignored"));
        return;
    }
    m_block.remaining = m_block.fileSize - 10;
    m_frame.clear();
    m_inData = true;
    for (auto& a : flashAreas(m_state.family()))
        if (a.code == m_block.code && a.length == m_block.fileSize)
            m_block.area = a.name;
    markIncomplete("erasing");
    if (!m_block.remaining)
        done();
}

void FirmwareBlockDecoder::data(const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        m_block.sum += bytes[i];
        m_block.tail[0] = m_block.tail[1];
        m_block.tail[1] = m_block.tail[2];
        m_block.tail[2] = m_block.tail[3];
        m_block.tail[3] = bytes[i];
    }
    m_block.digest.add(bytes, n);
    m_block.received += static_cast<uint32_t>(n);
    m_block.remaining -= static_cast<uint32_t>(n);
}

void FirmwareBlockDecoder::done()
{
    takeFrame();
    const uint16_t sum = static_cast<uint16_t>(m_block.sum & 0xFFFF);
    std::string area = "unknown";
    std::string verdict = "ok";
    bool known = false;
    for (auto& a : flashAreas(m_state.family())) {
        if (a.code != m_block.code)
            continue;
        known = true;
        area = a.name;
        if (m_block.fileSize != a.length)
            verdict = "refused: FileSize " + std::to_string(m_block.fileSize) + " is not " + std::to_string(a.length);
        break;
    }
    if (!known)
        verdict = "refused: area code not used by this model family";
    else if (verdict == "ok" && sum != m_block.checksum)
        verdict = "refused: checksum mismatch";
    else if (verdict == "ok" && area == "boot" &&
             !(m_block.tail[0] == 0x00 && m_block.tail[1] == 0x80 && m_block.tail[2] == 0xFE && m_block.tail[3] == 0xFF))
        verdict = "refused: boot block does not end in 00 80 FE FF";

    SimEvent e("firmware");
    e.str("area", area).num("code", m_block.code).num("fileSize", m_block.fileSize)
        .num("checksum", m_block.checksum).num("computed", sum).str("digest", m_block.digest.text())
        .str("verdict", verdict);
    FlashAreaRecord rec{area, m_block.code, m_block.fileSize, sum, verdict, m_block.digest.text()};
    m_state.flash[area] = rec;
    m_state.flashDirty = true;
    m_sink.stateChanged();
    emit(std::move(e));
    if (verdict == "ok")
        markComplete();
    else
        markIncomplete(verdict);
    stopReading();
    m_sink.flashWriting(verdict);
}
