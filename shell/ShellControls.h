#pragma once
// The control ids of the connection dialog and the function menu (object names "ctl<id>",
// see qthost/QtControlName.h).

// The connection dialog (CConnectDlg): the combo boxes and their labels.
namespace connectdlg {
enum Control : int {
    Ok = 1,
    Cancel = 2,
    Device = 1000,
    Port = 1001,
    Baudrate = 1002,
    Parity = 1003,
    FlowControl = 1013,
    StopBit = 1014,
    DataLength = 1048,
    DeviceLabel = 1049,
    PortLabel = 1026,
    BaudrateLabel = 1050,
    ParityLabel = 1051,
    DataLengthLabel = 1052,
    FlowControlLabel = 1053,
    StopBitLabel = 1054,
};
} // namespace connectdlg

// The function menu (CMenuDlg).
namespace menudlg {
enum Control : int {
    LogoDownload = 1007,
    UserSetup = 1012,
    FirmwareDownload = 1017,
    Back = 1021,
    PrinterProfile = 1030,
};
} // namespace menudlg
