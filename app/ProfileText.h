#pragma once
// The text of an INI profile, edited in place line by line as the Windows profile functions
// do: a change touches only the lines of the keys it sets or removes (and adds lines for new
// keys and sections); every other byte - comments, blank lines, lines without '=', lines
// with an empty key, repeated keys and sections, odd spacing, CRLF or LF endings, a missing
// final line break, a UTF-8 byte order mark - stays exactly as it was. Pure; any thread.
//
// Reading rules: sections and keys compare case-insensitively (ASCII) after blanks around
// them are dropped; lines beginning with ';' or '#' are comments; a section that appears
// more than once is read as one, in file order; of a repeated key the first one counts.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ProfileText {
public:
    explicit ProfileText(std::string_view bytes = {});

    // False for bytes that are no text (a NUL byte): such a file reads as empty.
    bool readable() const { return !m_binary; }
    // Empty when the text can be edited safely; otherwise why not (a NUL byte, a section
    // line without its closing ']', whose following keys no program can place for sure).
    const std::string& problem() const { return m_problem; }

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Key and value of each distinct key of the section in file order.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;

    // The edits return whether the text changed. They must not be called on a text with a
    // problem(); key and value must hold no line break, the key no '=' and no leading '[',
    // ';' or '#', and section and key must not be empty (Profile checks all of this).
    //
    // Sets the first occurrence of the key; a new key goes after the last key of the
    // section's first occurrence, a new section at the end of the text.
    bool set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every occurrence of the key in the section, so that no older one shows through.
    bool remove(std::string_view section, std::string_view key);
    // Removes every occurrence of the section: its header and its lines up to its last line
    // that is neither blank nor a comment (comments and blank lines after it stay: they may
    // describe what follows).
    bool removeSection(std::string_view section);

    // The whole text as it is now.
    std::string text() const;

    // The comparison of section and key names: ASCII letters without regard to case.
    static bool sameName(std::string_view a, std::string_view b);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string body; // without the line ending
        std::string eol;  // "\n", "\r\n" or "" for an unterminated last line
        Kind kind = Kind::Other;
        std::string name;       // section name or key, blanks dropped, as written
        std::size_t valueAt = 0; // Key: where the value begins in body
        int section = -1;       // index of the header line this line belongs to, -1 for none
    };

    void parse(std::string_view bytes);
    void renumber();
    void dropLines(const std::vector<bool>& drop);
    std::string lineValue(const Line& line) const;
    bool sectionIs(int header, std::string_view section) const;
    int findKey(std::string_view section, std::string_view key) const;
    std::string newline() const;

    std::vector<Line> m_lines;
    std::string m_problem;
    bool m_binary = false;
};
