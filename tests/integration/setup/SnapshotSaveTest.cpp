// `tavroctl setup get --save` into snapshot files a technician keeps by hand.
#include "SimProcess.h"
#include "TavroctlRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class SnapshotSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(SimProcess::defaultBinary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "tavro-sim is not built (" << SimProcess::defaultBinary() << ")";
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--family", "6", "--serial", "--quiet"});
        ASSERT_TRUE(sim->ok()) << sim->error();
    }

    CliRun getSave(const std::string& file)
    {
        return runTavroctl(tmp.path(), "",
                           "--device 'TAVRO46/48 S' --port " + shellQuote(sim->serialPort()) +
                               " setup get --save " + shellQuote(file));
    }

    TempDir tmp;
    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(SnapshotSave, ReplacesTheOldSnapshotAndKeepsEveryOtherLine)
{
    const auto file = tmp / "shop.ini";
    const std::string mine = "; counter 2, saved by hand\r\n[notes]\r\nwho=Kim\r\nno equals sign here\r\n\r\n";
    writeFileBytes(file, mine + "[SETUP]\r\n; from the old printer\r\nspeed=200\r\nretired_key=1\r\n");

    CliRun first = getSave(file.string());
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string saved = readFileBytes(file);
    EXPECT_EQ(saved.rfind(mine + "[SETUP]\r\n; from the old printer\r\nspeed=", 0), 0u) << saved;
    EXPECT_EQ(saved.find("retired_key"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\npaper_width=80\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("\r\n\n"), std::string::npos) << "mixed line endings";

    // The same printer saved again: not one byte changes, the file does not grow.
    CliRun second = getSave(file.string());
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(readFileBytes(file), saved);
}

TEST_F(SnapshotSave, AFileItCannotEditSafelyIsLeftAsItIs)
{
    const auto file = tmp / "broken.ini";
    const std::string broken = "[a\nb=c\n";
    writeFileBytes(file, broken);
    for (int run = 0; run < 2; ++run) {
        CliRun get = getSave(file.string());
        EXPECT_NE(get.status, 0);
        EXPECT_NE(get.err.find("cannot be edited safely"), std::string::npos) << get.err;
        EXPECT_NE(get.err.find("line 1"), std::string::npos) << get.err;
        EXPECT_NE(get.out.find("paper_width = 80"), std::string::npos) << "the values are still shown";
    }
    EXPECT_EQ(readFileBytes(file), broken);
}
