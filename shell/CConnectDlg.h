#pragma once
// The connection dialog (resource 102), the desktop tool's main window for the whole run:
// the DEVICE entry (model and interface), the port and the serial parameters. OK stores the
// choice as the connection settings and opens the function menu on top; Cancel ends the
// program.
#include "app/ConnectionRules.h"
#include "app/MessageCatalog.h"
#include "network/ui/CNetworkDlg.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CErrorLog;
class Clock;
class Profile;
class Prompter;
class QComboBox;
class QLabel;
class QPushButton;
class QtStatusLine;

// The device discovery of the port layer, as the dialog calls it.
struct DiscoveryCalls {
    // Number of USB printers with the hardware id, -1 when there is none.
    std::function<int(const std::string& hardwareId)> countUsbPrinters;
    // The serial port name of the USB virtual serial device with the id, "" when none.
    std::function<std::string(const std::string& hardwareId)> findUsbVirtualCom;
    // The serial (false) or parallel (true) port names of the machine.
    std::function<std::vector<std::string>(bool parallel)> enumPorts;
};

struct ConnectDlgDeps {
    Prompter& prompter;
    Clock& clock;
    Profile& profile;
    CErrorLog& errorLog;
    DiscoveryCalls discovery;
    NetworkLinkCalls network;
    // Where the system language is read from (tests play a Korean system with it).
    LocaleSources locale = LocaleSources::fromEnvironment();
    std::string errorLogFile = "error.log";
    // Runs the function menu modally on top of the dialog with the stored settings.
    std::function<void(QWidget* parent, const ConnectionSettings& settings)> runMenu;
};

class CConnectDlg final : public QDialog {
    Q_OBJECT
public:
    // Runs the initialisation (catalog, caption, DEVICE list, error log, device change of a
    // preselected entry). GUI thread only.
    explicit CConnectDlg(ConnectDlgDeps deps, QWidget* parent = nullptr);
    ~CConnectDlg() override;

    bool korean() const { return m_korean; }
    ModelFamily family() const { return m_family; }
    int interfaceKind() const { return m_interface; }
    // The settings of the last OK that got as far as the menu.
    const ConnectionSettings& settings() const { return m_settings; }
    // Why OK is disabled, shown under the lists ("" when OK is enabled or nothing is chosen).
    QString okHint() const;
    CNetworkDlg& networkDialog() { return *m_network; }

    // The handlers, public so that tests can drive them as the user would.
    void onDeviceChange();
    void onDataLengthChange();
    void onOk();

private:
    void initialise();
    void fillDeviceList();
    void setSerialListsEnabled(bool on);
    void fillBaudrates(bool tavro15);
    void clearSelections();
    bool usbSearch(int& count);
    void setOkHint(const char* english, const char* korean);
    void updateOkHint();

    ConnectDlgDeps m_deps;
    bool m_korean = false;
    ModelFamily m_family = ModelFamily::None;
    int m_interface = 0;
    ConnectionSettings m_settings;
    std::unique_ptr<CNetworkDlg> m_network;

    QComboBox* m_device;   // 1000
    QComboBox* m_port;     // 1001
    QComboBox* m_baud;     // 1002
    QComboBox* m_parity;   // 1003
    QComboBox* m_dataLen;  // 1048
    QComboBox* m_flow;     // 1013
    QComboBox* m_stopBit;  // 1014
    QPushButton* m_ok;     // 1
    QPushButton* m_cancel; // 2
    QtStatusLine* m_hint;  // why OK is disabled, or what the dialog waits for
    QString m_hintText;
    struct KoreanLabel {
        QLabel* label;
        const char* text;
        char key; // the English label's mnemonic letter
    };
    std::vector<KoreanLabel> m_koreanLabels;
};
