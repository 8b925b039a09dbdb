// Many printers without a printer: the printer list's checks, --limit, one printer's settings
// over the state file's, the runner's canary, failure budget, ceiling and stop, and the
// journal seen after its process was killed.
#include "TempDir.h"

#include "state/FleetRunner.h"
#include "state/Inventory.h"
#include "state/RunJournal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct BadList {
    const char* name;
    const char* text;
    const char* expected; // in the failure, with file, line and key
};

class InventoryRefused : public testing::TestWithParam<BadList> {};

} // namespace

TEST_P(InventoryRefused, NamesTheLineAndTheKey)
{
    auto parsed = parseInventoryText(GetParam().text, "fleet.yaml");
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.message().find(GetParam().expected), std::string::npos) << parsed.message();
}

INSTANTIATE_TEST_SUITE_P(
    Lists, InventoryRefused,
    testing::Values(
        BadList{"unknown_top", "printers: [{name: a, port: usb}]\nextra: 1\n", "fleet.yaml:2: extra: unknown key"},
        BadList{"unknown_printer_key", "printers:\n  - name: a\n    colour: red\n", "fleet.yaml:3: printers[1].colour: unknown key"},
        BadList{"twice", "printers:\n  - {name: a, port: usb}\n  - {name: a, port: /dev/ttyS0}\n",
                "fleet.yaml:3: printers[2].name: \"a\" is given twice"},
        BadList{"no_name", "printers:\n  - {port: usb}\n", "fleet.yaml:2: printers[1].name"},
        BadList{"bad_port", "printers:\n  - name: a\n    port: \"tcp:/x y\"\n", "fleet.yaml:3: printers[a].port"},
        BadList{"bad_device", "printers:\n  - {name: a, device: TOASTER 9}\n", "fleet.yaml:2: printers[a].device"},
        BadList{"bad_baud", "printers:\n  - name: a\n    baud: 1234\n", "fleet.yaml:3: printers[a].baud"},
        BadList{"unknown_setting", "printers:\n  - name: a\n    settings:\n      speeed: 150\n",
                "fleet.yaml:4: printers[a].settings.speeed: unknown setting"},
        BadList{"tags_not_list", "printers:\n  - {name: a, tags: kitchen}\n", "fleet.yaml:2: printers[a].tags"},
        BadList{"empty", "printers: []\n", "fleet.yaml:1: printers"},
        BadList{"syntax", "printers:\n  - {name: a\n", "fleet.yaml:"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Inventory, PortFormsLimitsAndOwnSettings)
{
    struct Form {
        const char* port;
        std::optional<InventoryPortForm> form;
    };
    for (const Form& f : {Form{"usb", InventoryPortForm::Usb}, Form{"USB", InventoryPortForm::Usb},
                          Form{"/dev/usb/lp1", InventoryPortForm::Device}, Form{"/dev/ttyS0", InventoryPortForm::Device},
                          Form{"COM2", InventoryPortForm::Device}, Form{"tcp://198.51.100.31:6001", InventoryPortForm::Tcp},
                          Form{"A1B2C3D4", InventoryPortForm::UsbSerialNumber}, Form{"tcp://", std::nullopt},
                          Form{"out put.prn", std::nullopt}})
        EXPECT_EQ(inventoryPortForm(f.port), f.form) << f.port;

    auto list = parseInventoryText("printers:\n"
                                   "  - {name: till-1, port: usb, tags: [kitchen], settings: {speed: 180}}\n"
                                   "  - {name: till-2, port: /dev/ttyS0, baud: 9600, tags: [kitchen, bar]}\n"
                                   "  - {name: bar-1, port: 'tcp://198.51.100.31:6001', tags: [bar]}\n",
                                   "fleet.yaml");
    ASSERT_TRUE(list) << list.message();
    ASSERT_EQ(list->printers.size(), 3u);
    EXPECT_EQ(list->printers[1].baud->value, "9600");
    EXPECT_EQ(list->printers[0].settings.at(0).second.line, 2);

    auto names = [&](const std::vector<std::string>& limits) {
        std::vector<std::string> out;
        auto chosen = selectPrinters(list->printers, limits);
        if (!chosen)
            return std::vector<std::string>{chosen.message()};
        for (const auto& p : *chosen)
            out.push_back(p.name);
        return out;
    };
    EXPECT_EQ(names({}), (std::vector<std::string>{"till-1", "till-2", "bar-1"}));
    EXPECT_EQ(names({"kitchen"}), (std::vector<std::string>{"till-1", "till-2"}));
    EXPECT_EQ(names({"bar-1,till-1"}), (std::vector<std::string>{"till-1", "bar-1"}));
    EXPECT_EQ(names({"bar", "till-1"}), (std::vector<std::string>{"till-1", "till-2", "bar-1"}));
    EXPECT_EQ(names({"cellar"}), (std::vector<std::string>{"--limit cellar: no printer has this name or tag"}));

    // The printer's own speed replaces the file's, the file's other settings stay, in order;
    // a value the model does not offer is refused with the list's line.
    auto state = parseStateText("tavro: 1\nsettings:\n  speed: 150\n  cut_mode: partial\n", "shop.yaml", ".",
                                ModelFamily::Tavro46);
    ASSERT_TRUE(state) << state.message();
    auto mine = stateForPrinter(*state, list->printers[0], ModelFamily::Tavro46, "fleet.yaml");
    ASSERT_TRUE(mine) << mine.message();
    EXPECT_EQ(mine->settings->values, (SnapshotLines{{"speed", "180"}, {"cut_mode", "partial"}}));
    auto other = stateForPrinter(*state, list->printers[1], ModelFamily::Tavro46, "fleet.yaml");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->settings->values, state->settings->values);
    InventoryPrinter fast = list->printers[0];
    fast.settings[0].second.value = "999";
    auto refused = stateForPrinter(*state, fast, ModelFamily::Tavro46, "fleet.yaml");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.message().rfind("fleet.yaml:2: printers[till-1].settings.speed: ", 0), 0u) << refused.message();
}

