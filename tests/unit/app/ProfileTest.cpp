#include "app/Profile.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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

// A profile as a Windows editor and other tools leave it: CRLF endings, a byte order mark,
// comments of both kinds, a line without '=', an empty key, a repeated key, a repeated
// section, odd spacing and no line break at the end.
const std::string kWindowsFile = "\xEF\xBB\xBF; shop profile\r\n"
                                 "[DEVICELIST]\r\n"
                                 "d1 = TAVRO36/38 S \r\n"
                                 "just some words\r\n"
                                 "=orphan value\r\n"
                                 "# note\r\n"
                                 "d1=shadowed\r\n"
                                 "\r\n"
                                 "[LOGO]\r\n"
                                 "Logofile1=C:\\logos\\a.bmp\r\n"
                                 "\r\n"
                                 "[devicelist]\r\n"
                                 "d2=TAVRO15 S";

TEST(Profile, AWriteChangesOnlyTheLinesOfItsKey)
{
    TempDir dir;
    auto file = dir / "tavroset.INI";
    writeFileBytes(file, kWindowsFile);
    Profile profile(file);
    EXPECT_EQ(profile.getString("DEVICELIST", "d1"), "TAVRO36/38 S");
    EXPECT_EQ(profile.keys("DEVICELIST"), (std::vector<std::string>{"d1", "d2"}));
    EXPECT_EQ(profile.getString("DeviceList", "D2"), "TAVRO15 S");

    ASSERT_TRUE(profile.writeString("DEVICELIST", "D1", "TAVRO46/48 U"));
    std::string expected = kWindowsFile;
    expected.replace(expected.find("TAVRO36/38 S "), 13, "TAVRO46/48 U");
    EXPECT_EQ(readFileBytes(file), expected);

    // A new key goes after the last key of the section's first occurrence, with the file's
    // own line ending.
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile2", "C:\\logos\\b.bmp"));
    expected.insert(expected.find("\r\n\r\n[devicelist]") + 2, "Logofile2=C:\\logos\\b.bmp\r\n");
    EXPECT_EQ(readFileBytes(file), expected);

    // A new section ends the file; the unterminated last line gets its line break.
    ASSERT_TRUE(profile.writeString("USER", "margin", "576"));
    expected += "\r\n\r\n[USER]\r\nmargin=576\r\n";
    EXPECT_EQ(readFileBytes(file), expected);
}

TEST(Profile, SavingWhatIsThereLeavesTheFileUntouched)
{
    TempDir dir;
    auto file = dir / "tavroset.INI";
    writeFileBytes(file, kWindowsFile);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    Profile profile(file);
    ASSERT_TRUE(profile.writeString("devicelist", "d1", "TAVRO36/38 S"));
    ASSERT_TRUE(profile.writeString("LOGO", "Logofile1", "C:\\logos\\a.bmp"));
    ASSERT_TRUE(profile.deleteKey("LOGO", "Logofile9"));
    ASSERT_TRUE(profile.deleteSection("FWDN20"));
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(readFileBytes(file), kWindowsFile);
}

TEST(Profile, DeletingARepeatedKeyLeavesNoOlderValueBehind)
{
    TempDir dir;
    auto file = dir / "p.INI";
    writeFileBytes(file, kWindowsFile);
    Profile profile(file);
    ASSERT_TRUE(profile.deleteKey("DEVICELIST", "d1"));
    EXPECT_EQ(profile.getString("DEVICELIST", "d1", "gone"), "gone");
    std::string text = readFileBytes(file);
    EXPECT_EQ(text.find("d1"), std::string::npos);
    EXPECT_NE(text.find("just some words\r\n=orphan value\r\n# note\r\n"), std::string::npos);

    // Every occurrence of a repeated section goes; comments and blank lines at the end of
    // one stay, as they may describe the next section.
    ASSERT_TRUE(profile.deleteSection("DEVICELIST"));
    EXPECT_EQ(readFileBytes(file),
              "\xEF\xBB\xBF; shop profile\r\n# note\r\n\r\n[LOGO]\r\nLogofile1=C:\\logos\\a.bmp\r\n\r\n");
}

TEST(Profile, AnUnclosedSectionLineIsRefusedAndNeverRewritten)
{
    TempDir dir;
    auto file = dir / "p.INI";
    const std::string broken = "[USER]\nmargin=1\n[a\nb=c\n";
    writeFileBytes(file, broken);
    Profile profile(file);
    for (int i = 0; i < 3; ++i) {
        Status s = profile.writeString("a", "b", "d");
        ASSERT_FALSE(s);
        EXPECT_NE(s.message().find("line 3 \"[a\""), std::string::npos) << s.message();
        EXPECT_FALSE(profile.writeString("USER", "margin", "2"));
    }
    EXPECT_EQ(readFileBytes(file), broken);
    // Reading still works for what is certain; the keys after the bad line belong nowhere.
    EXPECT_EQ(profile.getString("USER", "margin"), "1");
    EXPECT_EQ(profile.getString("a", "b", "none"), "none");
    EXPECT_TRUE(profile.keys("USER") == std::vector<std::string>{"margin"});
}

TEST(Profile, NamesThatWouldReadBackAsSomethingElseAreRefused)
{
    TempDir dir;
    auto file = dir / "p.INI";
    writeFileBytes(file, "[USER]\nmargin=1\n");
    Profile profile(file);
    for (const char* key : {" lead", "trail ", "[x", ";c", "#c", "a=b"})
        EXPECT_FALSE(profile.writeString("USER", key, "v")) << key;
    for (const char* section : {"a]b", " USER", "US\nER", ""})
        EXPECT_FALSE(profile.writeString(section, "k", "v")) << section;
    EXPECT_FALSE(profile.writeString("USER", "k", "a\rb"));
    EXPECT_EQ(readFileBytes(file), "[USER]\nmargin=1\n");
    // Blanks around a value read back trimmed: writing it again changes nothing more.
    ASSERT_TRUE(profile.writeString("USER", "path", " C:\\a b.bmp "));
    const std::string once = readFileBytes(file);
    ASSERT_TRUE(profile.writeString("USER", "path", " C:\\a b.bmp "));
    EXPECT_EQ(readFileBytes(file), once);
    EXPECT_EQ(profile.getString("USER", "path"), "C:\\a b.bmp");
}

TEST(Profile, AnEditIsSavedWholeOrNotAtAll)
{
    TempDir dir;
    auto file = dir / "snap.ini";
    writeFileBytes(file, "; shop 12\n[setup]\n; old printer\nspeed=150\nstale=1\n\n[other]\nx=y\n");
    Profile profile(file);
    ASSERT_TRUE(profile.apply(Profile::Edit().replaceSection(
        "setup", {{"paper_width", "80"}, {"speed", "180"}, {"margin", "0"}})));
    EXPECT_EQ(readFileBytes(file),
              "; shop 12\n[setup]\n; old printer\nspeed=180\npaper_width=80\nmargin=0\n\n[other]\nx=y\n");

    // One refused name refuses the whole edit.
    const std::string before = readFileBytes(file);
    EXPECT_FALSE(profile.apply(Profile::Edit().set("setup", "speed", "200").set("setup", "bad=key", "1")));
    EXPECT_EQ(readFileBytes(file), before);
}
