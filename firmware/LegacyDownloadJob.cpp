#include "firmware/LegacyDownloadJob.h"

#include "app/MessageCatalog.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Result<std::vector<std::uint8_t>> loadLegacyImage(const std::filesystem::path& file, const LegacyAreaSpec& area)
{
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return Status::failure("cannot open " + file.string() + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes(area.end);
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Status::failure("cannot read " + file.string() + ": " + std::strerror(errno));
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

ConnectionSettings legacyDownloadSettings(ConnectionSettings settings)
{
    settings.flowCtrl = 3;
    return settings;
}

LegacyDownloadJob::LegacyDownloadJob(PrinterConnection& connection, LegacyAreaSpec area,
                                     std::vector<std::uint8_t> image, Clock& clock, ProgressSink& progress,
                                     LegacyDownloadOptions options)
    : m_conn(connection), m_area(area), m_image(std::move(image)), m_clock(clock),
      m_progress(progress, {(area.end - area.start) / 10, area.end - area.start}), m_options(options),
      m_position(area.start), m_taken(area.start), m_state(AreaWriteState::of(area.start, area.end))
{
}

void LegacyDownloadJob::setState(const AreaWriteState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (m_options.stateChanged)
        m_options.stateChanged(m_state);
}

LegacyDownloadJob::~LegacyDownloadJob()
{
    if (m_phase != Phase::Done && m_phase != Phase::Failed && m_phase != Phase::Open)
        m_conn.close();
}

void LegacyDownloadJob::setTitle(std::string title)
{
    m_title = std::move(title);
    if (m_packetIsErase)
        m_progress.at(0, static_cast<std::uint64_t>(m_eraseStep), 6, m_title);
    else
        m_progress.at(1, m_taken - m_area.start, m_area.end - m_area.start, m_title);
}

StepResult LegacyDownloadJob::failWith(std::string message, const std::string& detail)
{
    m_conn.close();
    m_phase = Phase::Failed;
    if (!detail.empty())
        message += "\n(" + detail + ")";
    return StepResult::failed(std::move(message));
}

StepResult LegacyDownloadJob::finish()
{
    m_conn.close();
    m_phase = Phase::Done;
    m_taken = m_area.end;
    AreaWriteState s = m_state;
    s.completed();
    setState(s);
    m_progress.finish(m_title);
    return StepResult::finished();
}

StepResult LegacyDownloadJob::sendCurrent()
{
    IoResult r = m_conn.write(m_packet, m_options.writeDeadline ? *m_options.writeDeadline
                                                               : m_conn.traits().writeDeadline(m_packet.size()));
    if (r.isCancelled())
        return failWith("Cancelled: the area is only partly written.", r.message());
    if (!r || r.count() != m_packet.size()) {
        char where[80];
        std::snprintf(where, sizeof where, "failed to write the packet at 0x%X", m_packetIsErase ? m_area.start : m_position - static_cast<std::uint32_t>(m_packet.size() - 10));
        return failWith(catalogText(Msg::WriteFail), r.context(where).message());
    }
    ++m_written;
    m_sentAt = m_clock.now();
    // A new packet forgets a DLE half-heard before it, as the printer's answer starts afresh.
    m_parser.reset();
    return StepResult::again(std::chrono::milliseconds(0));
}

StepResult LegacyDownloadJob::nextPacket()
{
    m_packet = legacyDataPacket(m_area, m_position, m_image);
    m_packetIsErase = false;
    m_repeats = 0;
    m_position += static_cast<std::uint32_t>(m_packet.size() - 10);
    char title[40];
    std::snprintf(title, sizeof title, "Writing...(%lX)", static_cast<unsigned long>(m_position));
    setTitle(title);
    return sendCurrent();
}

StepResult LegacyDownloadJob::step()
{
    LentCancelToken lent(m_conn, m_ownToken);
    using namespace std::chrono;
    if (m_phase == Phase::Done)
        return StepResult::finished();
    if (m_phase == Phase::Failed)
        return StepResult::failed("the download has ended");
    if (m_cancel)
        return failWith("Cancelled: the area is only partly written.", "stopped by the user");

    switch (m_phase) {
    case Phase::Open: {
        IoResult r = m_conn.open();
        if (r.isCancelled())
            return failWith("Cancelled: the area is only partly written.", r.message());
        if (!r) {
            m_phase = Phase::Failed;
            return StepResult::failed(std::string(catalogText(Msg::InitFail)) + "\n(" + r.message() + ")");
        }
        // Where no packet reply can come back, the packets go out one after the other.
        m_stream = !m_conn.traits().packetReplies;
        m_phase = Phase::Erase;
        return StepResult::again(milliseconds(0));
    }
    case Phase::Erase: {
        m_packet = legacyErasePacket(m_area);
        m_packetIsErase = true;
        setTitle("Erasing...");
        // From the erase packet on, the area is at stake.
        AreaWriteState erasing = m_state;
        erasing.erasing();
        setState(erasing);
        StepResult r = sendCurrent();
        if (r.kind == StepResult::Kind::Failed)
            return r;
        m_phase = Phase::EraseWait;
        m_eraseStep = 0;
        return StepResult::again(erasePause());
    }
    case Phase::EraseWait: {
        ++m_eraseStep;
        setTitle("Erasing..." + std::string(static_cast<std::size_t>(m_eraseStep), '.'));
        if (m_eraseStep < 6)
            return StepResult::again(erasePause());
        if (m_stream) {
            m_phase = Phase::Stream;
            return StepResult::again(milliseconds(0));
        }
        // The erase packet's answer was kept while we paused; its time starts now.
        m_sentAt = m_clock.now();
        m_phase = Phase::WaitAnswer;
        return StepResult::again(milliseconds(0));
    }
    case Phase::Stream: {
        if (m_position >= m_area.end)
            return finish();
        StepResult r = nextPacket();
        if (r.kind == StepResult::Kind::Failed)
            return r;
        m_taken = m_position;
        if (m_position >= m_area.end)
            return finish();
        AreaWriteState written = m_state;
        written.writtenTo(m_taken);
        setState(written);
        return StepResult::again(m_options.streamPause);
    }
    case Phase::WaitAnswer: {
        std::uint8_t buffer[256];
        IoResult r = m_conn.readFor(buffer, m_options.poll);
        if (r.isCancelled())
            return failWith("Cancelled: the area is only partly written.", r.message());
        if (r.outcome() == IoResult::Outcome::HungUp || r.outcome() == IoResult::Outcome::Failed)
            return failWith(catalogText(Msg::ReadFail), r.context("the printer's answer").message());
        for (LegacyAckParser::Answer a : m_parser.feed(std::span(buffer, r.count()))) {
            if (a == LegacyAckParser::Answer::Ack) {
                if (!m_packetIsErase) {
                    m_taken = m_position;
                    if (m_position >= m_area.end)
                        return finish();
                    AreaWriteState written = m_state;
                    written.writtenTo(m_taken);
                    setState(written);
                }
                return nextPacket();
            }
            if (++m_repeats > m_options.maxRepeats) {
                char what[96];
                std::snprintf(what, sizeof what, "the printer refused the packet at 0x%X %d times",
                              m_packetIsErase ? m_area.start : m_position - static_cast<std::uint32_t>(m_packet.size() - 10),
                              m_repeats);
                return failWith(catalogText(Msg::WriteFail), what);
            }
            return sendCurrent();
        }
        const auto limit = m_packetIsErase ? m_options.eraseAckTimeout : m_options.ackTimeout;
        if (m_clock.now() - m_sentAt >= limit) {
            char what[96];
            std::snprintf(what, sizeof what, "no answer to the packet at 0x%X within %lld ms",
                          m_packetIsErase ? m_area.start : m_position - static_cast<std::uint32_t>(m_packet.size() - 10),
                          static_cast<long long>(limit.count()));
            return failWith(catalogText(Msg::ReadFail), what);
        }
        return StepResult::again(milliseconds(0));
    }
    case Phase::Done:
    case Phase::Failed:
        break;
    }
    return StepResult::failed("the download has ended");
}
