// Where the profile and the error log go: the start-up directory when a profile is there,
// else the XDG places, with the XDG rules for unset, empty and relative variables.
#include "app/AppPaths.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

XdgDirs dirsIn(const fs::path& base)
{
    XdgDirs d;
    d.home = (base / "home").string();
    d.configHome = (base / "cfg").string();
    d.stateHome = (base / "state").string();
    return d;
}

TEST(AppPaths, ProfileInStartDirWinsOverXdgAndKeepsTheLogBesideIt)
{
    TempDir dir;
    fs::create_directories(dir / "start");
    writeFileBytes(dir / "start" / "tavroset.INI", "[DEVICELIST]\n");
    AppPaths p = resolveAppPaths(dir / "start", dirsIn(dir.path()));
    EXPECT_TRUE(p.inStartDir);
    EXPECT_EQ(p.profile, dir / "start" / "tavroset.INI");
    EXPECT_EQ(p.errorLog, dir / "start" / "error.log");
}

TEST(AppPaths, NoStartDirProfileUsesXdgConfigAndState)
{
    TempDir dir;
    fs::create_directories(dir / "start");
    // An error.log alone in the start-up directory does not pull the files back there.
    writeFileBytes(dir / "start" / "error.log", "old");
    AppPaths p = resolveAppPaths(dir / "start", dirsIn(dir.path()));
    EXPECT_FALSE(p.inStartDir);
    EXPECT_EQ(p.profile, dir / "cfg" / "tavroset" / "tavroset.INI");
    EXPECT_EQ(p.errorLog, dir / "state" / "tavroset" / "error.log");
}

TEST(AppPaths, UnsetEmptyOrRelativeXdgFallsBackUnderHome)
{
    TempDir dir;
    for (const char* bad : {"", "relative/cfg", "./x"}) {
        XdgDirs d = dirsIn(dir.path());
        d.configHome = bad;
        d.stateHome = bad;
        AppPaths p = resolveAppPaths(dir / "start", d);
        EXPECT_EQ(p.profile, dir / "home" / ".config" / "tavroset" / "tavroset.INI") << "XDG value '" << bad << "'";
        EXPECT_EQ(p.errorLog, dir / "home" / ".local" / "state" / "tavroset" / "error.log") << bad;
    }
}

TEST(AppPaths, NoHomeAndNoXdgStaysInTheStartDir)
{
    TempDir dir;
    XdgDirs d;
    AppPaths p = resolveAppPaths(dir / "start", d);
    EXPECT_TRUE(p.inStartDir);
    EXPECT_EQ(p.profile, dir / "start" / "tavroset.INI");
    // A relative home is no home either.
    d.home = "home";
    EXPECT_TRUE(resolveAppPaths(dir / "start", d).inStartDir);
    // But absolute XDG variables alone are enough.
    d.configHome = (dir / "cfg").string();
    d.stateHome = (dir / "state").string();
    EXPECT_FALSE(resolveAppPaths(dir / "start", d).inStartDir);
}

TEST(AppPaths, PrepareCreatesPrivateFoldersAndReportsAFileInTheWay)
{
    TempDir dir;
    AppPaths p = resolveAppPaths(dir / "start", dirsIn(dir.path()));
    ASSERT_TRUE(prepareAppPaths(p).ok());
    struct stat st {};
    ASSERT_EQ(::stat((dir / "cfg" / "tavroset").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((dir / "state" / "tavroset").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Again: nothing to do, still fine.
    EXPECT_TRUE(prepareAppPaths(p).ok());

    XdgDirs blocked = dirsIn(dir.path());
    writeFileBytes(dir / "blocker", "x");
    blocked.stateHome = (dir / "blocker").string();
    Status s = prepareAppPaths(resolveAppPaths(dir / "start", blocked));
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("blocker"), std::string::npos) << s.message();
}

} // namespace
