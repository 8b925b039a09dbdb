// The doctor's checks against ptys whose owner and mode the test changes, a fake sysfs tree,
// fake /proc and /run trees, and a child process that holds a pty open. The user is a
// made-up uid with made-up groups: the tests run as root, for whom every open succeeds.
#include "port/PortDoctor.h"

#include "FakeSysfs.h"
#include "TempDir.h"
#include "common/PtyPair.h"

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t kUid = 4242;
constexpr gid_t kGid = 4242;
constexpr gid_t kPortGroup = 5555;

DoctorUser tester(std::vector<gid_t> session = {}, std::vector<gid_t> account = {})
{
    DoctorUser u;
    u.uid = kUid;
    u.gid = kGid;
    u.name = "tester";
    u.sessionGroups = std::move(session);
    u.accountGroups = std::move(account);
    return u;
}

struct DoctorFixture : ::testing::Test {
    TempDir dir;
    FakeSysfs fake{dir.path()};
    PtyPair pty;
    DoctorRoots roots;

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "changing a pty's owner and group needs root";
        ASSERT_TRUE(pty.valid()) << pty.error();
        roots.devices.sysfs = fake.sysfsRoot();
        roots.devices.dev = fake.devRoot();
        roots.proc = dir / "proc";
        roots.run = dir / "run";
        roots.udevRuleDirs = {dir / "rules.d"};
        roots.selfPid = ::getpid();
        fs::create_directories(roots.proc);
        fs::create_directories(roots.run / "udev" / "data");
    }

    void setNode(const std::string& path, uid_t owner, gid_t group, mode_t mode)
    {
        ASSERT_EQ(::chown(path.c_str(), owner, group), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    void fakeProcess(int pid, const std::string& comm)
    {
        fs::create_directories(roots.proc / std::to_string(pid));
        writeFileBytes(roots.proc / std::to_string(pid) / "comm", comm + "\n");
    }

    void udevDatabase(const std::string& node, const std::string& text)
    {
        struct stat st {};
        ASSERT_EQ(::stat(node.c_str(), &st), 0);
        writeFileBytes(roots.run / "udev" / "data" /
                           ("c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))),
                       text);
    }

    void installRule()
    {
        fs::create_directories(dir / "rules.d");
        writeFileBytes(dir / "rules.d" / "60-tavroset.rules",
                       "SUBSYSTEM==\"usbmisc\", ATTRS{idVendor}==\"5a3e\", TAG+=\"uaccess\"\n");
    }

    std::vector<DoctorFinding> of(const DoctorReport& report, const std::string& check)
    {
        std::vector<DoctorFinding> out;
        for (auto& f : report.findings)
            if (f.check == check)
                out.push_back(f);
        return out;
    }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(DoctorFixture, GroupAccessNamesTheGroupAndTheLoginThatIsMissing)
{
    setNode(pty.slavePath(), 0, kPortGroup, 0660);
    DoctorPort port{pty.slavePath(), "", true};

    DoctorFinding outside = PortDoctor(roots, tester()).checkAccess(port);
    EXPECT_EQ(outside.severity, DoctorSeverity::Error);
    EXPECT_TRUE(contains(outside.message, "not in group")) << outside.message;
    EXPECT_TRUE(contains(outside.fix, "usermod -aG")) << outside.fix;
    EXPECT_TRUE(contains(outside.fix, " tester")) << outside.fix;

    DoctorFinding member = PortDoctor(roots, tester({kPortGroup}, {kPortGroup})).checkAccess(port);
    EXPECT_EQ(member.severity, DoctorSeverity::Ok) << member.message;

    // Added to the group, but the session is older than that.
    DoctorFinding stale = PortDoctor(roots, tester({}, {kPortGroup})).checkAccess(port);
    EXPECT_EQ(stale.severity, DoctorSeverity::Error);
    EXPECT_TRUE(contains(stale.message, "login session")) << stale.message;
    EXPECT_TRUE(contains(stale.fix, "log out")) << stale.fix;

    // Read-only for the group is not enough to print and read the answers.
    setNode(pty.slavePath(), 0, kPortGroup, 0640);
    EXPECT_NE(PortDoctor(roots, tester({kPortGroup}, {kPortGroup})).checkAccess(port).severity, DoctorSeverity::Ok);
    // Owner access counts whatever the groups; "other" access for a stranger as well.
    setNode(pty.slavePath(), kUid, 0, 0600);
    EXPECT_EQ(PortDoctor(roots, tester()).checkAccess(port).severity, DoctorSeverity::Ok);
    setNode(pty.slavePath(), 0, 0, 0666);
    EXPECT_EQ(PortDoctor(roots, tester()).checkAccess(port).severity, DoctorSeverity::Ok);
    // A group the user is in that grants nothing denies, even when "other" would grant.
    setNode(pty.slavePath(), 0, kPortGroup, 0606);
    EXPECT_NE(PortDoctor(roots, tester({kPortGroup}, {kPortGroup})).checkAccess(port).severity, DoctorSeverity::Ok);
    setNode(pty.slavePath(), 0, 5, 0620);
}

TEST_F(DoctorFixture, RootOnlyPrinterNodePointsAtTheUdevRule)
{
    std::string node = fake.addUsbPrinter("lp0", 0x5A3E, 0x3302, 0x0100, pty.slavePath());
    setNode(pty.slavePath(), 0, 0, 0600);
    DoctorPort printer{node, "USB\\VID_5A3E&PID_3302&REV_0100", false};

    DoctorFinding noRule = PortDoctor(roots, tester()).checkAccess(printer);
    EXPECT_EQ(noRule.severity, DoctorSeverity::Error) << "a printer the user cannot open blocks printing";
    EXPECT_TRUE(contains(noRule.fix, "install the udev rule")) << noRule.fix;

    installRule();
    DoctorFinding notApplied = PortDoctor(roots, tester()).checkAccess(printer);
    EXPECT_TRUE(contains(notApplied.fix, "udevadm trigger")) << notApplied.fix;

    // The same node as some serial port of unknown use is only a warning.
    DoctorPort other{pty.slavePath(), "", false};
    EXPECT_EQ(PortDoctor(roots, tester()).checkAccess(other).severity, DoctorSeverity::Warning);
    setNode(pty.slavePath(), 0, 5, 0620);
}

TEST_F(DoctorFixture, AclEntriesGrantAndTheMaskLimitsThem)
{
    // A regular file carries the ACL: the pty file system keeps none.
    fs::path node = dir / "node";
    writeFileBytes(node, "");
    setNode(node.string(), 0, 0, 0600);
    acl_t acl = acl_from_text("u::rw-,u:4242:rw-,g::---,m::rw-,o::---");
    ASSERT_NE(acl, nullptr);
    int rc = acl_set_file(node.c_str(), ACL_TYPE_ACCESS, acl);
    int error = errno;
    acl_free(acl);
    if (rc != 0)
        GTEST_SKIP() << "the temp folder keeps no ACLs: " << std::strerror(error);
    DoctorPort port{node.string(), "", true};
    EXPECT_EQ(PortDoctor(roots, tester()).checkAccess(port).severity, DoctorSeverity::Ok)
        << "the uaccess ACL entry of the seat's user";

    acl = acl_from_text("u::rw-,u:4242:rw-,g::---,m::r--,o::---");
    ASSERT_EQ(acl_set_file(node.c_str(), ACL_TYPE_ACCESS, acl), 0);
    acl_free(acl);
    EXPECT_NE(PortDoctor(roots, tester()).checkAccess(port).severity, DoctorSeverity::Ok) << "mask r-- allows no write";

    acl = acl_from_text("u::rw-,g::---,g:5555:rw-,m::rw-,o::---");
    ASSERT_EQ(acl_set_file(node.c_str(), ACL_TYPE_ACCESS, acl), 0);
    acl_free(acl);
    EXPECT_EQ(PortDoctor(roots, tester({kPortGroup}, {kPortGroup})).checkAccess(port).severity, DoctorSeverity::Ok);
    EXPECT_NE(PortDoctor(roots, tester()).checkAccess(port).severity, DoctorSeverity::Ok);
}

TEST_F(DoctorFixture, AProcessHoldingThePtyIsNamed)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::prctl(PR_SET_NAME, "tavro-holder");
        int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        char ok = fd >= 0 ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);

    roots.proc = "/proc";
    DoctorPort port{pty.slavePath(), "", true};
    auto holders = PortDoctor(roots, tester()).checkHolders(port);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(ok, '1');
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].severity, DoctorSeverity::Error);
    EXPECT_TRUE(contains(holders[0].message, "tavro-holder (pid " + std::to_string(child) + ")")) << holders[0].message;
    EXPECT_TRUE(contains(holders[0].fix, "kill " + std::to_string(child))) << holders[0].fix;

    EXPECT_TRUE(PortDoctor(roots, tester()).checkHolders(port).empty()) << "the holder has ended";
}

