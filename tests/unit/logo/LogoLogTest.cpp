// The logo log and the other profile writers under a kill at any moment.
#include "app/Profile.h"
#include "common/FileIo.h"
#include "logo/LogoLog.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> tempsOf(const fs::path& file)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        if (e.path().filename().string().rfind(atomicTempPrefix(file), 0) == 0)
            out.push_back(e.path().filename().string());
    return out;
}

std::vector<std::string> paths(const std::string& stem, int n)
{
    std::vector<std::string> out;
    for (int k = 1; k <= n; ++k)
        out.push_back("/logos/" + stem + std::to_string(k) + ".bmp");
    return out;
}

} // namespace

TEST(LogoLog, AWriteLeavesNoHigherKeyWhateverCameBefore)
{
    TempDir dir;
    auto file = dir / "tavroset.INI";
    // Key 1 empty: the log reads as empty (count 0), yet key 3 and a key far past the
    // printer's 255 are there.
    writeFileBytes(file, "[LOGO]\nLogofile1=\nLogofile3=/old/c.bmp\nLogofile300=/old/z.bmp\nLogofile02=kept\n"
                         "Note=kept\n[USER]\nLogofile9=other section\n");
    Profile profile(file);
    LogoLog log(profile);
    EXPECT_TRUE(log.read().empty());
    ASSERT_TRUE(log.write({"/new/a.bmp", "/new/b.bmp"}, int(log.read().size())));
    EXPECT_EQ(log.read(), (std::vector<std::string>{"/new/a.bmp", "/new/b.bmp"}));
    EXPECT_EQ(profile.getString("LOGO", "Logofile3", "none"), "none");
    EXPECT_EQ(profile.getString("LOGO", "Logofile300", "none"), "none");
    // Keys this log never writes are not its to delete.
    EXPECT_EQ(profile.getString("LOGO", "Logofile02"), "kept");
    EXPECT_EQ(profile.getString("LOGO", "Note"), "kept");
    EXPECT_EQ(profile.getString("USER", "Logofile9"), "other section");
    // A picture added later by the user sees no stale third picture come back.
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile2", "/new/b.bmp"));
    EXPECT_EQ(log.read().size(), 2u);
}

TEST(LogoLog, ReadsAtMostTheKeysThePrinterCanHoldAndStopsAtAGap)
{
    TempDir dir;
    Profile profile(dir / "p.INI");
    LogoLog log(profile);
    ASSERT_TRUE(log.write(paths("p", 255), 0));
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile256", "/logos/extra.bmp"));
    EXPECT_EQ(log.read().size(), 255u);
    EXPECT_FALSE(log.write(paths("p", 256), 255));
    ASSERT_TRUE(log.write(paths("q", 3), 255));
    EXPECT_EQ(profile.keys("LOGO").size(), 3u) << "keys 4..256 must all be gone";
    ASSERT_TRUE(profile.deleteKey("LOGO", "logofile2"));
    EXPECT_EQ(log.read(), std::vector<std::string>{"/logos/q1.bmp"});
}

TEST(LogoLog, ARefusedPathLeavesTheOldLogWhole)
{
    TempDir dir;
    auto file = dir / "p.INI";
    Profile profile(file);
    LogoLog log(profile);
    ASSERT_TRUE(log.write(paths("a", 4), 0));
    const std::string before = readFileBytes(file);
    auto next = paths("b", 3);
    next[2] = "/logos/bad\nname.bmp";
    EXPECT_FALSE(log.write(next, 4));
    EXPECT_EQ(readFileBytes(file), before);
}

