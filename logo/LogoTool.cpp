#include "logo/LogoTool.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "logo/BitmapList.h"
#include "logo/LogoLink.h"
#include "logo/NvUpload.h"
#include "logo/PreparedLogos.h"
#include "port/PrinterConnection.h"

#include <optional>

namespace logo_tool {

namespace {


// The Advanced page's printer check waits longer for its answer than a job's: it is the
// user's question whether the printer is there, not a wake-up before data.
constexpr std::chrono::milliseconds kCheckAnswerWait{1000};

// The connection of one action with the front end's cancel token lent to it (unless the
// factory lent one already) for as long as the action runs.
class ActionConnection {
public:
    explicit ActionConnection(const LogoToolDeps& deps)
    {
        if (deps.connect)
            m_connection = deps.connect(deps.settings);
        if (!m_connection)
            return;
        if (deps.cancel && !m_connection->cancelToken())
            m_lent.emplace(*m_connection, deps.cancel);
    }
    ~ActionConnection()
    {
        m_lent.reset();
        if (m_connection)
            m_connection->close();
    }
    ActionConnection(const ActionConnection&) = delete;
    ActionConnection& operator=(const ActionConnection&) = delete;

    explicit operator bool() const { return m_connection != nullptr; }
    PrinterConnection& operator*() const { return *m_connection; }

    // The report of an action that never had a connection.
    static LogoReport none(const LogoToolDeps& deps)
    {
        LogoReport r;
        r.outcome = LogoOutcome::NotConnected;
        r.message = "no connection can use " + deps.settings.describe();
        r.printerHolds = "nothing was sent; the printer keeps what it held";
        return r;
    }

private:
    std::unique_ptr<PrinterConnection> m_connection;
    std::optional<ScopedCancelToken> m_lent;
};

LogoEngineDeps engineDeps(const LogoToolDeps& deps, PrinterConnection& connection)
{
    return {connection, deps.clock, deps.prompter, deps.log, deps.progress};
}

StepResult drive(const LogoToolDeps& deps, StepJob& job)
{
    if (deps.drive)
        return deps.drive(job);
    const CancelToken* cancel = deps.cancel;
    return runStepJob(job, deps.clock, [cancel] { return cancel && cancel->cancelled(); });
}

LogoReport fromAction(const LogoActionResult& r)
{
    LogoReport report;
    report.outcome = r.ok ? LogoOutcome::Done : LogoOutcome::Failed;
    report.message = r.ok ? r.warning : r.message;
    return report;
}

} // namespace

namespace {

// Drives an upload to its end and says what the printer holds.
LogoReport runUpload(const LogoToolDeps& deps, NvUpload& upload)
{
    const StepResult last = drive(deps, upload);
    LogoReport report;
    report.printerHolds = upload.printerHolds();
    report.printerHoldsKorean = upload.printerHoldsKorean();
    report.bytes = upload.bytesSent();
    report.pictures = upload.picturesSent();
    switch (upload.outcome()) {
    case NvUpload::Outcome::Completed:
        report.outcome = LogoOutcome::Done;
        report.message = upload.logWarning();
        break;
    case NvUpload::Outcome::Declined:
        report.outcome = LogoOutcome::Declined;
        break;
    case NvUpload::Outcome::Cancelled:
        report.outcome = LogoOutcome::Cancelled;
        report.message = upload.logWarning();
        break;
    case NvUpload::Outcome::Failed:
    case NvUpload::Outcome::Running:
        report.outcome = LogoOutcome::Failed;
        report.message = last.message;
        break;
    }
    return report;
}

} // namespace

LogoReport uploadLogos(const LogoToolDeps& deps, const BitmapList& list, const LogoOptions& options,
                       Profile* profile, int previousLogCount)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    NvUpload upload(engineDeps(deps, *connection), NvUpload::itemsOf(list, options), options,
                    deps.settings.modelFamily, uint64_t(list.totalBytes()), profile, previousLogCount);
    return runUpload(deps, upload);
}

LogoReport uploadPreparedLogos(const LogoToolDeps& deps, const PreparedLogos& logos)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    NvUpload upload(engineDeps(deps, *connection), logos.items, logos.options, deps.settings.modelFamily,
                    logos.predictedBytes, nullptr, 0);
    upload.usePictures(logos.pictures);
    return runUpload(deps, upload);
}

