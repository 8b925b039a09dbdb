#pragma once
// Shared pieces of the port layer's integration tests: a pty standing in for the printer,
// reached through a symlink whose name gives it its kind (tty..., lp...).
#include "FakeSysfs.h"
#include "RecordingPrompter.h"
#include "TempDir.h"
#include "TestClock.h"
#include "app/CErrorLog.h"
#include "app/MessageTarget.h"
#include "common/PtyPair.h"
#include "port/CPorts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace porttest {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Reads what the far end received, until count bytes or the timeout.
inline Bytes readMaster(int fd, std::size_t count, std::chrono::milliseconds timeout = 5000ms)
{
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buf[4096];
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

inline bool writeMaster(int fd, const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Polls cond every 5 ms until it holds or the timeout passes.
inline bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout = 5000ms)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A window that takes WM_RECEIVE_NOTIFY and empties m_QueueRead in its handler, as the tool
// dialogs do; onNotify runs inside the handler too.
class DrainingTarget final : public MessageTarget {
public:
    explicit DrainingTarget(CPorts& ports) : m_ports(ports) {}
    long SendMessage(unsigned msg, std::uintptr_t, std::intptr_t) override
    {
        std::lock_guard lock(m_mutex);
        if (msg != WM_RECEIVE_NOTIFY)
            return 0;
        ++m_notifications;
        while (!m_ports.m_QueueRead.IsEmpty())
            m_bytes.push_back(m_ports.m_QueueRead.Pop());
        if (onNotify)
            onNotify(m_notifications);
        return 0;
    }
    int notifications() const
    {
        std::lock_guard lock(m_mutex);
        return m_notifications;
    }
    Bytes bytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    std::function<void(int)> onNotify;

private:
    CPorts& m_ports;
    mutable std::mutex m_mutex;
    int m_notifications = 0;
    Bytes m_bytes;
};

// A pty printer, a log in a temp folder and a CPorts over fake device roots.
struct PortFixture : ::testing::Test {
    TempDir dir;
    PtyPair pty;
    TestClock clock;
    CErrorLog log{&clock};
    RecordingPrompter prompter;
    FakeSysfs fake{dir.path()};
    DeviceRoots roots;
    std::unique_ptr<CPorts> ports;

    void SetUp() override
    {
        if (!pty.valid())
            GTEST_SKIP() << "no pseudo-terminal on this machine: " << pty.error();
        ASSERT_TRUE(log.Open((dir / "error.log").string()));
        roots.sysfs = fake.sysfsRoot();
        roots.dev = fake.devRoot();
        ports = std::make_unique<CPorts>(prompter, clock, log, roots);
    }
    void TearDown() override { ports.reset(); }

    // A symlink to the pty slave named so that portKindOf sees the wanted kind.
    std::string linkPty(const std::string& name)
    {
        auto link = dir / name;
        std::filesystem::create_symlink(pty.slavePath(), link);
        return link.string();
    }
    std::string logText() { return readFileBytes(dir / "error.log"); }
    void configureSerial(const std::string& name, int baud = 9600, int byteSize = 8, int parity = 0,
                         int stopBits = 0, int flow = 3)
    {
        ports->m_PortName = name;
        ports->m_BaudRate = baud;
        ports->m_ByteSize = byteSize;
        ports->m_Parity = parity;
        ports->m_StopBits = stopBits;
        ports->m_FlowCtrl = flow;
    }
};

} // namespace porttest