namespace {

// A job that waits until its token is cancelled (bounded: a fault in the runner fails the
// test instead of hanging it).
FleetOutcome waitForCancel(const CancelToken& token)
{
    pollfd p{token.fd(), POLLIN, 0};
    for (int i = 0; i < 300 && !token.cancelled(); ++i)
        ::poll(&p, 1, 100);
    return {token.cancelled() ? FleetOutcome::Status::Failed : FleetOutcome::Status::Changed, "stopped", 0};
}

FleetOutcome result(FleetOutcome::Status s)
{
    return {s, s == FleetOutcome::Status::Failed ? "refused" : "", 0};
}

struct RunnerCase {
    const char* name;
    FleetLimits limits;
    std::vector<FleetOutcome::Status> results; // what each job returns
    std::vector<FleetOutcome::Status> expected;
};

class RunnerTable : public testing::TestWithParam<RunnerCase> {};

} // namespace

// The canary and the failure budget decide which jobs start; the ceiling is never passed.
TEST_P(RunnerTable, StartsWhatTheLimitsAllow)
{
    const RunnerCase& c = GetParam();
    std::atomic<int> running{0}, most{0};
    std::vector<FleetRunner::Job> jobs;
    for (auto status : c.results)
        jobs.push_back([&, status](const CancelToken&) {
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::yield();
            --running;
            return result(status);
        });
    CancelToken stop;
    FleetRunner runner(c.limits, stop);
    std::vector<std::size_t> finished;
    const auto outcomes = runner.run(jobs, {}, [&](std::size_t i, const FleetOutcome&) { finished.push_back(i); });
    std::vector<FleetOutcome::Status> statuses;
    for (const auto& o : outcomes)
        statuses.push_back(o.status);
    EXPECT_EQ(statuses, c.expected);
    EXPECT_LE(most.load(), c.limits.parallel);
    EXPECT_EQ(finished.size(), jobs.size()) << "every job, started or not, is reported once";
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i].status == FleetOutcome::Status::NotStarted) {
            EXPECT_NE(outcomes[i].error.find("not started"), std::string::npos) << outcomes[i].error;
        }
    }
}

