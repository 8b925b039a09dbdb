#pragma once
// The logo log: section "LOGO" of the profile, keys "Logofile1", "Logofile2", ... each the
// full path of the file uploaded as that picture number. A completed upload rewrites it;
// the bitmap list is rebuilt from it when the logo tool opens and on Reset. Key "Logocenter"
// lists the numbers of the pictures that were centred ("1,3"), so that their auto-centre
// ticks come back with them; it is absent when none was.
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
    static constexpr const char* kCentredKey = "Logocenter";

    // The paths of keys 1, 2, ... up to the first key that is missing or empty (at most
    // kMaxKeys). An unreadable profile reads as an empty log.
    std::vector<std::string> read() const;
    // The picture numbers the log says were centred (ascending; numbers outside 1..kMaxKeys
    // and anything not a number are left out).
    std::vector<int> centred() const;

    // Writes keys 1..N with the paths in upload order and deletes every higher "Logofile"
    // key (previousCount, the count the previous upload of this run wrote or the list read,
    // needs no longer be right: keys above it go too). One save: after a crash the log is
    // the old one or the new one, never a mix. On failure the profile is as it was.
    // `centred[i]` tells whether picture i + 1 was centred (missing entries: not centred).
    Status write(const std::vector<std::string>& paths, int previousCount, const std::vector<bool>& centred = {});

private:
    Profile& m_profile;
};
