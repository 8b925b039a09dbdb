#pragma once
// The one thing every tavroctl command that talks to a printer starts from: the connection
// options turned into ConnectionSettings, the host services (prompter, clock, error log),
// the one CPorts configured from the settings, the progress display, and the connection
// built from the settings.
//
//     CliSession session(ctx.options);
//     if (Status s = session.configure(); !s) return cliFail(s.message());
#include "app/ConnectionRules.h"
#include "app/Result.h"
#include "cli/CliCommand.h"
#include "cli/CliPrompter.h"
#include "cli/CliProgress.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"

#include <memory>
#include <string>

class CliSession {
public:
    // clock: SystemClock::instance() unless a test gives its own.
    explicit CliSession(const CliOptions& options);
    CliSession(const CliOptions& options, Clock& clock);
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Parses the connection options into settings() and configures ports() (nothing is
    // opened). A failure is one line for cliFail.
    Status configure();

    const CliOptions& options() const { return m_options; }
    const ConnectionSettings& settings() const { return m_settings; }
    CPorts& ports() { return m_ports; }
    CliPrompter& prompter() { return m_prompter; }
    Clock& clock() { return m_clock; }
    CErrorLog& log() { return m_log; }
    ProgressSink& progress() { return m_progress; }
    ConnectionHost host() { return {m_clock, m_prompter, m_log}; }
    // What the user knows the connection by ("serial port /dev/ttyS0", "file out.prn").
    std::string where() const;

private:
    CliOptions m_options;
    Clock& m_clock;
    CErrorLog& m_log;
    CliPrompter m_prompter;
    CPorts m_ports;
    CliProgress m_progress;
    ConnectionSettings m_settings;
    bool m_configured = false;
};
