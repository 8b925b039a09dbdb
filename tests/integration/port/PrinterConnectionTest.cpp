// Every kind of printer connection through the one interface: bytes out and back, the
// reasons a failure gives (with errno text), a printer that stalls or hangs up, and the
// reopen rules taken on the test Clock.
#include "PortTestSupport.h"

#include "LoopbackServer.h"
#include "app/ConnectionRules.h"
#include "common/UniqueFd.h"
#include "port/DeviceDiscovery.h"
#include "port/EthernetLink.h"
#include "port/ParallelConnection.h"
#include "port/PrinterConnection.h"
#include "port/ReopenPolicies.h"

#include <atomic>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <termios.h>

using namespace porttest;
using namespace std::chrono;

namespace {

struct ConnectionTest : PortFixture {
    // The port facade watches the connections, as user setup's does.
    ConnectionHost host() { return {clock, prompter, log, ports.get(), &roots}; }
    std::unique_ptr<PrinterConnection> make(const ConnectionSettings& s) { return makeConnection(s, host()); }
    ConnectionSettings serial(const std::string& name)
    {
        ConnectionSettings s;
        s.portName = name;
        s.baudRate = 9600;
        s.byteSize = 8;
        s.parity = 0;
        s.flowCtrl = 3;
        s.modelFamily = kFamilyTavro36;
        return s;
    }
    ConnectionSettings usb(const std::string& name = "USB")
    {
        ConnectionSettings s;
        s.portName = name;
        s.modelFamily = kFamilyTavro36;
        return s;
    }
    // Reads until the connection delivered count bytes or 5 s passed.
    Bytes readAll(PrinterConnection& c, std::size_t count)
    {
        Bytes out;
        auto end = steady_clock::now() + 5s;
        while (out.size() < count && steady_clock::now() < end) {
            std::uint8_t buf[64];
            IoResult r = c.readFor(buf, 200ms);
            if (!r)
                break;
            out.insert(out.end(), buf, buf + r.count());
        }
        return out;
    }
    // Holds the slave in XOFF: the pty takes no more output until XON.
    void stopOutput()
    {
        termios t{};
        ASSERT_EQ(::tcgetattr(pty.slaveHoldFd(), &t), 0);
        t.c_iflag |= IXON;
        t.c_cc[VSTOP] = 0x13;
        t.c_cc[VSTART] = 0x11;
        ASSERT_EQ(::tcsetattr(pty.slaveHoldFd(), TCSANOW, &t), 0);
        ASSERT_TRUE(writeMaster(pty.master(), {0x13}));
        ASSERT_TRUE(waitFor([&] {
            pollfd p{pty.slaveHoldFd(), POLLOUT, 0};
            return ::poll(&p, 1, 0) == 0;
        }));
    }
};

// A second pty whose master the test can drop, as a printer that is switched off.
struct DroppablePty {
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    void hangUp() { pty.reset(); }
};

} // namespace

TEST_F(ConnectionTest, FactoryPicksTheKindAndNamesIt)
{
    struct Case {
        ConnectionSettings settings;
        PortKind kind;
        std::string described;
    } cases[] = {
        {serial("/dev/ttyUSB0"), PortKind::Serial, "serial port /dev/ttyUSB0"},
        {serial("/dev/lp0"), PortKind::Parallel, "parallel port /dev/lp0"},
        {usb("/dev/usb/lp1"), PortKind::Usb, "USB printer /dev/usb/lp1"},
        {usb(), PortKind::Usb, "USB printer"},
        {[] { ConnectionSettings s; s.portName = "ETHERNET_II"; s.host = "10.0.0.5"; s.tcpPort = 6001; return s; }(),
         PortKind::Ethernet, "network printer 10.0.0.5:6001"},
        {[] { ConnectionSettings s; s.portName = "FILE"; s.outputFile = "out.prn"; return s; }(), PortKind::File,
         "file out.prn"},
    };
    for (const auto& c : cases) {
        auto conn = make(c.settings);
        ASSERT_TRUE(conn) << c.described;
        EXPECT_EQ(conn->kind(), c.kind) << c.described;
        EXPECT_EQ(conn->describe(), c.described);
        EXPECT_FALSE(conn->isOpen());
        EXPECT_EQ(conn->canAnswer(), c.kind != PortKind::File);
    }
}

