// tavro-sim --printers N: every printer on its own loopback address with its own state, MAC
// and faults, in one process.
#include "SimProcess.h"
#include "SimTestIo.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <utility>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace simio;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

struct FleetPrinterInfo {
    int index = 0;
    std::string address, mac, state;
    int port = 0, udpPort = 0;
    std::vector<std::string> faults;
};

// The fleet as a child process: started in a fresh run dir with --json --quiet, its start-up
// lines read up to the READY line, stopped (SIGTERM) at the end.
class Fleet {
public:
    explicit Fleet(std::vector<std::string> args)
    {
        auto given = std::find(args.begin(), args.end(), "--run-dir");
        if (given != args.end() && given + 1 != args.end()) {
            runDir = *(given + 1);
        } else {
            std::string tmpl = (fs::temp_directory_path() / "tavro-fleettest-XXXXXX").string();
            if (!::mkdtemp(tmpl.data())) {
                error = "cannot create a run dir";
                return;
            }
            runDir = tmpl;
            m_ownRunDir = true;
            args.insert(args.begin(), {"--run-dir", runDir.string()});
        }
        args.insert(args.begin(), {SimProcess::defaultBinary(), "--json", "--quiet"});
        spawn(args);
        if (m_pid < 0) {
            error = "cannot start " + args[0];
            return;
        }
        std::string line;
        while (readLine(&line)) {
            if (line.rfind("READY", 0) == 0) {
                ready = line;
                return;
            }
            if (!line.empty() && line[0] == '{') {
                auto j = nlohmann::json::parse(line);
                FleetPrinterInfo info;
                info.index = j.at("index").get<int>();
                info.address = j.at("address").get<std::string>();
                info.mac = j.at("mac").get<std::string>();
                info.state = j.at("state").get<std::string>();
                info.port = j.at("port").get<int>();
                info.udpPort = j.at("udpPort").get<int>();
                info.faults = j.at("faults").get<std::vector<std::string>>();
                printers.push_back(info);
            }
        }
        error = "no READY line; stderr: " + readAll(m_err);
    }
    ~Fleet()
    {
        stop();
        std::error_code ec;
        if (m_ownRunDir)
            fs::remove_all(runDir, ec);
    }
    int stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
        for (int* fd : {&m_out, &m_err})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
        return status;
    }
    // Runs the program to its end (for arguments it refuses): the exit code and stderr.
    static std::pair<int, std::string> refused(std::vector<std::string> args)
    {
        Fleet f;
        args.insert(args.begin(), SimProcess::defaultBinary());
        f.spawn(args);
        std::string err = readAll(f.m_err);
        int status = 0;
        ::waitpid(f.m_pid, &status, 0);
        f.m_pid = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
    }

    fs::path runDir;
    std::string ready, error;
    std::vector<FleetPrinterInfo> printers;
    int status = 0;

