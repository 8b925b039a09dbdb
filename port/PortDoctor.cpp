#include "port/PortDoctor.h"

#include "app/PortName.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kRead = 4, kWrite = 2;

std::string readFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::optional<std::string> readWhole(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool hasLine(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        if (l == line)
            return true;
    return false;
}

bool contains(const std::vector<gid_t>& groups, gid_t gid)
{
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

std::string userName(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name)
        return pw->pw_name;
    return std::to_string(uid);
}

std::string groupName(gid_t gid)
{
    if (const group* gr = ::getgrgid(gid); gr && gr->gr_name)
        return gr->gr_name;
    return std::to_string(gid);
}

std::string modeText(const struct stat& st)
{
    std::string text = S_ISCHR(st.st_mode) ? "c" : S_ISBLK(st.st_mode) ? "b" : S_ISDIR(st.st_mode) ? "d" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (st.st_mode & (0400 >> bit)) ? letters[bit] : '-';
    return text;
}

// The access entries of a file: its ACL, or the three classes of its mode when it has none
// (or the file system keeps no ACLs).
struct AccessEntries {
    unsigned userObj = 0, groupObj = 0, other = 0;
    std::optional<unsigned> mask;
    std::vector<std::pair<uid_t, unsigned>> users;
    std::vector<std::pair<gid_t, unsigned>> groups;
};

unsigned permsOf(acl_entry_t entry)
{
    acl_permset_t set;
    if (acl_get_permset(entry, &set) != 0)
        return 0;
    return (acl_get_perm(set, ACL_READ) == 1 ? kRead : 0) | (acl_get_perm(set, ACL_WRITE) == 1 ? kWrite : 0) |
           (acl_get_perm(set, ACL_EXECUTE) == 1 ? 1u : 0u);
}

AccessEntries accessEntriesOf(const fs::path& node, const struct stat& st)
{
    AccessEntries e;
    e.userObj = (st.st_mode >> 6) & 7;
    e.groupObj = (st.st_mode >> 3) & 7;
    e.other = st.st_mode & 7;
    acl_t acl = acl_get_file(node.c_str(), ACL_TYPE_ACCESS);
    if (!acl)
        return e;
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        if (acl_get_tag_type(entry, &tag) != 0)
            continue;
        unsigned perms = permsOf(entry);
        switch (tag) {
        case ACL_USER_OBJ: e.userObj = perms; break;
        case ACL_GROUP_OBJ: e.groupObj = perms; break;
        case ACL_OTHER: e.other = perms; break;
        case ACL_MASK: e.mask = perms; break;
        case ACL_USER:
        case ACL_GROUP: {
            void* q = acl_get_qualifier(entry);
            if (!q)
                break;
            if (tag == ACL_USER)
                e.users.emplace_back(*static_cast<uid_t*>(q), perms);
            else
                e.groups.emplace_back(*static_cast<gid_t*>(q), perms);
            acl_free(q);
            break;
        }
        default: break;
        }
    }
    acl_free(acl);
    return e;
}

// The kernel's access decision (POSIX ACL order): owner, named user, the groups (any
// matching group entry that grants; a matching group that does not grant denies), other.
// Root passes: it opens device nodes whatever their mode.
bool grants(const AccessEntries& e, const struct stat& st, uid_t uid, const std::vector<gid_t>& groups, unsigned need)
{
    if (uid == 0)
        return true;
    unsigned mask = e.mask.value_or(7);
    auto has = [need](unsigned perms) { return (perms & need) == need; };
    if (uid == st.st_uid)
        return has(e.userObj);
    for (auto& [id, perms] : e.users)
        if (id == uid)
            return has(perms & mask);
    bool matched = false;
    if (contains(groups, st.st_gid)) {
        matched = true;
        if (has(e.groupObj & mask))
            return true;
    }
    for (auto& [id, perms] : e.groups) {
        if (contains(groups, id)) {
            matched = true;
            if (has(perms & mask))
                return true;
        }
    }
    if (matched)
        return false;
    return has(e.other);
}

std::vector<gid_t> accountGroupsOf(const char* name, gid_t primary)
{
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    for (int attempt = 0; attempt < 4; ++attempt) {
        int n = count;
        if (::getgrouplist(name, primary, groups.data(), &n) >= 0) {
            groups.resize(static_cast<size_t>(n));
            return groups;
        }
        count = std::max(n, count * 2);
        groups.resize(static_cast<size_t>(count));
    }
    return {primary};
}

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// USB serial bridges that brltty's udev rules claim because braille displays are built on
// them; a printer or adapter with one of these chips loses its tty to brltty.
constexpr std::pair<unsigned, unsigned> kBrlttyBridges[] = {{0x1A86, 0x7523}, {0x10C4, 0xEA60}, {0x0403, 0x6001}};

