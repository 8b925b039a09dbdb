#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string makeTempRunDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavro-simtest-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        return {};
    return tmpl;
}

std::vector<std::string> splitColon(const std::string& s)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(':', start);
        if (end == std::string::npos)
            end = s.size();
        if (end > start)
            out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> args, std::string binary, Ms readyTimeout)
    : m_args(std::move(args))
{
    std::string runDir;
    for (size_t i = 0; i + 1 < m_args.size(); ++i) {
        if (m_args[i] == "--run-dir")
            runDir = m_args[i + 1];
        if (m_args[i] == "--state")
            m_stateDir = m_args[i + 1];
    }
    if (runDir.empty()) {
        runDir = makeTempRunDir();
        if (runDir.empty()) {
            m_error = std::string("cannot create a run dir: ") + std::strerror(errno);
            return;
        }
        m_ownRunDir = true;
        m_args.push_back("--run-dir");
        m_args.push_back(runDir);
    }
    m_runDir = runDir;
    if (m_stateDir.empty())
        m_stateDir = m_runDir / "state";

    if (::access(binary.c_str(), X_OK) != 0) {
        m_error = "tavro-sim not found or not executable: " + binary;
        return;
    }

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        m_error = std::string("pipe failed: ") + std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> argvStore;
    argvStore.push_back(binary);
    argvStore.insert(argvStore.end(), m_args.begin(), m_args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        m_error = std::string("posix_spawn failed: ") + std::strerror(rc);
        return;
    }
    m_pid = pid;
    m_outFd = out[0];

    if (!readUntilReady(readyTimeout)) {
        stop(Ms(3000));
        return;
    }
    m_ready = true;
    m_reader = std::thread([this] { readerLoop(); });
}

SimProcess::~SimProcess()
{
    stop();
    if (m_wakePipe[0] >= 0)
        ::close(m_wakePipe[0]);
    if (m_wakePipe[1] >= 0)
        ::close(m_wakePipe[1]);
    if (m_ownRunDir && !m_runDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_runDir, ec);
    }
}

bool SimProcess::readUntilReady(Ms timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string pending;
    char buf[4096];
    for (;;) {
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line == "READY") {
                std::lock_guard lock(m_mutex);
                m_pending = pending;
                return true;
            }
            auto eq = line.find('=');
            if (eq != std::string::npos && eq > 0)
                m_env.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
        auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            m_error = "tavro-sim did not print READY within " + std::to_string(timeout.count()) + " ms";
            return false;
        }
        pollfd pfd{m_outFd, POLLIN, 0};
        int r = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        ssize_t n = ::read(m_outFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, 0) == m_pid)
                m_pid = -1;
            m_error = "tavro-sim exited before READY (status " + std::to_string(status) + ")";
            return false;
        }
        pending.append(buf, static_cast<size_t>(n));
    }
}

void SimProcess::parsePending(std::string& pending)
{
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        m_lines.push_back(pending.substr(0, nl));
        pending.erase(0, nl + 1);
    }
}

void SimProcess::readerLoop()
{
    char buf[4096];
    {
        std::lock_guard lock(m_mutex);
        parsePending(m_pending);
    }
    for (;;) {
        pollfd pfds[2] = {{m_outFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        int r = ::poll(pfds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (pfds[1].revents & POLLIN))
            break;
        ssize_t n = ::read(m_outFd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        std::lock_guard lock(m_mutex);
        if (n <= 0) {
            m_eof = true;
            m_cond.notify_all();
            break;
        }
        m_pending.append(buf, static_cast<size_t>(n));
        parsePending(m_pending);
        m_cond.notify_all();
    }
}

std::string SimProcess::env(const std::string& name) const
{
    for (auto& [k, v] : m_env)
        if (k == name)
            return v;
    return {};
}

void SimProcess::applyEnvironment() const
{
    for (auto& [k, v] : m_env)
        ::setenv(k.c_str(), v.c_str(), 1);
}

std::string SimProcess::serialPort() const
{
    for (auto& p : splitColon(env("TAVRO_EXTRA_PORTS")))
        if (std::filesystem::path(p).filename().string().rfind("tty", 0) == 0)
            return p;
    return {};
}

std::string SimProcess::parallelPort() const
{
    for (auto& p : splitColon(env("TAVRO_EXTRA_PORTS")))
        if (std::filesystem::path(p).filename().string().rfind("lp", 0) == 0)
            return p;
    return {};
}

std::string SimProcess::tcpHost() const
{
    std::string v = env("TAVRO_SIM_TCP");
    auto colon = v.rfind(':');
    return colon == std::string::npos ? v : v.substr(0, colon);
}

int SimProcess::tcpPort() const
{
    std::string v = env("TAVRO_SIM_TCP");
    auto colon = v.rfind(':');
    if (colon == std::string::npos)
        return 0;
    return std::atoi(v.c_str() + colon + 1);
}

std::vector<std::string> SimProcess::outputLines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool SimProcess::waitForOutput(const std::string& needle, Ms timeout) const
{
    std::unique_lock lock(m_mutex);
    auto found = [&] {
        for (auto& l : m_lines)
            if (l.find(needle) != std::string::npos)
                return true;
        return false;
    };
    // After the child's exit no more lines come: stop waiting then.
    m_cond.wait_for(lock, timeout, [&] { return found() || m_eof; });
    return found();
}

std::vector<std::string> SimProcess::events() const
{
    std::vector<std::string> out;
    std::ifstream in(eventLogPath());
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(line);
    return out;
}

bool SimProcess::waitForEvent(const std::string& needle, Ms timeout, size_t count) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t found = 0;
        for (auto& l : events())
            if (l.find(needle) != std::string::npos)
                ++found;
        if (found >= count)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(Ms(20));
    }
}

int SimProcess::stop(Ms timeout)
{
    int status = -1;
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid || (r < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(Ms(10));
        }
        m_pid = -1;
    }
    if (m_reader.joinable()) {
        char b = 1;
        [[maybe_unused]] ssize_t w = ::write(m_wakePipe[1], &b, 1);
        m_reader.join();
    }
    if (m_outFd >= 0) {
        ::close(m_outFd);
        m_outFd = -1;
    }
    return status;
}
