#pragma once
// One setup session with its collector, for a front end without windows (tavroctl's
// `setup` commands and the desired-state apply): open the connection, read the settings
// within a time, write a form, and check what the printer reports after a write. The
// session's messages go to the host's Prompter as always; the failures come back as one
// line naming the connection.
//
// Threads: the thread that made it; the session's receive thread only feeds the collector.
#include "app/CancelToken.h"
#include "app/ConnectionRules.h"
#include "app/Result.h"
#include "setup/SetupSession.h"
#include "setup/SetupSnapshot.h"
#include "setup/SetupValueCollector.h"

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>


class SetupLink {
public:
    using Ms = std::chrono::milliseconds;

    // cancel (may be null) must outlive the link.
    SetupLink(ConnectionSettings settings, ConnectionHost host, Ms stallLimit, const CancelToken* cancel);
    // Stops the session (its receive thread) and closes the connection.
    ~SetupLink();
    SetupLink(const SetupLink&) = delete;
    SetupLink& operator=(const SetupLink&) = delete;

    // Opens the connection. Failure: "cannot open <where>[: reason]" or the receive thread's.
    Status open();
    // Ends the session and opens a new one (after the printer restarted).
    Status reopen();

    // What the user knows the connection by ("serial port /dev/ttyS0", "file out.prn").
    std::string where() const;
    // "what: the connection's reason", or what alone when there is none.
    std::string because(const std::string& what) const;
    // The bytes go to a file: nothing answers.
    bool isFile() const;
    ModelFamily family() const;
    SetupSession& session() { return *m_session; }
    bool opened() const { return m_session != nullptr; }

    // The setup core's read, at most timeout. A failed read is one line; a cancelled one
    // is "interrupted while reading the setup from <where>" and interrupted() turns true.
    Result<SetupReadOutcome> read(Ms timeout);
    // The last read or write ended by the cancel token.
    bool interrupted() const { return m_interrupted || (m_cancel && m_cancel->cancelled()); }
    // Only the settings this connection can be asked for.
    bool readable(const std::string& key) const;
    // A readable setting that the printer reports in the form it was written (the speed of
    // some models comes back in another form).
    bool readsBackAsWritten(const std::string& key) const;

private:
    ConnectionSettings m_settings;
    ConnectionHost m_host;
    Ms m_stallLimit;
    const CancelToken* m_cancel;
    SetupValueCollector m_collector; // outlives the session's receive thread
    std::unique_ptr<SetupSession> m_session;
    bool m_interrupted = false;
};

// What a read-back after a write showed, key by key.
struct SetupReadBack {
    std::size_t verified = 0;
    // "key: wrote X, the printer reports Y" / "... the printer did not report it".
    std::vector<std::string> differences;
    // Settings the printer did not answer for.
    std::vector<int> unreported;
};

// Compares the lines written (only the keys of `compare`) with what the printer reported.
// Keys the link cannot read are skipped, as is the speed on printers that do not report it
// in the form the snapshot shows.
SetupReadBack compareReadBack(const SnapshotLines& wrote, const std::set<std::string>& compare,
                              const SetupReadOutcome& back, const SetupLink& link);

// Margin and custom code travel in every write: unless given, the printer's own values
// (from `current`) go back, so that changing one option does not reset them. Also checks
// the NV sizes against the size the printer keeps when only one is given. Failure: one line.
Status keepPrinterValues(SetupOptions& form, const std::set<std::string>& given, const SetupReadOutcome& current);

// "no answer from the printer for: speed (6), ..."
std::string missingSettingsText(const std::vector<int>& missing);
std::string missingSettingsText(const std::vector<std::uint8_t>& missing);
