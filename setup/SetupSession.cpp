#include "setup/SetupSession.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/MessageTarget.h"
#include "app/Prompter.h"
#include "port/CPorts.h"
#include "port/EthernetLink.h"
#include "port/ParPortCtl.h"
#include "setup/SetupValueCodec.h"
#include "setup/TestPage.h"

namespace {

// Catalog entries of the user setup.
constexpr int kInitFail = 2;
constexpr int kPrinterCheckEthernet = 20;
constexpr int kWriteToPort = 22;
constexpr int kPrinterCheckLpt = 24;
constexpr int kWriteFail = 48;
constexpr int kDefaultQuestion = 49;
constexpr int kCannotCreateReceiveThread = 52;
constexpr int kStopBitWarning = 54;
constexpr int kReadFail = 60;
constexpr int kMarginRange = 61;

constexpr const char* kNotice = "Notice";

// ETHERNET_II answers come in pieces of at most 128 bytes; 32 pieces hold far more than the
// 17 answers, and stop a printer that never stops talking from holding the read forever.
constexpr int kEthernetReceiveCapacity = 128;
constexpr int kEthernetMaxReceives = 32;

} // namespace

SetupSession::SetupSession(CPorts& ports, MessageTarget& window, Prompter& prompter, Clock& clock,
                           CErrorLog& log, bool korean)
    : m_ports(ports), m_window(window), m_prompter(prompter), m_clock(clock), m_log(log), m_korean(korean),
      m_receiver(window, m_slots)
{
}

SetupSession::~SetupSession()
{
    m_receiver.RequestStop();
    waitReceiverEnd();
    m_receiver.Join();
    if (m_parallel) {
        m_parallel->ClosePort();
        if (m_lptSetIsOpen)
            m_ports.m_IsOpen = 0;
    }
    releaseNotifyWindow();
}

void SetupSession::releaseNotifyWindow()
{
    MessageTarget* ours = &m_window;
    m_ports.m_hNotifyWnd.compare_exchange_strong(ours, nullptr);
}

int SetupSession::ModelFamily() const { return m_ports.m_ModelFamily; }

void SetupSession::show(int catalogEntry, const char* caption)
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
    switch (m_kind) {
    case PortKind::Parallel:
        return m_parallel && m_parallel->IsOpen() && m_ports.m_IsOpen != 0;
    case PortKind::Ethernet:
        return m_ethernetReachable;
    default:
        return m_ports.m_IsOpen != 0;
    }
}

Status SetupSession::startReceiver()
{
    if (m_kind == PortKind::Ethernet) {
        // The network library keeps no connection between actions, so the worker runs
        // until the session stops it.
        return m_receiver.StartOnQueue(m_setupQueue, [] { return true; });
    }
    return m_receiver.StartOnQueue(m_setupQueue, [this] { return m_ports.m_IsOpen.load() != 0; });
}

SetupSession::OpenResult SetupSession::Open()
{
    m_kind = portKindOf(m_ports.m_PortName);
    ClearAnswered();
    m_stopBitWarning = false;

    if (m_kind == PortKind::Parallel) {
        m_lptName = m_ports.m_PortName;
        m_parallel = std::make_unique<ParPortCtl>(m_log, m_clock);
        if (!m_parallel->OpenPort(m_lptName)) {
            showText(std::string(catalogText(kInitFail)) + "\n" + m_parallel->GetErrorText());
            m_parallel.reset();
            return OpenResult::Failed;
        }
        m_ports.m_IsOpen = 1;
        m_lptSetIsOpen = true;
        // The printer sends automatic status reports until told not to; they would
        // otherwise sit between the answers.
        if (!writeAll(disableAsbFrame())) {
            show(kPrinterCheckLpt);
            m_ports.m_IsOpen = 0;
            m_parallel->ClosePort();
            return OpenResult::Failed;
        }
        return OpenResult::Opened;
    }

    if (m_kind == PortKind::Ethernet) {
        int connected = EthOpen();
        EthClose();
        if (!connected) {
            show(kPrinterCheckEthernet);
            return OpenResult::Failed;
        }
        m_ethernetReachable = true;
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            show(kCannotCreateReceiveThread);
            return OpenResult::Failed;
        }
        return OpenResult::Opened;
    }

    if (m_kind == PortKind::Wifi) {
        // "WIFI" only lives between the connection dialog and its network dialog.
        show(kInitFail);
        return OpenResult::Failed;
    }

    m_ports.m_Function = 2;
    m_ports.m_hNotifyWnd = &m_window;
    if (m_ports.m_IsOpen)
        m_ports.Close();
    if (!m_ports.Open()) {
        m_ports.m_hNotifyWnd = nullptr;
        show(kInitFail);
        return OpenResult::Failed;
    }
    m_kind = m_ports.OpenKind();
    if (m_kind == PortKind::PrintToFile)
        m_kind = PortKind::File;
    if (m_kind == PortKind::Serial || m_kind == PortKind::Usb) {
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            show(kCannotCreateReceiveThread);
            return OpenResult::OpenedWithoutReceiver;
        }
    }
    return OpenResult::Opened;
}

