#include "cli/CliSession.h"

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

std::string CliSession::where() const
{
    return m_settings.describe();
}
