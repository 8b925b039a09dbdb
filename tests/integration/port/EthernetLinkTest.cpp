// The network library against TCP servers on the loopback interface.
#include "LoopbackServer.h"
#include "port/EthernetLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct EthernetTest : ::testing::Test {
    LoopbackServer server;
    EthTimeouts saved = EthGetTimeouts();
    void SetUp() override
    {
        if (!server.valid())
            GTEST_SKIP() << "cannot listen on 127.0.0.1";
        EthInit(nullptr, "Ethernet", "127.0.0.1", server.port());
    }
    void TearDown() override
    {
        EthClose();
        EthSetTimeouts(saved);
    }
};

int sendText(const std::string& s)
{
    return EthSend(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<int>(s.size()));
}

} // namespace

TEST_F(EthernetTest, SendsAndReceivesBytesUnchanged)
{
    ASSERT_NE(EthOpen(), 0);
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    std::string frame("\x1D\x28\x45\x03\x00\x06\x01\x00", 8);
    EXPECT_EQ(sendText(frame), 8);
    EXPECT_EQ(LoopbackServer::readBytes(peer.get(), 8, 5000ms), frame);

    std::string reply("\x37\x22\x00\x1B\xFF", 5);
    ASSERT_TRUE(LoopbackServer::sendAll(peer.get(), reply));
    std::uint8_t buf[128];
    int n = EthRecv(buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)), reply);

    // A capacity smaller than the answer: the rest waits for the next call.
    ASSERT_TRUE(LoopbackServer::sendAll(peer.get(), "abcdef"));
    n = EthRecv(buf, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)), "abcd");
    n = EthRecv(buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)), "ef");

    EthClose();
    EXPECT_EQ(LoopbackServer::readUntilClosed(peer.get(), 5000ms), "");
}

TEST_F(EthernetTest, ReceiveTimesOutWithZero)
{
    EthSetTimeouts({3000ms, 200ms, 10000ms});
    ASSERT_NE(EthOpen(), 0);
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    std::uint8_t buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(EthRecv(buf, sizeof buf), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 3s);

    // The printer hung up: nothing to receive, and sending eventually fails.
    peer.reset();
    EXPECT_EQ(EthRecv(buf, sizeof buf), 0);
}

TEST_F(EthernetTest, RefusedConnectionAndCallsWithoutConnection)
{
    server.stopListening();
    EXPECT_EQ(EthOpen(), 0);
    std::uint8_t buf[8];
    // After a failed open the callers skip their sends but still read: both must be safe.
    EXPECT_LT(sendText("x"), 0);
    EXPECT_EQ(EthRecv(buf, sizeof buf), 0);
    EthClose();
    EthClose();

    EthInit(nullptr, "Ethernet", "not an address", 6001);
    EXPECT_EQ(EthOpen(), 0);
    EthInit(nullptr, "Ethernet", "127.0.0.1", 0);
    EXPECT_EQ(EthOpen(), 0);
}

TEST_F(EthernetTest, SendToAClosedPeerIsNegative)
{
    ASSERT_NE(EthOpen(), 0);
    UniqueFd peer = server.accept(5000ms);
    ASSERT_TRUE(peer.valid());
    peer.reset();
    std::vector<std::uint8_t> block(65536, 0x55);
    int result = 0;
    // The first send may still land in the socket buffer; the reset follows within a few.
    for (int i = 0; i < 50 && result >= 0; ++i)
        result = EthSend(block.data(), static_cast<int>(block.size()));
    EXPECT_LT(result, 0);
}

TEST_F(EthernetTest, ConnectGivesUpAfterItsTimeOut)
{
    // A listener whose accept queue is full leaves new connections unanswered (the SYN is
    // dropped), which is what a printer that is switched off looks like.
    LoopbackServer busy(0);
    ASSERT_TRUE(busy.valid());
    EthSetTimeouts({300ms, 1000ms, 10000ms});
    EthInit(nullptr, "Ethernet", "127.0.0.1", busy.port());
    // The first connections fill the queue (each EthOpen drops the previous client socket,
    // but the server side stays queued); the next one times out.
    for (int i = 0; i < 4; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (!EthOpen()) {
            auto took = std::chrono::steady_clock::now() - start;
            EXPECT_GE(took, 250ms);
            EXPECT_LT(took, 3s);
            return;
        }
    }
    GTEST_SKIP() << "this kernel accepted every connection into a full queue";
}

TEST_F(EthernetTest, TwoLinksAreIndependentOfEachOtherAndOfTheLibrarysLink)
{
    // The library's own link (EthInit in SetUp) keeps its address and time-outs whatever the
    // two links are given.
    LoopbackServer other;
    ASSERT_TRUE(other.valid());
    EthernetLink a, b;
    a.init("127.0.0.1", server.port());
    b.init("127.0.0.1", other.port());
    b.setTimeouts({3000ms, 150ms, 10000ms});
    ASSERT_TRUE(a.open());
    ASSERT_TRUE(b.open());
    UniqueFd peerA = server.accept(5000ms);
    UniqueFd peerB = other.accept(5000ms);
    ASSERT_TRUE(peerA.valid() && peerB.valid());
    EXPECT_EQ(EthernetLink::defaultLink().tcpPort(), server.port());
    EXPECT_EQ(EthGetTimeouts().receive, saved.receive);
    EXPECT_FALSE(EthernetLink::defaultLink().isOpen());

    const std::string toA("\x1D\x49\x01", 3), toB("\x1B\x40\x1D\x49\x02", 5);
    EXPECT_EQ(a.send(reinterpret_cast<const std::uint8_t*>(toA.data()), 3), 3);
    EXPECT_EQ(b.send(reinterpret_cast<const std::uint8_t*>(toB.data()), 5), 5);
    EXPECT_EQ(LoopbackServer::readBytes(peerA.get(), 3, 5000ms), toA);
    EXPECT_EQ(LoopbackServer::readBytes(peerB.get(), 5, 5000ms), toB);
    ASSERT_TRUE(LoopbackServer::sendAll(peerB.get(), "bb"));
    ASSERT_TRUE(LoopbackServer::sendAll(peerA.get(), "a"));
    std::uint8_t buf[16];
    int n = a.recv(buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(std::max(n, 0))), "a");
    n = b.recv(buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(std::max(n, 0))), "bb");

    // One link closed or failing leaves the other connected, with its own last error.
    a.close();
    EXPECT_EQ(LoopbackServer::readUntilClosed(peerA.get(), 5000ms), "");
    server.stopListening();
    EXPECT_FALSE(a.open());
    EXPECT_EQ(a.lastError(), ECONNREFUSED);
    EXPECT_EQ(b.lastError(), 0);
    ASSERT_TRUE(b.isOpen());
    EXPECT_EQ(b.send(reinterpret_cast<const std::uint8_t*>("z"), 1), 1);
    EXPECT_EQ(LoopbackServer::readBytes(peerB.get(), 1, 5000ms), "z");
    // b's short receive time-out is its own: nothing waits, and it returns 0 soon.
    EXPECT_EQ(b.recv(buf, sizeof buf), 0);
}
