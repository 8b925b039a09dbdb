#include "sim/ReceiptDecoder.h"

namespace {

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

} // namespace

void ReceiptDecoder::complete()
{
    switch (m_frame[0]) {
    case 0x1B:
        esc();
        return;
    case 0x1D:
        gs();
        return;
    default:
        emit(SimEvent("fs").hex("bytes", takeFrame()));
    }
}

void ReceiptDecoder::esc()
{
    const uint8_t c = m_frame[1];
    const size_t need = 2 + static_cast<size_t>(escParams(c));
    if (m_frame.size() < need) {
        needBytes(need);
        return;
    }
    const std::vector<uint8_t> cmd = takeFrame();
    switch (c) {
    case '@':
        m_line.reset();
        emit(SimEvent("init"));
        return;
    case 'i':
    case 'm':
        emit(SimEvent("cut").str("mode", "partial"));
        m_sink.cut();
        return;
    case 'a':
        m_line.setJustify(cmd[2]);
        emit(SimEvent("justify").num("n", cmd[2]).str("align", TextLine::justifyName(cmd[2])));
        return;
    default:
        emit(SimEvent("esc").hex("bytes", cmd));
    }
}

void ReceiptDecoder::gs()
{
    const uint8_t c = m_frame[1];
    if (c == 0x28) {
        gsParen();
        return;
    }
    if (c == 0x21 || c == 0x56) {
        if (m_frame.size() < 3) {
            needBytes(3);
            return;
        }
        // GS V 65/66 carry a feed amount.
        if (c == 0x56 && (m_frame[2] == 65 || m_frame[2] == 66) && m_frame.size() < 4) {
            needBytes(4);
            return;
        }
    }
    const std::vector<uint8_t> cmd = takeFrame();
    if (c == 0x56) {
        emit(SimEvent("cut").str("mode", (cmd[2] == 0 || cmd[2] == 48 || cmd[2] == 65) ? "full" : "partial"));
        m_sink.cut();
        return;
    }
    emit(SimEvent("gs").hex("bytes", cmd));
}

void ReceiptDecoder::gsParen()
{
    if (!haveParenBody())
        return;
    const std::vector<uint8_t> cmd = takeFrame();
    const std::vector<uint8_t> body(cmd.begin() + 5, cmd.end());
    if (cmd[2] == 0x4E && body.size() == 2 && body[0] == 0x30) { // GS ( N fn 48: character colour
        const int colour = body[1] - '0';
        if (colour == 1 || colour == 2 || colour == 3)
            m_line.setColor(colour);
        emit(SimEvent("color").num("color", colour));
        return;
    }
    emit(SimEvent("gs-paren").hex("bytes", cmd));
}
