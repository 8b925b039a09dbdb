#pragma once
// The byte-fed parser of the printer's answers to Function 6:
//   37 ... 27 <setting number, 1-3 decimal digits> 1F <value text> 00
// Anything before the header 37 is noise; after the header everything up to the identifier
// 27 is skipped (so a 37 there is an ordinary byte). Only the first three digits of the
// setting number count. One parser per receive thread; not thread-safe.
//
// Frames the printer cannot have meant are dropped whole (the parser resynchronises at
// their terminator) rather than misread:
//  - a value text longer than kMaxDataLength characters (the data buffer holds 100 bytes
//    with the terminator); cutting it would hand on a different number;
//  - a setting number with a non-digit, or above 255 (an 8-bit wrap would turn "257" into
//    setting 1).
#include <array>
#include <cstdint>
#include <optional>
#include <string>

class SetupReplyParser {
public:
    static constexpr int kDataBufferSize = 100;
    static constexpr int kMaxDataLength = kDataBufferSize - 1;

    struct Reply {
        int number = 0;   // 0..255; 0 when the frame carried no digits
        std::string data; // the value text, at most kMaxDataLength characters
        bool operator==(const Reply&) const = default;
    };

    // Takes one byte. Returns the reply that this byte (the terminator 00) completed; the
    // parser is then back at the start.
    std::optional<Reply> feed(std::uint8_t byte);
    // Forgets a frame in progress.
    void reset();
    // Frames dropped so far (overlong value, bad setting number).
    int droppedFrames() const { return m_dropped; }
    // A frame has begun (its header was seen) and is not complete yet.
    bool inFrame() const { return m_header; }

private:
    bool m_header = false;
    std::uint8_t m_identifier = 0;
    bool m_separator = false;
    int m_digitCount = 0;
    int m_number = 0;
    int m_dataLength = 0;
    std::array<char, kDataBufferSize> m_data{};
    bool m_invalid = false;
    int m_dropped = 0;
};
