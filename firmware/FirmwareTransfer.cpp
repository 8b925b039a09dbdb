#include "firmware/FirmwareTransfer.h"

#include "app/MessageCatalog.h"
#include "firmware/FirmwareArea.h"

#include <algorithm>
#include <cstring>

std::string firmwareProgressTitle(const std::string& title, std::uint64_t position, std::uint64_t range)
{
    const std::uint64_t percent = range ? position * 100 / range : 0;
    return title + " - " + std::to_string(percent) + " %";
}

FirmwareTransfer::FirmwareTransfer(PrinterConnection& connection, std::vector<std::uint8_t> block, Clock& clock,
                                   ProgressSink& progress, FirmwareTransferOptions options)
    : m_conn(connection), m_block(std::move(block)), m_clock(clock),
      m_progress(progress, {m_block.size(), kFinalWaitUnits}),
      m_options(std::move(options)),
      m_state(AreaWriteState::of(m_options.imageOffset,
                                 m_options.imageOffset + static_cast<std::uint32_t>(m_block.size() > 10 ? m_block.size() - 10 : 0)))
{
}

void FirmwareTransfer::setState(const AreaWriteState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (m_options.stateChanged)
        m_options.stateChanged(m_state);
}

void FirmwareTransfer::sentUpTo(std::uint32_t sent)
{
    AreaWriteState s = m_state;
    if (sent > 10)
        s.writtenTo(s.start + (sent - 10));
    setState(s);
}

bool FirmwareTransfer::finalWait(std::uint32_t steps, std::uint64_t from, std::uint32_t every, std::uint64_t offset)
{
    if (!m_options.finalWait)
        return !stopRequested();
    const Ms step = m_options.finalWaitTotal ? *m_options.finalWaitTotal / steps
                                              : Ms{finalWaitStepMs(static_cast<std::uint32_t>(m_block.size()))};
    std::uint32_t i = 1;
    for (std::uint32_t n = 0; n < steps; ++n, i += every) {
        if (stopRequested())
            return false;
        // One step is at most 204 ms (LCD font): a cancel is heard within it.
        m_clock.sleep(step);
        if (stopRequested())
            return false;
        report(from + i + offset);
    }
    return true;
}

void FirmwareTransfer::report(std::uint64_t position)
{
    const std::uint64_t length = m_block.size();
    if (position <= length)
        m_progress.at(0, position, length);
    else
        m_progress.at(1, position - length, kFinalWaitUnits);
}

FirmwareTransferOutcome FirmwareTransfer::fail(FirmwareTransferOutcome::Kind kind, std::string message,
                                               const IoResult& r, std::string what)
{
    FirmwareTransferOutcome out;
    out.kind = kind;
    out.message = std::move(message);
    out.detail = r.message().empty() ? what : what + ": " + r.message();
    out.error = r.error();
    out.sent = m_sent;
    out.total = static_cast<std::uint32_t>(m_block.size());
    sentUpTo(m_sent);
    out.state = m_state;
    m_conn.close();
    return out;
}

FirmwareTransferOutcome FirmwareTransfer::run()
{
    LentCancelToken lent(m_conn, m_ownToken);
    m_sent = 0;
    m_conn.close();
    IoResult opened = m_conn.open();
    const bool network = m_conn.traits().streamsAhead;
    if (opened.isCancelled())
        return fail(FirmwareTransferOutcome::Kind::Cancelled, "Cancelled.", opened, "stopped by the user");
    if (!opened)
        return fail(FirmwareTransferOutcome::Kind::OpenFailed, catalogText(network ? Msg::PrinterCheckError : Msg::InitFail), opened,
                    "cannot open " + m_conn.describe());
    report(0);
    return network ? networkTransfer() : portTransfer();
}

FirmwareTransferOutcome FirmwareTransfer::portTransfer()
{
    using Kind = FirmwareTransferOutcome::Kind;
    const std::size_t L = m_block.size();
    const bool serial = m_conn.traits().linePaced;
    std::size_t position = 0;
    while (position < L) {
        if (stopRequested())
            return fail(Kind::Cancelled, "Cancelled.", IoResult::done(), "stopped by the user");
        const std::size_t n = std::min(L - position, kPortChunk);
        // The header makes the printer erase the area: from the first byte on it is at stake.
        if (position == 0) {
            AreaWriteState s = m_state;
            s.erasing();
            setState(s);
        }
        IoResult r = m_conn.write(std::span(m_block).subspan(position, n), chunkDeadline(n));
        m_sent += static_cast<std::uint32_t>(std::min(r.count(), n));
        if (r.isCancelled())
            return fail(Kind::Cancelled, "Cancelled.", r, "stopped by the user");
        if (!r || r.count() != n) {
            const std::string where = "failed to write bytes " + std::to_string(position) + ".." +
                                      std::to_string(position + n) + " of " + std::to_string(L) + " to " +
                                      m_conn.describe();
            if (r.outcome() == IoResult::Outcome::TimedOut || (r.ok() && r.count() != n))
                return fail(Kind::NotReady, catalogText(Msg::PrinterNotReady), r, where);
            if (serial && r.outcome() != IoResult::Outcome::HungUp)
                return fail(Kind::WriteFailed, catalogText(Msg::PrinterNotReady), r, where);
            return fail(Kind::WriteFailed, downloadWriteFailureText(m_conn.kind(), r.error()), r, where);
        }
        position += n;
        sentUpTo(static_cast<std::uint32_t>(position));
        report(position);
        // A serial write returns once the bytes have drained, which paces the line by itself.
        if (!serial && position < L && m_options.portPause.count() > 0)
            m_clock.sleep(m_options.portPause);
    }
    m_conn.close();

    // Every byte has left; the printer now writes its flash. A cancel here leaves the area
    // unconfirmed, never reported complete.
    if (!finalWait(16, position, 1280, 0))
        return fail(Kind::Cancelled, "Cancelled.", IoResult::done(), "stopped by the user during the final wait");
    return completed();
}

