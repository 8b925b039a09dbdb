#include "sim/SimEvent.h"

#include "common/JsonText.h"

#include <cstdio>

std::string SimEvent::quote(std::string_view text)
{
    return jsonQuote(text, JsonBytes::Latin1);
}

std::string SimEvent::hexText(const std::vector<uint8_t>& data, size_t max)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        if (!out.empty())
            out += ' ';
        out += buf;
    }
    if (data.size() > max)
        out += " ...";
    return out;
}

SimEvent& SimEvent::str(std::string key, std::string_view value)
{
    std::string text(value);
    m_fields.push_back({std::move(key), quote(value), text});
    return *this;
}

SimEvent& SimEvent::bytes(std::string key, const std::vector<uint8_t>& value)
{
    std::string_view view(reinterpret_cast<const char*>(value.data()), value.size());
    std::string text;
    for (unsigned char c : value) {
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            text += buf;
        }
    }
    m_fields.push_back({std::move(key), quote(view), "\"" + text + "\""});
    return *this;
}

SimEvent& SimEvent::hex(std::string key, const std::vector<uint8_t>& value)
{
    std::string h = hexText(value, 4096);
    m_fields.push_back({std::move(key), quote(h), hexText(value)});
    return *this;
}

SimEvent& SimEvent::num(std::string key, int64_t value)
{
    std::string v = std::to_string(value);
    m_fields.push_back({std::move(key), v, v});
    return *this;
}

SimEvent& SimEvent::flag(std::string key, bool value)
{
    m_fields.push_back({std::move(key), value ? "true" : "false", value ? "yes" : "no"});
    return *this;
}

SimEvent& SimEvent::json(std::string key, std::string rawJson)
{
    std::string text = rawJson;
    m_fields.push_back({std::move(key), std::move(rawJson), std::move(text)});
    return *this;
}

std::string SimEvent::toJson(const std::vector<std::pair<std::string, std::string>>& prefix) const
{
    std::string out = "{";
    bool first = true;
    auto add = [&](const std::string& key, const std::string& value) {
        if (!first)
            out += ',';
        first = false;
        out += quote(key);
        out += ':';
        out += value;
    };
    for (auto& [k, v] : prefix)
        add(k, v);
    add("cmd", quote(m_cmd));
    for (auto& f : m_fields)
        add(f.key, f.json);
    out += '}';
    return out;
}

std::string SimEvent::toText() const
{
    std::string out = m_cmd;
    for (auto& f : m_fields) {
        out += ' ';
        out += f.key;
        out += '=';
        out += f.text;
    }
    return out;
}

std::string SimEvent::field(std::string_view key) const
{
    for (auto& f : m_fields)
        if (f.key == key)
            return f.json;
    return {};
}
