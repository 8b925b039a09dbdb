// A fleet's plan: printer k's address and MAC, and which printers a fault switch hits with
// which settings.
#include "sim/FleetPlan.h"

#include <gtest/gtest.h>

namespace {

using Ip = std::array<uint8_t, 4>;

TEST(SimFleetPlan, AddressesCountUpTheLastByteAndSkipZeroAndBroadcast)
{
    struct Case {
        Ip first;
        int k;
        std::optional<Ip> expected;
    } cases[] = {
        {{127, 0, 1, 1}, 1, Ip{127, 0, 1, 1}},
        {{127, 0, 1, 1}, 254, Ip{127, 0, 1, 254}},
        {{127, 0, 1, 1}, 255, Ip{127, 0, 2, 1}},
        {{127, 0, 1, 1}, 2000, Ip{127, 0, 8, 222}},
        {{127, 0, 1, 200}, 56, Ip{127, 0, 2, 1}},
        {{127, 0, 255, 254}, 2, Ip{127, 1, 0, 1}},
        {{127, 255, 255, 254}, 1, Ip{127, 255, 255, 254}},
        {{127, 255, 255, 254}, 2, std::nullopt}, // past 127/8
        {{10, 0, 0, 1}, 1, std::nullopt},        // not loopback
        {{127, 0, 1, 0}, 1, std::nullopt},       // a .0 first address
        {{127, 0, 1, 255}, 1, std::nullopt},     // a .255 first address
        {{127, 0, 1, 1}, 0, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FleetPlan::address(c.first, c.k), c.expected) << FleetPlan::text(c.first) << " k=" << c.k;
}

TEST(SimFleetPlan, MacsAreDistinctPerPrinterAndKeepTheMakerBytes)
{
    using Mac = std::array<uint8_t, 6>;
    EXPECT_EQ(FleetPlan::mac(FleetPlan::kDefaultMacBase, 1), (Mac{0x02, 0x5C, 0x3A, 0x01, 0x00, 0x01}));
    EXPECT_EQ(FleetPlan::mac(FleetPlan::kDefaultMacBase, 2000), (Mac{0x02, 0x5C, 0x3A, 0x01, 0x07, 0xD0}));
    // The count carries over the last two bytes and wraps inside the three low bytes.
    EXPECT_EQ(FleetPlan::mac({0x02, 0x11, 0x22, 0x00, 0xFF, 0xFF}, 2), (Mac{0x02, 0x11, 0x22, 0x01, 0x00, 0x00}));
    EXPECT_EQ(FleetPlan::mac({0x02, 0x11, 0x22, 0xFF, 0xFF, 0xFF}, 2), (Mac{0x02, 0x11, 0x22, 0x00, 0x00, 0x00}));

    EXPECT_EQ(FleetPlan::family({1, 6}, 1, 3), 1);
    EXPECT_EQ(FleetPlan::family({1, 6}, 4, 3), 6);
    EXPECT_EQ(FleetPlan::family({}, 4, 3), 3);
}

TEST(SimFleetFault, WhichPrintersAreHit)
{
    struct Case {
        const char* text;
        std::vector<int> hit, spared;
    } cases[] = {
        {"stall:every=7", {7, 14, 2002}, {1, 6, 8}},
        {"hangup:k=3", {3}, {1, 2, 4}},
        {"silent:k=1,4-6,9", {1, 4, 5, 6, 9}, {2, 3, 7, 8, 10}},
        {"noise:all", {1, 2, 1999}, {}},
    };
    for (const Case& c : cases) {
        std::string error;
        auto f = FleetFault::parse(c.text, &error);
        ASSERT_TRUE(f) << c.text << ": " << error;
        for (int k : c.hit)
            EXPECT_TRUE(f->hits(k)) << c.text << " k=" << k;
        for (int k : c.spared)
            EXPECT_FALSE(f->hits(k)) << c.text << " k=" << k;
    }
}

TEST(SimFleetFault, EachKindSwitchesOnTheSinglePrintersFault)
{
    auto applied = [](const std::string& text) {
        std::string error;
        auto f = FleetFault::parse(text, &error);
        EXPECT_TRUE(f) << error;
        std::pair<SimSettings, NetModuleOptions> out;
        if (f)
            f->applyTo(out.first, out.second);
        return out;
    };
    auto [stall, n1] = applied("stall:every=7:after=100:ms=5000");
    EXPECT_EQ(stall.linkFaults.stallAfter, 100);
    EXPECT_EQ(stall.linkFaults.stallMs, 5000);
    EXPECT_EQ(applied("stall:k=1").first.linkFaults.stallMs, 3000);
    EXPECT_EQ(applied("hangup:k=3").first.linkFaults.hangupAfter, 0);
    EXPECT_EQ(applied("hangup:k=3:after=12").first.linkFaults.hangupAfter, 12);
    auto [silent, silentNet] = applied("silent:k=9");
    EXPECT_TRUE(silent.linkFaults.silent);
    EXPECT_TRUE(silentNet.silent);
    EXPECT_EQ(applied("refuse-setting:k=5:settings=250,3-4").first.interpreterFaults.refuseSettings, (std::set<int>{3, 4, 250}));
    EXPECT_EQ(applied("refuse-setting:k=5").first.interpreterFaults.refuseSettings.size(), 255u);
    EXPECT_EQ(applied("no-answer:all:settings=255").first.interpreterFaults.noAnswerSettings, (std::set<int>{255}));
    EXPECT_EQ(applied("delay:k=2").first.linkFaults.answerDelayMs, 1000);
    EXPECT_TRUE(applied("noise:k=2").first.linkFaults.noise);
    EXPECT_TRUE(applied("net-silent-set:k=2").second.silentSet);
    EXPECT_TRUE(applied("net-duplicate:k=2").second.duplicate);
    EXPECT_TRUE(applied("net-long-answer:k=2").second.longAnswer);
    // A fault leaves every other switch as it was.
    EXPECT_FALSE(stall.linkFaults.silent);
    EXPECT_EQ(stall.linkFaults.hangupAfter, -1);
    EXPECT_FALSE(n1.silent);
}

TEST(SimFleetFault, BadSwitchesAreRefusedWithTheReason)
{
    struct Case {
        const char* text;
        const char* why;
    } cases[] = {
        {"stall", "expected KIND:WHICH"},
        {"melt:k=1", "unknown fault \"melt\""},
        {"stall:k=0", "k= takes"},
        {"stall:k=5-3", "k= takes"},
        {"stall:k=", "k= takes"},
        {"stall:every=0", "every= takes"},
        {"stall:some", "which printers"},
        {"stall:k=1:ms=-1", "ms= takes"},
        {"hangup:k=1:ms=5", "\"ms=5\" is not a parameter of hangup"},
        {"refuse-setting:k=1:settings=256", "settings= takes"},
        {"silent:k=1:after=3", "not a parameter of silent"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(FleetFault::parse(c.text, &error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.text << ": " << error;
    }
}

} // namespace
