#include "setup/SetupSession.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "app/MessageTarget.h"
#include "app/Prompter.h"
#include "app/CancelToken.h"
#include "setup/SetupValueCodec.h"
#include "setup/TestPage.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace {

// Catalog entries of the user setup.
constexpr Msg kInitFail = Msg::InitFail;
constexpr Msg kPrinterCheckEthernet = Msg::PrinterCheckError;
constexpr Msg kWriteToPort = Msg::WriteToPortError;
constexpr Msg kPrinterCheckLpt = Msg::PrinterCheckFailed;
constexpr Msg kWriteFail = Msg::WriteFail;
constexpr Msg kCannotCreateReceiveThread = Msg::ReceiveThreadError;
constexpr Msg kStopBitWarning = Msg::StopBitWarning;
constexpr Msg kReadFail = Msg::ReadFail;
constexpr Msg kMarginRange = Msg::MarginRange;

constexpr const char* kNotice = "Notice";

using Ms = std::chrono::milliseconds;

} // namespace

SetupSession::SetupSession(ConnectionSettings settings, ConnectionHost host, MessageTarget& window, bool korean)
    : m_settings(std::move(settings)), m_host(host), m_window(window), m_prompter(host.prompter),
      m_clock(host.clock), m_log(host.log), m_korean(korean), m_receiver(window, m_slots)
{
}

SetupSession::~SetupSession()
{
    stopReceiver();
    if (m_connection)
        m_connection->close();
}

::ModelFamily SetupSession::ModelFamily() const { return m_settings.modelFamily; }

void SetupSession::SetCancelToken(const CancelToken* token)
{
    m_cancel = token;
    if (m_connection)
        m_connection->setCancelToken(token);
}

bool SetupSession::CancelRequested() const { return m_cancel && m_cancel->cancelled(); }

bool SetupSession::sleep(Ms delay) { return sleepUnlessCancelled(m_clock, delay, m_cancel); }

void SetupSession::show(Msg catalogEntry, const char* caption)
{
    showText(catalogText(catalogEntry), caption);
}

void SetupSession::showText(const std::string& text, const char* caption)
{
    m_prompter.show(text, PromptButtons::Ok, PromptIcon::Exclamation, caption ? caption : kAppDisplayName);
}

bool SetupSession::Answered(int n) const
{
    return n >= 0 && n < 256 && m_answered[static_cast<std::size_t>(n)].load();
}

void SetupSession::ClearAnswered()
{
    for (auto& flag : m_answered)
        flag = false;
}

bool SetupSession::ConnectionOpen() const
{
    if (m_traits.openedPerAction)
        return m_ethernetReachable;
    return m_connection && m_connection->isOpen();
}

Status SetupSession::startReceiver()
{
    if (!m_connection)
        return Status::failure("no connection to read from");
    return m_receiver.Start(*m_connection);
}

void SetupSession::stopReceiver()
{
    m_receiver.RequestStop();
    if (!m_receiver.WaitEnded(kReceiverEndWait, m_idle))
        m_log.WriteLog("[UserSetup] receive thread did not end within %d ms",
                       static_cast<int>(kReceiverEndWait.count()));
}

bool SetupSession::failWith(const IoResult& result)
{
    if (result)
        return true;
    m_lastFailure = result.message();
    if (result.isCancelled() && m_lastFailure.empty())
        m_lastFailure = "cancelled";
    m_log.WriteLog("[UserSetup] %s", m_lastFailure.c_str());
    return false;
}

bool SetupSession::writeAll(const Bytes& bytes)
{
    if (!m_connection)
        return false;
    IoResult r = m_connection->write(bytes, m_connection->traits().writeDeadline(bytes.size()));
    // A short count is the deadline running out: the printer did not take the frame,
    // which is as much a failure as an error.
    m_bytesSent += r.count();
    if (r && r.count() != bytes.size())
        r = IoResult::timedOut(r.count(), "the printer took " + std::to_string(r.count()) + " of " +
                                              std::to_string(bytes.size()) + " bytes");
    return failWith(r);
}