TEST_F(ConnectionTest, SerialWritesAndReadsThroughTheWatchThread)
{
    std::string port = linkPty("ttyConn0");
    auto conn = make(serial(port));
    ASSERT_TRUE(conn->open()) << conn->open().message();
    EXPECT_EQ(ports->m_IsOpen, 1);

    Bytes frame = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x05};
    IoResult w = conn->write(frame, 1s);
    ASSERT_TRUE(w) << w.message();
    EXPECT_EQ(w.count(), frame.size());
    EXPECT_EQ(readMaster(pty.master(), frame.size()), frame);

    ASSERT_TRUE(writeMaster(pty.master(), {0x37, 0x27, 0x05, 0x00}));
    EXPECT_EQ(readAll(*conn, 4), (Bytes{0x37, 0x27, 0x05, 0x00}));
    // Nothing more: Done with no bytes once the wait is over.
    std::uint8_t buf[8];
    IoResult r = conn->readFor(buf, 50ms);
    EXPECT_TRUE(r);
    EXPECT_EQ(r.count(), 0u);
    conn->close();
    EXPECT_EQ(ports->m_IsOpen, 0);
}

TEST_F(ConnectionTest, FailuresCarryTheErrnoText)
{
    auto missing = make(serial((dir / "ttyNone0").string()));
    IoResult r = missing->open();
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error(), ENOENT);
    EXPECT_EQ(r.message(), "cannot open serial port " + (dir / "ttyNone0").string() + ": No such file or directory");

    auto file = make([&] { ConnectionSettings s; s.portName = (dir / "no/such/dir.prn").string(); return s; }());
    r = file->open();
    EXPECT_EQ(r.error(), ENOENT);
    EXPECT_NE(r.message().find("cannot create file"), std::string::npos) << r.message();

    // An empty name fails like every other name that cannot be opened.
    auto empty = make(ConnectionSettings{});
    r = empty->open();
    EXPECT_FALSE(r);
    EXPECT_NE(logText().find("CPorts::Open() Invalid Handle\r\n"), std::string::npos);

    // Context is added on the way up.
    std::string port = linkPty("ttyConn1");
    auto conn = make(serial(port));
    ASSERT_TRUE(conn->open());
    conn->close();
    r = writeAll(*conn, Bytes{1, 2, 3}, 1s, "block 3 of 17");
    EXPECT_EQ(r.message().rfind("failed to write block 3 of 17 to serial port " + port + ": ", 0), 0u) << r.message();
}

TEST_F(ConnectionTest, SerialPortIsHeldExclusively)
{
    std::string port = linkPty("ttyConn2");
    auto first = make(serial(port));
    ASSERT_TRUE(first->open());
    CPorts other(prompter, clock, log);
    ConnectionHost otherHost{clock, prompter, log, &other};
    auto second = makeConnection(serial(port), otherHost);
    IoResult r = second->open();
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error(), EBUSY);
    EXPECT_NE(r.message().find("another program"), std::string::npos) << r.message();
    first->close();
    EXPECT_TRUE(second->open()) << "the port is free again after close";
}

TEST_F(ConnectionTest, SerialStallIsReportedAfterTheStallLimitWithTheCount)
{
    std::string port = linkPty("ttyConn3");
    auto conn = make(serial(port));
    ASSERT_TRUE(conn->open());
    stopOutput();
    conn->setStallLimit(300ms);
    Bytes big(64 * 1024, 0x41);
    auto start = steady_clock::now();
    IoResult r = conn->write(big, 60s); // the deadline alone would allow a minute
    auto took = steady_clock::now() - start;
    EXPECT_EQ(r.outcome(), IoResult::Outcome::TimedOut);
    EXPECT_LT(r.count(), big.size());
    EXPECT_NE(r.message().find("the printer took no data for 300 ms"), std::string::npos) << r.message();
    EXPECT_NE(r.message().find(std::to_string(r.count()) + " of 65536 bytes sent"), std::string::npos) << r.message();
    EXPECT_LT(took, 10s);
    // Close does not wait for the bytes the printer never took.
    start = steady_clock::now();
    conn->close();
    EXPECT_LT(steady_clock::now() - start, 2s);
}

