#pragma once
// The ESC, GS and FS commands of a receipt that no other protocol claims: ESC @ (initialise),
// ESC a (justification), ESC i / ESC m and GS V (cuts), GS ( N (character colour), and every
// other ESC, GS or FS command by its length, logged and skipped. The text between commands is
// the TextLine's; these commands change how it looks.
//
// Threads: as the interpreter that owns it.
#include "sim/ProtocolDecoder.h"
#include "sim/TextLine.h"

class ReceiptDecoder final : public ProtocolDecoder {
public:
    ReceiptDecoder(InterpreterSink& sink, TextLine& line) : ProtocolDecoder(sink), m_line(line) {}

private:
    void complete() override;
    void esc();
    void gs();
    void gsParen();

    TextLine& m_line;
};
