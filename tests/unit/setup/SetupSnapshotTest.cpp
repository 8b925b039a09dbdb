// Snapshot keys and values, the acknowledgement decision and the receive worker over a
// connection.
#include "setup/LptAcknowledge.h"
#include "setup/RcvDataProcess.h"
#include "setup/SetupSnapshot.h"

#include "app/MessageTarget.h"
#include "port/PrinterConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::string valueOf(const SnapshotLines& lines, const std::string& key)
{
    for (const auto& [k, v] : lines)
        if (k == key)
            return v;
    return "<none>";
}

class RecordingTarget final : public MessageTarget {
public:
    long SendMessage(unsigned msg, std::uintptr_t w, std::intptr_t l) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({msg, static_cast<int>(w), static_cast<long>(l)});
        return 1;
    }
    struct Message {
        unsigned msg;
        int setting;
        long code;
    };
    std::vector<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};

bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

} // namespace

TEST(SetupSnapshot, RoundTripOfEveryKey)
{
    SetupOptions form;
    std::set<std::string> given;
    const std::pair<const char*, const char*> values[] = {
        {"paper_width", "58"}, {"columns", "34"}, {"paper_type", "2COLOR"}, {"color_density", "light"},
        {"watermark", "off"}, {"cut_adjust", "12"}, {"drawer_on_cut", "enable"}, {"bell_type", "5"},
        {"bell_count", "2"}, {"code_page", "99"}, {"nv_user", "64"}, {"nv_graphic", "384"},
        {"cut_mode", "full"}, {"bold_korean", "on"}, {"speed", "200"}, {"margin", "576"},
        {"drawer_self_test", "disable"}, {"rx_buffer", "4"}, {"stop_bit", "two"}, {"custom_code", "00ab"},
        {"emulation", "star"}, {"density", "3"}, {"kitchen_bell", "on"}, {"autocut", "off"},
        {"self_test", "hexdump"}, {"usb_mode", "com"}, {"sleep", "15"}, {"paper_save", "2"},
        {"wifi_keep", "enable"}, {"lcd_password", "reset"}, {"bell", "builtin"}, {"bt_usb_power", "on"}};
    for (auto [k, v] : values) {
        ASSERT_TRUE(applySnapshotValue(form, k, v, kFamilyTavro46)) << k;
        given.insert(k);
    }
    ASSERT_TRUE(completeGivenForm(form, given));
    SnapshotLines lines = snapshotOf(form, kFamilyTavro46);
    ASSERT_EQ(lines.size(), snapshotKeys().size());
    EXPECT_EQ(valueOf(lines, "paper_type"), "2color");
    EXPECT_EQ(valueOf(lines, "custom_code"), "AB");
    EXPECT_EQ(valueOf(lines, "cut_adjust"), "12");
    SetupOptions again;
    for (const auto& [k, v] : lines)
        ASSERT_TRUE(applySnapshotValue(again, k, v, kFamilyTavro46)) << k;
    EXPECT_EQ(again, form);
}

TEST(SetupSnapshot, RefusalsNameTheList)
{
    SetupOptions form;
    Status s = applySnapshotValue(form, "paper_width", "70", kFamilyTavro46);
    EXPECT_EQ(s.message(), "paper_width: \"70\" is not one of 80|58");
    EXPECT_NE(applySnapshotValue(form, "speed", "220", kFamilyTavro36).message().find("180|150"), std::string::npos);
    EXPECT_NE(applySnapshotValue(form, "code_page", "6", kFamilyTavro46).message().find("0|1|2|3|4|5|13"), std::string::npos);
    EXPECT_FALSE(applySnapshotValue(form, "watermark", "0", kFamilyTavro46));
    EXPECT_FALSE(applySnapshotValue(form, "margin", "-1", kFamilyTavro46));
    EXPECT_FALSE(applySnapshotValue(form, "custom_code", "123456789", kFamilyTavro46));
    EXPECT_NE(applySnapshotValue(form, "colour", "x", kFamilyTavro46).message().find("unknown setting"), std::string::npos);
    EXPECT_EQ(form, SetupOptions());
    EXPECT_FALSE(splitAssignment("margin"));
    EXPECT_EQ(splitAssignment(" Margin = 5 ")->first, "margin");
}

TEST(SetupSnapshot, RulesBetweenOptions)
{
    SetupOptions a;
    ASSERT_TRUE(applySnapshotValue(a, "paper_width", "58", kFamilyTavro46));
    ASSERT_TRUE(completeGivenForm(a, {"paper_width"}));
    EXPECT_EQ(a.columns, 1); // as the 58mm button selects
    SetupOptions b;
    ASSERT_TRUE(applySnapshotValue(b, "columns", "32", kFamilyTavro46));
    EXPECT_FALSE(completeGivenForm(b, {"columns"}));
    SetupOptions c;
    ASSERT_TRUE(applySnapshotValue(c, "paper_type", "2color", kFamilyTavro46));
    ASSERT_TRUE(applySnapshotValue(c, "watermark", "3", kFamilyTavro46));
    EXPECT_FALSE(completeGivenForm(c, {"paper_type", "watermark"}));
    SetupOptions d;
    ASSERT_TRUE(applySnapshotValue(d, "nv_user", "128", kFamilyTavro46));
    ASSERT_TRUE(applySnapshotValue(d, "nv_graphic", "384", kFamilyTavro46));
    Status nv = completeGivenForm(d, {"nv_user", "nv_graphic"});
    EXPECT_NE(nv.message().find("448"), std::string::npos);
}