TEST_F(DoctorFixture, ModemManagerWarningGoesAwayWithTheIgnoreProperty)
{
    std::string node = fake.addUsbSerial("ttyACM0", 0x5A3E, 0x3301, pty.slavePath());
    fakeProcess(4711, "ModemManager");
    udevDatabase(node, "E:ID_MM_CANDIDATE=1\n");
    auto mm = of(PortDoctor(roots, tester()).examine({}), "modemmanager");
    ASSERT_EQ(mm.size(), 1u);
    EXPECT_EQ(mm[0].severity, DoctorSeverity::Warning);
    EXPECT_TRUE(contains(mm[0].message, "pid 4711")) << mm[0].message;
    EXPECT_TRUE(contains(mm[0].fix, "ID_MM_DEVICE_IGNORE")) << mm[0].fix;

    udevDatabase(node, "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\nG:uaccess\n");
    mm = of(PortDoctor(roots, tester()).examine({}), "modemmanager");
    ASSERT_EQ(mm.size(), 1u);
    EXPECT_EQ(mm[0].severity, DoctorSeverity::Ok);

    fs::remove_all(roots.proc / "4711");
    EXPECT_TRUE(of(PortDoctor(roots, tester()).examine({}), "modemmanager").empty()) << "not running: nothing to say";
}