TEST_F(ConnectionTest, SerialHangUpIsNoticedDuringARead)
{
    DroppablePty printer;
    ASSERT_TRUE(printer.pty->valid());
    auto link = dir / "ttyGone0";
    std::filesystem::create_symlink(printer.pty->slavePath(), link);
    auto conn = make(serial(link.string()));
    ASSERT_TRUE(conn->open());
    std::thread off([&] {
        std::this_thread::sleep_for(100ms);
        printer.hangUp();
    });
    std::uint8_t buf[16];
    auto start = steady_clock::now();
    IoResult r = conn->readFor(buf, 5s);
    off.join();
    EXPECT_EQ(r.outcome(), IoResult::Outcome::HungUp);
    EXPECT_EQ(r.message(), "serial port " + link.string() + ": the printer closed the connection");
    EXPECT_LT(steady_clock::now() - start, 2s);
    // And a write afterwards is no success either.
    Bytes one{0x10};
    EXPECT_FALSE(conn->write(one, 500ms));
}

TEST_F(ConnectionTest, UsbReadsDecodedAnswersFromTheOneOpenNode)
{
    std::string node = fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
    auto conn = make(usb());
    ASSERT_TRUE(conn->open());
    EXPECT_EQ(conn->describe(), "USB printer " + node);
    Bytes request = {0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x05};
    ASSERT_TRUE(conn->write(request, 1s));
    EXPECT_EQ(readMaster(pty.master(), request.size()), request);
    // 00 and 1B come escaped; an escape at the end of one read pairs with the next.
    ASSERT_TRUE(writeMaster(pty.master(), {0x37, 0x1B, 0x30, 0x1B}));
    std::uint8_t buf[16];
    IoResult r = conn->readFor(buf, 1s);
    ASSERT_TRUE(r);
    EXPECT_EQ(Bytes(buf, buf + r.count()), (Bytes{0x37, 0x00}));
    ASSERT_TRUE(writeMaster(pty.master(), {0x1B, 0x41}));
    EXPECT_EQ(readAll(*conn, 2), (Bytes{0x1B, 0x41}));
}

TEST_F(ConnectionTest, UsbNodeNamedByPathOpensThatPrinter)
{
    // A printer with a foreign id: "USB" would not find it, its node path does.
    std::string node = fake.addUsbPrinter("lp3", 0x1234, 0x0001, std::nullopt, pty.slavePath());
    auto byId = make(usb());
    IoResult r = byId->open();
    EXPECT_FALSE(r);
    EXPECT_EQ(r.message().rfind("no USB printer with the ids of this model is attached", 0), 0u) << r.message();
    auto byNode = make(usb(node));
    ASSERT_TRUE(byNode->open()) << byNode->open().message();
    ASSERT_TRUE(byNode->write(Bytes{0x10, 0x04, 0x01}, 1s));
    EXPECT_EQ(readMaster(pty.master(), 3), (Bytes{0x10, 0x04, 0x01}));
}

TEST_F(ConnectionTest, UsbHangUpIsNoticedDuringARead)
{
    DroppablePty printer;
    ASSERT_TRUE(printer.pty->valid());
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, printer.pty->slavePath());
    auto conn = make(usb());
    ASSERT_TRUE(conn->open());
    std::thread off([&] {
        std::this_thread::sleep_for(100ms);
        printer.hangUp();
    });
    std::uint8_t buf[16];
    auto start = steady_clock::now();
    IoResult r = conn->readFor(buf, 5s);
    off.join();
    EXPECT_EQ(r.outcome(), IoResult::Outcome::HungUp) << r.message();
    EXPECT_LT(steady_clock::now() - start, 2s);
}

