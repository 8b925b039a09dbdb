#include "sim/TextLine.h"

namespace {

// A text line longer than this without LF is reported in pieces.
constexpr size_t kMaxTextLine = 4096;
// Raw data is reported in pieces of this size.
constexpr size_t kMaxRawChunk = 256;

} // namespace

const char* TextLine::justifyName(int n)
{
    switch (n % 48) {
    case 0: return "left";
    case 1: return "center";
    case 2: return "right";
    default: return "unknown";
    }
}

void TextLine::take(uint8_t b)
{
    switch (b) {
    case 0x0A:
        endRaw();
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

void TextLine::end()
{
    flushText(false);
    endRaw();
}

void TextLine::reset()
{
    m_color = 1;
    m_justify = 0;
}

void TextLine::addText(uint8_t b)
{
    endRaw();
    m_text.push_back(b);
    if (m_text.size() >= kMaxTextLine)
        flushText(false);
}

void TextLine::flushText(bool eol)
{
    if (m_text.empty() && !eol)
        return;
    SimEvent e("text");
    e.bytes("text", m_text).num("color", m_color).str("align", justifyName(m_justify)).flag("eol", eol);
    m_sink.printedText(m_text, m_justify);
    m_text.clear();
    m_sink.event(std::move(e));
}

void TextLine::addRaw(uint8_t b)
{
    flushText(false);
    m_raw.push_back(b);
    if (m_raw.size() >= kMaxRawChunk)
        endRaw();
}

void TextLine::endRaw()
{
    if (m_raw.empty())
        return;
    m_sink.event(SimEvent("raw").hex("bytes", m_raw).num("length", static_cast<int64_t>(m_raw.size())));
    m_raw.clear();
}
