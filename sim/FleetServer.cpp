#include "sim/FleetServer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Longest sleep; deadlines wake the loop earlier.
constexpr int kMaxWaitMs = 250;
constexpr uint64_t kSignalTag = ~uint64_t(0);

uint64_t tag(size_t slot, int fd)
{
    return (uint64_t(slot) << 32) | uint32_t(fd);
}

} // namespace

FleetServer::FleetServer(FleetOptions options) : m_options(std::move(options)) {}

FleetServer::~FleetServer()
{
    cleanup();
}

bool FleetServer::start(std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        cleanup();
        return false;
    };
    std::array<uint8_t, 4> first{};
    if (!NetworkRecord::parseIp(m_options.first, first) || !FleetPlan::address(first, 1))
        return fail("--fleet-first: not a loopback address 127.x.y.z with z in 1..254: " + m_options.first);
    if (!FleetPlan::address(first, m_options.printers))
        return fail("--printers " + std::to_string(m_options.printers) + " from " + m_options.first +
                    " would leave 127.0.0.0/8");

    // Each printer holds a few files; take as many as the hard limit allows.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max) {
            rlimit raised = files;
            raised.rlim_cur = files.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                files = raised;
        }
        const long fit = files.rlim_cur == RLIM_INFINITY ? m_options.printers
                                                           : printersFor(static_cast<long>(files.rlim_cur));
        if (fit < 1)
            return fail("the open-file limit (" + std::to_string(files.rlim_cur) + ") leaves room for no printer");
        if (fit < m_options.printers) {
            std::fprintf(stderr,
                         "tavro-sim: the open-file limit (%lu) leaves room for %ld printers of the %d asked for; "
                         "serving %ld (raise the hard limit, ulimit -Hn, for more)\n",
                         static_cast<unsigned long>(files.rlim_cur), fit, m_options.printers, fit);
            m_options.printers = static_cast<int>(fit);
        }
    }

    std::error_code ec;
    if (m_options.base.runDir.empty()) {
        const char* base = std::getenv("XDG_RUNTIME_DIR");
        std::string root = (base && *base && fs::is_directory(base, ec)) ? base : "/tmp";
        std::string tmpl = root + "/tavro-sim-XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            return fail("cannot create a run dir under " + root + ": " + std::strerror(errno));
        m_runDir = tmpl;
        m_ownRunDir = true;
    } else {
        m_runDir = fs::absolute(m_options.base.runDir, ec).string();
        if (!fs::exists(m_runDir, ec)) {
            fs::create_directories(m_runDir, ec);
            if (ec)
                return fail("cannot create " + m_runDir + ": " + ec.message());
            m_createdRunDir = true;
        }
    }

    m_epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!m_epoll)
        return fail(std::string("epoll_create1: ") + std::strerror(errno));
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    m_signalFd.reset(::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_signalFd)
        return fail(std::string("signalfd: ") + std::strerror(errno));
    epoll_event sig{};
    sig.events = EPOLLIN;
    sig.data.u64 = kSignalTag;
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_signalFd.get(), &sig);

    const SimTime now = SimClock::now();
    m_slots.reserve(static_cast<size_t>(m_options.printers));
    for (int k = 1; k <= m_options.printers; ++k) {
        FleetPrinter::Config c;
        c.index = k;
        c.address = FleetPlan::text(*FleetPlan::address(first, k));
        c.tcpPort = m_options.tcpPort;
        c.udpPort = m_options.base.udpPort;
        c.udpReplyPort = m_options.base.udpReplyPort;
        c.stateDir = m_runDir + "/printers/" + std::to_string(k);
        c.settings = m_options.base.settings;
        c.settings.family = FleetPlan::family(m_options.models, k, m_options.base.settings.family);
        c.network = m_options.base.network;
        c.mac = FleetPlan::mac(m_options.macBase, k);
        c.keepPaper = m_options.keepPaper;
        c.echo = !m_options.base.quiet;
        c.json = m_options.base.json;
        for (const FleetFault& f : m_options.faults)
            if (f.hits(k))
                f.applyTo(c.settings, c.network);
        auto printer = std::make_unique<FleetPrinter>(std::move(c));
        std::string why;
        if (!printer->start(&why))
            return fail(why);
        m_slots.push_back({std::move(printer), {}, std::nullopt});
        watch(m_slots.size() - 1, now);
    }
    return true;
}

std::string FleetServer::readyText() const
{
    std::string out = "TAVRO_SIM_RUN_DIR=" + m_runDir + "\n";
    out += "TAVRO_SIM_PRINTERS=" + std::to_string(m_slots.size()) + "\n";
    if (m_options.base.json) {
        for (const Slot& s : m_slots) {
            const FleetPrinter& p = *s.printer;
            nlohmann::ordered_json faults = nlohmann::ordered_json::array();
            for (const FleetFault& f : m_options.faults)
                if (f.hits(p.index()))
                    faults.push_back(f.name);
            nlohmann::ordered_json line{{"index", p.index()},          {"address", p.address()},
                                        {"port", p.tcpPort()},         {"udpPort", p.udpPort()},
                                        {"mac", p.macText()},          {"family", p.settings().family},
                                        {"state", p.stateDir()},       {"faults", faults}};
            out += line.dump() + "\n";
        }
    }
    auto at = [](const FleetPrinter& p) { return p.address() + ":" + std::to_string(p.tcpPort()); };
    out += "READY printers=" + std::to_string(m_slots.size());
    if (!m_slots.empty())
        out += " first=" + at(*m_slots.front().printer) + " last=" + at(*m_slots.back().printer);
    return out + "\n";
}