bool SetupSession::writeAll(const Bytes& bytes)
{
    const int length = static_cast<int>(bytes.size());
    switch (m_kind) {
    case PortKind::Parallel:
        return m_parallel && m_parallel->WritePort(bytes.data(), length) == length;
    case PortKind::Ethernet:
        return sendEthernet(bytes);
    default:
        // A short count is the write deadline running out: the printer did not take the
        // frame, which is as much a failure as an error.
        return m_ports.Write(bytes.data(), length) == length;
    }
}

bool SetupSession::sendEthernet(const Bytes& bytes)
{
    return EthSend(bytes.data(), static_cast<int>(bytes.size())) >= 0;
}

void SetupSession::closeConnection()
{
    switch (m_kind) {
    case PortKind::Parallel:
        m_ports.m_IsOpen = 0;
        break;
    case PortKind::Ethernet:
        EthClose();
        m_ethernetReachable = false;
        break;
    default:
        m_ports.Close();
        break;
    }
}

SetupSession::ReadResult SetupSession::readFailure(int code)
{
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

SetupSession::ReadResult SetupSession::GetValue()
{
    ClearAnswered();
    const std::vector<std::uint8_t> requests = RequestList();

    if (m_kind == PortKind::Parallel) {
        if (!m_parallel || !writeAll(disableAsbFrame()))
            return readFailure(1);
        for (std::uint8_t n : requests)
            if (!writeAll(transmitSettingFrame(n)))
                return readFailure(4);
        if (!m_parallel->StartReadThread())
            return readFailure(2);
        ClearAnswered();
        if (Status started = m_receiver.StartOnParallel(*m_parallel, [this] { return m_ports.m_IsOpen.load() != 0; });
            !started) {
            m_log.WriteLog("%s", started.message().c_str());
            return readFailure(3);
        }
        return ReadResult::LptStarted;
    }

    if (m_kind == PortKind::Ethernet) {
        // One connection per action; a printer that cannot be reached, or that breaks the
        // connection while the requests go out, is a failed read, not an empty one.
        if (!EthOpen()) {
            EthClose();
            return readFailure(0);
        }
        for (std::uint8_t n : requests) {
            if (!sendEthernet(transmitSettingFrame(n))) {
                EthClose();
                return readFailure(0);
            }
            m_clock.sleep(kEthernetRequestGap);
        }
        m_clock.sleep(kEthernetAnswerWait);
        m_receiver.FlushQueue(m_setupQueue);
        std::uint8_t buffer[kEthernetReceiveCapacity];
        for (int i = 0; i < kEthernetMaxReceives; ++i) {
            int n = EthRecv(buffer, kEthernetReceiveCapacity);
            if (n <= 0)
                break;
            for (int k = 0; k < n; ++k)
                if (!m_setupQueue.TryPush(buffer[k]))
                    ++m_overflow;
        }
        EthClose();
        return ReadResult::Requested;
    }

    for (std::uint8_t n : requests)
        if (!writeAll(transmitSettingFrame(n)))
            return readFailure(0);
    if (m_kind == PortKind::Usb && !m_ports.ReadUsbReply())
        return readFailure(0);
    return ReadResult::Requested;
}

void SetupSession::waitReceiverEnd()
{
    if (!m_receiver.WaitEnded(kReceiverEndWait, m_idle))
        m_log.WriteLog("[UserSetup] receive thread did not end within %d ms",
                       static_cast<int>(kReceiverEndWait.count()));
}

SetupSession::AckTickResult SetupSession::LptAckTick()
{
    using Kind = AckTickResult::Kind;
    if (!m_parallel)
        return {Kind::Failed, Ms{0}, {}};
    LptAcknowledge::Step step =
        m_ack.decide(!m_parallel->IsQueueEmpty(), [this](int n) { return Answered(n); });
    switch (step.action) {
    case LptAcknowledge::Action::Wait:
        return {Kind::Rearm, step.interval, {}};
    case LptAcknowledge::Action::Resend:
        for (std::uint8_t n : step.resend) {
            if (!writeAll(transmitSettingFrame(n))) {
                showText("GetValueCmd Fail!");
                return {Kind::Failed, Ms{0}, {}};
            }
        }
        return {Kind::Rearm, step.interval, step.resend};
    case LptAcknowledge::Action::Finish:
        break;
    }
    m_receiver.RequestStop();
    waitReceiverEnd();
    m_parallel->StopReadThread();
    // Five NULs end whatever the printer's parser may still expect after the requests.
    writeAll(Bytes(5, 0x00));
    return {Kind::Finished, Ms{0}, {}};
}

SetupSession::WriteResult SetupSession::writeFailure(SetupOptions& form)
{
    show(kWriteFail);
    closeConnection();
    form.resetEditsAfterFailure();
    return WriteResult::Failed;
}

bool SetupSession::reopenUsb()
{
    if (m_ports.m_IsOpen)
        m_ports.Close();
    m_clock.sleep(kUsbRestartWait);
    for (std::size_t attempt = 0; attempt < kUsbReopenPauses.size(); ++attempt) {
        if (attempt == 1)
            m_ports.Close();
        if (m_ports.Open())
            return true;
        m_clock.sleep(kUsbReopenPauses[attempt]);
    }
    return false;
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

    if (m_kind == PortKind::Ethernet) {
        if (!EthOpen()) {
            EthClose();
            return writeFailure(form);
        }
    }
    if (!writeAll(enterUserSettingFrame()))
        return writeFailure(form);

    if (form.stopBit != kNoValue && m_stopBitWarning) {
        show(kStopBitWarning, kNotice);
        m_stopBitWarning = false;
    }

    if (!writeAll(frame->bytes) || !writeAll(endUserSettingFrame()))
        return writeFailure(form);

    if (m_kind == PortKind::Parallel) {
        m_clock.sleep(kLptRestartWait);
        m_parallel->ClosePort();
        if (!m_parallel->OpenPort(m_lptName) || !writeAll(disableAsbFrame()))
            return writeFailure(form);
    }

    if (frame->usbModeChange) {
        switch (m_kind) {
        case PortKind::Parallel:
            m_ports.m_IsOpen = 0;
            m_parallel->ClosePort();
            break;
        case PortKind::Ethernet:
            EthClose();
            m_ethernetReachable = false;
            break;
        default:
            if (m_ports.m_IsOpen)
                m_ports.Close();
            break;
        }
        return WriteResult::ConnectionClosed;
    }

    if (m_kind == PortKind::Usb) {
        if (!reopenUsb()) {
            show(kInitFail);
            return WriteResult::ReopenFailed;
        }
        // The worker ended while the port was closed; the next "Get Value" needs it.
        if (Status started = startReceiver(); !started) {
            m_log.WriteLog("%s", started.message().c_str());
            show(kCannotCreateReceiveThread);
        }
    } else if (m_kind == PortKind::Ethernet) {
        EthClose();
        m_clock.sleep(kEthernetRestartWait);
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
    auto fail = [&] {
        show(kWriteFail);
        closeConnection();
        form.resetEditsAfterFailure();
        return TestResult::Failed;
    };
    if (m_kind == PortKind::Ethernet && !EthOpen()) {
        EthClose();
        return fail();
    }
    for (const auto& block : *page)
        if (!writeAll(block))
            return fail();
    if (m_kind == PortKind::Ethernet)
        EthClose();
    m_clock.sleep(kTestPagePause);
    return TestResult::Printed;
}

bool SetupSession::Default(SetupOptions& form)
{
    if (m_prompter.show(catalogText(kDefaultQuestion), PromptButtons::YesNo, PromptIcon::Question,
                        kAppDisplayName) != PromptAnswer::Yes)
        return false;
    form = SetupOptions::defaults(m_korean);
    m_stopBitWarning = true;
    return true;
}

void SetupSession::Exit()
{
    m_receiver.RequestStop();
    m_clock.sleep(kExitWait);
    CloseWindow();
    waitReceiverEnd();
}

void SetupSession::CloseWindow()
{
    switch (m_kind) {
    case PortKind::Parallel:
        if (m_lptSetIsOpen)
            m_ports.m_IsOpen = 0;
        if (m_parallel)
            m_parallel->ClosePort();
        break;
    case PortKind::Ethernet:
        break;
    default:
        if (m_ports.m_IsOpen)
            m_ports.Close();
        break;
    }
    releaseNotifyWindow();
}

long SetupSession::OnReceiveNotify()
{
    while (!m_ports.m_QueueRead.IsEmpty()) {
        std::uint8_t b = m_ports.m_QueueRead.Pop();
        if (!m_setupQueue.TryPush(b))
            ++m_overflow;
    }
    return 1;
}

bool SetupSession::OnSetupValue(SetupOptions& form, std::uintptr_t settingNumber, std::intptr_t valueCode)
{
    if (settingNumber == 0 || settingNumber > 255)
        return false;
    m_answered[settingNumber] = true;
    return applySetupValue(form, static_cast<int>(settingNumber), static_cast<long>(valueCode), m_slots,
                           ModelFamily());
}