// A USB printer node hands a write to the USB core and reports it taken at once; closing the
// node then cancels the transfer still in flight. A node whose last transfer has not completed
// is not writable, as a pipe that is full: a write is done only once the printer took it, and a
// printer that never does makes the write fail without counting those bytes as sent.
TEST_F(ConnectionTest, UsbWriteIsDoneOnlyWhenThePrinterTookTheLastTransfer)
{
    const auto fifo = dir / "usblp-node";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    UniqueFd printer(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(printer.valid());
    const int capacity = ::fcntl(printer.get(), F_SETPIPE_SZ, 4096);
    ASSERT_GE(capacity, 4096);
    fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, fifo.string());
    auto conn = make(usb());
    ASSERT_TRUE(conn->open()) << conn->open().message();
    Bytes block(static_cast<std::size_t>(capacity), 0x5A);

    std::atomic<bool> taken{false};
    std::thread reader([&] {
        std::this_thread::sleep_for(300ms);
        std::vector<std::uint8_t> buf(block.size());
        std::size_t got = 0;
        taken = true;
        while (got < buf.size()) {
            ssize_t n = ::read(printer.get(), buf.data() + got, buf.size() - got);
            if (n > 0)
                got += static_cast<std::size_t>(n);
        }
    });
    IoResult r = conn->write(block, 5s);
    const bool takenWhenDone = taken;
    reader.join();
    ASSERT_TRUE(r) << r.message();
    EXPECT_TRUE(takenWhenDone) << "the write reported done while the bytes were still in flight";

    // Nobody takes the next block: a stall, and none of its bytes counted as sent.
    conn->setStallLimit(200ms);
    auto start = steady_clock::now();
    r = conn->write(block, 5s);
    EXPECT_EQ(r.outcome(), IoResult::Outcome::TimedOut) << r.message();
    EXPECT_EQ(r.count(), 0u) << r.message();
    EXPECT_LT(steady_clock::now() - start, 2s);
}

TEST_F(ConnectionTest, UsbReopenFollowsThePolicyOnTheClock)
{
    std::string node = fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
    auto conn = make(usb());
    ASSERT_TRUE(conn->open());
    clock.clearSleeps();
    ASSERT_TRUE(conn->reopen(reopenpolicy::usbRestart()));
    EXPECT_EQ(clock.sleeps(), (std::vector<milliseconds>{3000ms}));

    // The printer does not come back: five tries, each failure followed by its pause.
    std::filesystem::remove(node);
    std::filesystem::remove_all(fake.sysfsRoot() / "class/usbmisc/lp0");
    clock.clearSleeps();
    IoResult r = conn->reopen(reopenpolicy::usbRestart());
    EXPECT_FALSE(r);
    EXPECT_EQ(clock.sleeps(), (std::vector<milliseconds>{3000ms, 500ms, 400ms, 300ms, 200ms, 100ms}));
    EXPECT_NE(r.message().find("5 times"), std::string::npos) << r.message();
    EXPECT_FALSE(conn->isOpen());
    EXPECT_EQ(ports->m_IsOpen, 0);
}

TEST_F(ConnectionTest, ParallelDeliversDataWithoutStatusReports)
{
    std::string port = linkPty("lpConn0");
    ConnectionSettings s;
    s.portName = port;
    auto conn = make(s);
    ASSERT_TRUE(conn->open());
    EXPECT_EQ(ports->m_IsOpen, 1);
    ASSERT_TRUE(conn->write(Bytes{0x1D, 0x61, 0x00}, 1s));
    EXPECT_EQ(readMaster(pty.master(), 3), (Bytes{0x1D, 0x61, 0x00}));
    ASSERT_TRUE(writeMaster(pty.master(), {0x18, 0x00, 0x00, 0x0F, 0x41, 0x42}));
    EXPECT_EQ(readAll(*conn, 2), (Bytes{0x41, 0x42}));
    auto* par = dynamic_cast<ParallelConnection*>(conn.get());
    ASSERT_NE(par, nullptr);
    EXPECT_EQ(par->control().GetAsb(), (std::array<std::uint8_t, 4>{0x18, 0x00, 0x00, 0x0F}));

    clock.clearSleeps();
    ASSERT_TRUE(conn->reopen(reopenpolicy::parallelAfterWrite()));
    // The port's own 100 ms close wait, then the printer's 4 s restart.
    EXPECT_EQ(clock.sleeps(), (std::vector<milliseconds>{100ms, 4000ms}));
    conn->close();
    EXPECT_EQ(ports->m_IsOpen, 0);
}

TEST_F(ConnectionTest, FileTakesTheAskedNameAndAnswersNothing)
{
    prompter.setOutputFileName((dir / "asked.prn").string());
    ConnectionSettings s;
    s.portName = "FILE";
    auto conn = make(s);
    ASSERT_TRUE(conn->open());
    EXPECT_EQ(ports->m_PortName, (dir / "asked.prn").string());
    ASSERT_TRUE(conn->write(Bytes{'a', 'b'}, 1s));
    std::uint8_t buf[4];
    IoResult r = conn->readFor(buf, 10s);
    EXPECT_TRUE(r);
    EXPECT_EQ(r.count(), 0u);
    conn->close();
    EXPECT_EQ(readFileBytes(dir / "asked.prn"), "ab");
}

