#pragma once
// The bytes between commands: printable text gathered into lines (LF ends one), stray control
// bytes gathered as raw data, and the look the next text gets (colour, justification). Every
// command ends the line in front of it, so that the event log keeps the order of the stream.
//
// Threads: as the interpreter that owns it.
#include "sim/InterpreterSink.h"

#include <cstdint>
#include <vector>

class TextLine {
public:
    explicit TextLine(InterpreterSink& sink) : m_sink(sink) {}

    // A byte that is no command: text, LF, or raw data. CR and NUL print nothing.
    void take(uint8_t b);
    // A command follows: reports the text and the raw bytes gathered so far.
    void end();
    // The read ended: raw bytes are reported per read, text waits for its line's end.
    void endRaw();

    // ESC @: colour 1, left.
    void reset();
    void setColor(int color) { m_color = color; }
    void setJustify(int justify) { m_justify = justify; }

    // "left", "center", "right" for n and its ASCII digit form, "unknown" otherwise.
    static const char* justifyName(int n);

private:
    void addText(uint8_t b);
    void flushText(bool eol);
    void addRaw(uint8_t b);

    InterpreterSink& m_sink;
    std::vector<uint8_t> m_text;
    std::vector<uint8_t> m_raw;
    int m_color = 1;
    int m_justify = 0;
};
