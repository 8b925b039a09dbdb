#include "firmware/PrinterReadyJob.h"

#include <array>

namespace {

// GS I 1: the printer check (its model id, one byte), as the tools send it before a job.
constexpr std::array<std::uint8_t, 3> kPrinterCheck = {0x1D, 0x49, 0x01};

std::string seconds(std::chrono::milliseconds ms)
{
    return std::to_string((ms.count() + 999) / 1000);
}

} // namespace

bool printerCanBeAsked(const ConnectionTraits& traits)
{
    return traits.canAnswer && traits.packetReplies && !traits.capture;
}

PrinterReadyJob::PrinterReadyJob(PrinterConnection& connection, Clock& clock, PrinterReadyOptions options)
    : m_conn(connection), m_clock(clock), m_options(options)
{
}

StepResult PrinterReadyJob::end(PrinterReady result)
{
    m_conn.close();
    m_result = result;
    switch (result) {
    case PrinterReady::Answered: return StepResult::finished();
    case PrinterReady::Cancelled: return StepResult::failed("stopped waiting for the printer");
    case PrinterReady::NoAnswer:
        return StepResult::failed("no answer from " + m_conn.describe() + " within " + seconds(m_options.timeout) + " s");
    case PrinterReady::NotAsked: break;
    }
    return StepResult::failed("the printer cannot answer over " + m_conn.describe());
}

StepResult PrinterReadyJob::step()
{
    LentCancelToken lent(m_conn, m_ownToken);
    if (m_result != PrinterReady::NotAsked)
        return m_result == PrinterReady::Answered ? StepResult::finished() : StepResult::failed("the wait has ended");
    if (m_cancel)
        return end(PrinterReady::Cancelled);
    if (!printerCanBeAsked(m_conn.traits()))
        return end(PrinterReady::NotAsked);
    if (!m_started) {
        m_started = true;
        m_start = m_clock.now();
    }
    if (m_clock.now() - m_start >= m_options.timeout)
        return end(PrinterReady::NoAnswer);

    // A printer that restarts drops the connection: every question gets a fresh one.
    m_conn.close();
    ++m_questions;
    IoResult r = m_conn.open();
    if (r.ok())
        r = m_conn.write(kPrinterCheck, m_options.answerWait);
    if (r.ok()) {
        std::array<std::uint8_t, 16> answer{};
        r = m_conn.readFor(answer, m_options.answerWait);
        if (r.ok() && r.count() > 0)
            return end(PrinterReady::Answered);
    }
    if (r.isCancelled() || m_cancel)
        return end(PrinterReady::Cancelled);
    m_conn.close();
    return StepResult::again(m_options.pause);
}

std::string printerReadyWaitingText(std::chrono::milliseconds timeout, bool korean)
{
    return korean ? "프린터의 응답을 기다리는 중입니다(최대 " + seconds(timeout) + "초)..."
                  : "Waiting for the printer to answer (up to " + seconds(timeout) + " s)...";
}

std::string printerReadyText(PrinterReady result, std::chrono::milliseconds timeout, bool korean)
{
    switch (result) {
    case PrinterReady::Answered: return korean ? "프린터가 다시 응답합니다." : "The printer answers again.";
    case PrinterReady::NoAnswer:
        return korean ? "프린터가 " + seconds(timeout) +
                            "초 안에 응답하지 않았습니다. 사용하기 전에 프린터(전원, 케이블, 부저음)를 확인하십시오. "
                            "계속 응답이 없으면 같은 영역을 다시 다운로드하십시오."
                      : "The printer did not answer within " + seconds(timeout) +
                            " s. Check it (power, cable, the buzzer) before you use it; if it stays silent, download "
                            "the same area again.";
    case PrinterReady::Cancelled:
        return korean ? "프린터의 응답 기다리기를 중단했습니다." : "Stopped waiting for the printer to answer.";
    case PrinterReady::NotAsked: break;
    }
    return {};
}
