#pragma once
// The one thing every tavroctl command that talks to a printer starts from: the connection
// options turned into ConnectionSettings, the host services (prompter, clock, error log),
// the one CPorts configured from the settings, the progress display, and the connection
// built from the settings. Every connection it builds is given the session's cancel token,
// which Ctrl-C and SIGTERM then cancel.
//
//     CliSession session(ctx.options);
//     auto conn = session.connect();          // opened, or a one-line reason
//     if (!conn) return cliFail(conn.message());
//     (*conn)->write(bytes, deadline) ...
//     CliSession session(ctx.options);
//     if (Status s = session.configure(); !s) return cliFail(s.message());
#include "app/CancelToken.h"
#include "app/ConnectionRules.h"
#include "app/Result.h"
#include "cli/CliCommand.h"
#include "cli/CliInterrupt.h"
#include "cli/CliPrompter.h"
#include "cli/CliProgress.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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

    // A connection built from the settings (with the --stall bound and the session's cancel
    // token) and opened. Failure: "cannot open <what>: <reason>".
    Result<std::shared_ptr<PrinterConnection>> connect();
    // The same, not opened yet.
    Result<std::shared_ptr<PrinterConnection>> connection();
    // A connection built from settings derived from settings() (a download's own handshake).
    Result<std::shared_ptr<PrinterConnection>> connection(const ConnectionSettings& settings);
    // For engines that open their own connections (the logo tool, the state apply): makes one
    // for the settings, not opened, with the --stall bound and the session's cancel token;
    // null when no connection can use them. The session must outlive the factory.
    std::function<std::unique_ptr<PrinterConnection>(const ConnectionSettings&)> connectionFactory();

    const CliOptions& options() const { return m_options; }
    const ConnectionSettings& settings() const { return m_settings; }
    CPorts& ports() { return m_ports; }
    CliPrompter& prompter() { return m_prompter; }
    Clock& clock() { return m_clock; }
    CErrorLog& log() { return m_log; }
    ProgressSink& progress() { return m_progress; }
    // Cancelled by Ctrl-C or SIGTERM once the session lent it to a connection.
    CancelToken& cancelToken() { return m_cancel; }
    // Gives the connection the session's cancel token and, from now on, lets Ctrl-C and
    // SIGTERM cancel it (until then, and for commands whose engines take no token, the
    // signals end the program as they always did).
    void lendCancelToken(PrinterConnection& connection);
    ConnectionHost host() { return {m_clock, m_prompter, m_log, &m_ports}; }
    // --stall: how long a printer may take no data before a write gives up.
    std::chrono::milliseconds stallLimit() const
    {
        return std::chrono::milliseconds(static_cast<long long>(m_options.stall * 1000.0 + 0.5));
    }
    // What the user knows the connection by ("serial port /dev/ttyS0", "file out.prn").
    std::string where() const;

private:
    CliOptions m_options;
    CancelToken m_cancel;
    std::optional<InterruptCancels> m_interrupt;
    Clock& m_clock;
    CErrorLog& m_log;
    CliPrompter m_prompter;
    CPorts m_ports;
    CliProgress m_progress;
    ConnectionSettings m_settings;
    bool m_configured = false;
};

// The folder the profile lives in (--profile's, else the one resolveAppPaths chooses): where
// the notes of unfinished firmware downloads are kept.
std::filesystem::path profileFolderOf(const CliOptions& options);
