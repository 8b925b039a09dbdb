#pragma once
// A pseudo-terminal through which the tool reaches the printer: the serial port
// (<run dir>/ttySIM0), the parallel port (<run dir>/lpSIM0, with automatic status back), the
// USB printer node or the USB virtual serial port (behind a FakeUsbTree, with USB reply
// escaping, gone for a while when the printer restarts).
//
// A slave fd is held open so that the master never sees a hang-up while the tool has the port
// closed; the slave's termios (shared by every fd of the tty) tells the line rate that the tool
// set, for optional pacing.
#include "common/PtyPair.h"
#include "sim/Endpoint.h"
#include "sim/FakeUsbTree.h"
#include "sim/PrinterLink.h"

#include <memory>
#include <string>

class PtyEndpoint final : public Endpoint {
public:
    struct Config {
        LinkOptions link;
        std::string symlinkPath;           // serial/parallel: the name the tool opens
        std::unique_ptr<FakeUsbTree> usb;  // USB: the sysfs entries and the node
        bool restartsWithPrinter = false;  // the USB node goes away while the printer restarts
        bool pace = false;
        // usblp's rule: one open at a time. The node is made exclusive (TIOCEXCL) while the
        // tool holds it, and a second open that got through anyway (root ignores TIOCEXCL)
        // is logged as a "node" event with action "second-open".
        bool singleOpen = false;
    };

    PtyEndpoint(SimHost& host, Config config);
    ~PtyEndpoint() override;

    // Creates the pty and its name. Returns false with a reason.
    bool up(SimTime now, std::string* error);
    // The path the tool opens (symlink or USB node).
    std::string portPath() const;
    const std::string& slavePath() const { return m_slavePath; }
    bool isUp() const { return m_pty != nullptr; }

    void addPollFds(std::vector<pollfd>& fds, SimTime now) override;
    void onReady(const pollfd& ready, SimTime now) override;
    void tick(SimTime now) override;
    std::optional<SimTime> nextDeadline() const override;
    void printerRestarting(SimTime now, SimTime until) override;
    void shutdown() override;

private:
    void down();
    void updatePacing();
    void flushOutput(SimTime now);
    void watchOpens();
    void readOpenEvents();

    SimHost& m_host;
    Config m_config;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<PrinterLink> m_link;
    std::string m_slavePath;
    std::optional<SimTime> m_backAt;
    std::optional<SimTime> m_asbBackAt;
    bool m_hungUp = false;
    UniqueFd m_opens; // inotify on the slave: the tool's opens and closes
    int m_openers = 0;
};