LogoReport clearLogos(const LogoToolDeps& deps, bool askFirst)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    const NvClearResult r = clearNvLogos(engineDeps(deps, *connection), askFirst);
    LogoReport report;
    report.message = r.message;
    switch (r.outcome) {
    case NvClearOutcome::Cleared:
        report.outcome = LogoOutcome::Done;
        report.printerHolds = "the printer's NV bit-image memory is erased";
        break;
    case NvClearOutcome::Declined:
        report.outcome = LogoOutcome::Declined;
        report.printerHolds = "nothing was sent; the printer keeps what it held";
        break;
    case NvClearOutcome::Failed:
        report.outcome = LogoOutcome::Failed;
        report.printerHolds = "the clear may not have reached the printer; it may still hold its pictures";
        break;
    }
    return report;
}

LogoReport printLogos(const LogoToolDeps& deps, const LogoPrintRequest& request)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    LogoPrintJob job(engineDeps(deps, *connection), request);
    const StepResult last = drive(deps, job);
    LogoReport report;
    report.pictures = job.printed();
    switch (job.outcome()) {
    case LogoPrintJob::Outcome::Finished:
        report.outcome = LogoOutcome::Done;
        break;
    case LogoPrintJob::Outcome::Cancelled:
        report.outcome = LogoOutcome::Cancelled;
        break;
    case LogoPrintJob::Outcome::Failed:
    case LogoPrintJob::Outcome::Running:
        report.outcome = LogoOutcome::Failed;
        report.message = last.message;
        break;
    }
    return report;
}

LogoReport setLogoSettings(const LogoToolDeps& deps, const logo_frames::LogoSettingsValues& values)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    return fromAction(::sendLogoSettings(engineDeps(deps, *connection), values));
}

LogoReport printSampleReceipt(const LogoToolDeps& deps)
{
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    return fromAction(sendSampleReceipt(engineDeps(deps, *connection)));
}

LogoReport checkPrinter(const LogoToolDeps& deps)
{
    LogoReport report;
    ActionConnection connection(deps);
    if (!connection)
        return ActionConnection::none(deps);
    PrinterConnection& c = *connection;
    const ConnectionTraits traits = c.traits();
    // The network module takes one connection at a time and is opened for each job: a look
    // at it would only hold up the next one.
    if (traits.openedPerAction) {
        report.outcome = LogoOutcome::Done;
        report.message = c.describe() + " is opened for each job; it was not looked at";
        return report;
    }
    IoResult r = c.open();
    if (!r.ok()) {
        deps.prompter.message(catalogText(Msg::PortOpenError));
        report.message = r.context("cannot open " + c.describe()).message();
        return report;
    }
    // A printer that gets no ESC @ (the parallel port) is only opened and closed.
    if (traits.initialise || traits.capture) {
        r = logo_link::send(c, logo_frames::initialise());
        if (r.ok())
            r = logo_link::send(c, logo_frames::printerCheck());
        if (!r.ok()) {
            deps.prompter.message(catalogText(Msg::WriteToPortError));
            report.message = r.context("printer check").message();
            return report;
        }
        if (c.canAnswer()) {
            uint8_t answer = 0;
            IoResult read = c.readFor(std::span<uint8_t>(&answer, 1), kCheckAnswerWait);
            if (read.outcome() == IoResult::Outcome::HungUp) {
                deps.prompter.message(catalogText(Msg::CommError));
                report.message = read.context("printer check").message();
                return report;
            }
            if (!read.ok()) {
                deps.prompter.message(catalogText(Msg::ReceiveDataError));
                report.message = read.context("printer check").message();
                return report;
            }
        }
    }
    report.outcome = LogoOutcome::Done;
    return report;
}

ConnectionFactory sayingPortOpenFailed(ConnectionFactory factory, Prompter& prompter)
{
    return [factory = std::move(factory), &prompter](const ConnectionSettings& settings) {
        std::unique_ptr<PrinterConnection> c = factory ? factory(settings) : nullptr;
        if (!c)
            prompter.message(catalogText(Msg::PortOpenError));
        return c;
    };
}

bool canPrint(const ConnectionSettings& settings) { return connectionTraits(settings.kind()).canAnswer; }

bool writesToFile(const ConnectionSettings& settings) { return connectionTraits(settings.kind()).capture; }

} // namespace logo_tool
