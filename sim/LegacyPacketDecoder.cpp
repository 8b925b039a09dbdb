#include "sim/LegacyPacketDecoder.h"

#include <algorithm>

namespace {

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

} // namespace

void LegacyPacketDecoder::complete()
{
    switch (m_part) {
    case Part::Lead:
        // 40 F0/F1/F2: a packet, not text; what was printed before it ends here.
        m_line.end();
        m_part = Part::Head;
        needBytes(m_frame[1] == 0xF2 ? 10 : 8);
        return;
    case Part::Head:
        head();
        return;
    case Part::Body:
        body();
        return;
    }
}

void LegacyPacketDecoder::answer(bool ack)
{
    const uint8_t answer = ack ? 0x06 : 0x15;
    if (m_strayAck)
        m_sink.reply({0x06});
    if (m_splitDle) {
        m_sink.reply({0x10});
        m_sink.replyApart({answer}, 30);
        return;
    }
    m_sink.reply({0x10, answer});
}

void LegacyPacketDecoder::head()
{
    if (m_frame[1] == 0xF2) {
        const std::vector<uint8_t> p = takeFrame();
        SimEvent e("legacy-erase");
        e.hex("bytes", p).num("first", p[2]).num("last", p[3]);
        const LegacyArea* area = nullptr;
        for (auto& a : kLegacyAreas)
            if (a.first == p[2] && a.last == p[3])
                area = &a;
        const bool zeros = std::all_of(p.begin() + 4, p.end(), [](uint8_t b) { return b == 0; });
        if (!area || !zeros) {
            e.str("verdict", area ? "NAK: bytes 4..9 not zero" : "NAK: unknown sectors");
            answer(false);
            emit(std::move(e));
            return;
        }
        m_download = Download{};
        m_download.erased = true;
        m_download.area = area->name;
        m_download.sector = area->first;
        m_download.start = m_download.next = area->start;
        m_download.end = area->end;
        e.str("area", area->name).str("verdict", "ACK");
        emit(std::move(e));
        answer(true);
        // The printer erases the area now: it is incomplete until the last packet (F1) is in.
        m_state.incomplete[area->name] = "erasing";
        m_state.incompleteDirty = true;
        m_sink.stateChanged();
        emit(SimEvent("firmware-area").str("area", area->name).str("state", "unfinished").str("detail", "erasing"));
        return;
    }
    const size_t n = (m_frame[2] << 8) | m_frame[3];
    if (n < 1 || n > 512) {
        const std::vector<uint8_t> p = takeFrame();
        emit(SimEvent("legacy-data").hex("bytes", p).num("length", static_cast<int64_t>(n))
                 .str("verdict", "NAK: length outside 1..512"));
        answer(false);
        return;
    }
    m_part = Part::Body;
    needBytes(8 + n + 2);
}

void LegacyPacketDecoder::body()
{
    const std::vector<uint8_t> p = takeFrame();
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
    if (!m_download.erased)
        nak = "NAK: no erase packet before";
    else if ((sum & 0xFFFF) != expected)
        nak = "NAK: checksum mismatch";
    else if (address != m_download.next && !(m_download.packets > 0 && address + n == m_download.next))
        nak = "NAK: address out of sequence";
    else if (address + n > m_download.end)
        nak = "NAK: beyond the end of the area";
    else if (!last && n != 512)
        nak = "NAK: short F0 packet before the end of the area";
    const bool repeat = nak.empty() && address != m_download.next; // a packet already accepted, sent again
    if (nak.empty() && !repeat && m_nakEvery > 0) {
        const int number = m_download.packets + 1;
        if (number % m_nakEvery == 0 && !(m_download.lastWasNakFault && m_download.lastNakAddress == address)) {
            m_download.lastWasNakFault = true;
            m_download.lastNakAddress = address;
            e.str("fault", "NAK first try").str("verdict", "NAK");
            emit(std::move(e));
            answer(false);
            return;
        }
    }
    if (!nak.empty()) {
        e.str("verdict", nak);
        emit(std::move(e));
        answer(false);
        return;
    }
    if (!repeat) {
        m_download.lastWasNakFault = false;
        m_download.next = address + static_cast<uint32_t>(n);
        m_download.sum += sum;
        m_download.digest.add(p.data() + 8, n);
        ++m_download.packets;
    }
    e.num("packet", m_download.packets).str("verdict", "ACK");
    emit(std::move(e));
    answer(true);
    if (last && !repeat) {
        const bool complete = m_download.next == m_download.end;
        FlashAreaRecord rec{m_download.area, m_download.sector, m_download.next - m_download.start,
                            m_download.sum & 0xFFFF, complete ? "ok" : "short: ended before the end of the area",
                            m_download.digest.text()};
        m_state.flash[m_download.area] = rec;
        m_state.flashDirty = true;
        m_sink.stateChanged();
        emit(SimEvent("legacy-complete").str("area", m_download.area).num("packets", m_download.packets)
                 .num("size", rec.size).num("sum", rec.checksum).str("digest", rec.digest)
                 .str("verdict", rec.verdict));
        // The last packet ends the download as the tool meant it, also a short one.
        if (m_state.incomplete.erase(m_download.area)) {
            m_state.incompleteDirty = true;
            m_sink.stateChanged();
            emit(SimEvent("firmware-area").str("area", m_download.area).str("state", "complete"));
        }
        m_download = Download{};
    }
}
