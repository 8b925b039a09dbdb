#include "network/NetworkSettingEngine.h"

#include "app/MessageCatalog.h"
#include "app/CancelToken.h"
#include "app/Clock.h"
#include "app/MessageCatalogNetwork.h"
#include "app/Prompter.h"

#include <algorithm>

namespace {

constexpr const char* kNoticeCaption = "Notice";

// Not in the catalog: the module's answer to the set request is the only sign that a printer
// heard it, and saying "Update Complete" without one would claim what nobody saw.
constexpr const char* kNoAnswerText =
    "No printer answered the change request.\nThe new settings were sent all the same; "
    "search again to see whether the printer took them.";
constexpr const char* kNoAnswerTextKo =
    "변경 요청에 응답한 프린터가 없습니다.\n새 설정은 전송되었습니다. "
    "프린터 검색으로 적용 여부를 확인하십시오.";
constexpr const char* kBadMacText = "The MAC address must be two hexadecimal digits per byte (0-9, A-F).";
constexpr const char* kBadMacTextKo = "MAC 주소는 바이트마다 16진수 두 자리(0-9, A-F)로 입력하십시오.";

bool korean() { return g_pMsg == &koreanCatalog(); }

bool isOwn(const std::vector<uint32_t>& own, uint32_t address)
{
    return std::find(own.begin(), own.end(), address) != own.end();
}

} // namespace

NetworkSettingEngine::NetworkSettingEngine(Prompter& prompter, UdpSettings settings)
    : m_prompter(prompter), m_settings(std::move(settings))
{
}

void NetworkSettingEngine::setChannel(UdpChannel* channel)
{
    std::lock_guard lock(m_mutex);
    m_channel = channel;
    if (channel && m_cancelled)
        channel->cancel();
}

void NetworkSettingEngine::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_channel)
        m_channel->cancel();
}

NetworkSearchResult NetworkSettingEngine::Search(const std::function<void(const NetworkPrinterRow&)>& onRow)
{
    NetworkSearchResult result;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = false;
    }
    UdpChannel channel(m_settings);
    setChannel(&channel);
    Status opened = channel.open();
    const std::vector<uint32_t> own = UdpChannel::hostAddresses();
    if (!opened) {
        result.socketsOk = false;
        result.detail = opened.message();
        // The sending socket has its own message; every later step the catalog's. The search
        // goes on and its calls fail on their own, so it ends with an empty list.
        if (channel.failedStep() == UdpChannel::Step::SendSocket)
            m_prompter.message("socket() error");
        else
            m_prompter.message(catalogText(Msg::SystemError));
    }
    const NetworkRecordBytes request = networkSearchRequest();
    if (Status sent = channel.send(request); !sent && result.detail.empty())
        result.detail = sent.message();

    int datagrams = 0;
    for (;;) {
        if (datagrams >= kMaxSearchAnswers) {
            result.end = NetworkSearchResult::End::Limit;
            result.detail = std::to_string(kMaxSearchAnswers) + " datagrams read";
            break;
        }
        UdpChannel::Received r = channel.receive(kNetworkRecordSize);
        using Kind = UdpChannel::Received::Kind;
        if (r.kind == Kind::Silence) {
            result.end = NetworkSearchResult::End::Silence;
            break;
        }
        if (r.kind == Kind::Cancelled) {
            result.end = NetworkSearchResult::End::Cancelled;
            break;
        }
        if (r.kind == Kind::TooLong) {
            result.end = NetworkSearchResult::End::TooLong;
            result.detail = r.error;
            break;
        }
        if (r.kind == Kind::Failed) {
            result.end = NetworkSearchResult::End::ReceiveError;
            if (result.detail.empty())
                result.detail = r.error;
            break;
        }
        ++datagrams;
        if (isOwn(own, r.from)) {
            ++result.skippedOwn;
            continue;
        }
        NetworkPrinterRow row = networkPrinterRow(decodeNetworkAnswer(r.bytes));
        result.rows.push_back(row);
        if (onRow)
            onRow(row);
    }
    setChannel(nullptr);
    return result;
}

std::optional<NetworkPrinterRow> NetworkSettingEngine::SearchFor(
    const std::function<bool(const NetworkPrinterRow&)>& wanted, NetworkSearchResult* result)
{
    std::optional<NetworkPrinterRow> found;
    NetworkSearchResult r = Search([&](const NetworkPrinterRow& row) {
        if (!found && wanted(row)) {
            found = row;
            cancel();
        }
    });
    if (result)
        *result = std::move(r);
    return found;
}

bool networkSettingsMatch(const NetworkSettings& seen, const NetworkSettings& wanted)
{
    if (seen.mac != wanted.mac || seen.port != wanted.port || seen.dhcpOn() != wanted.dhcpOn())
        return false;
    return wanted.dhcpOn() || (seen.ip == wanted.ip && seen.mask == wanted.mask && seen.gateway == wanted.gateway);
}

NetworkVerifyResult NetworkSettingEngine::VerifyChange(const NetworkSettings& wanted, std::chrono::milliseconds wait,
                                                      Clock& clock, const CancelToken* cancel)
{
    NetworkVerifyResult v;
    const auto deadline = clock.now() + wait;
    do {
        ++v.searches;
        NetworkSearchResult r;
        auto row = SearchFor(
            [&](const NetworkPrinterRow& row) {
                if (row.settings.mac != wanted.mac)
                    return false;
                v.lastSeen = row;
                return networkSettingsMatch(row.settings, wanted);
            },
            &r);
        if (row) {
            v.verified = true;
            return v;
        }
        if (!r.socketsOk) {
            v.socketsOk = false;
            v.detail = r.detail;
            return v;
        }
        if (r.end == NetworkSearchResult::End::Cancelled || (cancel && cancel->cancelled())) {
            v.detail = "cancelled";
            return v;
        }
        if (clock.now() < deadline)
            clock.sleep(std::chrono::milliseconds(200));
    } while (clock.now() < deadline);
    return v;
}