std::string hex4(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v & 0xFFFF);
    return text;
}

std::optional<std::pair<unsigned, unsigned>> idsOf(const std::string& hardwareId)
{
    unsigned vid = 0, pid = 0;
    if (std::sscanf(hardwareId.c_str(), "USB\\VID_%4X&PID_%4X", &vid, &pid) != 2)
        return std::nullopt;
    return std::make_pair(vid, pid);
}

bool isBrlttyBridge(unsigned vid, unsigned pid)
{
    return std::any_of(std::begin(kBrlttyBridges), std::end(kBrlttyBridges),
                       [&](auto& ids) { return ids.first == vid && ids.second == pid; });
}

bool isUsbSerialNode(const std::string& node)
{
    std::string base = fs::path(node).filename().string();
    return base.rfind("ttyACM", 0) == 0 || base.rfind("ttyUSB", 0) == 0;
}

DoctorFinding finding(DoctorSeverity severity, std::string subject, std::string check, std::string message,
                      std::string fix = {})
{
    return {severity, std::move(subject), std::move(check), std::move(message), std::move(fix)};
}

} // namespace

const char* severityName(DoctorSeverity severity)
{
    switch (severity) {
    case DoctorSeverity::Ok: return "ok";
    case DoctorSeverity::Info: return "info";
    case DoctorSeverity::Warning: return "warning";
    case DoctorSeverity::Error: return "error";
    }
    return "?";
}

bool isPrinterHardwareId(const std::string& hardwareId)
{
    auto ids = idsOf(hardwareId);
    return ids && ids->first == PortDoctor::kVendorId;
}

bool DoctorReport::blocking() const
{
    return std::any_of(findings.begin(), findings.end(),
                       [](const DoctorFinding& f) { return f.severity == DoctorSeverity::Error; });
}

DoctorRoots DoctorRoots::fromEnvironment()
{
    DoctorRoots roots;
    roots.devices = DeviceRoots::fromEnvironment();
    // The simulator and the tests present a whole fake machine; the defaults are the real one.
    if (const char* p = std::getenv("TAVRO_PROC_ROOT"); p && *p)
        roots.proc = p;
    if (const char* r = std::getenv("TAVRO_RUN_ROOT"); r && *r)
        roots.run = r;
    if (const char* u = std::getenv("TAVRO_UDEV_RULES_PATH"); u && *u) {
        roots.udevRuleDirs.clear();
        std::stringstream list(u);
        std::string item;
        while (std::getline(list, item, ':'))
            if (!item.empty())
                roots.udevRuleDirs.emplace_back(item);
    }
    roots.selfPid = ::getpid();
    return roots;
}

DoctorUser DoctorUser::current()
{
    // Under sudo the question is about the technician who typed it, not root.
    if (::getuid() == 0) {
        if (const char* sudoUid = std::getenv("SUDO_UID"); sudoUid && allDigits(sudoUid) && std::string(sudoUid) != "0") {
            if (auto user = byName(sudoUid))
                return *user;
        }
    }
    DoctorUser user;
    user.uid = ::getuid();
    user.gid = ::getgid();
    user.name = userName(user.uid);
    int n = ::getgroups(0, nullptr);
    if (n > 0) {
        user.sessionGroups.resize(static_cast<size_t>(n));
        n = ::getgroups(n, user.sessionGroups.data());
        user.sessionGroups.resize(static_cast<size_t>(std::max(n, 0)));
    }
    if (!contains(user.sessionGroups, user.gid))
        user.sessionGroups.push_back(user.gid);
    if (const passwd* pw = ::getpwuid(user.uid); pw && pw->pw_name)
        user.accountGroups = accountGroupsOf(pw->pw_name, pw->pw_gid);
    else
        user.accountGroups = user.sessionGroups;
    return user;
}

std::optional<DoctorUser> DoctorUser::byName(const std::string& nameOrUid)
{
    const passwd* pw = allDigits(nameOrUid) ? ::getpwuid(static_cast<uid_t>(std::strtoul(nameOrUid.c_str(), nullptr, 10)))
                                            : ::getpwnam(nameOrUid.c_str());
    if (!pw || !pw->pw_name)
        return std::nullopt;
    DoctorUser user;
    user.uid = pw->pw_uid;
    user.gid = pw->pw_gid;
    user.name = pw->pw_name;
    user.accountGroups = accountGroupsOf(pw->pw_name, pw->pw_gid);
    user.sessionGroups = user.accountGroups;
    return user;
}

