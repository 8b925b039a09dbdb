#include "app/ProfileText.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

bool ProfileText::sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

ProfileText::ProfileText(std::string_view bytes) { parse(bytes); }

void ProfileText::parse(std::string_view bytes)
{
    if (bytes.find('\0') != std::string_view::npos) {
        m_binary = true;
        m_problem = "it is not a text file (it holds NUL bytes)";
    }
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        Line line;
        if (end == std::string_view::npos) {
            line.body = std::string(bytes.substr(at));
            at = bytes.size();
        } else {
            std::size_t bodyEnd = end;
            if (bodyEnd > at && bytes[bodyEnd - 1] == '\r')
                --bodyEnd;
            line.body = std::string(bytes.substr(at, bodyEnd - at));
            line.eol = std::string(bytes.substr(bodyEnd, end + 1 - bodyEnd));
            at = end + 1;
        }
        m_lines.push_back(std::move(line));
    }
    renumber();
}

// Classifies every line and ties it to its section header.
void ProfileText::renumber()
{
    int header = -1;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        Line& line = m_lines[i];
        std::string_view body = line.body;
        if (i == 0 && body.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            body.remove_prefix(kByteOrderMark.size());
        const std::string_view t = trim(body);
        line.kind = Kind::Other;
        line.name.clear();
        if (!t.empty() && t.front() == '[') {
            const auto close = t.rfind(']');
            if (close == std::string_view::npos) {
                // Which section the following keys belong to is a guess: a program that
                // reads them as their own section and one that reads them as the previous
                // one disagree, so no key below is read or written until the next header.
                if (m_problem.empty())
                    m_problem = "line " + std::to_string(i + 1) + " \"" + std::string(t.substr(0, 40)) +
                                "\" opens a section without closing it with ']'";
                header = -1;
                line.section = -1;
                continue;
            }
            line.kind = Kind::Section;
            line.name = std::string(trim(t.substr(1, close - 1)));
            header = int(i);
            line.section = header;
            continue;
        }
        line.section = header;
        if (t.empty() || t.front() == ';' || t.front() == '#')
            continue;
        const auto eq = body.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = trim(body.substr(0, eq));
        if (key.empty())
            continue;
        line.kind = Kind::Key;
        line.name = std::string(key);
        std::size_t valueAt = eq + 1;
        while (valueAt < body.size() && (body[valueAt] == ' ' || body[valueAt] == '\t'))
            ++valueAt;
        line.valueAt = valueAt + (line.body.size() - body.size());
    }
}

std::string ProfileText::lineValue(const Line& line) const
{
    return std::string(trim(std::string_view(line.body).substr(line.valueAt)));
}

bool ProfileText::sectionIs(int header, std::string_view section) const
{
    return header >= 0 && sameName(m_lines[std::size_t(header)].name, section);
}

int ProfileText::findKey(std::string_view section, std::string_view key) const
{
    if (m_binary)
        return -1;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.kind == Kind::Key && sectionIs(line.section, section) && sameName(line.name, key))
            return int(i);
    }
    return -1;
}

std::optional<std::string> ProfileText::value(std::string_view section, std::string_view key) const
{
    int i = findKey(section, trim(key));
    if (i < 0)
        return std::nullopt;
    return lineValue(m_lines[std::size_t(i)]);
}

std::vector<std::pair<std::string, std::string>> ProfileText::entries(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> out;
    if (m_binary)
        return out;
    for (const Line& line : m_lines) {
        if (line.kind != Kind::Key || !sectionIs(line.section, section))
            continue;
        bool seen = false;
        for (const auto& e : out)
            seen = seen || sameName(e.first, line.name);
        if (!seen)
            out.emplace_back(line.name, lineValue(line));
    }
    return out;
}

// New lines take the ending the file already uses, so that a Windows editor's CRLF file
// does not end up with mixed endings.
std::string ProfileText::newline() const
{
    for (const Line& line : m_lines)
        if (!line.eol.empty())
            return line.eol;
    return "\n";
}

bool ProfileText::set(std::string_view section, std::string_view key, std::string_view value)
{
    if (int i = findKey(section, key); i >= 0) {
        Line& line = m_lines[std::size_t(i)];
        if (lineValue(line) == trim(value))
            return false;
        line.body = line.body.substr(0, line.valueAt) + std::string(value);
        return true;
    }
    const std::string eol = newline();
    Line added;
    added.body = std::string(key) + "=" + std::string(value);
    added.eol = eol;

    int header = -1;
    for (std::size_t i = 0; i < m_lines.size() && header < 0; ++i)
        if (m_lines[i].kind == Kind::Section && sameName(m_lines[i].name, section))
            header = int(i);
    std::size_t insertAt;
    if (header >= 0) {
        insertAt = std::size_t(header) + 1;
        for (std::size_t i = insertAt; i < m_lines.size() && m_lines[i].section == header; ++i)
            if (m_lines[i].kind == Kind::Key)
                insertAt = i + 1;
        m_lines.insert(m_lines.begin() + std::ptrdiff_t(insertAt), std::move(added));
    } else {
        // A blank line between sections, as the profile functions write them.
        if (!m_lines.empty() && !trim(m_lines.back().body).empty()) {
            if (m_lines.back().eol.empty())
                m_lines.back().eol = eol;
            Line blank;
            blank.eol = eol;
            m_lines.push_back(std::move(blank));
        }
        Line head;
        head.body = "[" + std::string(section) + "]";
        head.eol = eol;
        m_lines.push_back(std::move(head));
        insertAt = m_lines.size();
        m_lines.push_back(std::move(added));
    }
    // The line before a new one may have been the file's unterminated last line.
    if (insertAt > 0 && m_lines[insertAt - 1].eol.empty())
        m_lines[insertAt - 1].eol = eol;
    renumber();
    return true;
}

bool ProfileText::remove(std::string_view section, std::string_view key)
{
    if (m_binary)
        return false;
    std::vector<bool> drop(m_lines.size(), false);
    bool changed = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.kind == Kind::Key && sectionIs(line.section, section) && sameName(line.name, key))
            changed = drop[i] = true;
    }
    if (changed)
        dropLines(drop);
    return changed;
}

bool ProfileText::removeSection(std::string_view section)
{
    if (m_binary)
        return false;
    std::vector<bool> drop(m_lines.size(), false);
    bool changed = false;
    for (std::size_t h = 0; h < m_lines.size(); ++h) {
        if (m_lines[h].kind != Kind::Section || !sameName(m_lines[h].name, section))
            continue;
        std::size_t last = h;
        for (std::size_t i = h + 1; i < m_lines.size() && m_lines[i].section == int(h); ++i) {
            const std::string_view t = trim(m_lines[i].body);
            if (!t.empty() && t.front() != ';' && t.front() != '#')
                last = i;
        }
        for (std::size_t i = h; i <= last; ++i)
            drop[i] = true;
        changed = true;
    }
    if (changed)
        dropLines(drop);
    return changed;
}

void ProfileText::dropLines(const std::vector<bool>& drop)
{
    std::vector<Line> kept;
    kept.reserve(m_lines.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        if (!drop[i])
            kept.push_back(std::move(m_lines[i]));
    m_lines = std::move(kept);
    renumber();
}

std::string ProfileText::text() const
{
    std::string out;
    for (const Line& line : m_lines)
        out += line.body + line.eol;
    return out;
}