namespace {

struct NetworkTest : ConnectionTest {
    LoopbackServer server;
    ConnectionSettings settings()
    {
        ConnectionSettings s;
        s.portName = "ETHERNET_II";
        s.host = "127.0.0.1";
        s.tcpPort = server.port();
        return s;
    }
    void TearDown() override
    {
        EthClose();
        ConnectionTest::TearDown();
    }
};

// Closes a socket with a reset instead of an orderly end.
void resetSocket(UniqueFd& fd)
{
    linger l{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.reset();
}

} // namespace

TEST_F(NetworkTest, WritesAreAcknowledgedAndAnswersReadAtOnce)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open()) << conn->open().message();
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(conn->write(bytesOf("hello"), 5s));
    EXPECT_EQ(LoopbackServer::readBytes(peer.get(), 5, 5000ms), "hello");
    ASSERT_TRUE(LoopbackServer::sendAll(peer.get(), "ab"));
    std::uint8_t buf[16];
    auto start = steady_clock::now();
    IoResult r = conn->readFor(buf, 5s);
    EXPECT_LT(steady_clock::now() - start, 1s) << "bytes that are there end the wait";
    ASSERT_TRUE(r);
    EXPECT_EQ(std::string(buf, buf + r.count()), "ab");

    // The printer closes: noticed at once, and said so.
    peer.reset();
    r = conn->readFor(buf, 5s);
    EXPECT_EQ(r.outcome(), IoResult::Outcome::HungUp);
    EXPECT_EQ(r.message(), "network printer 127.0.0.1:" + std::to_string(server.port()) +
                               ": the printer closed the connection");
}

TEST_F(NetworkTest, ARefusedConnectionSaysWhy)
{
    int port = server.port();
    server.stopListening();
    ConnectionSettings s = settings();
    s.tcpPort = port;
    auto conn = make(s);
    IoResult r = conn->open();
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error(), ECONNREFUSED);
    EXPECT_EQ(r.message(), "cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
}

TEST_F(NetworkTest, APrinterThatResetsMidTransferIsNoSuccess)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open());
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    std::thread printer([&] {
        // Takes 100 kB, then resets with the rest unread.
        LoopbackServer::readBytes(peer.get(), 100 * 1024, 5000ms);
        resetSocket(peer);
    });
    Bytes data(300 * 1024, 0x55);
    IoResult r = conn->write(data, 10s);
    printer.join();
    if (r) {
        // Everything fitted the socket buffers before the reset: the next write must fail.
        r = conn->write(Bytes(64 * 1024, 0x55), 10s);
    }
    EXPECT_FALSE(r);
    EXPECT_EQ(r.outcome(), IoResult::Outcome::HungUp) << r.message();
}

TEST_F(NetworkTest, AStalledPrinterIsReportedAfterTheStallLimit)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open());
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    conn->setStallLimit(300ms);
    Bytes data(32 * 1024 * 1024, 0x55); // far more than the socket buffers hold
    auto start = steady_clock::now();
    IoResult r = conn->write(data, 60s);
    EXPECT_EQ(r.outcome(), IoResult::Outcome::TimedOut);
    EXPECT_NE(r.message().find("the printer took no data for 300 ms"), std::string::npos) << r.message();
    EXPECT_LT(steady_clock::now() - start, 10s);
}

TEST_F(NetworkTest, StreamedBytesArriveWholeAndInOrderAndDrainWaitsForThem)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open());
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    Bytes data(2 * 1024 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
    std::string got;
    std::thread printer([&] { got = LoopbackServer::readBytes(peer.get(), data.size(), 20000ms); });
    for (std::size_t at = 0; at < data.size(); at += 4096) {
        IoResult r = conn->stream(std::span(data).subspan(at, 4096), 10s);
        ASSERT_TRUE(r) << r.message();
        ASSERT_EQ(r.count(), 4096u);
    }
    IoResult drained = conn->drain(10s);
    EXPECT_TRUE(drained) << drained.message();
    printer.join();
    EXPECT_TRUE(got == std::string(data.begin(), data.end())) << got.size() << " bytes arrived";
}