PortDoctor::PortDoctor(DoctorRoots roots, DoctorUser user) : m_roots(std::move(roots)), m_user(std::move(user))
{
    if (!contains(m_user.sessionGroups, m_user.gid))
        m_user.sessionGroups.push_back(m_user.gid);
    if (!contains(m_user.accountGroups, m_user.gid))
        m_user.accountGroups.push_back(m_user.gid);
}

std::vector<DoctorPort> PortDoctor::discoverPorts() const
{
    std::vector<DoctorPort> ports;
    auto add = [&](const std::string& node, const std::string& id) {
        for (auto& p : ports)
            if (p.node == node) {
                if (p.hardwareId.empty())
                    p.hardwareId = id;
                return;
            }
        ports.push_back({node, id, false});
    };
    const auto& roots = m_roots.devices;
    for (auto& usb : listUsbPrinters(roots))
        add(usb.node, usb.hardwareId);
    for (auto& usb : listUsbSerialPorts(roots))
        add(usb.node, usb.hardwareId);
    for (auto& name : listSerialPorts(roots).names)
        add(name, "");
    for (auto& name : listParallelPorts(roots).names)
        add(name, "");
    return ports;
}

DoctorFinding PortDoctor::checkAccess(const DoctorPort& port) const
{
    const bool important = port.named || isPrinterHardwareId(port.hardwareId);
    const DoctorSeverity bad = important ? DoctorSeverity::Error : DoctorSeverity::Warning;
    struct stat st {};
    if (::stat(port.node.c_str(), &st) != 0) {
        int error = errno;
        if (error == ENOENT)
            return finding(bad, port.node, "access", "the device node does not exist",
                           "check the cable and the printer's power; `dmesg` shows whether the kernel saw it");
        return finding(bad, port.node, "access", std::string("cannot look at the device node: ") + std::strerror(error));
    }
    const AccessEntries entries = accessEntriesOf(port.node, st);
    const std::string who = m_user.name;
    const std::string owner = userName(st.st_uid), grp = groupName(st.st_gid);
    const std::string how = "(" + modeText(st) + (entries.users.empty() && entries.groups.empty() ? "" : "+") + " " +
                            owner + ":" + grp + ")";
    if (grants(entries, st, m_user.uid, m_user.sessionGroups, kRead | kWrite))
        return finding(DoctorSeverity::Ok, port.node, "access", who + " can open it for reading and writing " + how);

    if (grants(entries, st, m_user.uid, m_user.accountGroups, kRead | kWrite)) {
        // The account has the group but the running session was started before it was added.
        std::string missing;
        for (gid_t g : m_user.accountGroups)
            if (!contains(m_user.sessionGroups, g)) {
                std::vector<gid_t> with = m_user.sessionGroups;
                with.push_back(g);
                if (grants(entries, st, m_user.uid, with, kRead | kWrite)) {
                    missing = groupName(g);
                    break;
                }
            }
        return finding(bad, port.node, "access",
                       who + " is in group " + missing + " but this login session started before that " + how,
                       "log out and in again (or run the tool under `sg " + missing + "`)");
    }

    std::vector<gid_t> withNodeGroup = m_user.accountGroups;
    withNodeGroup.push_back(st.st_gid);
    if (st.st_gid != 0 && grants(entries, st, m_user.uid, withNodeGroup, kRead | kWrite))
        return finding(bad, port.node, "access", who + " is not in group " + grp + ", which may open it " + how,
                       "sudo usermod -aG " + grp + " " + who + ", then log out and in again");

    std::string fix;
    if (isPrinterHardwareId(port.hardwareId)) {
        fix = udevRuleInstalled()
                  ? "the udev rule has not been applied to this node: unplug and replug the printer, or run "
                    "`sudo udevadm trigger --attr-match=idVendor=5a3e`"
                  : "install the udev rule for the printers (the tavroctl package ships it as "
                    "/usr/lib/udev/rules.d/60-tavroset.rules), then replug the printer";
    } else {
        fix = "give a group read and write access to it (a udev rule with GROUP=\"dialout\" or \"lp\" and "
              "MODE=\"0660\"), or run the tool as " + owner;
    }
    return finding(bad, port.node, "access", who + " may not read and write it " + how, fix);
}