using S = FleetOutcome::Status;
INSTANTIATE_TEST_SUITE_P(
    Limits, RunnerTable,
    testing::Values(
        RunnerCase{"all", {2, 0, -1}, {S::Changed, S::Failed, S::Unchanged, S::Changed},
                   {S::Changed, S::Failed, S::Unchanged, S::Changed}},
        RunnerCase{"canary_fails", {4, 1, -1}, {S::Failed, S::Changed, S::Changed}, {S::Failed, S::NotStarted, S::NotStarted}},
        RunnerCase{"canaries_pass", {4, 2, -1}, {S::Changed, S::Unchanged, S::Failed, S::Changed},
                   {S::Changed, S::Unchanged, S::Failed, S::Changed}},
        RunnerCase{"budget_spent", {1, 0, 2}, {S::Failed, S::Changed, S::Partial, S::Changed, S::Changed},
                   {S::Failed, S::Changed, S::Partial, S::NotStarted, S::NotStarted}},
        RunnerCase{"one_at_a_time", {1, 0, -1}, {S::Changed, S::Changed, S::Changed}, {S::Changed, S::Changed, S::Changed}}),
    [](const auto& info) { return std::string(info.param.name); });

// The stop (Ctrl-C) cancels the running jobs' tokens, starts nothing more, and the jobs that
// ended because of it are told apart from failures.
TEST(FleetRunner, StopCancelsTheRunningAndStartsNoMore)
{
    CancelToken stop;
    std::atomic<int> started{0};
    std::vector<FleetRunner::Job> jobs(5, [&](const CancelToken& token) {
        ++started;
        return waitForCancel(token);
    });
    std::thread stopper([&] {
        for (int i = 0; i < 3000 && started.load() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.cancel();
    });
    FleetRunner runner({2, 0, -1}, stop);
    const auto outcomes = runner.run(jobs, {}, {});
    stopper.join();
    EXPECT_EQ(started.load(), 2);
    std::vector<S> statuses;
    for (const auto& o : outcomes)
        statuses.push_back(o.status);
    EXPECT_EQ(statuses, (std::vector<S>{S::Cancelled, S::Cancelled, S::NotStarted, S::NotStarted, S::NotStarted}));
    EXPECT_EQ(outcomes[0].error, "stopped");
    EXPECT_EQ(outcomes[4].error, "not started: interrupted");
}

// A run whose process died mid-step: the journal keeps what it had, and shows the run, the
// printer and the step as interrupted; the printer that finished keeps its status.
TEST(RunJournal, AKilledRunReadsAsInterrupted)
{
    TempDir dir;
    const auto db = dir / "record.sqlite";
    const pid_t child = ::fork();
    if (child == 0) {
        auto journal = RunJournal::open(db);
        if (!journal)
            ::_exit(2);
        auto run = (*journal)->beginRun("/shop.yaml", "ab12", "{}", 0,
                                        {{"a", "tcp:a", "tcp://a", "waiting", {}, "[]", 0},
                                         {"b", "tcp:b", "tcp://b", "waiting", {}, "[]", 0}});
        if (!run)
            ::_exit(3);
        (void)(*journal)->printerStarted(*run, "a");
        (void)(*journal)->printerStarted(*run, "b");
        (void)(*journal)->stepStarted(*run, "a", "settings.speed");
        (void)(*journal)->stepEnded(*run, "a", "settings.speed", "done");
        (void)(*journal)->printerFinished(*run, {"a", "tcp:a", "tcp://a", "changed", {}, "[]", 1.5});
        (void)(*journal)->stepStarted(*run, "b", "firmware.program");
        ::_exit(0); // as a kill -9 would: nothing closed, nothing finished
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    auto journal = RunJournal::open(db);
    ASSERT_TRUE(journal) << journal.message();
    const auto run = (*journal)->run(1);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->status, "interrupted");
    EXPECT_EQ(run->stateDigest, "ab12");
    const auto printers = (*journal)->printers(1);
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].status, "changed");
    EXPECT_EQ(printers[0].seconds, 1.5);
    EXPECT_EQ(printers[1].status, "interrupted");
    const auto steps = (*journal)->steps(1);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].result, "done");
    EXPECT_EQ(steps[1].step, "firmware.program");
    EXPECT_EQ(steps[1].result, "interrupted");
    EXPECT_FALSE((*journal)->run(2));
}
