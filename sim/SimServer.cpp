#include "sim/SimServer.h"

#include "sim/DeviceEndpoint.h"
#include "sim/PtyEndpoint.h"
#include "sim/TcpEndpoint.h"
#include "sim/UdpEndpoint.h"

#include "common/SocketUtil.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <arpa/inet.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Longest poll() sleep; deadlines of the links wake it earlier.
constexpr int kMaxPollMs = 250;

bool splitAddress(const std::string& text, int defaultPort, std::string* address, int* port)
{
    auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        *address = text;
        *port = defaultPort;
        return !text.empty();
    }
    *address = text.substr(0, colon);
    char* end = nullptr;
    long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (!end || *end || p < 0 || p > 65535 || address->empty())
        return false;
    *port = static_cast<int>(p);
    return true;
}

} // namespace

SimServer::SimServer(SimOptions options) : m_options(std::move(options)), m_state(m_options.settings.family) {}

SimServer::~SimServer()
{
    cleanup();
}

void SimServer::logEvent(const std::string& via, const SimEvent& e)
{
    // The state a command changed is on disk before its event line appears, so that whoever
    // waits for the event may read the state folder at once.
    if (m_saveNeeded) {
        m_saveNeeded = false;
        std::string why;
        if (!m_state.save(m_stateDir, &why))
            m_log.log("printer", SimEvent("error").str("error", "cannot save the state: " + why));
    }
    m_log.log(via, e);
}

void SimServer::printerRestart(const std::string& reason)
{
    // Carried out after the current command has been handled, and after the store time: the
    // link that saw the command may be the one that goes away.
    m_restartReason = reason;
    // Without a store time it is due at once: before the next fd of the same round is served.
    m_restartAt = m_options.settings.storeMs > 0
                      ? SimClock::now() + std::chrono::milliseconds(m_options.settings.storeMs)
                      : SimTime::min();
}