SetupSession::OpenResult SetupSession::Open()
{
    m_traits = ConnectionTraits{};
    ClearAnswered();
    m_stopBitWarning = false;
    m_lastFailure.clear();

    if (!connectionTraits(m_settings.kind()).carriesJobs) {
        show(kInitFail);
        return OpenResult::Failed;
    }
    stopReceiver();
    if (m_connection)
        m_connection->close();
    m_connection = makeConnection(m_settings, m_host);
    if (!m_connection) {
        show(kInitFail);
        return OpenResult::Failed;
    }
    m_connection->setStallLimit(m_stallLimit);
    m_connection->setCancelToken(m_cancel);
    m_traits = m_connection->traits();

    if (m_traits.statusReports) {
        IoResult opened = m_connection->open();
        if (!failWith(opened)) {
            const std::string device = m_connection->deviceErrorText();
            showText(std::string(catalogText(kInitFail)) + "\n" + (device.empty() ? opened.message() : device));
            m_connection->close();
            return OpenResult::Failed;
        }
        // The printer sends automatic status reports until told not to; they would
        // otherwise sit between the answers.
        if (!writeAll(disableAsbFrame())) {
            show(kPrinterCheckLpt);
            m_connection->close();
            return OpenResult::Failed;
        }
        return OpenResult::Opened;
    }

    if (m_traits.openedPerAction) {
        // The module takes one connection per action: this one only proves it is there.
        IoResult connected = m_connection->open();
        m_connection->close();
        if (!failWith(connected)) {
            show(kPrinterCheckEthernet);
            return OpenResult::Failed;
        }
        m_ethernetReachable = true;
        return OpenResult::Opened;
    }

    if (!failWith(m_connection->open())) {
        show(kInitFail);
        return OpenResult::Failed;
    }
    if (answersWhileOpen()) {
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            show(kCannotCreateReceiveThread);
            return OpenResult::OpenedWithoutReceiver;
        }
    }
    return OpenResult::Opened;
}

void SetupSession::closeConnection()
{
    stopReceiver();
    if (m_connection)
        m_connection->close();
    if (m_traits.openedPerAction)
        m_ethernetReachable = false;
}

SetupSession::ReadResult SetupSession::readCancelled()
{
    // Whatever the printer still sends belongs to a read nobody waits for.
    closeConnection();
    if (m_lastFailure.empty())
        m_lastFailure = "cancelled";
    return ReadResult::Cancelled;
}

SetupSession::ReadResult SetupSession::readFailure(int code)
{
    if (CancelRequested())
        return readCancelled();
    switch (code) {
    case 1:
    case 4:
        show(kWriteToPort);
        break;
    case 2:
    case 3:
        show(kCannotCreateReceiveThread);
        break;
    default:
        show(kReadFail);
        break;
    }
    closeConnection();
    return ReadResult::Failed;
}

bool SetupSession::waitUntil(const std::function<bool()>& done, Ms limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (CancelRequested() || std::chrono::steady_clock::now() >= deadline)
            return done();
        if (m_idle)
            m_idle();
        std::this_thread::sleep_for(Ms{1});
    }
    return true;
}

bool SetupSession::waitForAnswers(const std::vector<std::uint8_t>& wanted, Ms limit)
{
    auto allIn = [&] { return std::all_of(wanted.begin(), wanted.end(), [&](std::uint8_t n) { return Answered(n); }); };
    // A printer that hung up sends nothing more.
    waitUntil([&] { return allIn() || m_receiver.Ended(); }, limit);
    return allIn();
}