void FleetServer::watch(size_t i, SimTime now)
{
    Slot& slot = m_slots[i];
    m_scratch.clear();
    m_scratchOwners.clear();
    for (auto& e : slot.printer->endpoints()) {
        e->addPollFds(m_scratch, now);
        m_scratchOwners.resize(m_scratch.size(), e.get());
    }
    std::vector<Watch> next;
    next.reserve(m_scratch.size());
    for (size_t j = 0; j < m_scratch.size(); ++j) {
        const pollfd& want = m_scratch[j];
        next.push_back({want.fd, want.events, m_scratchOwners[j]});
        auto old = std::find_if(slot.watched.begin(), slot.watched.end(), [&](const Watch& w) { return w.fd == want.fd; });
        // A closed fd left the epoll set by itself; its number may be back for a new socket
        // of the same printer, so a changed owner is registered afresh.
        if (old != slot.watched.end() && old->events == want.events && old->owner == m_scratchOwners[j])
            continue;
        epoll_event ev{};
        ev.events = static_cast<uint32_t>(want.events);
        ev.data.u64 = tag(i, want.fd);
        if (old == slot.watched.end() || ::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, want.fd, &ev) != 0)
            ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, want.fd, &ev);
    }
    for (const Watch& w : slot.watched) {
        bool kept = std::any_of(next.begin(), next.end(), [&](const Watch& n) { return n.fd == w.fd; });
        if (!kept)
            ::epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, w.fd, nullptr); // fails harmlessly once closed
    }
    slot.watched = std::move(next);

    std::optional<SimTime> due = slot.printer->nextDeadline(now);
    if (due != slot.due) {
        if (slot.due)
            m_timers.erase({*slot.due, i});
        if (due)
            m_timers.insert({*due, i});
        slot.due = due;
    }
}

void FleetServer::serve(size_t i, SimTime now, const pollfd* ready, Endpoint* owner)
{
    FleetPrinter& p = *m_slots[i].printer;
    if (ready && owner) {
        owner->onReady(*ready, now);
        p.processDeferred(now);
    }
    p.tick(now);
    watch(i, now);
}

int FleetServer::run()
{
    std::vector<epoll_event> events(512);
    for (;;) {
        SimTime now = SimClock::now();
        // Only what was due before this round: a printer that is due again at once waits for
        // the next round, after the sockets have been looked at.
        m_dueNow.clear();
        while (!m_timers.empty() && m_timers.begin()->first <= now) {
            m_dueNow.push_back(m_timers.begin()->second);
            m_slots[m_timers.begin()->second].due.reset();
            m_timers.erase(m_timers.begin());
        }
        for (size_t i : m_dueNow)
            serve(i, now, nullptr, nullptr);
        int timeout = kMaxWaitMs;
        if (!m_timers.empty()) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m_timers.begin()->first - now).count() + 1;
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, kMaxWaitMs));
        }
        int n = ::epoll_wait(m_epoll.get(), events.data(), static_cast<int>(events.size()), timeout);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tavro-sim: epoll_wait: %s\n", std::strerror(errno));
            return 1;
        }
        now = SimClock::now();
        for (int j = 0; j < n; ++j) {
            const uint64_t t = events[static_cast<size_t>(j)].data.u64;
            if (t == kSignalTag) {
                signalfd_siginfo info{};
                [[maybe_unused]] ssize_t got = ::read(m_signalFd.get(), &info, sizeof info);
                for (Slot& s : m_slots)
                    s.printer->stop(static_cast<int>(info.ssi_signo), now);
                return 0;
            }
            const size_t i = static_cast<size_t>(t >> 32);
            const int fd = static_cast<int>(t & 0xFFFFFFFFu);
            if (i >= m_slots.size())
                continue;
            // The printer may have given up this fd since the batch was read.
            const auto& watched = m_slots[i].watched;
            auto w = std::find_if(watched.begin(), watched.end(), [&](const Watch& x) { return x.fd == fd; });
            if (w == watched.end())
                continue;
            pollfd ready{fd, w->events, static_cast<short>(events[static_cast<size_t>(j)].events)};
            serve(i, now, &ready, w->owner);
        }
    }
}

void FleetServer::cleanup()
{
    if (m_cleaned)
        return;
    m_cleaned = true;
    for (Slot& s : m_slots)
        s.printer->shutdown();
    m_slots.clear();
    m_timers.clear();
    std::error_code ec;
    if (m_ownRunDir && !m_runDir.empty())
        fs::remove_all(m_runDir, ec);
    else if (m_createdRunDir && !m_runDir.empty())
        fs::remove(m_runDir, ec); // only when empty: printers/ may hold state worth keeping
}
