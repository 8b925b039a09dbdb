#pragma once
// The tool's INI profile (sections "DEVICELIST", "USER", "LOGO", "FWDN20", "FWDN15"), read
// and written like the Windows profile functions: every call reads the file as it is now,
// sections and keys compare case-insensitively, and a write changes only the lines of the
// keys it sets or removes - every other byte stays as it was (see ProfileText). A save
// replaces the file atomically: readers and a crash see the old file or the new one.
// Any thread; two processes saving at once may lose one of the two changes, never the file.
#include "app/Result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Profile {
public:
    // Several edits that form one logical change: apply() saves them in one go, so the file
    // holds all of them or none (a snapshot is never half written, a logo log never mixes an
    // old upload's keys with a new one's).
    class Edit {
    public:
        Edit& set(std::string section, std::string key, std::string value);
        Edit& remove(std::string section, std::string key);
        Edit& removeSection(std::string section);
        // The section holds exactly these keys afterwards: keys not listed are removed, the
        // others set (lines already there keep their place, new ones follow them).
        Edit& replaceSection(std::string section, std::vector<std::pair<std::string, std::string>> entries);

    private:
        friend class Profile;
        enum class Op { Set, Remove, RemoveSection, ReplaceSection };
        struct Step {
            Op op;
            std::string section, key, value;
            std::vector<std::pair<std::string, std::string>> entries;
        };
        std::vector<Step> m_steps;
    };

    explicit Profile(std::filesystem::path file);

    // "<startDir>/tavroset.INI": the profile of both front ends.
    static std::filesystem::path defaultPath(const std::filesystem::path& startDir);

    const std::filesystem::path& path() const { return m_file; }

    // The value, or fallback when the key, the section or a readable file is missing. A
    // malformed or unreadable file reads as empty.
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") const;
    // The keys of a section in file order; empty when there are none.
    std::vector<std::string> keys(const std::string& section) const;
    // Key and value pairs of a section in file order.
    std::vector<std::pair<std::string, std::string>> entries(const std::string& section) const;

    // Sets the value (creating section and file as needed) and saves atomically. Fails, and
    // leaves the file as it is, when the existing file cannot be read or cannot be edited
    // safely (not text, a section line without ']'), or when a name or value would break
    // the file (a line break, '=' or '[' in a key). Setting the value a key already has
    // does not touch the file.
    Status writeString(const std::string& section, const std::string& key, const std::string& value);
    // Removes the key; success also when it was not there.
    Status deleteKey(const std::string& section, const std::string& key);
    // Removes a whole section.
    Status deleteSection(const std::string& section);
    // Applies every edit and saves once; nothing is saved when one edit is refused or
    // nothing changes.
    Status apply(const Edit& edit);

private:
    std::filesystem::path m_file;
};
