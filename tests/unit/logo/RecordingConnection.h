#pragma once
// A PrinterConnection that keeps every byte written (as a printer or an output file would get
// them), one entry per call in a journal, and can refuse to open, answer the printer check,
// hang up after a number of bytes, stay away after a restart for a number of tries, or act as
// a printer that stalls at a byte count until the job's cancel token cuts the write there.
#include "app/Clock.h"
#include "port/PrinterConnection.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

class RecordingConnection final : public PrinterConnection {
public:
    explicit RecordingConnection(PortKind kind, Clock* clock = nullptr) : m_kind(kind), m_clock(clock) {}

    PortKind kind() const override { return m_kind; }
    std::string describe() const override { return "test printer"; }

    IoResult open() override
    {
        journal.push_back("open");
        if (failOpen)
            return IoResult::failed("No such file or directory", 2);
        m_open = true;
        return IoResult::done();
    }
    bool isOpen() const override { return m_open; }
    IoResult write(std::span<const std::uint8_t> data, Ms deadline) override
    {
        journal.push_back("write " + std::to_string(data.size()));
        deadlines.push_back(deadline);
        if (!m_open)
            return IoResult::failed("not open", 9);
        stallLimits.push_back(stallLimit());
        if (cutAfter >= 0 && long(bytes.size() + data.size()) > cutAfter) {
            const std::size_t took = std::size_t(std::max(0L, cutAfter - long(bytes.size())));
            // Only a lent token ends the wait; without one the printer's stall bound does.
            if (cancelToken()) {
                bytes.insert(bytes.end(), data.begin(), data.begin() + std::ptrdiff_t(took));
                return IoResult::cancelled(took, "write to test printer cancelled");
            }
            if (stallsAfterCut)
                return IoResult::timedOut(0, "took no data for " + std::to_string(stallLimit().count()) + " ms");
        }
        if (hangUpAfter >= 0 && long(bytes.size() + data.size()) > hangUpAfter) {
            const std::size_t took = std::size_t(std::max(0L, hangUpAfter - long(bytes.size())));
            bytes.insert(bytes.end(), data.begin(), data.begin() + std::ptrdiff_t(took));
            m_open = false;
            return IoResult::hungUp(took, "the printer closed the connection");
        }
        bytes.insert(bytes.end(), data.begin(), data.end());
        return IoResult::done(data.size());
    }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override
    {
        journal.push_back("read " + std::to_string(wait.count()));
        if (readFails) {
            if (readFails->outcome() == IoResult::Outcome::HungUp)
                m_open = false;
            return *readFails;
        }
        if (!answer.empty() && !buffer.empty()) {
            buffer[0] = answer.front();
            answer.erase(answer.begin());
            return IoResult::done(1);
        }
        return IoResult::done(0);
    }
    void close() override
    {
        journal.push_back("close");
        m_open = false;
    }
    IoResult reopen(const ReopenPolicy& policy) override
    {
        journal.push_back("reopen");
        close();
        if (m_clock)
            m_clock->sleep(policy.firstWait);
        const std::size_t tries = std::max<std::size_t>(1, policy.pausesAfterFailure.size());
        for (std::size_t i = 0; i < tries; ++i) {
            if (awayForTries > 0) {
                --awayForTries;
                if (m_clock && i < policy.pausesAfterFailure.size())
                    m_clock->sleep(policy.pausesAfterFailure[i]);
                continue;
            }
            m_open = true;
            return IoResult::done();
        }
        return IoResult::failed("the printer did not come back", 19);
    }
    bool canAnswer() const override { return m_kind != PortKind::File && m_kind != PortKind::PrintToFile; }

    std::vector<std::uint8_t> bytes;
    std::vector<std::string> journal;
    std::vector<Ms> deadlines;
    std::vector<std::uint8_t> answer;
    std::optional<IoResult> readFails; // every read ends so (a hang-up also closes)
    bool failOpen = false;
    long hangUpAfter = -1;
    long cutAfter = -1;          // the printer stalls once it has this many bytes ...
    bool stallsAfterCut = false; // ... and takes nothing more even without a token
    std::vector<Ms> stallLimits; // the stall bound of every write
    int awayForTries = 0;

private:
    PortKind m_kind;
    Clock* m_clock;
    bool m_open = false;
};

// The connection a factory hands out, over a recording connection that outlives it (so that
// the test can look at what it got). The tool's cancel token and stall bound are passed on
// with every call.
class LentConnection final : public PrinterConnection {
public:
    explicit LentConnection(RecordingConnection& inner) : m_inner(inner) {}
    PortKind kind() const override { return m_inner.kind(); }
    std::string describe() const override { return m_inner.describe(); }
    IoResult open() override { return sync().open(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    IoResult write(std::span<const std::uint8_t> data, Ms deadline) override { return sync().write(data, deadline); }
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override { return sync().readFor(buffer, wait); }
    void close() override { m_inner.close(); }
    IoResult reopen(const ReopenPolicy& policy) override { return sync().reopen(policy); }
    bool canAnswer() const override { return m_inner.canAnswer(); }

private:
    RecordingConnection& sync()
    {
        m_inner.setCancelToken(cancelToken());
        m_inner.setStallLimit(stallLimit());
        return m_inner;
    }
    RecordingConnection& m_inner;
};
