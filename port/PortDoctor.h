#pragma once
// `tavroctl doctor`: why a technician's printer port does not work on this Linux machine.
// For each port the tool can find (and each port the user names) it asks: can the user open
// it, and if not why (file mode, ACL, group membership, a session that predates the group,
// no udev rule); does another process hold it (named from /proc/*/fd); would ModemManager
// or brltty take it; is the printer's USB interface bound to usblp or cdc_acm. Every
// finding carries a fix a technician can type.
//
// Every root is injected (sysfs, /dev, /proc, /run, the udev rule folders) and so is the
// user: the checks compute access from the node's owner, mode and ACL for that user's uid
// and groups instead of trying open() as the process, because the doctor often runs as root
// (sudo) for someone else, and tests run as root. Nothing here writes to a device or
// opens one.
#include "port/DeviceDiscovery.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct DoctorRoots {
    DeviceRoots devices;
    std::filesystem::path proc = "/proc";
    std::filesystem::path run = "/run"; // the udev database is <run>/udev/data
    std::vector<std::filesystem::path> udevRuleDirs = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                                       "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    // This process, left out of the holders (the doctor itself never opens a port, but a
    // test process may hold the far end of a pty).
    pid_t selfPid = 0;

    static DoctorRoots fromEnvironment();
};

// The user the checks are for.
struct DoctorUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    // The groups the user's running session has (what a program started now gets).
    std::vector<gid_t> sessionGroups;
    // The groups the account has in the group database (what the next login gets).
    std::vector<gid_t> accountGroups;

    // The user behind this process: under sudo the one who ran sudo (SUDO_UID), else the
    // real uid with this process's groups as the session's.
    static DoctorUser current();
    // A named account (or a numeric uid); nullopt when there is no such user. Its session
    // groups are taken to be its account groups.
    static std::optional<DoctorUser> byName(const std::string& nameOrUid);
};

enum class DoctorSeverity { Ok, Info, Warning, Error };
const char* severityName(DoctorSeverity severity);

struct DoctorFinding {
    DoctorSeverity severity = DoctorSeverity::Info;
    std::string subject; // a device path, "ModemManager", "profile", ...
    std::string check;   // "access", "holder", "modemmanager", "brltty", "driver", "udev-rule", "files", "port"
    std::string message;
    std::string fix;     // empty when nothing is to be done
};

struct DoctorReport {
    std::string user;
    std::vector<DoctorFinding> findings;
    // True when an Error finding exists: something stops the tool from printing.
    bool blocking() const;
};

// What the doctor knows of one port before it looks.
struct DoctorPort {
    std::string node;       // device path
    std::string hardwareId; // "USB\VID_5A3E&PID_3302..." for USB ports, else empty
    bool named = false;     // named by the user (--port): problems with it are errors
};

class PortDoctor {
public:
    PortDoctor(DoctorRoots roots, DoctorUser user);

    // The ports discovery finds: serial (with USB virtual serial), parallel, USB printers.
    std::vector<DoctorPort> discoverPorts() const;

    // Examines the ports (see discoverPorts) and the machine-wide causes. namedPorts are the
    // user's --port values: device paths, COMn/LPTn, or "usb" for the printers' USB
    // printer-class nodes; network and file ports are noted and not examined.
    DoctorReport examine(const std::vector<std::string>& namedPorts) const;

    // One port's access for the user: Ok, or a finding that says why not and what to do.
    DoctorFinding checkAccess(const DoctorPort& port) const;
    // One finding per process (other than selfPid) with the node open.
    std::vector<DoctorFinding> checkHolders(const DoctorPort& port) const;

    // The vendor id of the printers.
    static constexpr unsigned kVendorId = 0x5A3E;

private:
    struct Process {
        pid_t pid;
        std::string name;
    };
    std::vector<Process> runningNamed(const std::string& comm) const;
    std::optional<std::string> udevDatabaseOf(const std::string& node) const;
    bool udevRuleInstalled() const;
    void checkServices(const std::vector<DoctorPort>& ports, std::vector<DoctorFinding>& out) const;
    void checkUsbDrivers(bool printerPortFound, std::vector<DoctorFinding>& out) const;

    DoctorRoots m_roots;
    DoctorUser m_user;
};

// True when the hardware id is one of the printers' (vendor 5A3E).
bool isPrinterHardwareId(const std::string& hardwareId);
