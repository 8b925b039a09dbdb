// A snapshot file from outside (`setup set --from`, `setup diff`): its [setup] section read
// as `tavroctl` reads it, each value checked, and what was accepted written back and read
// again unchanged.
#include "FuzzCheck.h"

#include "app/ProfileText.h"
#include "setup/SetupSnapshot.h"

#include <cctype>
#include <set>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const ModelFamily family = familyOfNumber(1 + data[0] % 6);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    // The KEY=VALUE form of the command line, one argument per line of the input.
    for (size_t at = 0; at <= bytes.size();) {
        size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            end = bytes.size();
        if (auto kv = splitAssignment(bytes.substr(at, end - at))) {
            FUZZ_CHECK(!kv->first.empty() && !kv->second.empty());
            FUZZ_CHECK(kv->first.find('=') == std::string::npos);
        }
        at = end + 1;
    }

    ProfileText file(bytes);
    SetupOptions form;
    std::set<std::string> given;
    for (const auto& [key, value] : file.entries(kSnapshotSection)) {
        std::string lower = key;
        for (char& c : lower)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (applySnapshotValue(form, lower, value, family).ok())
            given.insert(lower);
    }
    (void)completeGivenForm(form, given);

    const SnapshotLines lines = snapshotOf(form, family);
    ProfileText saved;
    for (const auto& [key, value] : lines)
        saved.set(kSnapshotSection, key, value);
    ProfileText reread(saved.text());
    FUZZ_CHECK(reread.entries(kSnapshotSection) == lines);
    SetupOptions again;
    for (const auto& [key, value] : lines)
        FUZZ_CHECK(applySnapshotValue(again, key, value, family).ok());
    FUZZ_CHECK(snapshotOf(again, family) == lines);
    return 0;
}
