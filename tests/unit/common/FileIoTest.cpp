#include "common/FileIo.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> tempsOf(const fs::path& file)
{
    std::vector<std::string> out;
    const std::string prefix = atomicTempPrefix(file);
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(e.path().filename().string());
    return out;
}

mode_t modeOf(const fs::path& file)
{
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(FileIo, ReadKeepsTheCapExactly)
{
    TempDir dir;
    writeFileBytes(dir / "f", std::string(100, 'x'));
    std::string text;
    ASSERT_TRUE(readWholeFile(dir / "f", 100, &text));
    EXPECT_EQ(text, std::string(100, 'x'));
    std::vector<std::uint8_t> bytes{1, 2, 3};
    FileOutcome big = readWholeFile(dir / "f", 99, &bytes);
    EXPECT_EQ(big.fault, FileOutcome::Fault::TooLarge);
    EXPECT_TRUE(bytes.empty());
    writeFileBytes(dir / "empty", "");
    ASSERT_TRUE(readWholeFile(dir / "empty", 0, &text));
    EXPECT_TRUE(text.empty());
}

TEST(FileIo, ReadRefusesWhatIsNoFileWithoutWaiting)
{
    TempDir dir;
    std::string text = "old";
    FileOutcome missing = readWholeFile(dir / "none", 10, &text);
    EXPECT_EQ(missing.fault, FileOutcome::Fault::Missing);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_NE(missing.message.find((dir / "none").string()), std::string::npos);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(readWholeFile(dir.path(), 10, &text).fault, FileOutcome::Fault::NotRegular);
    // A pipe with no writer would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(readWholeFile(dir / "fifo", 10, &text).fault, FileOutcome::Fault::NotRegular);
}

TEST(FileIo, ReadOfAFileLargerThanItsSizeSaysStopsAtTheCap)
{
    // /proc files report size 0 and are longer: the cap must hold on the bytes that arrive.
    std::string text;
    FileOutcome r = readWholeFile("/proc/self/maps", 16, &text);
    if (r.fault == FileOutcome::Fault::Missing)
        GTEST_SKIP() << "no /proc here";
    EXPECT_EQ(r.fault, FileOutcome::Fault::TooLarge);
    EXPECT_TRUE(readWholeFile("/proc/self/maps", 1u << 24, &text));
    EXPECT_NE(text.find('\n'), std::string::npos);
}

TEST(FileIo, WriteReplacesKeepsPermissionsAndLeavesNoTemporaryFile)
{
    TempDir dir;
    auto file = dir / "p.INI";
    const mode_t oldMask = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(file, "one\n"));
    ::umask(oldMask);
    EXPECT_EQ(readFileBytes(file), "one\n");
    EXPECT_EQ(modeOf(file), 0644u);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(writeFileAtomically(file, std::string("two\0bytes", 9)));
    EXPECT_EQ(readFileBytes(file), std::string("two\0bytes", 9));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_TRUE(tempsOf(file).empty());
}

TEST(FileIo, WriteThroughALinkReplacesItsTarget)
{
    TempDir dir;
    fs::create_directory(dir / "real");
    writeFileBytes(dir / "real" / "p.INI", "old");
    fs::create_symlink(dir / "real" / "p.INI", dir / "link.INI");
    ASSERT_TRUE(writeFileAtomically(dir / "link.INI", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.INI"));
    EXPECT_EQ(readFileBytes(dir / "real" / "p.INI"), "new");
}

TEST(FileIo, WriteRemovesOnlyTheTemporaryFilesOfDeadSaves)
{
    TempDir dir;
    auto file = dir / "p.INI";
    // A process that is gone: a child that has been waited for.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string prefix = atomicTempPrefix(file);
    const std::string dead = prefix + std::to_string(child) + "-1abcdef";
    const std::string live = prefix + std::to_string(getpid()) + "-2abcdef";
    const std::string other = ".p.INI.keep";
    writeFileBytes(dir / dead, "half");
    writeFileBytes(dir / live, "in progress");
    writeFileBytes(dir / other, "not ours");
    ASSERT_TRUE(writeFileAtomically(file, "x"));
    EXPECT_FALSE(fs::exists(dir / dead));
    EXPECT_TRUE(fs::exists(dir / live)) << "a save still running must keep its file";
    EXPECT_TRUE(fs::exists(dir / other));
}

TEST(FileIo, FailedWriteLeavesTheFileAndNoTemporaryFile)
{
    TempDir dir;
    FileOutcome r = writeFileAtomically(dir / "none" / "p.INI", "x");
    EXPECT_EQ(r.fault, FileOutcome::Fault::Missing);
    EXPECT_NE(r.message.find("p.INI"), std::string::npos);
    fs::create_directory(dir / "folder.INI");
    EXPECT_EQ(writeFileAtomically(dir / "folder.INI", "x").fault, FileOutcome::Fault::NotRegular);

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder; the permission case cannot be shown";
    writeFileBytes(dir / "p.INI", "old");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    r = writeFileAtomically(dir / "p.INI", "new");
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(r.fault, FileOutcome::Fault::Io);
    EXPECT_EQ(r.error, EACCES);
    EXPECT_EQ(readFileBytes(dir / "p.INI"), "old");
    EXPECT_TRUE(tempsOf(dir / "p.INI").empty());
}