namespace {

// The folders of the processes under a /proc root (names of at most nine digits, so a pid
// always fits); an unreadable root gives none.
std::vector<fs::path> processDirs(const fs::path& procRoot)
{
    std::vector<fs::path> dirs;
    std::error_code ec;
    fs::directory_iterator procs(procRoot, ec);
    for (; !ec && procs != fs::directory_iterator(); procs.increment(ec)) {
        const std::string name = procs->path().filename().string();
        if (allDigits(name) && name.size() <= 9)
            dirs.push_back(procs->path());
    }
    return dirs;
}

} // namespace

std::vector<DoctorFinding> PortDoctor::checkHolders(const DoctorPort& port) const
{
    std::vector<DoctorFinding> out;
    struct stat node {};
    if (::stat(port.node.c_str(), &node) != 0)
        return out;
    const bool important = port.named || isPrinterHardwareId(port.hardwareId);
    for (const fs::path& procDir : processDirs(m_roots.proc)) {
        const std::string pidText = procDir.filename().string();
        if (static_cast<pid_t>(std::stol(pidText)) == m_roots.selfPid)
            continue;
        std::error_code fdError;
        fs::directory_iterator fds(procDir / "fd", fdError);
        if (fdError)
            continue; // another user's process; the caller notes that it could not look
        bool holds = false;
        for (; fds != fs::directory_iterator(); fds.increment(fdError)) {
            if (fdError)
                break;
            struct stat open {};
            if (::stat(fds->path().c_str(), &open) != 0)
                continue;
            bool same = (S_ISCHR(node.st_mode) && S_ISCHR(open.st_mode) && node.st_rdev == open.st_rdev) ||
                        (node.st_dev == open.st_dev && node.st_ino == open.st_ino);
            if (same) {
                holds = true;
                break;
            }
        }
        if (!holds)
            continue;
        std::string name = readFirstLine(procDir / "comm");
        if (name.empty())
            name = "pid " + pidText;
        std::string fix;
        if (name == "ModemManager")
            fix = "ModemManager is probing it: install the udev rule (ID_MM_DEVICE_IGNORE=1) and replug, or "
                  "`sudo systemctl stop ModemManager`";
        else if (name == "brltty")
            fix = "brltty took it for a braille display: `sudo systemctl mask brltty-udev.service` or remove "
                  "brltty when no braille display is used, then replug";
        else
            fix = "close " + name + " or end it with `kill " + pidText + "` (sudo when it is another user's)";
        out.push_back(finding(important ? DoctorSeverity::Error : DoctorSeverity::Warning, port.node, "holder",
                              "held open by " + name + " (pid " + pidText + "); its reads take the printer's answers",
                              fix));
    }
    return out;
}

std::vector<PortDoctor::Process> PortDoctor::runningNamed(const std::string& comm) const
{
    std::vector<Process> found;
    for (const fs::path& procDir : processDirs(m_roots.proc))
        if (readFirstLine(procDir / "comm") == comm)
            found.push_back({static_cast<pid_t>(std::stol(procDir.filename().string())), comm});
    return found;
}

std::optional<std::string> PortDoctor::udevDatabaseOf(const std::string& node) const
{
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    return readWhole(m_roots.run / "udev" / "data" /
                     ("c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
}

bool PortDoctor::udevRuleInstalled() const
{
    for (auto& dir : m_roots.udevRuleDirs) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (it->path().extension() != ".rules")
                continue;
            auto text = readWhole(it->path());
            if (!text)
                continue;
            std::string upper = toUpperAscii(*text);
            if (upper.find("ATTRS{IDVENDOR}==\"5A3E\"") != std::string::npos)
                return true;
        }
    }
    return false;
}

