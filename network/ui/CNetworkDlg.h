#pragma once
// The network dialog (template 159): the printer's IP address and TCP port for an Ethernet
// or WLAN connection, handed to the network library and tested once. One instance lives in
// the connection dialog for the whole run, so the address and port typed here are kept
// between openings.
#include "port/UdpChannel.h"

#include <QDialog>

#include <functional>
#include <string>

class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;

// The network library calls the dialog makes (EthInit, EthOpen, EthClose). The desktop
// tool wires the port layer's library; a test may wire its own.
struct NetworkLinkCalls {
    // Stores the address and port for every later connection; 1 on success.
    std::function<int(const std::string& ip, int port)> ethInit;
    // Connects with the stored parameters; non-zero low byte when the printer answered.
    std::function<int()> ethOpen;
    std::function<void()> ethClose;
    // errno of the last failed connect (0 when not known); may be empty.
    std::function<int()> ethLastError;
};

class CNetworkDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kDefaultIp = "192.168.0.254";
    static constexpr int kDefaultPort = 6001;

    // Lent: the prompter and the calls must outlive the dialog. GUI thread only.
    CNetworkDlg(Prompter& prompter, NetworkLinkCalls calls, bool korean, QWidget* parent = nullptr);

    // Sets the dialog up for the connection's port name ("ETHERNET_II", or "WIFI" for the
    // wireless module) and runs it modally: QDialog::Accepted once the connection test
    // passed, Rejected after Cancel.
    int run(const std::string& portName);
    // The set-up part of run(), for tests that drive a shown dialog themselves.
    void prepare(const std::string& portName);

    std::string ipAddress() const { return m_ip; }
    int port() const { return m_port; }
    // The port handed to the library at the last successful check; 0 before.
    int checkedPort() const { return m_checkedPort; }

    // Where the Network Setting dialog searches (default: the environment's, else the
    // standard broadcast).
    void setSearchSettings(UdpSettings settings) { m_udp = std::move(settings); }
    // Service mode for the Network Setting dialog: by default the Ctrl key at its opening.
    void setServiceModeQuery(std::function<bool()> query) { m_serviceQuery = std::move(query); }

    // The port rule of the OK check: 1024..65534, or the LPD port 515.
    static bool portAccepted(int port);

private:
    void onOk();
    void onSettingButton();

    Prompter& m_prompter;
    NetworkLinkCalls m_calls;
    const bool m_korean;
    bool m_wireless = false;
    std::string m_ip = kDefaultIp;
    int m_port = kDefaultPort;
    int m_checkedPort = 0;
    UdpSettings m_udp = UdpSettings::fromEnvironment();
    std::function<bool()> m_serviceQuery;

    QLineEdit* m_ipEdit;
    QLineEdit* m_portEdit;
    QPushButton* m_setting;  // 1031
    QPushButton* m_reserved; // 1033
    QPushButton* m_ok;
    QPushButton* m_cancel;
};
