#pragma once
// A PrinterConnection that records what is written and plays a scripted printer: each write
// may be answered (the answers come back from readFor in the pieces given), failed or cut
// short. readFor with nothing to deliver moves the test clock by its wait, as a silent
// printer would let the time pass.
#include "app/Progress.h"
#include "port/PrinterConnection.h"
#include "TestClock.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <mutex>
#include <functional>

class FakeConnection final : public PrinterConnection {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Called for each write with the bytes and the write's number (0-based); returns the
    // result to give. Default: every byte taken.
    std::function<IoResult(std::span<const std::uint8_t>, int)> onWrite;
    // Answers queued by onWrite or the test; each entry is one readFor delivery.
    std::deque<Bytes> answers;

    FakeConnection(PortKind kind, TestClock& clock, bool canAnswer = true)
        : m_kind(kind), m_clock(clock), m_canAnswer(canAnswer)
    {
    }

    PortKind kind() const override { return m_kind; }
    std::string describe() const override { return "fake port"; }
    IoResult open() override
    {
        ++opens;
        if (!openResult)
            return openResult;
        m_open = true;
        return IoResult::done();
    }
    bool isOpen() const override { return m_open; }
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override
    {
        deadlines.push_back(deadline);
        if (!m_open)
            return IoResult::failed("not open", EBADF);
        IoResult r = onWrite ? onWrite(bytes, static_cast<int>(writes.size())) : IoResult::done(bytes.size());
        const std::size_t took = std::min(r.count(), bytes.size());
        writes.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(took));
        stream.insert(stream.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(took));
        return r;
    }
    // drain(): the scripted result (default: everything arrived), counted in drains.
    IoResult drain(Ms) override
    {
        ++drains;
        if (!m_open)
            return IoResult::failed("not open", EBADF);
        return onDrain ? onDrain() : IoResult::done();
    }
    std::function<IoResult()> onDrain;
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override
    {
        ++reads;
        if (!m_open)
            return IoResult::failed("not open", EBADF);
        if (hangUpOnRead)
            return IoResult::hungUp(0, "printer hung up");
        if (answers.empty()) {
            m_clock.advance(wait);
            return IoResult::done(0);
        }
        Bytes next = std::move(answers.front());
        answers.pop_front();
        const std::size_t n = std::min(next.size(), buffer.size());
        std::copy_n(next.begin(), n, buffer.begin());
        if (n < next.size())
            answers.emplace_front(next.begin() + static_cast<std::ptrdiff_t>(n), next.end());
        return IoResult::done(n);
    }
    void close() override
    {
        if (m_open)
            ++closes;
        m_open = false;
    }
    IoResult reopen(const ReopenPolicy&) override
    {
        close();
        return open();
    }
    bool canAnswer() const override { return m_canAnswer; }

    IoResult openResult = IoResult::done();
    bool hangUpOnRead = false;
    std::vector<Bytes> writes;
    Bytes stream;
    std::vector<Ms> deadlines;
    int opens = 0, closes = 0, reads = 0, drains = 0;

private:
    PortKind m_kind;
    TestClock& m_clock;
    bool m_canAnswer;
    bool m_open = false;
};

// Records every progress report.
class RecordingProgress final : public ProgressSink {
public:
    void report(const ProgressReport& p) override
    {
        std::lock_guard lock(m_mutex);
        reports.push_back(p);
    }
    std::vector<ProgressReport> reports;

private:
    std::mutex m_mutex;
};
