#pragma once
// Brings one printer to a desired state: plan (what would change, compared with what the
// printer reports — its settings, its network module's settings — and, for what it cannot
// report — NV logos, logo settings, firmware, the written-only settings — with the record of
// what this PC last applied to it), apply (firmware, then a wait for the printer and a new
// plan; settings, read back; logos; logo settings; the network settings, last, found again
// by a search), and capture (what the printer reports and the record as a state file).
//
// It drives the same engines as the dialogs and the other commands: SetupLink/SetupSession
// for the settings, the logo tool's actions for the NV logos and the logo settings, the
// firmware checks and FirmwareTransfer for the image, NetworkSettingEngine for the network
// module. Everything it changed is kept in the record, each section in its own transaction.
//
// The record knows a printer by its identity: the MAC of a network printer (the answer to a
// LAN search whose address is the connection's host), the serial number of a USB device,
// otherwise the port.
//
// Threads: one call at a time, on any one thread (the Prompter must accept calls from it);
// it blocks while it talks to the printer. The deps' cancel token ends it between steps and
// inside any blocked read or write.
#include "app/CancelToken.h"
#include "app/Clock.h"
#include "app/ConnectionRules.h"
#include "app/Progress.h"
#include "app/Prompter.h"
#include "app/Result.h"
#include "logo/LogoTool.h"
#include "network/NetworkSettingsRecord.h"
#include "port/PrinterConnection.h"
#include "port/UdpChannel.h"
#include "state/StateFile.h"
#include "state/StateRecord.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CErrorLog;
class SetupLink;
struct PreparedLogos;
struct SetupReadOutcome;
struct StateChange;

struct StateDeps {
    ConnectionSettings settings;
    ConnectionHost host;
    // Makes a closed connection for the settings, with the stall bound and cancel token lent.
    logo_tool::ConnectionFactory connect;
    Clock& clock;
    Prompter& prompter;
    CErrorLog& log;
    ProgressSink& progress;
    const CancelToken* cancel = nullptr;
    std::chrono::milliseconds stallLimit{15000};
    // How long a read of the settings waits for the answers.
    std::chrono::milliseconds readTimeout{5000};
    // How long the printer may take to answer again after a firmware download.
    std::chrono::milliseconds readyWait{90000};
    // The state's pictures prepared once for many printers of this model (prepareStateLogos;
    // only read). Null: the apply reads and converts them itself.
    std::shared_ptr<const PreparedLogos> logos{};
    // Hears each section as it ends (its changes, and how it ended), after the record kept it.
    std::function<void(const std::vector<StateChange>&, const Status&)> onSectionEnd{};
    // The LAN search that finds a network printer's module: where requests go and answers
    // arrive (tavroctl's --broadcast, --bind, --udp-port) and the silence that ends it.
    UdpSettings network = UdpSettings::fromEnvironment();
    // How long a network module may take to answer with its new settings after a change.
    std::chrono::milliseconds networkWait{30000};
};

// The identity the record knows a printer by: "mac:…" for a network printer whose MAC is
// known, "usb:SERIAL" for a USB device with a serial number (a USB printer or virtual serial
// port), "usb:…" (its hardware id or node) for one without, otherwise the port
// ("tcp:HOST:PORT", "/dev/ttyS0", "file:out.prn").
std::string printerIdentity(const ConnectionSettings& settings, const std::string& mac = {},
                            const std::string& usbSerial = {});

struct StateChange {
    StateSection section;
    std::string path; // "settings.speed", "logos", "logo_settings", "firmware.program", "network.ip"
    std::string from; // what the printer reports or the record holds ("none": nothing)
    std::string to;
    bool fromRecord = false; // compared with the record, not with the printer
    // "settings.speed: 180 -> 150", "logos: upload 2 pictures (record: none)".
    std::string text() const;
};

struct StatePlan {
    std::vector<StateChange> changes;
    bool has(StateSection section) const;
};

struct StateApplyResult {
    enum class Status {
        Unchanged, // nothing to change
        Changed,   // every change made and, where the printer reports it, read back
        Failed,    // nothing changed: the failure came first
        Partial,   // some sections changed, then one failed
    };
    Status status = Status::Failed;
    std::vector<StateChange> applied; // the changes made
    // Failed/Partial: the step and what the printer now holds.
    std::string error;
};

class StateEngine {
public:
    // record may be null (nothing kept, everything the printer cannot report is a change).
    // Without an identity the engine finds the printer's own (a LAN search for a network
    // printer, sysfs for a USB device) at the first plan, apply or capture.
    StateEngine(StateDeps deps, StateRecord* record);
    // With the identity the record knows the printer by (none is looked up).
    StateEngine(StateDeps deps, StateRecord* record, std::string identity);
    ~StateEngine();
    StateEngine(const StateEngine&) = delete;
    StateEngine& operator=(const StateEngine&) = delete;

    // What an apply would change. force: sections whose every item counts as a change.
    // Failure: the connection or the read, one line.
    Result<StatePlan> plan(const DesiredState& state, const std::set<StateSection>& force);

    // Plans and applies. onStep (may be empty) hears each change as it starts.
    StateApplyResult apply(const DesiredState& state, const std::set<StateSection>& force,
                           const std::function<void(const StateChange&)>& onStep = {});

    // The printer's settings (read), its network settings (a network printer that answers the
    // search) and what the record holds for it, as a state file (YAML).
    Result<std::string> capture();

    // The identity the record knows the printer by; "" before the first plan, apply or
    // capture of an engine that finds it.
    const std::string& identity() const { return m_identity; }

private:
    void identify();
    Status locate();
    Status planFirmware(const DesiredState& state, bool force, StatePlan& plan);
    Status planNetwork(const DesiredState& state, bool force, StatePlan& plan);
    Status applyNetwork(const DesiredState& state, NetworkSettings& now);
    Status openLink();
    void closeLink();
    Status readPrinter();
    void planSettings(const DesiredState& state, bool force, StatePlan& plan);
    Status applyFirmware(const DesiredState& state, const StateChange& change);
    Status waitForPrinter();
    Status applySettings(const DesiredState& state, const std::vector<StateChange>& changes);
    Status applyLogos(const DesiredState& state);
    Status applyLogoSettings(const DesiredState& state);
    Status recordSection(std::int64_t run, const std::vector<StateChange>& changes,
                         const std::function<Status(std::map<std::string, AppliedItem>&)>& change);
    logo_tool::LogoToolDeps logoDeps();
    ModelFamily firmwareFamily() const;
    bool cancelled() const { return m_deps.cancel && m_deps.cancel->cancelled(); }

    StateDeps m_deps;
    StateRecord* m_record;
    std::string m_identity;
    std::unique_ptr<Prompter> m_consent;
    std::unique_ptr<SetupLink> m_link;
    std::unique_ptr<SetupReadOutcome> m_read; // the printer's settings, when read
    std::map<std::string, AppliedItem> m_applied;
    std::int64_t m_run = 0;
    bool m_identified = false;
    // The network module's settings as the last search found them (m_located: searched).
    bool m_located = false;
    Status m_locateStatus = Status::success();
    std::optional<NetworkSettings> m_seen;
};
