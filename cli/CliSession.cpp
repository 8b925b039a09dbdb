#include "cli/CliSession.h"

#include "app/AppPaths.h"
#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "cli/CliConnection.h"

#include <iostream>

CliSession::CliSession(const CliOptions& options) : CliSession(options, SystemClock::instance()) {}

CliSession::CliSession(const CliOptions& options, Clock& clock)
    : m_options(options), m_clock(clock), m_log(theErrorLog()), m_prompter(options.yes),
      m_ports(m_prompter, m_clock, m_log), m_progress(CliProgress::modeFor(options.json), std::cerr)
{
}

Status CliSession::configure()
{
    auto parsed = configureConnection(m_options, m_ports, m_prompter);
    if (!parsed)
        return parsed.status();
    m_settings = *parsed;
    m_configured = true;
    return Status::success();
}

Result<std::shared_ptr<PrinterConnection>> CliSession::connection()
{
    if (!m_configured) {
        if (Status s = configure(); !s)
            return Result<std::shared_ptr<PrinterConnection>>(s);
    }
    return connection(m_settings);
}

Result<std::shared_ptr<PrinterConnection>> CliSession::connection(const ConnectionSettings& settings)
{
    std::shared_ptr<PrinterConnection> c = makeConnection(settings, host());
    if (!c)
        return Result<std::shared_ptr<PrinterConnection>>::failure("cannot use " + where());
    c->setStallLimit(stallLimit());
    lendCancelToken(*c);
    return c;
}

std::function<std::unique_ptr<PrinterConnection>(const ConnectionSettings&)> CliSession::connectionFactory()
{
    return [this](const ConnectionSettings& settings) -> std::unique_ptr<PrinterConnection> {
        auto connection = makeConnection(settings, host());
        if (!connection)
            return nullptr;
        connection->setStallLimit(stallLimit());
        // Ctrl-C is the dialogs' Cancel: it also ends a write the printer does not take.
        lendCancelToken(*connection);
        return connection;
    };
}

Result<std::shared_ptr<PrinterConnection>> CliSession::connect()
{
    auto c = connection();
    if (!c)
        return c;
    if (IoResult opened = (*c)->open(); !opened)
        return Result<std::shared_ptr<PrinterConnection>>::failure(opened.message());
    return c;
}

void CliSession::lendCancelToken(PrinterConnection& connection)
{
    connection.setCancelToken(&m_cancel);
    if (!m_interrupt)
        m_interrupt.emplace(m_cancel);
}

std::string CliSession::where() const
{
    return m_settings.describe();
}

std::filesystem::path profileFolderOf(const CliOptions& options)
{
    std::error_code ec;
    std::filesystem::path profile = options.profile.empty()
                                        ? resolveAppPaths(std::filesystem::current_path(ec), XdgDirs::fromEnvironment()).profile
                                        : std::filesystem::path(options.profile);
    std::filesystem::path folder = profile.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}