FirmwareTransferOutcome FirmwareTransfer::networkTransfer()
{
    using Kind = FirmwareTransferOutcome::Kind;
    const std::size_t L = m_block.size();
    std::size_t position = 0;
    while (position < L) {
        if (stopRequested())
            return fail(Kind::Cancelled, "Cancelled.", IoResult::done(), "stopped by the user");
        const std::size_t n = std::min(L - position, kNetworkChunk);
        std::size_t done = 0;
        if (position == 0) {
            AreaWriteState s = m_state;
            s.erasing();
            setState(s);
        }
        // A send the module did not take is offered again from the first byte it lacks, a
        // bounded number of times: a module that never takes it is a failure, not a hang.
        // Chunks are streamed: the module acknowledges them while the next ones go out.
        for (int attempt = 1;; ++attempt) {
            IoResult r = m_conn.stream(std::span(m_block).subspan(position + done, n - done),
                                       chunkDeadline(n - done));
            done += std::min(r.count(), n - done);
            m_sent = static_cast<std::uint32_t>(position + done);
            if (r && done == n)
                break;
            if (r.isCancelled() || stopRequested())
                return fail(Kind::Cancelled, "Cancelled.", r, "stopped by the user");
            const std::string what = done < n ? "failed to send bytes " + std::to_string(position + done) + ".." +
                                                    std::to_string(position + n)
                                              : "the bytes before " + std::to_string(position + n) + " are not acknowledged";
            const std::string where = what + " of " + std::to_string(L) + " to " + m_conn.describe() + " (try " +
                                      std::to_string(attempt) + " of " + std::to_string(m_options.networkAttempts) + ")";
            if (r.outcome() == IoResult::Outcome::HungUp || attempt >= m_options.networkAttempts || m_cancel)
                return fail(Kind::WriteFailed, catalogText(Msg::WriteFail), r, where);
            m_clock.sleep(m_options.networkRetryPause);
        }
        position += n;
        sentUpTo(static_cast<std::uint32_t>(position));
        // What the module has surely taken: all but the bytes the stream may still hold.
        if (position < L)
            report(position - std::min(position, PrinterConnection::kStreamWindow));
    }
    // Every byte is with the connection; the last has left once the module has them all.
    if (IoResult r = m_conn.drain(chunkDeadline(std::min(L, PrinterConnection::kStreamWindow))); !r) {
        m_sent = static_cast<std::uint32_t>(std::min(r.count(), L));
        if (r.isCancelled())
            return fail(Kind::Cancelled, "Cancelled.", r, "stopped by the user");
        return fail(Kind::WriteFailed, catalogText(Msg::WriteFail), r,
                    "the last bytes of " + std::to_string(L) + " did not reach " + m_conn.describe());
    }
    report(L);

    if (!finalWait(256, position, 80, 4096))
        return fail(Kind::Cancelled, "Cancelled.", IoResult::done(), "stopped by the user during the final wait");
    m_conn.close();
    return completed();
}

FirmwareTransferOutcome FirmwareTransfer::completed()
{
    AreaWriteState s = m_state;
    s.completed();
    setState(s);
    FirmwareTransferOutcome out;
    out.sent = m_sent;
    out.total = static_cast<std::uint32_t>(m_block.size());
    out.state = m_state;
    out.kind = FirmwareTransferOutcome::Kind::Completed;
    out.message = catalogText(Msg::UpdateComplete);
    m_progress.finish();
    return out;
}

FirmwareTransferWorker::FirmwareTransferWorker(std::unique_ptr<FirmwareTransfer> transfer,
                                               std::function<void(const FirmwareTransferOutcome&)> done)
    : m_transfer(std::move(transfer))
{
    m_thread = std::thread([this, done = std::move(done)] {
        m_outcome = m_transfer->run();
        if (done)
            done(m_outcome);
    });
}

FirmwareTransferWorker::~FirmwareTransferWorker()
{
    cancel();
    join();
}

void FirmwareTransferWorker::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
