#pragma once
// The control ids of the two network dialogs (object names "ctl<id>", see
// qthost/QtControlName.h).

// The Ethernet-II connection dialog (CNetworkDlg).
namespace netdlg {
enum Control : int {
    Ok = 1,
    Cancel = 2,
    PortEdit = 1030,
    NetworkSetting = 1031,
    IpEdit = 1032,
    Reserved = 1033,
};
} // namespace netdlg

// The Network Setting dialog (CNetworkSettingDlg).
namespace netsetting {
enum Control : int {
    Exit = 1,
    ChangeSetting = 1034,
    Ip = 1035,
    SearchPrinter = 1037,
    Gateway = 1038,
    Subnet = 1039,
    List = 1042,
    Dhcp = 1044,
    Port = 1046,
    // Service mode: the low three bytes of the MAC address (three edits, three labels).
    MacLow = 1106,
    MacLabel = 1109,
    ManualChange = 1112,
};
} // namespace netsetting