TEST_F(DoctorFixture, BrlttyClaimsKnownBridgesAndMarkedPorts)
{
    std::string ch340 = fake.addUsbSerial("ttyUSB0", 0x1A86, 0x7523, pty.slavePath());
    PtyPair other;
    ASSERT_TRUE(other.valid());
    std::string pl2303 = fake.addUsbSerial("ttyUSB1", 0x067B, 0x2303, other.slavePath());
    EXPECT_TRUE(of(PortDoctor(roots, tester()).examine({}), "brltty").empty()) << "brltty is not running";

    fakeProcess(99, "brltty");
    auto brl = of(PortDoctor(roots, tester()).examine({}), "brltty");
    ASSERT_EQ(brl.size(), 1u);
    EXPECT_EQ(brl[0].subject, ch340);
    EXPECT_EQ(brl[0].severity, DoctorSeverity::Error);

    udevDatabase(pl2303, "E:BRLTTY_BRAILLE_DRIVER=auto\n");
    brl = of(PortDoctor(roots, tester()).examine({}), "brltty");
    ASSERT_EQ(brl.size(), 2u);
    EXPECT_EQ(brl[1].subject, pl2303);
}

struct UsbDriverTest : DoctorFixture {
    // <sys>/bus/usb/devices/3-1 with one interface of the class, bound to driver (none
    // when empty).
    void usbDevice(const std::string& vendor, const std::string& cls, const std::string& driver)
    {
        fs::path device = roots.devices.sysfs / "bus" / "usb" / "devices" / "3-1";
        fs::remove_all(device);
        fake.writeSysFile("bus/usb/devices/3-1/idVendor", vendor + "\n");
        fake.writeSysFile("bus/usb/devices/3-1/idProduct", "3302\n");
        fake.writeSysFile("bus/usb/devices/3-1/3-1:1.0/bInterfaceClass", cls + "\n");
        if (!driver.empty())
            fs::create_symlink("../../../../bus/usb/drivers/" + driver, device / "3-1:1.0" / "driver");
    }
    std::vector<DoctorFinding> drivers()
    {
        std::vector<DoctorFinding> out;
        for (auto& f : of(PortDoctor(roots, tester()).examine({}), "driver"))
            out.push_back(f);
        return out;
    }
};

