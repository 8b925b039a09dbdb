#pragma once
// One thing the virtual printer saw or did: a command it received, a reply it refused, a
// restart. Kept as an ordered list of named fields so that it can be written both as one JSON
// object per line (the event log the tests read) and as a short human-readable line.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class SimEvent {
public:
    using Json = nlohmann::ordered_json;

    explicit SimEvent(std::string cmd) : m_cmd(std::move(cmd)) {}

    // Text from the printer side, each byte taken as one character (see latin1()).
    SimEvent& str(std::string key, std::string_view value);
    // Bytes shown as a JSON string, each byte 80..FF as the character with that number (the
    // printer's code page is not known here, so nothing is guessed).
    SimEvent& bytes(std::string key, const std::vector<uint8_t>& value);
    SimEvent& hex(std::string key, const std::vector<uint8_t>& value);
    SimEvent& num(std::string key, int64_t value);
    SimEvent& flag(std::string key, bool value);
    // A structured value (an array of objects, for example).
    SimEvent& json(std::string key, Json value);

    const std::string& cmd() const { return m_cmd; }
    // The JSON object on one line without a trailing newline; `prefix` fields come first.
    // Characters from 7F up are written as \u00XX, so the line is plain ASCII.
    std::string toJson(const std::vector<std::pair<std::string, Json>>& prefix = {}) const;
    // "cmd key=value key=value".
    std::string toText() const;
    // The value of a field as written into the JSON ("" when absent); for tests.
    std::string field(std::string_view key) const;

    // A JSON string holding each byte of `bytes` as the character with the same number, so any
    // bytes at all give a valid string that shows them one for one.
    static Json latin1(std::string_view bytes);
    static std::string hexText(const std::vector<uint8_t>& data, size_t max = 64);

private:
    struct Field {
        std::string key;
        Json value;
        std::string text; // for toText()
    };
    std::string m_cmd;
    std::vector<Field> m_fields;
};