TEST_F(NetworkTest, AResetDuringAStreamIsNeverASuccess)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open());
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    std::thread printer([&] {
        LoopbackServer::readBytes(peer.get(), 100 * 1024, 5000ms);
        resetSocket(peer);
    });
    // Far more than the socket buffers of both sides hold: the reset must be met on the way
    // or, at the latest, by the drain.
    Bytes chunk(4096, 0x55);
    IoResult r = IoResult::done();
    for (int i = 0; i < 2048 && r; ++i)
        r = conn->stream(chunk, 10s);
    if (r)
        r = conn->drain(10s);
    printer.join();
    EXPECT_FALSE(r);
    EXPECT_EQ(r.outcome(), IoResult::Outcome::HungUp) << r.message();
}

TEST_F(NetworkTest, AStreamToAPrinterThatTakesNothingEndsAtTheStallLimit)
{
    ASSERT_TRUE(server.valid());
    auto conn = make(settings());
    ASSERT_TRUE(conn->open());
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    conn->setStallLimit(300ms);
    Bytes chunk(4096, 0x55);
    auto start = steady_clock::now();
    IoResult r = IoResult::done();
    std::size_t taken = 0;
    for (int i = 0; i < 8192 && r; ++i) {
        r = conn->stream(chunk, 60s);
        taken += r.count();
    }
    EXPECT_EQ(r.outcome(), IoResult::Outcome::TimedOut);
    EXPECT_NE(r.message().find("the printer took no data for 300 ms"), std::string::npos) << r.message();
    EXPECT_LT(steady_clock::now() - start, 10s);
    // What stayed in the socket never arrives: the drain says so within the limit, and counts
    // only the bytes the printer's side acknowledged.
    start = steady_clock::now();
    IoResult d = conn->drain(60s);
    EXPECT_EQ(d.outcome(), IoResult::Outcome::TimedOut) << d.message();
    EXPECT_LT(d.count(), taken);
    EXPECT_LT(steady_clock::now() - start, 5s);
}

// Cancel on every kind that can be faked here (a pty stands in for the serial, parallel and
// USB lines): a write that a stalled printer blocks and a read
// from a silent one end as Cancelled soon after cancel() from another thread, long before the
// 15 s stall bound, with a count that never claims more than the printer then gets.
namespace {

enum class Carrier { Serial, Parallel, Usb, Network };
template <Carrier C>
struct On {
    static constexpr Carrier carrier = C;
};

template <class T>
struct CancelConformance : ConnectionTest {
    static constexpr bool network = T::carrier == Carrier::Network;
    LoopbackServer server;
    UniqueFd peer;
    std::unique_ptr<PrinterConnection> conn;
    CancelToken token;

    void SetUp() override
    {
        ConnectionTest::SetUp();
        if (IsSkipped())
            return;
        ConnectionSettings s;
        if constexpr (T::carrier == Carrier::Serial) {
            s = serial(linkPty("ttyCancel0"));
        } else if constexpr (T::carrier == Carrier::Parallel) {
            s.portName = linkPty("lpCancel0");
        } else if constexpr (T::carrier == Carrier::Usb) {
            fake.addUsbPrinter("lp0", 0x5a3e, 0x3302, std::nullopt, pty.slavePath());
            s = usb();
        } else {
            ASSERT_TRUE(server.valid());
            s.portName = "ETHERNET_II";
            s.host = "127.0.0.1";
            s.tcpPort = server.port();
        }
        conn = make(s);
        IoResult opened = conn->open();
        ASSERT_TRUE(opened) << opened.message();
        if (network) {
            peer = server.accept(5000ms);
            ASSERT_TRUE(peer.valid());
        }
        conn->setCancelToken(&token);
    }
    void TearDown() override
    {
        conn.reset();
        EthClose();
        ConnectionTest::TearDown();
    }
    // The printer stops taking data: a serial, parallel or USB line (a pty) held in XOFF; a
    // network peer that never reads.
    void stall()
    {
        if (!network)
            stopOutput();
    }
    // Lets the printer read again and returns the bytes it gets.
    Bytes resumeAndCollect(std::size_t atMost)
    {
        if (network)
            return bytesOf(LoopbackServer::readBytes(peer.get(), atMost, 3000ms));
        EXPECT_TRUE(writeMaster(pty.master(), {0x11}));
        return readMaster(pty.master(), atMost, 3000ms);
    }
    // cancel() from another thread after `after`; returns when it was called.
    std::thread cancelLater(milliseconds after, steady_clock::time_point& at)
    {
        return std::thread([this, after, &at] {
            std::this_thread::sleep_for(after);
            at = steady_clock::now();
            token.cancel();
        });
    }
};

using Carriers =
    testing::Types<On<Carrier::Serial>, On<Carrier::Parallel>, On<Carrier::Usb>, On<Carrier::Network>>;
struct CarrierName {
    template <class T>
    static std::string GetName(int)
    {
        switch (T::carrier) {
        case Carrier::Serial: return "Serial";
        case Carrier::Parallel: return "Parallel";
        case Carrier::Usb: return "Usb";
        case Carrier::Network: return "Network";
        }
        return "";
    }
};
TYPED_TEST_SUITE(CancelConformance, Carriers, CarrierName);

} // namespace

