// The profile from outside (a file edited by hand or by Windows tools): read, edited, saved
// and read again, through the file as the tool does it.
//
// Input: the profile's bytes, then a list of edits drawn from the rest.
#include "FuzzCheck.h"

#include "app/Profile.h"
#include "app/ProfileText.h"
#include "common/FileIo.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The saves go to memory-backed storage where there is some: a flush to disk per input
// would make the run crawl.
const fs::path& workFile()
{
    static const fs::path file = [] {
        std::string tmpl = (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                           "/tavro-fuzz-profile-XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        return fs::path(tmpl) / "tavroset.INI";
    }();
    return file;
}

std::string readBack(const fs::path& file)
{
    std::string bytes;
    FUZZ_CHECK(readWholeFile(file, 64u << 20, &bytes).ok());
    return bytes;
}

std::string trimmed(std::string s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    size_t b = 0;
    while (b < s.size() && blank(s[b]))
        ++b;
    return s.substr(b);
}

// The entries of every section named in the text, to compare sections an edit must leave.
std::map<std::string, std::vector<std::pair<std::string, std::string>>> allSections(const std::string& text,
                                                                                    const std::vector<std::string>& names)
{
    ProfileText parsed(text);
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> out;
    for (const auto& n : names)
        out[n] = parsed.entries(n);
    return out;
}

bool sameNameAs(const std::string& a, const std::string& b) { return ProfileText::sameName(a, b); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string original = in.ConsumeRandomLengthString(4096);

    // Parsing and writing back without a change gives the bytes back exactly.
    ProfileText parsed(original);
    FUZZ_CHECK(parsed.text() == original);

    const fs::path& file = workFile();
    FUZZ_CHECK(writeFileAtomically(file, original).ok());
    Profile profile(file);
    const std::vector<std::string> names = {"DEVICELIST", "USER", "LOGO", "setup", "a", ""};

    for (int step = 0; step < 4 && in.remaining_bytes() > 0; ++step) {
        const int op = in.ConsumeIntegralInRange(0, 3);
        std::string section = in.ConsumeBool() ? names[in.ConsumeIntegralInRange<size_t>(0, names.size() - 2)]
                                               : in.ConsumeRandomLengthString(12);
        const std::string key = in.ConsumeRandomLengthString(12);
        const std::string value = in.ConsumeRandomLengthString(24);
        const std::string before = readBack(file);
        const ProfileText beforeText(before);
        std::vector<std::string> others;
        for (const auto& n : names)
            if (!sameNameAs(n, section))
                others.push_back(n);

        Status s = Status::success();
        switch (op) {
        case 0:
            s = profile.writeString(section, key, value);
            break;
        case 1:
            s = profile.deleteKey(section, key);
            break;
        case 2:
            s = profile.deleteSection(section);
            break;
        case 3:
            s = profile.apply(Profile::Edit().replaceSection(section, {{key, value}, {"k2", value}}));
            break;
        }
        const std::string after = readBack(file);
        if (!s.ok()) {
            // A refused edit never touches the file.
            FUZZ_CHECK(after == before);
            continue;
        }
        FUZZ_CHECK(beforeText.problem().empty() || after == before);
        // Other sections read exactly as before.
        FUZZ_CHECK(allSections(after, others) == allSections(before, others));
        ProfileText reread(after);
        FUZZ_CHECK(reread.problem() == beforeText.problem());
        switch (op) {
        case 0:
        case 3:
            FUZZ_CHECK(reread.value(section, key) == trimmed(value));
            // Growth is the new lines and nothing more (an edit must never grow the file
            // on every save).
            FUZZ_CHECK(after.size() <= before.size() + section.size() + key.size() + 2 * value.size() + 48);
            // Saving again what is there is byte-identical and changes nothing.
            FUZZ_CHECK(profile.writeString(section, key, value).ok());
            FUZZ_CHECK(readBack(file) == after);
            break;
        case 1:
            FUZZ_CHECK(!reread.value(section, key).has_value());
            FUZZ_CHECK(after.size() <= before.size());
            break;
        case 2:
            FUZZ_CHECK(reread.entries(section).empty());
            FUZZ_CHECK(after.size() <= before.size());
            break;
        }
        if (op == 3) {
            const auto entries = reread.entries(section);
            FUZZ_CHECK(entries.size() == (sameNameAs(key, "k2") ? 1u : 2u));
        }
    }
    return 0;
}
