#include "logo/LogoPrint.h"

#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/Prompter.h"

#include <cstdio>

namespace {


// Opening for Print, Set Logo values and Test: open; Print adds the printer check where the
// connection takes one; then ESC @ where it takes one. A capture gets both, so that the file
// holds what a serial printer would have been sent.
Status openForPrinting(LogoEngineDeps& d, bool withCheck)
{
    PrinterConnection& c = d.connection;
    const ConnectionTraits traits = c.traits();
    IoResult r = c.open();
    if (!r.ok()) {
        c.close();
        d.prompter.message(catalogText(Msg::PortOpenError));
        return Status::failure(r.context("cannot open " + c.describe()).message());
    }
    if (withCheck && (traits.printerCheck || traits.capture)) {
        r = logo_link::printerCheck(c);
        if (!r.ok()) {
            c.close();
            d.prompter.message(catalogText(Msg::WriteToPortError));
            return Status::failure(r.message());
        }
    }
    if (!traits.initialise && !traits.capture)
        return Status::success();
    r = logo_link::send(c, logo_frames::initialise());
    if (!r.ok()) {
        c.close();
        d.prompter.message(catalogText(Msg::WriteToPortError));
        return Status::failure(r.context("ESC @").message());
    }
    return Status::success();
}

LogoActionResult sendOnce(LogoEngineDeps& d, std::span<const uint8_t> bytes, const std::string& what)
{
    LogoActionResult result;
    PrinterConnection& c = d.connection;
    Status opened = openForPrinting(d, false);
    if (!opened.ok()) {
        result.message = opened.message();
        return result;
    }
    IoResult r = logo_link::send(c, bytes);
    if (!r.ok()) {
        c.close();
        d.prompter.message(catalogText(Msg::WriteToPortError));
        result.message = r.context(what).message();
        return result;
    }
    const ConnectionTraits traits = c.traits();
    if (traits.settleBeforeClose.count() > 0)
        d.clock.sleep(traits.settleBeforeClose);
    c.close();
    result.ok = true;
    // The printer applies what it got by restarting; a USB printer's node is gone until then.
    if (traits.restartReopen) {
        IoResult back = c.reopen(*traits.restartReopen);
        c.close();
        if (!back.ok())
            result.warning = back.context("the USB printer did not come back after its restart").message();
    }
    return result;
}

} // namespace

LogoActionResult sendLogoSettings(LogoEngineDeps deps, const logo_frames::LogoSettingsValues& values)
{
    const auto frame = logo_frames::logoSettingsFrame(values);
    return sendOnce(deps, frame, "logo settings frame");
}

LogoActionResult sendSampleReceipt(LogoEngineDeps deps)
{
    const auto receipt = logo_frames::sampleReceipt();
    return sendOnce(deps, receipt, "sample receipt");
}

LogoPrintJob::LogoPrintJob(LogoEngineDeps deps, LogoPrintRequest request)
    : m_deps(deps), m_request(std::move(request)),
      m_count(m_request.numbers.empty() ? kAllCount : int(m_request.numbers.size())),
      m_progress(deps.progress, progressWeights(m_count))
{
}

StepResult LogoPrintJob::fail(const std::string& reason)
{
    m_outcome = Outcome::Failed;
    m_phase = Phase::Done;
    m_deps.connection.close();
    return StepResult::failed(reason);
}

StepResult LogoPrintJob::step()
{
    LentCancelToken lent(m_deps.connection, m_ownToken);
    switch (m_phase) {
    case Phase::Begin: {
        if (m_cancelRequested) {
            m_outcome = Outcome::Cancelled;
            m_phase = Phase::Done;
            return StepResult::finished();
        }
        Status opened = openForPrinting(m_deps, true);
        if (!opened.ok()) {
            m_outcome = logo_link::cancelled(m_deps.connection) ? Outcome::Cancelled : Outcome::Failed;
            m_phase = Phase::Done;
            return StepResult::failed(opened.message());
        }
        m_progress.at(kProgressPictures, 0, uint64_t(m_count));
        m_phase = Phase::Printing;
        return StepResult::again(kPace);
    }
    case Phase::Printing: {
        if (m_cancelRequested) {
            m_deps.connection.close();
            m_outcome = Outcome::Cancelled;
            m_phase = Phase::Done;
            return StepResult::finished();
        }
        const int n = m_request.numbers.empty() ? m_printed + 1 : m_request.numbers[std::size_t(m_printed)];
        std::vector<uint8_t> bytes;
        if (m_request.header)
            bytes = logo_frames::headerLine(n);
        const auto command = logo_frames::printCommand(n, m_request.mode, m_request.starEmulation);
        bytes.insert(bytes.end(), command.begin(), command.end());
        IoResult r = logo_link::send(m_deps.connection, bytes);
        if (r.isCancelled()) {
            // A print command cut short is only part of a command: the printer takes the
            // rest of what follows as its parameters, so nothing more is sent.
            m_deps.connection.close();
            m_outcome = Outcome::Cancelled;
            m_phase = Phase::Done;
            return StepResult::finished();
        }
        if (!r.ok()) {
            m_deps.prompter.message(catalogText(Msg::CommunicationError));
            return fail(r.context("printing picture " + std::to_string(n)).message());
        }
        ++m_printed;
        char text[48];
        std::snprintf(text, sizeof text, "Printing... %d/%d", m_printed, m_count);
        m_lastText = text;
        m_progress.at(kProgressPictures, uint64_t(m_printed), uint64_t(m_count), text);
        if (m_printed < m_count)
            return StepResult::again(kPace);
        m_phase = Phase::Closing;
        return StepResult::again(kEndWait);
    }
    case Phase::Closing:
        m_deps.connection.close();
        m_progress.finish(m_lastText);
        m_outcome = Outcome::Finished;
        m_phase = Phase::Done;
        return StepResult::finished();
    case Phase::Done:
        break;
    }
    return m_outcome == Outcome::Failed ? StepResult::failed("printing already ended") : StepResult::finished();
}