NetworkChangeResult NetworkSettingEngine::Change(const NetworkChangeRequest& request)
{
    return runChange(request, false);
}

NetworkChangeResult NetworkSettingEngine::ManualChange(const NetworkChangeRequest& request)
{
    return runChange(request, true);
}

NetworkChangeResult NetworkSettingEngine::runChange(const NetworkChangeRequest& request, bool manual)
{
    using Outcome = NetworkChangeResult::Outcome;
    NetworkChangeResult result;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = false;
    }
    NetworkSettings s;
    // The address rules first; an address problem is named before the last number's range.
    const AddressRuleCheck rules = checkNetworkAddresses(request.ipText, request.maskText, request.gatewayText);
    auto refuse = [&](Outcome outcome, AddressField field, const std::string& text) {
        m_prompter.message(text);
        result.outcome = outcome;
        result.refusedField = field;
        return result;
    };
    if (!rules.ok() && rules.field == AddressField::Ip)
        return refuse(Outcome::RefusedAddress, AddressField::Ip, rules.refusalText());
    s.ip = rules.ip;
    if (!manual && (s.ip[3] == 0 || s.ip[3] == 255))
        return refuse(Outcome::RefusedIp, AddressField::Ip, catalogText(Msg::IpAddressRange));
    if (!rules.ok())
        return refuse(Outcome::RefusedAddress, rules.field, rules.refusalText());
    s.mask = rules.mask;
    s.gateway = rules.gateway;
    if (manual) {
        std::copy(kManualMacPrefix.begin(), kManualMacPrefix.end(), s.mac.begin());
        for (size_t i = 0; i < 3; ++i) {
            auto byte = readHexByte(request.macLow[i]);
            if (!byte) {
                m_prompter.message(korean() ? kBadMacTextKo : kBadMacText);
                result.outcome = Outcome::RefusedMac;
                return result;
            }
            s.mac[3 + i] = *byte;
        }
    } else {
        auto mac = readMacText(request.macText);
        if (!mac) {
            m_prompter.message(korean() ? kBadMacTextKo : kBadMacText);
            result.outcome = Outcome::RefusedMac;
            return result;
        }
        s.mac = *mac;
    }
    if (manual ? !manualPortAccepted(request.port) : !changePortAccepted(request.port)) {
        m_prompter.message(catalogText(Msg::PortNumberRange));
        result.outcome = Outcome::RefusedPort;
        return result;
    }
    const std::string caption = manual ? kAppDisplayName : kNoticeCaption;
    if (rules.gatewayOutsideSubnet) {
        using Policy = NetworkChangeRequest::OutsideGateway;
        if (request.outsideGateway == Policy::Refuse)
            return refuse(Outcome::RefusedGateway, AddressField::Gateway, rules.gatewayText());
        if (request.outsideGateway == Policy::Ask &&
            m_prompter.show(rules.gatewayText() + "\n" + networkText(NetText::SendAnyway),
                            PromptButtons::YesNoDefaultNo, PromptIcon::Exclamation, caption) != PromptAnswer::Yes) {
            result.outcome = Outcome::RefusedGateway;
            result.refusedField = AddressField::Gateway;
            return result;
        }
    }
    s.port = static_cast<uint16_t>(request.port);
    s.dhcp = request.dhcp ? 1 : 0;
    NetworkRecordBytes record = encodeNetworkRecord(NetworkCommand::Set, s);
    result.request = record;
    result.reachedSockets = true;

    UdpChannel channel(m_settings);
    setChannel(&channel);
    const Status opened = channel.open();
    if (!opened) {
        result.detail = opened.message();
        m_prompter.message(catalogText(Msg::SystemError));
    }
    if (m_prompter.show(catalogText(Msg::ConfirmNetworkChange), PromptButtons::YesNo, PromptIcon::Exclamation, caption) != PromptAnswer::Yes) {
        result.outcome = Outcome::Declined;
        setChannel(nullptr);
        return result;
    }

    Status first = channel.send(record);
    const std::vector<uint32_t> own = UdpChannel::hostAddresses();
    // The module echoes the set request; the first datagram not of our own ends the wait.
    // What it says is not examined: the second packet goes out whether or not one came.
    bool answered = false;
    for (int i = 0; first && i < kMaxSearchAnswers && !answered; ++i) {
        UdpChannel::Received r = channel.receive(kNetworkRecordSize);
        if (r.kind != UdpChannel::Received::Kind::Datagram)
            break;
        if (isOwn(own, r.from))
            continue;
        answered = true;
        result.answerFrom = r.fromText;
    }
    record[2] = static_cast<uint8_t>(NetworkCommand::Apply);
    Status second = channel.send(record);
    setChannel(nullptr);

    if (!first || !second) {
        result.outcome = Outcome::SendFailed;
        result.detail = (!first ? first : second).message();
        if (result.detail.empty())
            result.detail = "the change request could not be sent";
        if (opened) // a failed set-up was shown already
            m_prompter.message(catalogText(Msg::SystemError));
        return result;
    }
    if (!answered) {
        result.outcome = Outcome::NotAnswered;
        m_prompter.show(korean() ? kNoAnswerTextKo : kNoAnswerText, PromptButtons::Ok, PromptIcon::Exclamation, caption);
        return result;
    }
    result.outcome = Outcome::Answered;
    m_prompter.show(catalogText(Msg::NetworkUpdateComplete), PromptButtons::Ok, PromptIcon::Information, caption);
    return result;
}