// Every writer of the profile, killed at random moments in a loop: the file must always be
// one of the whole files the writers produce, and temporary files must not pile up.
TEST(ProfileWriters, AKillAtAnyMomentLeavesAWholeOldOrNewFile)
{
    TempDir dir;
    auto file = dir / "tavroset.INI";
    const std::string header = "; kept by hand\n[DEVICELIST]\nd1=TAVRO36/38 S\n";
    std::vector<std::pair<std::string, std::string>> snapA, snapB;
    for (int i = 0; i < 19; ++i) {
        snapA.emplace_back("key" + std::to_string(i), "a" + std::to_string(i));
        if (i % 3)
            snapB.emplace_back("key" + std::to_string(i), std::string(200, char('b' + i % 20)));
    }
    // One cycle of the three writers: a 19-key snapshot as `setup get --save` writes it, a
    // logo log of 40 and of 3 pictures, a single key.
    auto cycle = [&](Profile& p, int round) {
        LogoLog log(p);
        (void)p.apply(Profile::Edit().replaceSection("setup", round % 2 ? snapB : snapA));
        (void)log.write(paths(round % 2 ? "x" : "y", round % 2 ? 40 : 3), 40);
        (void)p.writeString("USER", "margin", std::to_string(round % 2));
    };

    // A whole file: the lines kept by hand, one whole snapshot, one whole logo log (no key of
    // the other one) and the single key. A file cut short or mixing two saves fails here.
    auto sorted = [](std::vector<std::pair<std::string, std::string>> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    auto whole = [&](const std::string& text) -> std::string {
        if (text.rfind(header, 0) != 0 || text.empty() || text.back() != '\n')
            return "the beginning or the end is cut";
        Profile p(file);
        auto setup = sorted(p.entries("setup"));
        if (setup != sorted(snapA) && setup != sorted(snapB))
            return "a partial snapshot";
        auto logos = LogoLog(p).read();
        if ((logos != paths("y", 3) && logos != paths("x", 40)) || p.keys("LOGO").size() != logos.size())
            return "a mixed logo log";
        auto margin = p.getString("USER", "margin");
        if (margin != "0" && margin != "1")
            return "no single key";
        return "";
    };
    writeFileBytes(file, header);
    {
        Profile p(file);
        cycle(p, 0);
        ASSERT_EQ(whole(readFileBytes(file)), "");
    }

    std::mt19937 random(18);
    int kills = 0, tempsSeen = 0;
    for (int run = 0; run < 200; ++run) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Profile p(file);
            for (int round = 0;; ++round)
                cycle(p, round);
        }
        ::usleep(useconds_t(random() % 3000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        kills += WIFSIGNALED(status) ? 1 : 0;

        const std::string now = readFileBytes(file);
        ASSERT_EQ(whole(now), "") << "after kill " << run << ":\n" << now;
        auto temps = tempsOf(file);
        ASSERT_LE(temps.size(), 1u) << "temporary files pile up";
        tempsSeen += int(temps.size());
        // The next save cleans what the killed one left.
        Profile p(file);
        ASSERT_TRUE(p.writeString("USER", "margin", p.getString("USER", "margin") == "1" ? "0" : "1"));
        EXPECT_TRUE(tempsOf(file).empty()) << "a dead save's temporary file survived the next save";
    }
    EXPECT_EQ(kills, 200);
    RecordProperty("temporary_files_left_by_kills", tempsSeen);
}

// The centred pictures are listed in one key next to the log; a log without any has no key.
TEST(LogoLog, TheCentredPicturesComeBackWithTheLog)
{
    TempDir dir;
    Profile profile(dir.path() / "tavroset.INI");
    LogoLog log(profile);
    ASSERT_TRUE(log.write(paths("p", 3), 0, {true, false, true}).ok());
    EXPECT_EQ(profile.getString("LOGO", "Logocenter"), "1,3");
    EXPECT_EQ(log.centred(), (std::vector<int>{1, 3}));
    // Flags past the pictures count for nothing; none at all removes the key.
    ASSERT_TRUE(log.write(paths("p", 1), 3, {false, true}).ok());
    EXPECT_EQ(profile.getString("LOGO", "Logocenter", "none"), "none");
    EXPECT_TRUE(log.centred().empty());
    // Whatever another hand wrote: numbers in 1..255 only, each once, in order.
    struct Case {
        const char* text;
        std::vector<int> numbers;
    };
    for (const Case& c : {Case{"3,1,3", {1, 3}}, Case{"+2", {}}, Case{"0,256,x,,7", {7}}, Case{"", {}}}) {
        ASSERT_TRUE(profile.writeString("LOGO", "Logocenter", c.text).ok());
        EXPECT_EQ(log.centred(), c.numbers) << c.text;
    }
}
