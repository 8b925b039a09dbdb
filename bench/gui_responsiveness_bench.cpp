// How the desktop tool's window behaves while a printer stalls: the logo tool uploads one
// large picture to tavro-sim, and the simulated printer stops reading
// after --stall-after bytes for --stall-ms. On the offscreen platform we measure
//   - the longest pause of the GUI thread's event loop during the upload (a 5 ms timer), and
//     the longest while the Uploading window was open before the Cancel (the stall);
//   - how late a Cancel click due during the stall is handled (it is due --cancel-at ms
//     after the Uploading window opened, which falls inside the stall);
//   - the time from that click to the end of the job (the window closing).
//
//   gui_responsiveness_bench [--setup-read | --firmware] [--port serial|tcp|usb|parallel]
//                            [--stall-after N] [--stall-ms N] [--cancel-at MS] [--json]
//
// --port: the connection (default the serial pty; usb: the simulator's USB printer node).
//
// --setup-read: the user setup dialog's "Get Value" instead. The printer stops reading after
// --stall-after bytes (default 20: the first requests), so the read waits for answers that do
// not come; EXIT is clicked --cancel-at ms after the read began (default 1000). Measured: the
// longest event-loop gap during the read and the time from the EXIT click to the dialog's end.
//
// --firmware: the F/W Update dialog's Program area download; the printer stops reading after
// --stall-after bytes (default 300000) and EXIT falls due --cancel-at ms after UPDATE (default
// 3000). Measured as for the setup read.
//
// Builds only with the desktop tool (Qt); needs tavro-sim next to it or $TAVRO_SIM_BIN.
#include "BenchBmp.h"
#include "BenchSim.h"
#include "app/CErrorLog.h"
#include "app/ConnectionRules.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "firmware/ui/CFwUpdateDlg.h"
#include "firmware/ui/FirmwareControls.h"
#include "logo/ui/CMyProperty.h"
#include "logo/ui/LogoControls.h"
#include "logo/ui/LogoProgressDlg.h"
#include "port/CPorts.h"
#include "port/PrinterConnection.h"
#include "qthost/QtClock.h"
#include "qthost/QtControlName.h"
#include "qthost/QtStatusLine.h"
#include "setup/ui/CUserSetupDlg.h"
#include "setup/ui/UserSetupControls.h"
#include "setup/ui/UserSetupForm.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double ms(SteadyClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Answers every question Yes and every box OK, from any thread, and keeps the texts.
class AnsweringPrompter final : public Prompter {
public:
    PromptAnswer show(std::string_view text, PromptButtons b, PromptIcon, std::string_view) override
    {
        std::lock_guard lock(m_mutex);
        m_texts.emplace_back(text);
        return b == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
    std::vector<std::string> texts()
    {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
};


template <class W>
W* control(QWidget* within, int id)
{
    return findControl<W>(within, id);
}

// The user setup dialog's read against a printer that stalls; see the head of the file.
// Watches the GUI thread's event loop with a 5 ms timer and clicks a button once, when it
// falls due: the longest gap between two ticks is how long the window was frozen, and a click
// due in a freeze is handled late.
struct ExitWatch {
    SteadyClock::time_point last{}, dueAt{}, clickedAt{}, endAt{};
    SteadyClock::duration longest{};
    bool clicked = false;
    QTimer timer;

    ExitWatch(std::chrono::milliseconds due, std::function<void()> click) : dueAt(SteadyClock::now() + due)
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, click = std::move(click)] {
            const auto now = SteadyClock::now();
            if (last != SteadyClock::time_point{})
                longest = std::max(longest, now - last);
            last = now;
            if (clicked || now < dueAt)
                return;
            clicked = true;
            clickedAt = now;
            click();
        });
        timer.start();
    }
    // The job has ended: a loop frozen until now gets no tick after the freeze, so the last
    // stretch counts too.
    void ended()
    {
        endAt = SteadyClock::now();
        timer.stop();
        longest = std::max(longest, endAt - last);
    }
    double gapMs() const { return ms(longest); }
    double lateMs() const { return clicked ? ms(clickedAt - dueAt) : -1; }
    double toEndMs() const { return clicked ? ms(endAt - clickedAt) : -1; }
};

// The connection kinds the scenarios run over: the simulator's serial pty, loopback TCP, its
// USB printer node (found through its fake sysfs tree) and its parallel port.
enum class Port { Serial, Tcp, Usb, Parallel };

const char* portName(Port port)
{
    switch (port) {
    case Port::Serial: return "serial";
    case Port::Tcp: return "tcp";
    case Port::Usb: return "usb";
    case Port::Parallel: return "parallel";
    }
    return "?";
}

