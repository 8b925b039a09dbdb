// tavroctl doctor and tavroctl completion as a technician runs them: a fake machine (sysfs,
// /dev, /proc, udev rule folders) through the environment, a real account to check for.
#include "FakeSysfs.h"
#include "TavroctlRun.h"
#include "TempDir.h"
#include "common/PtyPair.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct DoctorCli : ::testing::Test {
    TempDir dir;
    FakeSysfs fake{dir.path()};
    PtyPair pty;
    std::string node;

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "changing the pty's mode needs root";
        if (!::getpwnam("nobody"))
            GTEST_SKIP() << "no account 'nobody' to check for";
        ASSERT_TRUE(pty.valid()) << pty.error();
        node = fake.addUsbPrinter("lp0", 0x5A3E, 0x3302, 0x0100, pty.slavePath());
        fs::create_directories(dir / "proc");
        fs::create_directories(dir / "work");
        ASSERT_EQ(::chown(pty.slavePath().c_str(), 0, 0), 0);
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    }

    CliRun doctor(const std::string& args)
    {
        std::string env = "TAVRO_SYSFS_ROOT=" + shellQuote(fake.sysfsRoot().string()) +
                          " TAVRO_DEV_ROOT=" + shellQuote(fake.devRoot().string()) + " TAVRO_EXTRA_PORTS=" +
                          " TAVRO_PROC_ROOT=" + shellQuote((dir / "proc").string()) +
                          " TAVRO_RUN_ROOT=" + shellQuote((dir / "run").string()) +
                          " TAVRO_UDEV_RULES_PATH=" + shellQuote((dir / "rules.d").string()) +
                          " HOME=" + shellQuote((dir / "home").string()) + " XDG_CONFIG_HOME= XDG_STATE_HOME=";
        return runTavroctl(dir / "work", env, "doctor " + args);
    }
};

TEST_F(DoctorCli, APrinterTheUserCannotOpenBlocksWithAFix)
{
    CliRun run = doctor("--user nobody");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "error: " + node + ": nobody may not read and write it")) << run.out;
    EXPECT_TRUE(contains(run.out, "-- fix: install the udev rule")) << run.out;
    EXPECT_TRUE(contains(run.out, "warning: udev: no udev rule")) << run.out;
    EXPECT_TRUE(contains(run.out, "Something above stops printing")) << run.out;

    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    run = doctor("--user nobody");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "ok: " + node + ": nobody can open it")) << run.out;
    EXPECT_TRUE(contains(run.out, "Nothing found that stops printing.")) << run.out;
}

TEST_F(DoctorCli, JsonNamesTheProfileAndErrorLogInUse)
{
    CliRun run = doctor("--json --user nobody");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.out, "{\"user\":\"nobody\",\"blocking\":true,\"findings\":[")) << run.out;
    EXPECT_TRUE(contains(run.out, "{\"severity\":\"error\",\"subject\":\"" + node + "\",\"check\":\"access\""))
        << run.out;
    EXPECT_TRUE(contains(run.out, (dir / "home" / ".config" / "tavroset" / "tavroset.INI").string())) << run.out;
    EXPECT_TRUE(contains(run.out, (dir / "home" / ".local" / "state" / "tavroset" / "error.log").string())) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one JSON document on one line";

    // A profile in the start-up directory takes over, and the log goes beside it.
    writeFileBytes(dir / "work" / "tavroset.INI", "[DEVICELIST]\n");
    run = doctor("--json --user nobody");
    EXPECT_TRUE(contains(run.out, (dir / "work" / "tavroset.INI").string() + " (exists)")) << run.out;
    EXPECT_TRUE(contains(run.out, (dir / "work" / "error.log").string())) << run.out;
}

TEST_F(DoctorCli, PortOptionAndUnknownUser)
{
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    CliRun run = doctor("--user nobody");
    EXPECT_EQ(run.status, 0) << run.out;
    // The named port is missing: that blocks even though the printer is fine.
    run = runTavroctl(dir / "work", "", "--port " + shellQuote((dir / "no-such-tty").string()) +
                                            " doctor --user nobody");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(contains(run.out, "does not exist")) << run.out;

    run = doctor("--user no-such-user-here");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "no user no-such-user-here")) << run.err;
}

// Completes `words` (the last one being typed) with the generated script, as bash would.
std::string complete(const fs::path& script, const std::string& words)
{
    TempDir dir;
    std::string cmd = "bash -c 'source \"$1\"; COMP_WORDS=(" + words +
                      "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tavroctl; echo \"${COMPREPLY[*]}\"' _ " +
                      shellQuote(script.string());
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buffer[512];
    size_t n;
    while (p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    if (p)
        ::pclose(p);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

TEST(Completion, GeneratedScriptKnowsTheCommandsAndTheirOptions)
{
    TempDir dir;
    CliRun run = runTavroctl(dir.path(), "", "completion bash");
    ASSERT_EQ(run.status, 0) << run.err;
    writeFileBytes(dir / "tavroctl.bash", run.out);
    EXPECT_EQ(std::system(("bash -n " + shellQuote((dir / "tavroctl.bash").string())).c_str()), 0);

    EXPECT_EQ(complete(dir / "tavroctl.bash", "tavroctl do"), "doctor");
    EXPECT_EQ(complete(dir / "tavroctl.bash", "tavroctl setup g"), "get");
    EXPECT_EQ(complete(dir / "tavroctl.bash", "tavroctl doctor --us"), "--user");
    // Options of the top level are valid below it; their values are skipped when finding
    // the command.
    EXPECT_EQ(complete(dir / "tavroctl.bash", "tavroctl --profile setup s"), "send setup");
    EXPECT_EQ(complete(dir / "tavroctl.bash", "tavroctl --device X setup --ye"), "--yes");
    // The hidden command stays out of the list.
    EXPECT_FALSE(contains(complete(dir / "tavroctl.bash", "tavroctl c"), "completion"));
}

} // namespace