SetupSession::ReadResult SetupSession::GetValue()
{
    ClearAnswered();
    {
        std::lock_guard lock(m_receivedMutex);
        m_received = SetupOptions{};
        m_receivedShown.clear();
    }
    m_lastFailure.clear();
    if (CancelRequested())
        return readCancelled();
    const std::vector<std::uint8_t> requests = RequestList();

    if (m_traits.statusReports) {
        // A read that is still being acknowledged ends here; this one asks afresh.
        stopReceiver();
        if (!m_connection || !m_connection->isOpen() || !writeAll(disableAsbFrame()))
            return readFailure(1);
        for (std::uint8_t n : requests)
            if (!writeAll(transmitSettingFrame(n)))
                return readFailure(4);
        if (!failWith(m_connection->startReadThread()))
            return readFailure(2);
        ClearAnswered();
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            return readFailure(3);
        }
        return ReadResult::LptStarted;
    }

    if (m_traits.openedPerAction) {
        // One connection per action; a printer that cannot be reached, or that breaks the
        // connection while the requests go out, is a failed read, not an empty one.
        if (!m_connection || !failWith(m_connection->open()))
            return readFailure(0);
        for (std::uint8_t n : requests) {
            if (!writeAll(transmitSettingFrame(n)) || !sleep(kEthernetRequestGap))
                return readFailure(0);
        }
        if (!sleep(kEthernetAnswerWait))
            return readFailure(0);
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            return readFailure(0);
        }
        // The answers are in the socket already or on their way: take them until the last
        // one, not until a time-out.
        waitForAnswers(requests, kEthernetAnswerLimit);
        if (CancelRequested())
            return readCancelled();
        closeConnection();
        m_ethernetReachable = true;
        return ReadResult::Requested;
    }

    if (answersWhileOpen()) {
        // The receive thread ends with the port; a port reopened since needs it again.
        if (m_connection && m_connection->isOpen() && !m_receiver.Running()) {
            if (Status started = startReceiver(); !started)
                m_log.WriteLog("%s", started.message().c_str());
        }
    }
    for (std::uint8_t n : requests)
        if (!writeAll(transmitSettingFrame(n)))
            return readFailure(0);
    return ReadResult::Requested;
}

SetupSession::AckTickResult SetupSession::LptAckTick()
{
    using Kind = AckTickResult::Kind;
    if (!m_traits.statusReports || !m_connection)
        return {Kind::Failed, Ms{0}, {}};
    LptAcknowledge::Step step = m_ack.decide(m_receiver.InFrame(), [this](int n) { return Answered(n); });
    switch (step.action) {
    case LptAcknowledge::Action::Wait:
        return {Kind::Rearm, step.interval, {}};
    case LptAcknowledge::Action::Resend:
        for (std::uint8_t n : step.resend) {
            if (!writeAll(transmitSettingFrame(n))) {
                if (CancelRequested())
                    return {Kind::Failed, Ms{0}, {}};
                showText("GetValueCmd Fail!");
                return {Kind::Failed, Ms{0}, {}};
            }
        }
        return {Kind::Rearm, step.interval, step.resend};
    case LptAcknowledge::Action::Finish:
        break;
    }
    stopReceiver();
    m_connection->stopReadThread();
    // Five NULs end whatever the printer's parser may still expect after the requests.
    writeAll(Bytes(5, 0x00));
    return {Kind::Finished, Ms{0}, {}};
}

namespace {

class LptAcknowledgeJob final : public StepJob {
public:
    explicit LptAcknowledgeJob(SetupSession& session) : m_session(session) {}

    StepResult step() override
    {
        if (!m_started) {
            m_started = true;
            return StepResult::again(LptAcknowledge::kFirstInterval);
        }
        auto tick = m_session.LptAckTick();
        switch (tick.kind) {
        case SetupSession::AckTickResult::Kind::Rearm:
            return StepResult::again(tick.interval);
        case SetupSession::AckTickResult::Kind::Finished:
            return StepResult::finished();
        case SetupSession::AckTickResult::Kind::Failed:
            break;
        }
        return StepResult::failed("GetValueCmd Fail!");
    }

private:
    SetupSession& m_session;
    bool m_started = false;
};

} // namespace

std::unique_ptr<StepJob> SetupSession::AcknowledgeJob()
{
    return std::make_unique<LptAcknowledgeJob>(*this);
}

SetupSession::WriteResult SetupSession::writeCancelled(SetupOptions& form)
{
    m_sentBeforeCancel = m_bytesSent > 0;
    if (m_lastFailure.empty())
        m_lastFailure = "cancelled";
    closeConnection();
    form.resetEditsAfterFailure();
    return WriteResult::Cancelled;
}