TYPED_TEST(CancelConformance, AWriteBlockedByAStalledPrinterEndsSoonAfterCancel)
{
    this->stall();
    // Far more than the pty or both socket buffers hold.
    Bytes data(this->network ? 32 * 1024 * 1024 : 256 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13 + (i >> 10));
    steady_clock::time_point cancelledAt;
    std::thread canceller = this->cancelLater(300ms, cancelledAt);
    IoResult r = this->conn->write(data, 60s);
    const auto ended = steady_clock::now();
    canceller.join();
    EXPECT_EQ(r.outcome(), IoResult::Outcome::Cancelled) << r.message();
    EXPECT_LT(ended - cancelledAt, 3s) << "the goal is 200 ms; the stall bound would be 15 s";
    EXPECT_LT(r.count(), data.size());
    EXPECT_NE(r.message().find("cancelled; " + std::to_string(r.count()) + " of " + std::to_string(data.size())),
              std::string::npos)
        << r.message();
    // With the token still cancelled, the next write sends nothing.
    IoResult again = this->conn->write(Bytes{0x1B, 0x40}, 1s);
    EXPECT_EQ(again.outcome(), IoResult::Outcome::Cancelled);
    EXPECT_EQ(again.count(), 0u);
    // What the count claims did reach the printer, as the first bytes of the data.
    const Bytes got = this->resumeAndCollect(r.count());
    ASSERT_EQ(got.size(), r.count());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
}

TYPED_TEST(CancelConformance, AReadFromASilentPrinterEndsSoonAfterCancel)
{
    std::uint8_t buf[16];
    steady_clock::time_point cancelledAt;
    std::thread canceller = this->cancelLater(200ms, cancelledAt);
    IoResult r = this->conn->readFor(buf, 30s);
    const auto ended = steady_clock::now();
    canceller.join();
    EXPECT_EQ(r.outcome(), IoResult::Outcome::Cancelled) << r.message();
    EXPECT_EQ(r.count(), 0u);
    EXPECT_LT(ended - cancelledAt, 3s);
    // A fresh job on the same connection: the token taken back, reads wait their time again.
    this->token.reset();
    r = this->conn->readFor(buf, 50ms);
    EXPECT_TRUE(r) << r.message();
    EXPECT_EQ(r.count(), 0u);
}

TYPED_TEST(CancelConformance, AReopenAfterCancelWaitsNothingAndOpensNothing)
{
    this->token.cancel();
    this->clock.clearSleeps();
    IoResult r = this->conn->reopen(ReopenPolicy{2000ms, {500ms, 500ms}});
    EXPECT_EQ(r.outcome(), IoResult::Outcome::Cancelled) << r.message();
    EXPECT_FALSE(this->conn->isOpen());
    // At most the parallel port's own 100 ms close wait.
    EXPECT_LE(this->clock.totalSlept(), 100ms);
}

// Two printers of one kind driven at once, each from a thread of its own (as jobs for several
// printers run): every connection owns its device, so each printer gets exactly its own
// frame and each answer reaches only the job that waits for it.
namespace {

template <class T>
struct TwoAtOnce : ConnectionTest {
    static constexpr bool network = T::carrier == Carrier::Network;
    PtyPair second;
    LoopbackServer servers[2];
    UniqueFd peers[2];
    std::unique_ptr<PrinterConnection> conns[2];