bool SimServer::start(std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        cleanup();
        return false;
    };
    m_options.defaultTransports();
    std::error_code ec;

    if (m_options.runDir.empty()) {
        const char* base = std::getenv("XDG_RUNTIME_DIR");
        std::string root = (base && *base && fs::is_directory(base, ec)) ? base : "/tmp";
        std::string tmpl = root + "/tavro-sim-XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            return fail("cannot create a run dir under " + root + ": " + std::strerror(errno));
        m_runDir = tmpl;
        m_ownRunDir = true;
    } else {
        m_runDir = fs::absolute(m_options.runDir, ec).string();
        if (!fs::exists(m_runDir, ec)) {
            fs::create_directories(m_runDir, ec);
            if (ec)
                return fail("cannot create " + m_runDir + ": " + ec.message());
            m_createdRunDir = true;
        }
    }
    m_stateDir = m_options.stateDir.empty() ? m_runDir + "/state" : fs::absolute(m_options.stateDir, ec).string();
    fs::create_directories(m_stateDir, ec);
    if (ec)
        return fail("cannot create the state folder " + m_stateDir + ": " + ec.message());

    std::vector<std::string> warnings;
    if (!m_state.load(m_stateDir, &warnings))
        return fail("cannot read the state folder " + m_stateDir);
    for (auto& w : warnings)
        std::fprintf(stderr, "tavro-sim: state: %s\n", w.c_str());
    std::string why;
    if (!m_log.open(m_stateDir + "/events.jsonl", &why))
        return fail(why);
    m_log.setEcho(!m_options.quiet, m_options.json);
    // A download that was cut off in an earlier run left the printer unable to run.
    for (auto& [area, detail] : m_state.incomplete)
        m_log.log("printer", SimEvent("firmware-area").str("area", area).str("state", "unfinished").str("detail", detail)
                                 .flag("kept", true));

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    m_signalFd.reset(::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_signalFd)
        return fail(std::string("signalfd: ") + std::strerror(errno));

    const SimTime now = SimClock::now();
    const int family = m_options.settings.family;
    std::string extraPorts;
    auto addPty = [&](LinkOptions link, const std::string& name, bool asb) -> bool {
        PtyEndpoint::Config c;
        link.asb = asb;
        c.link = link;
        c.symlinkPath = m_runDir + "/" + name;
        c.pace = m_options.settings.pace;
        auto ep = std::make_unique<PtyEndpoint>(*this, std::move(c));
        if (!ep->up(now, &why))
            return false;
        m_created.push_back(m_runDir + "/" + name);
        if (!extraPorts.empty())
            extraPorts += ':';
        extraPorts += ep->portPath();
        m_endpoints.push_back(std::move(ep));
        return true;
    };
    if (m_options.serial && !addPty({"serial", false, false}, "ttySIM0", false))
        return fail("serial port: " + why);
    if (m_options.parallel && !addPty({"parallel", false, false}, "lpSIM0", true))
        return fail("parallel port: " + why);

    // The fake sysfs tree and device root are always made, so that a tool pointed at them sees
    // only the simulated devices and never the host's own.
    const std::string sysfs = m_runDir + "/sysfs", dev = m_runDir + "/dev";
    for (auto d : {sysfs + "/class/usbmisc", sysfs + "/class/tty", sysfs + "/devices/usb1", dev + "/usb"}) {
        fs::create_directories(d, ec);
        if (ec)
            return fail("cannot create " + d + ": " + ec.message());
    }
    m_created.push_back(sysfs);
    m_created.push_back(dev);
    auto addUsb = [&](const char* via, FakeUsbTree::Kind kind, int port, unsigned pid) -> bool {
        PtyEndpoint::Config c;
        // Only the USB printer class escapes its replies; a USB virtual serial port is a
        // serial line and sends the bytes as they are.
        c.link = {via, kind == FakeUsbTree::Kind::Printer, false};
        c.usb = std::make_unique<FakeUsbTree>(sysfs, dev, kind, 0, port, 0x5A3E, pid, m_options.usbSerialNumber);
        c.restartsWithPrinter = true;
        c.singleOpen = m_options.usbSingleOpen && kind == FakeUsbTree::Kind::Printer;
        c.pace = m_options.settings.pace;
        auto ep = std::make_unique<PtyEndpoint>(*this, std::move(c));
        if (!ep->up(now, &why))
            return false;
        m_endpoints.push_back(std::move(ep));
        return true;
    };
    if (m_options.usb &&
        !addUsb("usb", FakeUsbTree::Kind::Printer, 1,
                m_options.usbProductId ? m_options.usbProductId : SimOptions::printerProductId(family)))
        return fail("USB printer: " + why);
    if (m_options.usbSerial &&
        !addUsb("usb-serial", FakeUsbTree::Kind::VirtualSerial, 2,
                m_options.usbSerialProductId ? m_options.usbSerialProductId : SimOptions::virtualSerialProductId(family)))
        return fail("USB virtual serial port: " + why);

    for (const DeviceSpec& deviceSpec : m_options.devices) {
        auto ep = std::make_unique<DeviceEndpoint>(*this, deviceSpec);
        if (!ep->up(now, &why))
            return fail(std::string(deviceSpec.via()) + " device: " + why);
        m_endpoints.push_back(std::move(ep));
    }

    std::string tcpText;
    int tcpPort = 0;
    if (m_options.tcp) {
        auto tcp = std::make_unique<TcpEndpoint>(*this);
        if (!tcp->listen(m_options.tcpAddress, m_options.tcpPort, &why))
            return fail("TCP: " + why);
        tcpPort = tcp->port();
        tcpText = tcp->address() + ":" + std::to_string(tcpPort);
        m_tcp = tcp.get();
        m_endpoints.push_back(std::move(tcp));
    }
    std::string udpText;
    if (!m_options.udpAddresses.empty()) {
        std::vector<std::pair<std::string, int>> binds;
        for (auto& text : m_options.udpAddresses) {
            std::string address;
            int port = 0;
            sockaddr_in sa{};
            if (!splitAddress(text, m_options.udpPort, &address, &port) || !SocketUtil::parseIpv4(address, port, &sa))
                return fail("UDP: bad address " + text);
            binds.emplace_back(address, port);
        }
        // A printer's record names its own loopback address and the TCP port, unless a
        // record saved in the state folder says otherwise.
        const bool fresh = !fs::exists(m_stateDir + "/network.txt");
        while (m_state.network.size() < binds.size()) {
            NetworkRecord r = m_state.network.front();
            r.mac[5] = static_cast<uint8_t>(m_state.network.size() + 1);
            m_state.network.push_back(r);
            m_state.networkDirty = true;
        }
        if (fresh) {
            for (size_t i = 0; i < binds.size(); ++i) {
                NetworkRecord& r = m_state.network[i];
                sockaddr_in sa{};
                SocketUtil::parseIpv4(binds[i].first, 0, &sa);
                uint32_t ip = ntohl(sa.sin_addr.s_addr);
                r.ip = {uint8_t(ip >> 24), uint8_t(ip >> 16), uint8_t(ip >> 8), uint8_t(ip)};
                if (tcpPort > 0)
                    r.tcpPort = static_cast<uint16_t>(tcpPort);
                r.mac[5] = static_cast<uint8_t>(i + 1);
                const NetModuleOptions& net = m_options.network;
                if (net.mask)
                    r.mask = *net.mask;
                if (net.gateway)
                    r.gateway = *net.gateway;
                if (net.dhcp)
                    r.dhcp = *net.dhcp;
                if (net.mac) {
                    r.mac = *net.mac;
                    r.mac[5] = static_cast<uint8_t>(r.mac[5] + i);
                }
            }
            m_state.networkDirty = true;
        }
        auto udp = std::make_unique<UdpEndpoint>(*this, m_options.udpReplyPort, m_options.network);
        for (size_t i = 0; i < binds.size(); ++i)
            if (!udp->add(binds[i].first, binds[i].second, i, &why))
                return fail("UDP: " + why);
        udpText = udp->boundText();
        m_endpoints.push_back(std::move(udp));
    }
    if (m_state.networkDirty || m_saveNeeded) {
        if (!m_state.save(m_stateDir, &why))
            return fail("state: " + why);
    }

    m_env.clear();
    m_env.emplace_back("TAVRO_EXTRA_PORTS", extraPorts);
    m_env.emplace_back("TAVRO_SYSFS_ROOT", sysfs);
    m_env.emplace_back("TAVRO_DEV_ROOT", dev);
    if (!tcpText.empty())
        m_env.emplace_back("TAVRO_SIM_TCP", tcpText);
    if (!udpText.empty())
        m_env.emplace_back("TAVRO_SIM_UDP", udpText);
    m_env.emplace_back("TAVRO_SIM_STATE", m_stateDir);
    if (m_options.keepPaper)
        m_paper = std::make_unique<PaperRoll>(m_state, m_stateDir + "/receipts",
                                              [this](SimEvent e) { m_log.log("printer", e); });
    m_env.emplace_back("TAVRO_SIM_RUN_DIR", m_runDir);
    return true;
}