void PortDoctor::checkServices(const std::vector<DoctorPort>& ports, std::vector<DoctorFinding>& out) const
{
    auto mm = runningNamed("ModemManager");
    auto brl = runningNamed("brltty");
    for (auto& port : ports) {
        if (!isUsbSerialNode(port.node))
            continue;
        auto db = udevDatabaseOf(port.node);
        const bool printer = isPrinterHardwareId(port.hardwareId);
        if (!mm.empty()) {
            bool ignored = db && (hasLine(*db, "E:ID_MM_DEVICE_IGNORE=1") || hasLine(*db, "E:ID_MM_PORT_IGNORE=1"));
            if (ignored)
                out.push_back(finding(DoctorSeverity::Ok, port.node, "modemmanager",
                                      "ModemManager is running and leaves it alone (ID_MM_DEVICE_IGNORE)"));
            else
                out.push_back(finding(
                    DoctorSeverity::Warning, port.node, "modemmanager",
                    "ModemManager (pid " + std::to_string(mm.front().pid) +
                        ") is running and may open it to send AT commands, which the printer prints or answers",
                    printer ? "install the udev rule for the printers (it sets ID_MM_DEVICE_IGNORE=1) and replug, or "
                              "`sudo systemctl stop ModemManager`"
                            : "`sudo systemctl stop ModemManager` (or a udev rule setting ID_MM_DEVICE_IGNORE=1 for "
                              "this adapter)"));
        }
        bool claimedByBrltty = db && db->find("E:BRLTTY_BRAILLE_DRIVER=") != std::string::npos;
        auto ids = idsOf(port.hardwareId);
        if (!brl.empty() && (claimedByBrltty || (ids && isBrlttyBridge(ids->first, ids->second))))
            out.push_back(finding(DoctorSeverity::Error, port.node, "brltty",
                                  "brltty (pid " + std::to_string(brl.front().pid) +
                                      ") is running and claims this USB serial adapter as a braille display",
                                  "`sudo systemctl mask brltty-udev.service` and `sudo systemctl stop brltty`, or "
                                  "`sudo apt remove brltty` when no braille display is used; then replug"));
    }
}

void PortDoctor::checkUsbDrivers(bool printerPortFound, std::vector<DoctorFinding>& out) const
{
    const fs::path devices = m_roots.devices.sysfs / "bus" / "usb" / "devices";
    const bool brlttyRunning = !runningNamed("brltty").empty();
    std::error_code ec;
    fs::directory_iterator it(devices, ec);
    std::vector<fs::path> entries;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    bool anyPrinter = false;
    for (auto& device : entries) {
        std::string name = device.filename().string();
        if (name.find(':') != std::string::npos)
            continue; // an interface, looked at from its device
        unsigned vid = 0, pid = 0;
        if (std::sscanf(readFirstLine(device / "idVendor").c_str(), "%4x", &vid) != 1 ||
            std::sscanf(readFirstLine(device / "idProduct").c_str(), "%4x", &pid) != 1)
            continue;
        const bool printer = vid == PortDoctor::kVendorId;
        const bool bridge = isBrlttyBridge(vid, pid);
        if (!printer && !bridge)
            continue;
        anyPrinter = anyPrinter || printer;
        const std::string subject = "USB " + hex4(vid) + ":" + hex4(pid) + " (" + name + ")";
        std::error_code ie;
        fs::directory_iterator ifs(device, ie);
        std::vector<fs::path> interfaces;
        for (; !ie && ifs != fs::directory_iterator(); ifs.increment(ie))
            if (ifs->path().filename().string().rfind(name + ":", 0) == 0)
                interfaces.push_back(ifs->path());
        std::sort(interfaces.begin(), interfaces.end());
        for (auto& iface : interfaces) {
            std::string cls = readFirstLine(iface / "bInterfaceClass");
            std::error_code le;
            fs::path driverLink = fs::read_symlink(iface / "driver", le);
            std::string driver = le ? "" : driverLink.filename().string();
            std::string ifName = iface.filename().string();
            if (printer && (cls == "07" || cls == "02")) {
                const char* expected = cls == "07" ? "usblp" : "cdc_acm";
                const char* what = cls == "07" ? "USB printer interface" : "USB virtual serial interface";
                if (driver == expected) {
                    out.push_back(finding(DoctorSeverity::Ok, subject, "driver",
                                          std::string(what) + " " + ifName + " is bound to " + expected));
                } else if (driver.empty()) {
                    std::error_code me;
                    bool loaded = fs::exists(m_roots.devices.sysfs / "module" / expected, me);
                    out.push_back(finding(
                        DoctorSeverity::Error, subject, "driver",
                        std::string(what) + " " + ifName + " has no driver" +
                            (loaded ? std::string(" although ") + expected + " is loaded: a program detached it"
                                    : std::string(": the ") + expected + " module is not loaded"),
                        loaded ? "close the program that uses the printer through libusb (a CUPS usb backend, "
                                 "ipp-usb, a vendor tool), then unplug and replug the printer"
                               : std::string("`sudo modprobe ") + expected + "` (and remove a `blacklist " +
                                     expected + "` line from /etc/modprobe.d/ if there is one)"));
                } else {
                    out.push_back(finding(DoctorSeverity::Error, subject, "driver",
                                          std::string(what) + " " + ifName + " is claimed by " + driver +
                                              " instead of " + expected + ", so it has no device node",
                                          "close the program that claimed it (a CUPS usb backend, ipp-usb, a "
                                          "libusb tool), then unplug and replug the printer"));
                }
            } else if (bridge && brlttyRunning && (driver.empty() || driver == "usbfs")) {
                out.push_back(finding(DoctorSeverity::Error, subject, "brltty",
                                      "brltty is running and this USB serial adapter's interface " + ifName +
                                          " has no serial driver: brltty took it for a braille display",
                                      "`sudo systemctl mask brltty-udev.service` and `sudo systemctl stop brltty`, or "
                                      "`sudo apt remove brltty` when no braille display is used; then replug"));
            }
        }
    }
    if (!anyPrinter && !printerPortFound)
        out.push_back(finding(DoctorSeverity::Info, "USB", "driver",
                              "no printer with USB vendor id 5A3E is connected (serial and parallel printers do not "
                              "show here)"));
}

