#include "app/Profile.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Profile, ReadsCaseInsensitivelyAndKeysInFileOrder)
{
    TempDir dir;
    writeFileBytes(dir / "tavroset.INI", "[DeviceList]\nzeta=TAVRO36/38 S\nAlpha=TAVRO15 S\nmid=\n");
    Profile profile(dir / "tavroset.INI");
    EXPECT_EQ(profile.getString("DEVICELIST", "ALPHA"), "TAVRO15 S");
    EXPECT_EQ(profile.getString("devicelist", "Zeta"), "TAVRO36/38 S");
    EXPECT_EQ(profile.getString("DEVICELIST", "none", "dflt"), "dflt");
    EXPECT_EQ(profile.keys("DEVICELIST"), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    EXPECT_TRUE(profile.keys("LOGO").empty());
}

TEST(Profile, WriteKeepsCommentsAndOtherSections)
{
    TempDir dir;
    auto file = dir / "tavroset.INI";
    writeFileBytes(file, "; shop profile\n[DEVICELIST]\n; the counter printer\nd1=TAVRO36/38 S\n\n[LOGO]\n1=a.bmp\n");
    Profile profile(file);
    ASSERT_TRUE(profile.writeString("logo", "2", "b.bmp"));
    ASSERT_TRUE(profile.writeString("USER", "margin", "576"));
    std::string text = readFileBytes(file);
    EXPECT_NE(text.find("; shop profile"), std::string::npos);
    EXPECT_NE(text.find("; the counter printer"), std::string::npos);
    EXPECT_LT(text.find("[DEVICELIST]"), text.find("[LOGO]"));
    EXPECT_EQ(profile.getString("DEVICELIST", "d1"), "TAVRO36/38 S");
    EXPECT_EQ(profile.keys("LOGO"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(profile.getString("user", "MARGIN"), "576");
}

TEST(Profile, DeleteKeyAndSection)
{
    TempDir dir;
    Profile profile(dir / "p.INI");
    ASSERT_TRUE(profile.writeString("LOGO", "1", "a.bmp"));
    ASSERT_TRUE(profile.writeString("LOGO", "3", "c.bmp"));
    ASSERT_TRUE(profile.deleteKey("LOGO", "1"));
    ASSERT_TRUE(profile.deleteKey("LOGO", "missing"));
    EXPECT_EQ(profile.keys("LOGO"), (std::vector<std::string>{"3"}));
    ASSERT_TRUE(profile.deleteSection("LOGO"));
    EXPECT_TRUE(profile.keys("LOGO").empty());
}

TEST(Profile, MalformedFileReadsEmptyAndIsNeverOverwritten)
{
    TempDir dir;
    auto file = dir / "p.INI";
    std::string binary("[LOGO]\n1=a\0\x01\x02garbage", 20);
    writeFileBytes(file, binary);
    Profile profile(file);
    EXPECT_EQ(profile.getString("LOGO", "1", "none"), "none");
    EXPECT_FALSE(profile.writeString("LOGO", "2", "b.bmp"));
    EXPECT_EQ(readFileBytes(file), binary);
}

TEST(Profile, RefusesValuesThatWouldBreakTheFile)
{
    TempDir dir;
    Profile profile(dir / "p.INI");
    EXPECT_FALSE(profile.writeString("LOGO", "1", "a\nb"));
    EXPECT_FALSE(profile.writeString("LOGO", "", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "p.INI"));
}

TEST(Profile, KilledSaveLeavesTheOldFileWhole)
{
    TempDir dir;
    auto file = dir / "p.INI";
    Profile profile(file);
    ASSERT_TRUE(profile.writeString("LOGO", "1", std::string(200, 'a')));
    std::string before = readFileBytes(file);

    // A child writes a large profile in a loop and is killed in the middle of it; whatever
    // moment the kill meets, the file is the old one or a new one, never a torn one.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Profile p(file);
        for (int i = 0;; ++i)
            (void)p.writeString("LOGO", std::to_string(i % 50 + 2), std::string(20000, 'b'));
    }
    usleep(50 * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    std::string after = readFileBytes(file);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(profile.getString("LOGO", "1"), std::string(200, 'a'));
    EXPECT_EQ(after.back(), '\n');
    for (auto& [key, value] : profile.entries("LOGO"))
        EXPECT_TRUE(value == std::string(200, 'a') || value == std::string(20000, 'b')) << key;
    (void)before;
}