void SimServer::networkSettingsApplied(size_t index, const NetworkRecord& record)
{
    // The first module owns the TCP raw port; it listens again on the new port (and, on
    // loopback, on the new address when that is a loopback one).
    if (index != 0 || !m_tcp || record.tcpPort == 0)
        return;
    std::string address = m_tcp->address();
    if (address != "0.0.0.0" && record.ip[0] == 127)
        address = record.ipText();
    if (address == m_tcp->address() && record.tcpPort == m_tcp->port())
        return;
    std::string why;
    SimEvent e("tcp-move");
    e.str("address", address).num("port", record.tcpPort);
    if (!m_tcp->listen(address, record.tcpPort, &why))
        e.str("error", why);
    m_log.log("tcp", e);
}

void SimServer::processDeferred(SimTime now)
{
    if (!m_restartReason.empty() && now >= m_restartAt) {
        std::string reason;
        std::swap(reason, m_restartReason);
        m_state.userSettingMode = false;
        const SimTime until = now + std::chrono::milliseconds(m_options.settings.restartMs);
        m_log.log("printer", SimEvent("restart").str("reason", reason).num("ms", m_options.settings.restartMs));
        for (auto& e : m_endpoints)
            e->printerRestarting(now, until);
        if (m_paper)
            m_paper->powerOn();
    }
    if (m_saveNeeded) {
        m_saveNeeded = false;
        std::string why;
        if (!m_state.save(m_stateDir, &why))
            m_log.log("printer", SimEvent("error").str("error", "cannot save the state: " + why));
    }
}

int SimServer::run()
{
    std::vector<pollfd> fds;
    std::vector<Endpoint*> owners;
    for (;;) {
        SimTime now = SimClock::now();
        for (auto& e : m_endpoints)
            e->tick(now);
        processDeferred(now);

        fds.clear();
        owners.clear();
        fds.push_back({m_signalFd.get(), POLLIN, 0});
        owners.push_back(nullptr);
        std::optional<SimTime> next;
        if (!m_restartReason.empty())
            next = std::max(m_restartAt, now);
        for (auto& e : m_endpoints) {
            e->addPollFds(fds, now);
            owners.resize(fds.size(), e.get());
            if (auto d = e->nextDeadline(); d && (!next || *d < *next))
                next = d;
        }
        int timeout = kMaxPollMs;
        if (next) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*next - now).count() + 1;
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, kMaxPollMs));
        }
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tavro-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        now = SimClock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            [[maybe_unused]] ssize_t n = ::read(m_signalFd.get(), &info, sizeof info);
            m_log.log("printer", SimEvent("stop").num("signal", info.ssi_signo));
            processDeferred(now);
            return 0;
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            owners[i]->onReady(fds[i], now);
            // A command may have restarted the printer; carry it out before the next fd of
            // the same round, which may belong to an endpoint that goes away.
            processDeferred(now);
        }
    }
}

void SimServer::cleanup()
{
    if (m_cleaned)
        return;
    m_cleaned = true;
    for (auto& e : m_endpoints)
        e->shutdown();
    m_endpoints.clear();
    std::error_code ec;
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it)
        fs::remove_all(*it, ec);
    m_created.clear();
    if (m_ownRunDir && !m_runDir.empty()) {
        fs::remove_all(m_runDir, ec);
    } else if (m_createdRunDir && !m_runDir.empty()) {
        fs::remove(m_runDir, ec); // only when empty: the state folder may live in it
    }
}
