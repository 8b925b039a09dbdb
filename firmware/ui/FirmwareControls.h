#pragma once
// The control ids of the two firmware dialogs (object names "ctl<id>", see
// qthost/QtControlName.h).

// The F/W Update dialog (CFwUpdateDlg).
namespace fwupdate {
enum Control : int {
    PathEdit = 1022,
    FileOpen = 1027,
    Update = 1017,
    Exit = 1069,
    Progress = 1023,
    Checksum = 1068,
    FileSize = 1067,
    ChecksumLabel = 1090,
    FileSizeLabel = 1091,
    BytesLabel = 1092,
    DeviceBox = 1049,
    Summary = 1008,
    // Our own: the line under the bar that says whether the printer answers again.
    StatusLine = 1100,
    // The area radio buttons, in the order of the dialog's areas.
    AreaProgram = 1030,
    AreaExtFont = 1045,
    AreaLcdFont = 1035,
    AreaDownloader = 1041,
    AreaBoot = 1033,
};
} // namespace fwupdate

// The TAVRO15 download dialog (CFwDownload15Dlg).
namespace fw15 {
enum Control : int {
    Ok = 1,
    Cancel = 2,
    PathEdit = 1000,
    NameEdit = 1001,
    Open = 1002,
    AreaBox = 1013,
    Summary = 1019,
    Progress = 1006,
    // Our own: the line under the bar that says whether the printer answers again.
    StatusLine = 1100,
    // The area radio buttons, in the order of the dialog's areas.
    AreaProgram = 1003,
    AreaExtFont = 1004,
    AreaBoot = 1005,
    AreaFont = 1011,
};
} // namespace fw15
