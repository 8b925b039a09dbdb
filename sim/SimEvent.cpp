#include "sim/SimEvent.h"

#include <cstdio>

namespace {

// The event log's form: one line, ASCII only.
std::string dumpLine(const SimEvent::Json& value)
{
    return value.dump(-1, ' ', true);
}

} // namespace

SimEvent::Json SimEvent::latin1(std::string_view bytes)
{
    std::string utf8;
    utf8.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return Json(std::move(utf8));
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
    m_fields.push_back({std::move(key), latin1(value), std::string(value)});
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
    m_fields.push_back({std::move(key), latin1(view), "\"" + text + "\""});
    return *this;
}

SimEvent& SimEvent::hex(std::string key, const std::vector<uint8_t>& value)
{
    m_fields.push_back({std::move(key), Json(hexText(value, 4096)), hexText(value)});
    return *this;
}

SimEvent& SimEvent::num(std::string key, int64_t value)
{
    m_fields.push_back({std::move(key), Json(value), std::to_string(value)});
    return *this;
}

SimEvent& SimEvent::flag(std::string key, bool value)
{
    m_fields.push_back({std::move(key), Json(value), value ? "yes" : "no"});
    return *this;
}

SimEvent& SimEvent::json(std::string key, Json value)
{
    std::string text = dumpLine(value);
    m_fields.push_back({std::move(key), std::move(value), std::move(text)});
    return *this;
}

std::string SimEvent::toJson(const std::vector<std::pair<std::string, Json>>& prefix) const
{
    Json out = Json::object();
    for (auto& [k, v] : prefix)
        out[k] = v;
    out["cmd"] = latin1(m_cmd);
    for (auto& f : m_fields)
        out[f.key] = f.value;
    return dumpLine(out);
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
            return dumpLine(f.value);
    return {};
}