TEST(SetupSnapshot, ReadViewShowsOnlyReportedSettings)
{
    SetupOptions form = SetupOptions::defaults(false);
    std::set<int> shown = {3, 250};
    SnapshotLines lines = snapshotOf(form, kFamilyTavro46, &shown);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (std::pair<std::string, std::string>{"paper_width", "80"}));
    EXPECT_EQ(lines[1], (std::pair<std::string, std::string>{"margin", "0"}));
    EXPECT_FALSE(keyIsReadable("emulation"));
    EXPECT_TRUE(keyIsReadable("stop_bit"));
}

TEST(LptAcknowledge, Decisions)
{
    LptAcknowledge ack;
    std::set<int> answered;
    auto isAnswered = [&](int n) { return answered.count(n) != 0; };
    auto busy = ack.decide(true, isAnswered);
    EXPECT_EQ(busy.action, LptAcknowledge::Action::Wait);
    EXPECT_EQ(busy.interval, LptAcknowledge::kRepeatInterval);
    for (auto n : readRequestList(PortKind::Parallel))
        answered.insert(n);
    answered.erase(2);
    answered.erase(255);
    auto resend = ack.decide(false, isAnswered);
    EXPECT_EQ(resend.action, LptAcknowledge::Action::Resend);
    EXPECT_EQ(resend.resend, (std::vector<std::uint8_t>{2, 255}));
    answered.insert(2);
    answered.insert(255);
    EXPECT_EQ(ack.decide(false, isAnswered).action, LptAcknowledge::Action::Finish);
}

namespace {

// A connection whose printer says what the test hands it, one piece per read, and then
// hangs up when told to.
class ScriptedConnection final : public PrinterConnection {
public:
    void say(const std::string& bytes)
    {
        std::lock_guard lock(m_mutex);
        m_pieces.push_back(bytes);
    }
    void hangUp() { m_hungUp = true; }
    int reads() const { return m_reads.load(); }

    PortKind kind() const override { return PortKind::Serial; }
    std::string describe() const override { return "serial port test"; }
    IoResult open() override { return IoResult::done(); }
    bool isOpen() const override { return true; }
    IoResult write(std::span<const std::uint8_t> bytes, Ms) override { return IoResult::done(bytes.size()); }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override
    {
        ++m_reads;
        {
            std::lock_guard lock(m_mutex);
            if (!m_pieces.empty()) {
                std::string piece = m_pieces.front();
                m_pieces.erase(m_pieces.begin());
                EXPECT_LE(piece.size(), buffer.size());
                std::copy(piece.begin(), piece.end(), buffer.begin());
                return IoResult::done(piece.size());
            }
        }
        if (m_hungUp)
            return IoResult::hungUp(0, "serial port test: the printer closed the connection");
        std::this_thread::sleep_for(wait);
        return IoResult::done(0);
    }
    void close() override {}
    IoResult reopen(const ReopenPolicy&) override { return IoResult::done(); }
    bool canAnswer() const override { return true; }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_pieces;
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_reads{0};
};

} // namespace

TEST(RcvDataProcess, ReadsTheConnectionUntilStoppedOrHungUp)
{
    RecordingTarget target;
    SetupTextSlots slots;
    ScriptedConnection printer;
    RcvDataProcess worker(target, slots);
    ASSERT_TRUE(worker.Start(printer));
    printer.say(std::string("\x00\xFF\x37\x27" "252" "\x1F" "64", 10) + std::string(1, '\0'));
    ASSERT_TRUE(waitFor([&] { return target.messages().size() == 1; }));
    EXPECT_EQ(target.messages()[0].msg, WM_SETUP_VALUE);
    EXPECT_EQ(target.messages()[0].setting, 252);
    EXPECT_EQ(target.messages()[0].code, 64);

    // A reply split over two reads: in a frame until its terminator comes.
    printer.say(std::string("\x37\x27" "25", 4));
    ASSERT_TRUE(waitFor([&] { return worker.InFrame(); }));
    printer.say(std::string("3" "\x1F" "1", 3) + std::string(1, '\0'));
    ASSERT_TRUE(waitFor([&] { return target.messages().size() == 2; }));
    EXPECT_EQ(target.messages()[1].setting, 253);
    EXPECT_EQ(target.messages()[1].code, 2);
    EXPECT_FALSE(worker.InFrame());

    // A stop ends it within a few of its short reads, with no reason to report.
    worker.RequestStop();
    EXPECT_TRUE(worker.WaitEnded(std::chrono::seconds(1)));
    EXPECT_TRUE(worker.EndReason().empty());
    EXPECT_FALSE(worker.HungUp());
    EXPECT_EQ(worker.DispatchedReplies(), 2);

    // Started again, then the printer hangs up: the worker ends by itself and says why.
    ASSERT_TRUE(worker.Start(printer));
    printer.say(std::string("\x37\x27" "3" "\x1F" "6", 5) + std::string(1, '\0'));
    ASSERT_TRUE(waitFor([&] { return target.messages().size() == 3; }));
    printer.hangUp();
    ASSERT_TRUE(waitFor([&] { return worker.Ended(); }));
    EXPECT_TRUE(worker.HungUp());
    EXPECT_EQ(worker.EndReason(), "serial port test: the printer closed the connection");
    EXPECT_TRUE(worker.WaitEnded(std::chrono::seconds(1)));
}
