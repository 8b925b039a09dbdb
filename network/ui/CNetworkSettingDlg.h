#pragma once
// The Ethernet-II Network Setting dialog (template 160): searches the LAN for printers'
// network modules, lists every answer, and changes a chosen printer's settings by its MAC
// address. With service mode (Ctrl held while it opens) a printer can also be changed by the
// low three bytes of its MAC when the search does not find it.
//
// The search and the changes run on a worker thread so that the window keeps painting; rows
// appear as the answers arrive. GUI thread only, except where noted.
#include "network/NetworkSettingEngine.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class Prompter;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class CNetworkSettingDlg final : public QDialog {
    Q_OBJECT
public:
    // Lent: the prompter outlives the dialog; it must accept calls from a worker thread
    // (QtPrompter does). serviceMode shows the MAC(Low 3byte) controls.
    CNetworkSettingDlg(Prompter& prompter, UdpSettings settings, bool korean, bool serviceMode,
                       QWidget* parent = nullptr);
    ~CNetworkSettingDlg() override;

    // True while a search or a change runs on the worker.
    bool busy() const { return m_busy; }
    // The MAC text of the row clicked last.
    const std::string& macText() const { return m_mac; }

    // The printer chosen last (a row clicked, with the new settings once a change of it was
    // confirmed): what the network dialog connects to. Nothing before a click.
    struct Chosen {
        std::string ip; // dotted, without " (DHCP)"
        int port = 0;
    };
    const std::optional<Chosen>& chosenPrinter() const { return m_chosen; }

    // The Ctrl key as the desktop tool asks it when the dialog opens.
    static bool ctrlHeld();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void onSearch();
    void onChange();
    void onManualChange();
    void onRowClicked(int row);
    void addRow(const NetworkPrinterRow& row);
    // Runs work on the worker; done runs on the GUI thread afterwards.
    void runOnWorker(std::function<void()> work, std::function<void()> done);
    void setBusy(bool busy);
    NetworkChangeRequest requestFromFields() const;
    void finishWorker();
    // Focus on a refused field; after a confirmed change the new settings in the list.
    void afterChange(const NetworkChangeResult& result);

    Prompter& m_prompter;
    NetworkSettingEngine m_engine;
    const bool m_korean;
    const bool m_service;
    std::string m_mac;
    std::optional<Chosen> m_chosen;
    bool m_changeEnabled = false;
    std::atomic<bool> m_busy{false};
    std::thread m_worker;

    QTableWidget* m_list;      // 1042
    QPushButton* m_search;     // 1037
    QPushButton* m_change;     // 1034
    QPushButton* m_exit;       // 1
    QLineEdit* m_ip;           // 1035
    QLineEdit* m_subnet;       // 1039
    QLineEdit* m_gateway;      // 1038
    QLineEdit* m_port;         // 1046
    QCheckBox* m_dhcp;         // 1044
    QLineEdit* m_macLow[3];    // 1106, 1107, 1108
    QLabel* m_macLabels[3];    // 1109, 1110, 1111
    QPushButton* m_manual;     // 1112
};
