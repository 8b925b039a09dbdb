#pragma once
// Helpers of the virtual printer's unit tests: a sink that records what the interpreter said,
// and byte-string literals.
#include "sim/CommandInterpreter.h"

#include <cctype>
#include <string>
#include <vector>

inline std::vector<uint8_t> hexBytes(const std::string& text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::vector<uint8_t> textBytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RecordingSink final : InterpreterSink {
    std::vector<uint8_t> replies;
    std::vector<SimEvent> events;
    std::vector<std::string> restarts;
    std::vector<bool> asb;
    std::vector<std::string> flash;
    int changes = 0;

    void reply(const std::vector<uint8_t>& b) override { replies.insert(replies.end(), b.begin(), b.end()); }
    // Replies sent apart: where in `replies` each one starts.
    std::vector<size_t> apartAt;
    void replyApart(const std::vector<uint8_t>& b, int) override
    {
        apartAt.push_back(replies.size());
        reply(b);
    }
    void event(SimEvent e) override { events.push_back(std::move(e)); }
    void restart(const std::string& r) override { restarts.push_back(r); }
    void asbEnabled(bool on) override { asb.push_back(on); }
    void flashWriting(const std::string& v) override { flash.push_back(v); }
    void stateChanged() override { ++changes; }

    std::vector<SimEvent> named(const std::string& cmd) const
    {
        std::vector<SimEvent> out;
        for (auto& e : events)
            if (e.cmd() == cmd)
                out.push_back(e);
        return out;
    }
    void clear()
    {
        replies.clear();
        events.clear();
        restarts.clear();
        asb.clear();
        flash.clear();
    }
};

// Function 6 request and the frames that bracket a write.
inline std::vector<uint8_t> fn6(int setting)
{
    return {0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, static_cast<uint8_t>(setting)};
}
inline std::vector<uint8_t> enterMode() { return hexBytes("1D 28 45 03 00 01 49 4E"); }
inline std::vector<uint8_t> endMode() { return hexBytes("1D 28 45 04 00 02 4F 55 54"); }
inline std::vector<uint8_t> fn5(const std::vector<uint8_t>& items)
{
    size_t n = items.size() + 1;
    std::vector<uint8_t> f{0x1D, 0x28, 0x45, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8), 0x05};
    return f + items;
}
// The answer the printer gives: 37 27 <number> 1F <text> 00.
inline std::vector<uint8_t> answer(int setting, const std::string& text)
{
    return std::vector<uint8_t>{0x37, 0x27} + textBytes(std::to_string(setting)) + std::vector<uint8_t>{0x1F} +
           textBytes(text) + std::vector<uint8_t>{0x00};
}