DoctorReport PortDoctor::examine(const std::vector<std::string>& namedPorts) const
{
    DoctorReport report;
    report.user = m_user.name;
    auto& out = report.findings;

    std::vector<DoctorPort> ports = discoverPorts();
    auto usbPrinters = listUsbPrinters(m_roots.devices);
    auto usbSerial = listUsbSerialPorts(m_roots.devices);
    auto idOfNode = [&](const std::string& node) -> std::string {
        for (auto* list : {&usbPrinters, &usbSerial})
            for (auto& d : *list)
                if (d.node == node)
                    return d.hardwareId;
        return {};
    };
    for (const auto& name : namedPorts) {
        PortKind kind = portKindOf(name);
        if (toUpperAscii(name) == "USB" || kind == PortKind::Usb) {
            bool any = false;
            for (auto& p : ports)
                if (isPrinterHardwareId(p.hardwareId) && fs::path(p.node).parent_path().filename() == "usb") {
                    p.named = true;
                    any = true;
                }
            if (!any)
                out.push_back(finding(DoctorSeverity::Error, name, "port",
                                      "no USB printer-class printer with vendor id 5A3E was found",
                                      "check the cable and the printer's power; `lsusb -d 5a3e:` lists it when the "
                                      "kernel sees it; see the driver findings"));
            continue;
        }
        if (name.rfind("tcp://", 0) == 0 || name.rfind("file:", 0) == 0 || kind == PortKind::Ethernet ||
            kind == PortKind::Wifi) {
            out.push_back(finding(DoctorSeverity::Info, name, "port", "not a local device port: nothing to check here"));
            continue;
        }
        std::string node = devicePathOf(name);
        auto found = std::find_if(ports.begin(), ports.end(), [&](const DoctorPort& p) { return p.node == node; });
        if (found != ports.end())
            found->named = true;
        else
            ports.push_back({node, idOfNode(node), true});
    }

    out.push_back(udevRuleInstalled()
                      ? finding(DoctorSeverity::Ok, "udev", "udev-rule", "the udev rule for USB vendor 5A3E is installed")
                      : finding(DoctorSeverity::Warning, "udev", "udev-rule",
                                "no udev rule gives access to USB vendor 5A3E printers or keeps ModemManager away",
                                "install the tavroctl package (it ships /usr/lib/udev/rules.d/60-tavroset.rules), then "
                                "`sudo udevadm control --reload && sudo udevadm trigger`"));

    for (auto& port : ports) {
        out.push_back(checkAccess(port));
        auto holders = checkHolders(port);
        out.insert(out.end(), holders.begin(), holders.end());
    }
    checkServices(ports, out);
    checkUsbDrivers(std::any_of(ports.begin(), ports.end(),
                                [](const DoctorPort& p) { return isPrinterHardwareId(p.hardwareId); }),
                    out);

    if (ports.empty() && namedPorts.empty())
        out.push_back(finding(DoctorSeverity::Info, "ports", "port", "no serial, parallel or USB printer port was found"));

    // Without root, /proc/<pid>/fd of other users' processes cannot be read, so a holder
    // running as another user (ModemManager, brltty, CUPS) stays unseen.
    if (::geteuid() != 0)
        out.push_back(finding(DoctorSeverity::Info, "processes", "holder",
                              "processes of other users were not looked into",
                              "run `sudo tavroctl doctor` to see whether a system service holds a port"));
    return report;
}