SetupSession::WriteResult SetupSession::writeFailure(SetupOptions& form)
{
    if (CancelRequested())
        return writeCancelled(form);
    show(kWriteFail);
    closeConnection();
    form.resetEditsAfterFailure();
    return WriteResult::Failed;
}

SetupSession::WriteResult SetupSession::SetValue(SetupOptions& form)
{
    if (!form.hasAnythingToWrite())
        return WriteResult::Nothing;
    if (form.margin < 0 || form.margin > 576) {
        show(kMarginRange, kNotice);
        return WriteResult::Refused;
    }
    // The frame is built before anything is sent: a value that cannot be encoded must not
    // leave the printer waiting in user setting mode.
    Result<SetValueFrame> frame = buildSetValueFrame(form, ModelFamily());
    if (!frame) {
        showText(frame.message(), kNotice);
        return WriteResult::Refused;
    }
    if (frame->customCodeReset)
        form.customCode = "0";
    m_lastFailure.clear();
    m_bytesSent = 0;
    m_sentBeforeCancel = false;
    if (CancelRequested())
        return writeCancelled(form);

    if (m_traits.openedPerAction) {
        if (!m_connection || !failWith(m_connection->open()))
            return writeFailure(form);
    }
    if (!writeAll(enterUserSettingFrame()))
        return writeFailure(form);

    if (form.stopBit != kNoValue && m_stopBitWarning) {
        show(kStopBitWarning, kNotice);
        m_stopBitWarning = false;
    }

    if (!writeAll(frame->bytes) || !writeAll(endUserSettingFrame()))
        return writeFailure(form);

    if (m_traits.reopenAfterSetupWrite) {
        // The port stays open while the printer restarts and is closed and opened again once
        // it had the policy's wait; the printer then sends its status reports again until
        // told not to.
        stopReceiver();
        const ReopenPolicy& policy = *m_traits.reopenAfterSetupWrite;
        if (!sleep(policy.firstWait))
            return writeCancelled(form);
        if (!failWith(m_connection->reopen(ReopenPolicy{Ms{0}, policy.pausesAfterFailure})) ||
            !writeAll(disableAsbFrame()))
            return writeFailure(form);
    }

    if (frame->usbModeChange) {
        closeConnection();
        return WriteResult::ConnectionClosed;
    }

    // The printer restarts with its new settings. A USB printer's node, and a USB virtual
    // serial port, go away meanwhile and come back: close, wait, open again.
    if (const std::optional<ReopenPolicy>& comesBack = m_traits.setupRestartReopen) {
        stopReceiver();
        if (!failWith(m_connection->reopen(*comesBack))) {
            if (CancelRequested())
                return writeCancelled(form);
            show(kInitFail);
            return WriteResult::ReopenFailed;
        }
        // The worker ended while the port was closed; the next "Get Value" needs it.
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            show(kCannotCreateReceiveThread);
        }
    } else if (m_traits.openedPerAction) {
        // Nothing to reopen: the next action connects afresh, once the module is back.
        m_connection->close();
        if (!sleep(m_traits.restartWait))
            return writeCancelled(form);
    }
    return WriteResult::Written;
}

SetupSession::TestResult SetupSession::PrintTestPage(SetupOptions& form)
{
    Result<TestPageBlocks> page = testPageBlocks(m_korean);
    if (!page) {
        showText(page.message());
        return TestResult::Failed;
    }
    m_lastFailure.clear();
    auto fail = [&] {
        if (CancelRequested()) {
            closeConnection();
            form.resetEditsAfterFailure();
            return TestResult::Cancelled;
        }
        show(kWriteFail);
        closeConnection();
        form.resetEditsAfterFailure();
        return TestResult::Failed;
    };
    if (m_traits.openedPerAction && (!m_connection || !failWith(m_connection->open())))
        return fail();
    for (const auto& block : *page)
        if (!writeAll(block))
            return fail();
    if (m_traits.openedPerAction)
        m_connection->close();
    m_clock.sleep(kTestPagePause);
    return TestResult::Printed;
}

