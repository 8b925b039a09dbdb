#pragma once
// One thing the virtual printer saw or did: a command it received, a reply it refused, a
// restart. Kept as an ordered list of named fields so that it can be written both as one JSON
// object per line (the event log the tests read) and as a short human-readable line.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class SimEvent {
public:
    explicit SimEvent(std::string cmd) : m_cmd(std::move(cmd)) {}

    SimEvent& str(std::string key, std::string_view value);
    // Bytes shown as a JSON string, each byte 80..FF as \u00XX (the printer's code page is not
    // known here, so nothing is guessed).
    SimEvent& bytes(std::string key, const std::vector<uint8_t>& value);
    SimEvent& hex(std::string key, const std::vector<uint8_t>& value);
    SimEvent& num(std::string key, int64_t value);
    SimEvent& flag(std::string key, bool value);
    // A value that is already JSON (an array of objects, for example).
    SimEvent& json(std::string key, std::string rawJson);

    const std::string& cmd() const { return m_cmd; }
    // The JSON object without a trailing newline; `prefix` fields come first.
    std::string toJson(const std::vector<std::pair<std::string, std::string>>& prefix = {}) const;
    // "cmd key=value key=value".
    std::string toText() const;
    // The value of a field as written into the JSON ("" when absent); for tests.
    std::string field(std::string_view key) const;

    static std::string quote(std::string_view text);
    static std::string hexText(const std::vector<uint8_t>& data, size_t max = 64);

private:
    struct Field {
        std::string key;
        std::string json; // already encoded
        std::string text; // for toText()
    };
    std::string m_cmd;
    std::vector<Field> m_fields;
};
