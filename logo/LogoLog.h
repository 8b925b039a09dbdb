#pragma once
// The logo log: section "LOGO" of the profile, keys "Logofile1", "Logofile2", ... each the
// full path of the file uploaded as that picture number. A completed upload rewrites it;
// the bitmap list is rebuilt from it when the logo tool opens and on Reset.
#include "app/Profile.h"
#include "app/Result.h"

#include <string>
#include <vector>

class LogoLog final {
public:
    static constexpr const char* kSection = "LOGO";
    // The printer numbers NV pictures with one byte: no log has more keys than this.
    static constexpr int kMaxKeys = 255;

    explicit LogoLog(Profile& profile) : m_profile(profile) {}

    // "Logofile%d".
    static std::string keyName(int index);
    // The index of a "Logofile%d" key (any case), 0 for any other key.
    static int keyIndex(const std::string& key);

    // The paths of keys 1, 2, ... up to the first key that is missing or empty (at most
    // kMaxKeys). An unreadable profile reads as an empty log.
    std::vector<std::string> read() const;

    // Writes keys 1..N with the paths in upload order and deletes keys N+1..previousCount
    // (the count the previous upload of this run wrote, or that the list read) and every other
    // "Logofile%d" key above N, which read() could not reach. Stops at the
    // first failed write and says which key failed; keys already written stay written.
    Status write(const std::vector<std::string>& paths, int previousCount);

private:
    Profile& m_profile;
};