// tavro-sim as a TAVRO46/48 offering `port` that stops reading after stallAfter bytes for
// stallMs. False, with a message, when it did not start. A USB printer is found through the
// simulator's sysfs tree, which this process then uses.
bool startStallingPrinter(BenchSim& sim, Port port, long stallAfter, int stallMs)
{
    std::vector<std::string> args{"--family", "6", "--quiet", "--stall-after", std::to_string(stallAfter), "--stall-ms",
                                  std::to_string(stallMs)};
    switch (port) {
    case Port::Serial: args.push_back("--serial"); break;
    case Port::Tcp: args.insert(args.end(), {"--tcp", "127.0.0.1:0"}); break;
    case Port::Usb: args.push_back("--usb"); break;
    case Port::Parallel: args.push_back("--parallel"); break;
    }
    if (!sim.start(BenchSim::binary(), args)) {
        std::fprintf(stderr, "cannot start %s\n", BenchSim::binary().c_str());
        return false;
    }
    if (port == Port::Usb) {
        ::setenv("TAVRO_SYSFS_ROOT", sim.env["TAVRO_SYSFS_ROOT"].c_str(), 1);
        ::setenv("TAVRO_DEV_ROOT", sim.env["TAVRO_DEV_ROOT"].c_str(), 1);
    }
    return true;
}

