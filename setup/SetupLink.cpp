#include "setup/SetupLink.h"

#include "app/MessageCatalog.h"

#include <algorithm>
#include <optional>

SetupLink::SetupLink(ConnectionSettings settings, ConnectionHost host, Ms stallLimit,
                     const CancelToken* cancel)
    : m_settings(std::move(settings)), m_host(host), m_stallLimit(stallLimit), m_cancel(cancel)
{
}

SetupLink::~SetupLink()
{
    if (m_session)
        m_session->Exit();
    m_collector.Attach(nullptr);
    m_session.reset();
}

Status SetupLink::open()
{
    m_session = std::make_unique<SetupSession>(m_settings, m_host, m_collector, systemDefaultIsKorean());
    m_session->SetStallLimit(m_stallLimit);
    // The cancel token ends a read or write blocked on the printer within a fraction of a
    // second, and the caller says what the printer may hold.
    m_session->SetCancelToken(m_cancel);
    m_collector.Attach(m_session.get());
    switch (m_session->Open()) {
    case SetupSession::OpenResult::Opened:
        return Status::success();
    case SetupSession::OpenResult::OpenedWithoutReceiver:
        return Status::failure("cannot start the receive thread for " + where());
    case SetupSession::OpenResult::Failed:
        break;
    }
    return Status::failure(because("cannot open " + where()));
}

Status SetupLink::reopen()
{
    if (m_session)
        m_session->Exit();
    m_collector.Attach(nullptr);
    m_session.reset();
    return open();
}

ModelFamily SetupLink::family() const
{
    return m_settings.modelFamily;
}

std::string SetupLink::where() const
{
    return m_settings.describe();
}

std::string SetupLink::because(const std::string& what) const
{
    const std::string& why = m_session ? m_session->LastFailure() : std::string();
    return why.empty() ? what : what + ": " + why;
}

bool SetupLink::isFile() const
{
    return connectionTraits(m_settings.kind()).capture;
}

Result<SetupReadOutcome> SetupLink::read(Ms timeout)
{
    if (isFile() || !m_session)
        return Result<SetupReadOutcome>::failure(
            "a file does not answer: reading the setup needs a printer connection");
    SetupReadOutcome outcome = m_session->ReadSetup(timeout);
    switch (outcome.result) {
    case SetupReadOutcome::Result::Failed: {
        std::string what = "reading the setup from " + where() + " failed";
        return Result<SetupReadOutcome>::failure(outcome.failure.empty() ? what : what + ": " + outcome.failure);
    }
    case SetupReadOutcome::Result::Cancelled:
        m_interrupted = true;
        return Result<SetupReadOutcome>::failure("interrupted while reading the setup from " + where());
    case SetupReadOutcome::Result::NoAnswer:
        return Result<SetupReadOutcome>::failure(
            "a file does not answer: reading the setup needs a printer connection");
    case SetupReadOutcome::Result::Complete:
    case SetupReadOutcome::Result::Incomplete:
        break;
    }
    return outcome;
}

bool SetupLink::readable(const std::string& key) const
{
    if (!keyIsReadable(key) || !m_session)
        return false;
    auto list = m_session->RequestList();
    return std::find(list.begin(), list.end(), settingOfKey(key)) != list.end();
}

bool SetupLink::readsBackAsWritten(const std::string& key) const
{
    if (key == "speed" && family() != kFamilyTavro36 && family() != kFamilyTavro46)
        return false; // these printers do not report the speed in a form the tool shows
    return readable(key);
}

namespace {

// The keys that carry a setting number, for naming unanswered settings.
std::string settingName(int n)
{
    for (const auto& key : snapshotKeys())
        if (settingOfKey(key) == n && key != "columns" && key != "bell_count")
            return key + " (" + std::to_string(n) + ")";
    return "setting " + std::to_string(n);
}

template <class Numbers>
std::string missingText(const Numbers& missing)
{
    std::string text;
    for (int n : missing)
        text += (text.empty() ? "" : ", ") + settingName(n);
    return "no answer from the printer for: " + text;
}

} // namespace

std::string missingSettingsText(const std::vector<int>& missing) { return missingText(missing); }
std::string missingSettingsText(const std::vector<std::uint8_t>& missing) { return missingText(missing); }

SetupReadBack compareReadBack(const SnapshotLines& wrote, const std::set<std::string>& compare,
                              const SetupReadOutcome& back, const SetupLink& link)
{
    SetupReadBack r;
    SnapshotLines reported = snapshotOf(back.values, link.family(), &back.shown);
    auto valueIn = [](const SnapshotLines& lines, const std::string& key) -> std::optional<std::string> {
        for (const auto& [k, v] : lines)
            if (k == key)
                return v;
        return std::nullopt;
    };
    for (const auto& [key, value] : wrote) {
        if (!compare.count(key) || !link.readsBackAsWritten(key))
            continue;
        auto printer = valueIn(reported, key);
        if (!printer && std::count(back.missing.begin(), back.missing.end(), settingOfKey(key)))
            r.unreported.push_back(settingOfKey(key));
        else if (!printer)
            r.differences.push_back(key + ": wrote " + value + ", the printer did not report it");
        else if (*printer != value)
            r.differences.push_back(key + ": wrote " + value + ", the printer reports " + *printer);
        else
            ++r.verified;
    }
    return r;
}

Status keepPrinterValues(SetupOptions& form, const std::set<std::string>& given, const SetupReadOutcome& current)
{
    const bool needMargin = !given.count("margin"), needCode = !given.count("custom_code");
    if (needMargin && !current.shown.count(250))
        return Status::failure("could not read the printer's margin (setting 250); give margin= to write it");
    if (needCode && !current.shown.count(255))
        return Status::failure("could not read the printer's custom code (setting 255); give custom_code= to write it");
    if (needMargin)
        form.margin = current.values.margin;
    if (needCode)
        form.customCode = current.values.customCode;
    // The NV check against the size the printer keeps when only one is given.
    SetupOptions nv = form;
    if (!given.count("nv_user") && current.shown.count(1))
        nv.nvUser = current.values.nvUser;
    if (!given.count("nv_graphic") && current.shown.count(2))
        nv.nvGraphic = current.values.nvGraphic;
    if (given.count("nv_user") || given.count("nv_graphic"))
        if (Status s = checkNvSize(nv, " with the printer's other NV size"); !s)
            return s;
    return Status::success();
}