TEST_F(UsbDriverTest, PrinterInterfaceMustBeBoundToUsblp)
{
    usbDevice("5a3e", "07", "usblp");
    auto d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].severity, DoctorSeverity::Ok) << d[0].message;

    usbDevice("5a3e", "07", "");
    d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].severity, DoctorSeverity::Error);
    EXPECT_TRUE(contains(d[0].fix, "modprobe usblp")) << d[0].fix;

    fake.writeSysFile("module/usblp/refcnt", "0\n");
    d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_TRUE(contains(d[0].message, "detached")) << d[0].message;

    usbDevice("5a3e", "07", "usbfs");
    d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].severity, DoctorSeverity::Error);
    EXPECT_TRUE(contains(d[0].message, "claimed by usbfs")) << d[0].message;

    usbDevice("5a3e", "02", "cdc_acm");
    d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].severity, DoctorSeverity::Ok) << d[0].message;

    // Another maker's printer is none of the doctor's business.
    usbDevice("04b8", "07", "");
    d = drivers();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].severity, DoctorSeverity::Info);
    EXPECT_TRUE(contains(d[0].message, "no printer with USB vendor id 5A3E")) << d[0].message;
}

TEST_F(DoctorFixture, NamedPortsDecideWhetherPrintingIsBlocked)
{
    // A parallel port of unknown use that the user cannot open: a warning, not blocking.
    std::string lp = fake.addDevNode("lp0", "");
    setNode(lp, 0, 0, 0600);
    DoctorReport plain = PortDoctor(roots, tester()).examine({});
    EXPECT_FALSE(plain.blocking());
    auto access = of(plain, "access");
    ASSERT_EQ(access.size(), 1u);
    EXPECT_EQ(access[0].subject, lp);
    EXPECT_EQ(access[0].severity, DoctorSeverity::Warning);

    // Named with --port, the same problem blocks.
    EXPECT_TRUE(PortDoctor(roots, tester()).examine({lp}).blocking());
    // A network port has nothing local to check.
    EXPECT_FALSE(PortDoctor(roots, tester()).examine({"tcp://127.0.0.1:6001"}).blocking());
    // --port usb without a printer, or a node that is not there, blocks.
    EXPECT_TRUE(PortDoctor(roots, tester()).examine({"usb"}).blocking());
    DoctorReport missing = PortDoctor(roots, tester()).examine({(dir / "dev" / "ttyUSB7").string()});
    EXPECT_TRUE(missing.blocking());
    bool said = false;
    for (auto& f : missing.findings)
        said = said || contains(f.message, "does not exist");
    EXPECT_TRUE(said);

    // A 5A3E printer the user may open: --port usb passes.
    std::string node = fake.addUsbPrinter("lp0", 0x5A3E, 0x3302, std::nullopt, pty.slavePath());
    setNode(pty.slavePath(), 0, kPortGroup, 0660);
    DoctorReport usb = PortDoctor(roots, tester({kPortGroup}, {kPortGroup})).examine({"usb"});
    EXPECT_FALSE(usb.blocking());
    bool checked = false;
    for (auto& f : of(usb, "access"))
        checked = checked || (f.subject == node && f.severity == DoctorSeverity::Ok);
    EXPECT_TRUE(checked);
    setNode(pty.slavePath(), 0, 5, 0620);
}

} // namespace
