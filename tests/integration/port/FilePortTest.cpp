// "FILE", plain output files and the names CPorts refuses.
#include "PortTestSupport.h"

#include <unistd.h>

using namespace porttest;

namespace {

// Runs the test body inside a folder of its own: "temp.prn" goes to the current directory.
struct CurrentDir {
    explicit CurrentDir(const std::filesystem::path& to) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(to);
    }
    ~CurrentDir() { std::filesystem::current_path(m_old); }
    std::filesystem::path m_old;
};

} // namespace

using FilePortTest = PortFixture;

TEST_F(FilePortTest, PrintToFileWithoutANameWritesTempPrn)
{
    CurrentDir cd(dir.path());
    writeFileBytes(dir / "temp.prn", "old contents that must go");
    ports->m_PortName = "FILE";
    prompter.setOutputFileName(std::nullopt);
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_EQ(prompter.fileNameQuestions(), 1);
    EXPECT_EQ(ports->m_PortName, "temp.prn");
    Bytes out = {0x1B, 0x40, 0x00, 0xFF, 0x0A};
    EXPECT_EQ(ports->Write(out.data(), 5), 5);
    EXPECT_EQ(ports->Close(), 1);
    EXPECT_EQ(readFileBytes(dir / "temp.prn"), std::string("\x1B\x40\x00\xFF\x0A", 5));
}

TEST_F(FilePortTest, PrintToFileUsesTheGivenNameAndReopensIt)
{
    std::string name = (dir / "out.bin").string();
    ports->m_PortName = "FILE";
    prompter.setOutputFileName(name);
    ASSERT_EQ(ports->Open(), 1);
    EXPECT_EQ(ports->m_PortName, name);
    Bytes a = {1, 2, 3};
    EXPECT_EQ(ports->Write(a.data(), 3), 3);
    ports->Close();
    // The next tool's Open of the file name it left behind writes the file again.
    ASSERT_EQ(ports->Open(), 1);
    Bytes b = {9};
    EXPECT_EQ(ports->Write(b.data(), 1), 1);
    ports->Close();
    EXPECT_EQ(readFileBytes(name), std::string("\x09", 1));
}

TEST_F(FilePortTest, UnwritableFileFails)
{
    ports->m_PortName = "FILE";
    prompter.setOutputFileName((dir / "no-such-folder" / "x.prn").string());
    EXPECT_EQ(ports->Open(), 0);
    EXPECT_EQ(ports->m_IsOpen, 0);
}

TEST_F(FilePortTest, NetworkNamesAreRefusedAndLogged)
{
    for (const char* name : {"ETHERNET_II", "WIFI"}) {
        ports->m_PortName = name;
        EXPECT_EQ(ports->Open(), 0) << name;
        EXPECT_EQ(ports->m_hPort, -1);
    }
    EXPECT_NE(logText().find("] CPorts::Open() Invalid Handle\r\n\r\n"), std::string::npos);
    std::uint8_t b = 0;
    EXPECT_EQ(ports->Write(&b, 1), 0);
    EXPECT_EQ(ports->Close(), 0);
}