    void SetUp() override
    {
        ConnectionTest::SetUp();
        if (IsSkipped())
            return;
        if (!second.valid())
            GTEST_SKIP() << "no second pseudo-terminal: " << second.error();
        const std::string slaves[2] = {pty.slavePath(), second.slavePath()};
        for (int i = 0; i < 2; ++i) {
            const std::string n = std::to_string(i);
            ConnectionSettings s;
            if constexpr (T::carrier == Carrier::Serial) {
                s = serial(link(slaves[i], "ttyTwo" + n));
            } else if constexpr (T::carrier == Carrier::Parallel) {
                s.portName = link(slaves[i], "lpTwo" + n);
            } else if constexpr (T::carrier == Carrier::Usb) {
                s = usb(fake.addUsbPrinter("lp" + n, 0x5a3e, 0x3302, std::nullopt, slaves[i]));
            } else {
                ASSERT_TRUE(servers[i].valid());
                s.portName = "ETHERNET_II";
                s.host = "127.0.0.1";
                s.tcpPort = servers[i].port();
            }
            // No observer: the two jobs share nothing but the clock, prompter and log.
            conns[i] = makeConnection(s, ConnectionHost{clock, prompter, log, nullptr, &roots});
            IoResult opened = conns[i]->open();
            ASSERT_TRUE(opened) << opened.message();
            if (network) {
                peers[i] = servers[i].accept(5000ms);
                ASSERT_TRUE(peers[i].valid());
            }
        }
    }
    std::string link(const std::string& target, const std::string& name)
    {
        std::filesystem::create_symlink(target, dir / name);
        return (dir / name).string();
    }
    int printer(int i) { return network ? peers[i].get() : (i == 0 ? pty.master() : second.master()); }
    Bytes printerReads(int i, std::size_t count)
    {
        if (network)
            return bytesOf(LoopbackServer::readBytes(printer(i), count, 5000ms));
        return readMaster(printer(i), count);
    }
    void printerSends(int i, const Bytes& bytes)
    {
        if (network)
            ASSERT_TRUE(LoopbackServer::sendAll(printer(i), std::string(bytes.begin(), bytes.end())));
        else
            ASSERT_TRUE(writeMaster(printer(i), bytes));
    }
    bool printerHasMore(int i)
    {
        pollfd p{printer(i), POLLIN, 0};
        return ::poll(&p, 1, 100) > 0;
    }
};

TYPED_TEST_SUITE(TwoAtOnce, Carriers, CarrierName);

} // namespace

TYPED_TEST(TwoAtOnce, EachPrinterGetsItsOwnBytesAndEachJobItsOwnAnswer)
{
    const Bytes frames[2] = {{0x1D, 0x49, 0x01, 0x41}, {0x1B, 0x40, 0x1D, 0x49, 0x02, 0x42, 0x42}};
    const Bytes answers[2] = {{0x37, 0x22, 0x00, 0x61}, {0x37, 0x22, 0x00, 0x62, 0x62, 0x62}};
    IoResult written[2] = {IoResult::failed("not run"), IoResult::failed("not run")};
    Bytes received[2];
    std::thread jobs[2];
    for (int i = 0; i < 2; ++i)
        jobs[i] = std::thread([&, i] {
            written[i] = this->conns[i]->write(frames[i], 5s);
            received[i] = this->readAll(*this->conns[i], answers[i].size());
        });
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(this->printerReads(i, frames[i].size()), frames[i]) << "printer " << i;
    for (int i = 0; i < 2; ++i)
        this->printerSends(i, answers[i]);
    for (auto& job : jobs)
        job.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(written[i]) << written[i].message();
        EXPECT_EQ(written[i].count(), frames[i].size());
        EXPECT_EQ(received[i], answers[i]) << "job " << i;
        EXPECT_FALSE(this->printerHasMore(i)) << "printer " << i << " got bytes of the other job";
    }
    // Closing one leaves the other working.
    this->conns[0]->close();
    ASSERT_TRUE(this->conns[1]->isOpen());
    EXPECT_TRUE(this->conns[1]->write(Bytes{0x0A}, 5s));
    EXPECT_EQ(this->printerReads(1, 1), Bytes{0x0A});
}
