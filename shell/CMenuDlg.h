#pragma once
// The function menu (resource 103), opened by the connection dialog's OK: it builds the
// connection summary that the tool dialogs show, sets the port object's function code and
// runs one tool modally. Back returns to the connection dialog.
#include "app/ConnectionRules.h"

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

struct MenuDlgDeps {
    bool korean = false;
    // Stores m_Function of the port object: 1 logo, 2 user setup, 3 firmware download.
    std::function<void(int function)> setFunction;
    // Runs the user setup dialog modally on top of the menu.
    std::function<void(QWidget* parent, const std::string& summary)> runUserSetup;
    // Runs the logo tool modally on top of the menu.
    std::function<void(QWidget* parent, const std::string& summary)> runLogo;
    // Runs the firmware download dialog of the model (TAVRO15: the packet download).
    std::function<void(QWidget* parent, const std::string& summary)> runFirmware;
    // Runs the Printer Profile dialog (save a printer's profile, apply one) modally.
    std::function<void(QWidget* parent, const std::string& summary)> runProfile;
};

class CMenuDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFunctionLogo = 1;
    static constexpr int kFunctionUserSetup = 2;
    static constexpr int kFunctionFirmware = 3;

    // GUI thread only.
    CMenuDlg(const ConnectionSettings& settings, MenuDlgDeps deps, QWidget* parent = nullptr);

    // The connection summary built at initialisation ("\r\n" between lines).
    const std::string& summary() const { return m_summary; }

    void onLogo();
    void onUserSetup();
    void onFirmware();
    void onProfile();

private:
    MenuDlgDeps m_deps;
    std::string m_summary;
    QPushButton* m_logo;     // 1007
    QPushButton* m_setup;    // 1012
    QPushButton* m_firmware; // 1017
    QPushButton* m_profile;
    QPushButton* m_back;     // 1021
};