bool SetupSession::Default(SetupOptions& form)
{
    if (m_prompter.show(catalogText(Msg::ConfirmDefaults), PromptButtons::YesNo, PromptIcon::Question,
                        kAppDisplayName) != PromptAnswer::Yes)
        return false;
    form = SetupOptions::defaults(m_korean);
    m_stopBitWarning = true;
    return true;
}

void SetupSession::Exit()
{
    // The receive thread is joined: no wait on the chance that it saw the stop request.
    stopReceiver();
    CloseWindow();
}

void SetupSession::CloseWindow()
{
    stopReceiver();
    if (m_connection)
        m_connection->close();
}

bool SetupSession::OnSetupValue(SetupOptions& form, std::uintptr_t settingNumber, std::intptr_t valueCode)
{
    if (settingNumber == 0 || settingNumber > 255)
        return false;
    const int n = static_cast<int>(settingNumber);
    const long code = static_cast<long>(valueCode);
    {
        // The outcome's own copy of the answers: a copy of the slots, so that the host's
        // form still takes the text the value came with.
        SetupTextSlots slots = m_slots;
        std::lock_guard lock(m_receivedMutex);
        if (applySetupValue(m_received, n, code, slots, ModelFamily()))
            m_receivedShown.insert(n);
        else
            m_receivedShown.erase(n);
    }
    m_answered[settingNumber] = true;
    return applySetupValue(form, n, code, m_slots, ModelFamily());
}

SetupReadOutcome SetupSession::ReadOutcome() const
{
    SetupReadOutcome outcome;
    outcome.requested = RequestList();
    {
        std::lock_guard lock(m_receivedMutex);
        outcome.values = m_received;
        outcome.shown = m_receivedShown;
    }
    for (std::uint8_t n : outcome.requested)
        if (!Answered(n))
            outcome.missing.push_back(n);
    if (!m_traits.canAnswer) {
        outcome.result = SetupReadOutcome::Result::NoAnswer;
        return outcome;
    }
    if (CancelRequested()) {
        outcome.result = SetupReadOutcome::Result::Cancelled;
        outcome.failure = m_lastFailure;
        return outcome;
    }
    if (outcome.missing.empty()) {
        outcome.result = SetupReadOutcome::Result::Complete;
        return outcome;
    }
    // A printer that hung up or a read that broke mid-way: its answers will not come.
    const std::string ended = m_receiver.EndReason();
    if (!ended.empty()) {
        outcome.result = SetupReadOutcome::Result::Failed;
        outcome.failure = ended;
        return outcome;
    }
    outcome.result = SetupReadOutcome::Result::Incomplete;
    return outcome;
}

SetupReadOutcome SetupSession::ReadSetup(Ms timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
        return std::max(Ms(0), std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()));
    };
    auto ended = [&](SetupReadOutcome::Result result) {
        SetupReadOutcome outcome = ReadOutcome();
        outcome.result = result;
        outcome.failure = m_lastFailure;
        outcome.messageShown = result == SetupReadOutcome::Result::Failed;
        return outcome;
    };
    switch (GetValue()) {
    case ReadResult::Failed:
        return ended(SetupReadOutcome::Result::Failed);
    case ReadResult::Cancelled:
        return ended(SetupReadOutcome::Result::Cancelled);
    case ReadResult::Requested:
        if (!m_traits.canAnswer)
            return ReadOutcome();
        break;
    case ReadResult::LptStarted: {
        // The acknowledgement asks again for what is missing; the answers themselves arrive
        // meanwhile. Its waits are taken on the Clock, in pieces a cancel cuts short.
        auto job = AcknowledgeJob();
        for (;;) {
            StepResult r = job->step();
            if (r.kind != StepResult::Kind::Again || !m_receiver.EndReason().empty() || CancelRequested())
                break;
            if (r.after >= left())
                break;
            if (!sleep(r.after))
                break;
        }
        break;
    }
    }
    waitForAnswers(RequestList(), left());
    if (CancelRequested()) {
        closeConnection();
        if (m_lastFailure.empty())
            m_lastFailure = "cancelled";
    }
    return ReadOutcome();
}
