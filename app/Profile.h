#pragma once
// The tool's INI profile (sections "DEVICELIST", "USER", "LOGO", "FWDN20", "FWDN15"), read
// and written like the Windows profile functions: every call reads the file as it is now,
// sections and keys compare case-insensitively, and a write keeps everything else in the
// file (other sections, comments, order).
#include "app/Result.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

class Profile {
public:
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
    // leaves the file as it is, when the existing file cannot be read or is malformed.
    Status writeString(const std::string& section, const std::string& key, const std::string& value);
    // Removes the key; success also when it was not there.
    Status deleteKey(const std::string& section, const std::string& key);
    // Removes a whole section.
    Status deleteSection(const std::string& section);

private:
    std::filesystem::path m_file;
};