private:
    Fleet() = default;
    void spawn(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            error = "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    bool readLine(std::string* line)
    {
        line->clear();
        char c;
        pollfd p{m_out, POLLIN, 0};
        while (::poll(&p, 1, 60000) == 1 && ::read(m_out, &c, 1) == 1) {
            if (c == '\n')
                return true;
            *line += c;
        }
        return false;
    }
    static std::string readAll(int fd)
    {
        std::string out;
        char buf[4096];
        pollfd p{fd, POLLIN, 0};
        ssize_t n;
        while (::poll(&p, 1, 20000) == 1 && (n = ::read(fd, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    bool m_ownRunDir = false;
};

Bytes enterMode() { return hex("1D 28 45 03 00 01 49 4E"); }
Bytes writeMargin(int lo, int hi)
{
    return hex("1D 28 45 04 00 05 FA") + Bytes{static_cast<uint8_t>(lo), static_cast<uint8_t>(hi)};
}

// Reads until `count` replies (each ends in a NUL) came, or a wait passes without a byte.
Bytes readReplies(int fd, int count, milliseconds wait = milliseconds(10000))
{
    Bytes out;
    while (std::count(out.begin(), out.end(), 0) < count) {
        Bytes more = readBytes(fd, 1, wait);
        if (more.empty())
            break;
        out.push_back(more[0]);
    }
    return out;
}

// Asks printer p for setting 250 in user setting mode; what came back.
Bytes askMargin(const FleetPrinterInfo& p, milliseconds wait = milliseconds(10000))
{
    UniqueFd tcp = connectTcp(p.address, p.port);
    if (!tcp || !writeAll(tcp.get(), enterMode() + fn6(250)))
        return {};
    return readReplies(tcp.get(), 2, wait);
}

std::string slurp(const fs::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes searchRequest()
{
    Bytes r(35, 0);
    r[0] = r[1] = 0xAA;
    r[33] = r[34] = 0x55;
    return r;
}

TEST(SimFleet, FourPrintersEachWithItsOwnAddressStateMacAndFaults)
{
    UniqueFd tool = udpSocket("127.0.0.1", 0);
    ASSERT_TRUE(tool);
    const int toolPort = SocketUtil::localPort(tool.get());
    Fleet fleet({"--printers", "4", "--fleet-first", "127.3.1.253", "--tcp-port", "0", "--udp-port", "0",
                 "--udp-reply-port", std::to_string(toolPort), "--fleet-fault", "refuse-setting:k=2",
                 "--fleet-fault", "hangup:k=3", "--fleet-fault", "silent:every=4"});
    ASSERT_TRUE(fleet.error.empty()) << fleet.error;
    ASSERT_EQ(fleet.printers.size(), 4u);
    const auto& p = fleet.printers;
    EXPECT_EQ(fleet.ready, "READY printers=4 first=127.3.1.253:" + std::to_string(p[0].port) + " last=127.3.2.2:" +
                               std::to_string(p[3].port));
    const std::vector<std::string> addresses{"127.3.1.253", "127.3.1.254", "127.3.2.1", "127.3.2.2"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p[i].index, static_cast<int>(i + 1));
        EXPECT_EQ(p[i].address, addresses[i]);
        EXPECT_EQ(p[i].mac, "02:5C:3A:01:00:0" + std::to_string(i + 1));
        EXPECT_EQ(fs::path(p[i].state), fleet.runDir / "printers" / std::to_string(i + 1));
    }
    EXPECT_EQ(p[0].faults, std::vector<std::string>{});
    EXPECT_EQ(p[1].faults, std::vector<std::string>{"refuse-setting"});
    EXPECT_EQ(p[3].faults, std::vector<std::string>{"silent"});
    // Nothing is written for a printer before it has something to keep.
    EXPECT_FALSE(fs::exists(fleet.runDir / "printers" / "1"));

    // A margin written to printer 1 is seen there only; printer 2 refuses it.
    for (int k : {0, 1}) {
        UniqueFd tcp = connectTcp(p[k].address, p[k].port);
        ASSERT_TRUE(tcp);
        ASSERT_TRUE(writeAll(tcp.get(), enterMode() + writeMargin(0x40, 0x02) + fn6(250)));
        EXPECT_EQ(readReplies(tcp.get(), 2), hex("37 20 00") + answer(250, k == 0 ? "264" : "00")) << "printer " << k + 1;
    }
    EXPECT_EQ(askMargin(p[0]), hex("37 20 00") + answer(250, "264"));
    EXPECT_EQ(askMargin(p[1]), hex("37 20 00") + answer(250, "00"));

    // Printer 3 hangs up on the first byte; printer 4 takes everything and answers nothing.
    EXPECT_TRUE(askMargin(p[2]).empty());
    EXPECT_TRUE(askMargin(p[3], milliseconds(300)).empty());

    // The search on each address is answered from that address with that printer's MAC;
    // printer 4 stays silent there too.
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(sendUdp(tool.get(), p[i].address + ":" + std::to_string(p[i].udpPort), searchRequest()));
        sockaddr_in from{};
        Bytes reply = recvUdp(tool.get(), milliseconds(i == 3 ? 300 : 10000), &from);
        if (i == 3) {
            EXPECT_TRUE(reply.empty());
            continue;
        }
        ASSERT_EQ(reply.size(), 35u) << "printer " << i + 1;
        EXPECT_EQ(SocketUtil::toText(from).rfind(p[i].address + ":", 0), 0u) << SocketUtil::toText(from);
        const Bytes ip(reply.begin() + 3, reply.begin() + 7), mac(reply.begin() + 15, reply.begin() + 21);
        EXPECT_EQ(ip, (Bytes{127, 3, static_cast<uint8_t>(i < 2 ? 1 : 2), static_cast<uint8_t>(i < 2 ? 253 + i : i - 1)}));
        EXPECT_EQ(mac, (Bytes{0x02, 0x5C, 0x3A, 0x01, 0x00, static_cast<uint8_t>(i + 1)}));
        EXPECT_EQ((reply[22] << 8) | reply[23], p[i].port);
    }

    // Each printer's own folder: settings only where one was stored, its own event log.
    EXPECT_EQ(fleet.stop(), 0);
    const fs::path printers = fleet.runDir / "printers";
    EXPECT_NE(slurp(printers / "1" / "settings.txt").find("250 40 02"), std::string::npos);
    EXPECT_EQ(slurp(printers / "2" / "settings.txt").find("250 40 02"), std::string::npos);
    for (int k = 1; k <= 4; ++k) {
        const std::string log = slurp(printers / std::to_string(k) / "events.jsonl");
        EXPECT_NE(log.find("\"printer\":" + std::to_string(k) + ",\"via\""), std::string::npos) << k;
        EXPECT_EQ(log.find("\"printer\":" + std::to_string(k % 4 + 1) + ","), std::string::npos) << k;
    }
    EXPECT_NE(slurp(printers / "3" / "events.jsonl").find("\"fault\":\"hang-up\""), std::string::npos);
    EXPECT_NE(slurp(printers / "4" / "events.jsonl").find("\"fault\":\"not answered\""), std::string::npos);
    EXPECT_NE(slurp(printers / "2" / "events.jsonl").find("\"refused\":1"), std::string::npos);
    EXPECT_FALSE(fs::exists(printers / "1" / "receipts"));
}

TEST(SimFleet, KeptStateComesBackInTheSameRunDir)
{
    std::string tmpl = (fs::temp_directory_path() / "tavro-fleetkeep-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(tmpl.data()));
    const std::vector<std::string> args{"--printers", "2", "--fleet-first", "127.3.9.1", "--tcp-port", "0",
                                        "--udp-port", "0", "--run-dir", tmpl};
    {
        Fleet first(args);
        ASSERT_TRUE(first.error.empty()) << first.error;
        UniqueFd tcp = connectTcp(first.printers[1].address, first.printers[1].port);
        ASSERT_TRUE(writeAll(tcp.get(), enterMode() + writeMargin(0x40, 0x02) + fn6(250)));
        ASSERT_EQ(readReplies(tcp.get(), 2), hex("37 20 00") + answer(250, "264"));
    }
    Fleet again(args);
    ASSERT_TRUE(again.error.empty()) << again.error;
    EXPECT_EQ(askMargin(again.printers[1]), hex("37 20 00") + answer(250, "264"));
    EXPECT_EQ(askMargin(again.printers[0]), hex("37 20 00") + answer(250, "00"));
    again.stop();
    std::error_code ec;
    fs::remove_all(tmpl, ec);
}

TEST(SimFleet, ThreeHundredPrintersStartAndEveryOneAnswers)
{
    Fleet fleet({"--printers", "300", "--fleet-first", "127.4.0.1", "--tcp-port", "0", "--udp-port", "0",
                 "--fleet-models", "1,5"});
    ASSERT_TRUE(fleet.error.empty()) << fleet.error;
    ASSERT_EQ(fleet.printers.size(), 300u);
    EXPECT_EQ(fleet.printers.back().address, "127.4.1.46");
    // Every printer holds its connection open while the next are asked: all served at once.
    std::vector<UniqueFd> open;
    for (const FleetPrinterInfo& p : fleet.printers) {
        open.push_back(connectTcp(p.address, p.port));
        ASSERT_TRUE(open.back()) << p.address;
        ASSERT_TRUE(writeAll(open.back().get(), enterMode() + fn6(249)));
    }
    for (size_t i = 0; i < open.size(); ++i) {
        // Every second printer is a family 5 model, whose factory print speed differs.
        const Bytes expected = hex("37 20 00") + answer(249, i % 2 == 0 ? "220" : "180");
        ASSERT_EQ(readReplies(open[i].get(), 2), expected) << fleet.printers[i].address;
    }
}

TEST(SimFleet, WrongSwitchesAreRefusedWithOneClearLine)
{
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* why;
    } cases[] = {
        {{"--printers", "3", "--serial"}, 2, "are for one printer"},
        {{"--printers", "3", "--fleet-fault", "melt:k=1"}, 2, "unknown fault"},
        {{"--printers", "3", "--fleet-models", "1,9"}, 2, "not a model family"},
        {{"--fleet-first", "127.0.1.1"}, 105, "--printers"},
        {{"--printers", "3", "--fleet-first", "10.0.0.1"}, 1, "not a loopback address"},
        {{"--printers", "3", "--fleet-first", "127.255.255.253"}, 1, "would leave 127.0.0.0/8"},
    };
    for (const Case& c : cases) {
        auto [code, err] = Fleet::refused(c.args);
        EXPECT_NE(code, 0) << err;
        if (c.code != 105) {
            EXPECT_EQ(code, c.code) << err;
        }
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
}

} // namespace