// The bench's own folder under the temporary directory (profile, pictures, images).
std::filesystem::path benchFolder()
{
    const auto dir = std::filesystem::temp_directory_path() / ("tavro-gui-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

// The simulator's printer as the connection dialog would give it: a TAVRO46/48; a serial
// line at 115200 8N1 without handshake.
ConnectionSettings printerSettings(BenchSim& sim, Port port)
{
    ConnectionSettings settings;
    settings.baudRate = 115200;
    settings.byteSize = 8;
    settings.parity = 0;
    settings.flowCtrl = 3;
    settings.modelFamily = kFamilyTavro46;
    switch (port) {
    case Port::Serial: settings.portName = sim.serialPort(); break;
    case Port::Usb: settings.portName = "USB"; break;
    case Port::Parallel: settings.portName = sim.extraPort("lp"); break;
    case Port::Tcp: {
        const std::string address = sim.env["TAVRO_SIM_TCP"];
        settings.portName = "ETHERNET_II";
        settings.host = address.substr(0, address.find(':'));
        settings.tcpPort = std::atoi(address.substr(address.find(':') + 1).c_str());
        break;
    }
    }
    return settings;
}

// The report of a scenario that clicks EXIT during the stall. kind: the connection, or null
// when the scenario has only one; action: what EXIT interrupts ("Get Value", "UPDATE").
void printExitReport(const char* scenario, const char* kind, const char* action, long stallAfter, int stallMs,
                     int cancelAt, const ExitWatch& watch, const std::string& outcome, bool json)
{
    if (json) {
        std::printf("{\"scenario\":\"%s\",", scenario);
        if (kind)
            std::printf("\"kind\":\"%s\",", kind);
        std::printf("\"stall_after\":%ld,\"stall_ms\":%d,\"exit_at_ms\":%d,\"longest_gap_ms\":%.1f,"
                    "\"exit_clicked\":%s,\"exit_late_ms\":%.1f,\"exit_to_end_ms\":%.1f}\n",
                    stallAfter, stallMs, cancelAt, watch.gapMs(), watch.clicked ? "true" : "false", watch.lateMs(),
                    watch.toEndMs());
        return;
    }
    std::printf("%s%s%s: printer stalls after %ld bytes for %d ms; EXIT due %d ms after %s\n", scenario,
                kind ? " over " : "", kind ? kind : "", stallAfter, stallMs, cancelAt, action);
    std::printf("longest GUI event-loop gap   %8.1f ms\n", watch.gapMs());
    if (watch.clicked) {
        std::printf("EXIT click handled late by   %8.1f ms\n", watch.lateMs());
        std::printf("EXIT to the dialog's end     %8.1f ms\n", watch.toEndMs());
    } else {
        std::printf("EXIT never clicked: the window was frozen until the job ended\n");
    }
    std::printf("outcome: %s\n", outcome.c_str());
}

int setupRead(Port port, long stallAfter, int stallMs, int cancelAt, bool json)
{
    BenchSim sim;
    if (!startStallingPrinter(sim, port, stallAfter, stallMs))
        return 1;
    const auto dir = benchFolder();
    AnsweringPrompter prompter;
    QtClock clock;
    CErrorLog log;
    Profile profile{dir / "bench.INI"};
    CPorts ports(prompter, clock, log);
    ports.Configure(printerSettings(sim, port));
    // Longer than the stall: only EXIT ends the read.
    UserSetupDlgDeps deps{ports, prompter, clock, profile, log, false, "TAVRO46/48 - " + ports.m_PortName,
                          std::chrono::milliseconds(stallMs)};
    CUserSetupDlg dlg(deps);
    if (dlg.failedToOpen()) {
        std::fprintf(stderr, "the setup dialog could not open %s\n", ports.m_PortName.c_str());
        return 1;
    }
    dlg.show();

    ExitWatch watch(std::chrono::milliseconds(cancelAt),
                    [&] { dlg.form().button(UserSetupControls::kExitButton)->click(); });
    dlg.onGetValue();
    QtClock::waitUntil([&] { return dlg.result() == QDialog::Accepted; }, std::chrono::milliseconds(stallMs) + std::chrono::seconds(10));
    watch.ended();
    const std::string outcome = dlg.statusLine().text().toStdString();
    std::filesystem::remove_all(dir);
    printExitReport("setup read", portName(port), "Get Value", stallAfter, stallMs, cancelAt, watch, outcome, json);
    return 0;
}

// The F/W Update dialog's download of the Program area to a printer that stops reading after
// stallAfter bytes; EXIT (answered Yes) falls due cancelAt ms after UPDATE.
int firmwareDownload(Port port, long stallAfter, int stallMs, int cancelAt, bool json)
{
    BenchSim sim;
    if (!startStallingPrinter(sim, port, stallAfter, stallMs))
        return 1;
    const auto dir = benchFolder();
    std::vector<char> image(0x800000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 + (i >> 11));
    std::memcpy(&image[0x7FFFFC], "QZM2", 4);
    const auto file = dir / "fw.T25";
    std::ofstream(file, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));

    AnsweringPrompter prompter;
    QtClock clock;
    CErrorLog log;
    Profile profile{dir / "bench.INI"};
    (void)profile.writeString(CFwUpdateDlg::kSection, "FOLDER", file.string());
    (void)profile.writeString(CFwUpdateDlg::kSection, "FILE", "fw.T25");
    const ConnectionSettings settings = printerSettings(sim, port);
    FwUpdateDlgDeps deps{prompter, clock, profile, log, settings, false, "TAVRO46/48 - " + settings.describe(), false,
                         [&] { return makeConnection(settings, ConnectionHost{clock, prompter, log}); },
                         {}, {}};
    CFwUpdateDlg dlg(deps);
    dlg.show();

    ExitWatch watch(std::chrono::milliseconds(cancelAt), [&] { control<QPushButton>(&dlg, fwupdate::Exit)->click(); });
    dlg.onUpdate();
    QtClock::waitUntil([&] { return !dlg.isVisible(); }, std::chrono::milliseconds(stallMs) + std::chrono::seconds(30));
    watch.ended();
    std::filesystem::remove_all(dir);
    printExitReport("firmware download", portName(port), "UPDATE", stallAfter, stallMs, cancelAt, watch,
                    dlg.lastOutcome().message, json);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    long stallAfter = 12000;
    int stallMs = 30000, cancelAt = 6000;
    bool json = false, setup = false, firmware = false, stallGiven = false, cancelGiven = false;
    Port port = Port::Serial;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--stall-after") && i + 1 < argc) {
            stallAfter = std::atol(argv[++i]);
            stallGiven = true;
        } else if (!std::strcmp(argv[i], "--setup-read"))
            setup = true;
        else if (!std::strcmp(argv[i], "--firmware"))
            firmware = true;
        else if (!std::strcmp(argv[i], "--tcp")) // kept for older scripts
            port = Port::Tcp;
        else if (!std::strcmp(argv[i], "--port") && i + 1 < argc) {
            const std::string name = argv[++i];
            bool known = false;
            for (Port p : {Port::Serial, Port::Tcp, Port::Usb, Port::Parallel})
                if (name == portName(p)) {
                    port = p;
                    known = true;
                }
            if (!known) {
                std::fprintf(stderr, "--port must be serial, tcp, usb or parallel\n");
                return 2;
            }
        }
        else if (!std::strcmp(argv[i], "--stall-ms") && i + 1 < argc)
            stallMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--cancel-at") && i + 1 < argc) {
            cancelAt = std::atoi(argv[++i]);
            cancelGiven = true;
        }
        else if (!std::strcmp(argv[i], "--json"))
            json = true;
        else {
            std::fprintf(stderr,
                         "usage: gui_responsiveness_bench [--setup-read | --firmware] [--port serial|tcp|usb|parallel] [--stall-after N] [--stall-ms N] [--cancel-at MS] [--json]\n");
            return 2;
        }
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (setup)
        return setupRead(port, stallGiven ? stallAfter : 20, stallMs, cancelGiven ? cancelAt : 1000, json);
    if (firmware)
        return firmwareDownload(port, stallGiven ? stallAfter : 300000, stallMs, cancelGiven ? cancelAt : 3000, json);

    BenchSim sim;
    if (!startStallingPrinter(sim, port, stallAfter, stallMs))
        return 1;
    const auto dir = benchFolder();
    // 576 x 1000 dots: 72000 bytes, far more than the printer takes before it stalls plus
    // what the pty buffers.
    const auto picture = dir / "large.bmp";
    writeBmp(picture, 576, 1000);

    AnsweringPrompter prompter;
    QtClock clock;
    CErrorLog log;
    Profile profile{dir / "bench.INI"};
    const ConnectionSettings settings = printerSettings(sim, port);
    LogoSheetDeps deps{prompter, clock, profile, log, settings, false, "TAVRO46/48 - " + settings.portName,
                       [&](const ConnectionSettings& s) {
                           return makeConnection(s, ConnectionHost{clock, prompter, log, nullptr});
                       },
                       [&](QWidget*, const QString&) { return QStringList{QString::fromStdString(picture.string())}; }};
    CMyProperty sheet(deps);
    sheet.show();
    control<QPushButton>(sheet.tabs()->widget(CMyProperty::kSelection), logo_ctl::kOpenFile)->click();
    sheet.showPage(CMyProperty::kUpload);

    // Everything below is measured from the GUI thread's own timers: a frozen loop shows as
    // a long gap, and a click due in the freeze is handled late.
    SteadyClock::time_point last{}, windowAt{}, dueAt{}, clickedAt{}, heardAt{};
    SteadyClock::duration longest{}, longestBeforeCancel{};
    bool clicked = false, heard = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto now = SteadyClock::now();
        if (last != SteadyClock::time_point{}) {
            longest = std::max(longest, now - last);
            if (windowAt != SteadyClock::time_point{} && !clicked)
                longestBeforeCancel = std::max(longestBeforeCancel, now - last);
        }
        last = now;
        auto* progress = qobject_cast<CProgress*>(QApplication::activeModalWidget());
        if (!progress || clicked)
            return;
        if (windowAt == SteadyClock::time_point{}) {
            windowAt = now;
            dueAt = now + std::chrono::milliseconds(cancelAt);
        }
        if (now < dueAt)
            return;
        clicked = true;
        clickedAt = now;
        control<QPushButton>(progress, logo_ctl::kProgressCancel)->click();
        heard = progress->statusText() == "Cancelling...";
        heardAt = SteadyClock::now();
    });
    watch.start();
    const auto start = SteadyClock::now();
    control<QPushButton>(sheet.tabs()->widget(CMyProperty::kUpload), logo_ctl::kUpload)->click(); // runs the upload modally
    const auto endAt = SteadyClock::now();
    watch.stop();
    // A loop frozen until the job ended gets no tick after the freeze: count the last stretch.
    const SteadyClock::duration lastStretch = endAt - last;
    longest = std::max(longest, lastStretch);

    const std::string outcome = sheet.statusLine()->text().toStdString();
    std::filesystem::remove_all(dir);
    // A window that stays frozen until the job gives up never gets to the click at all.
    if (!clicked && windowAt != SteadyClock::time_point{})
        longestBeforeCancel = std::max(longestBeforeCancel, lastStretch);
    const double gap = ms(longest), upload = ms(endAt - start), windowGap = ms(longestBeforeCancel);
    const double late = clicked ? ms(clickedAt - dueAt) : -1, toEnd = clicked ? ms(endAt - clickedAt) : -1;
    if (json) {
        std::printf("{\"scenario\":\"nv upload\",\"kind\":\"%s\",\"stall_after\":%ld,\"stall_ms\":%d,\"cancel_at_ms\":%d,\"longest_gap_ms\":%.1f,"
                    "\"longest_gap_uploading_ms\":%.1f,\"cancel_clicked\":%s,\"cancel_late_ms\":%.1f,\"cancel_heard\":%s,\"cancel_to_end_ms\":%.1f,"
                    "\"upload_ms\":%.1f}\n",
                    portName(port), stallAfter, stallMs, cancelAt, gap, windowGap, clicked ? "true" : "false", late, heard ? "true" : "false", toEnd,
                    upload);
    } else {
        std::printf("nv upload over %s: printer stalls after %ld bytes for %d ms; Cancel due %d ms after the window opened\n",
                    portName(port), stallAfter, stallMs, cancelAt);
        std::printf("longest GUI event-loop gap   %8.1f ms (whole upload)\n", gap);
        std::printf("                             %8.1f ms (Uploading window open, before Cancel)\n", windowGap);
        if (clicked) {
            std::printf("Cancel click handled late by %8.1f ms (\"Cancelling...\" shown: %s, within %.1f ms)\n", late,
                        heard ? "yes" : "no", ms(heardAt - clickedAt));
            std::printf("Cancel to the job's end      %8.1f ms\n", toEnd);
        } else {
            std::printf("Cancel click never handled: the window was frozen until the job ended\n");
        }
        std::printf("whole upload                 %8.1f ms\n", upload);
        std::printf("status line: %s\n", outcome.c_str());
    }
    return 0;
}
