#pragma once
// Everything the virtual printer keeps across commands and, in its state folder, across runs:
// the customized setting values, the NV pictures, the top/bottom logo settings, the network
// records of its modules, and what each firmware download left in each flash area.
//
// Files in the state folder (all plain text except the pictures):
//   settings.txt        "<number> <hex bytes>" per setting
//   logo.txt            "TE TN TF BE BN BJ" in decimal
//   network.txt         one NetworkRecord line per UDP address, in order
//   firmware.txt        one line per area written: area, code, size, checksum, digest, verdict
//   incomplete.txt      "<area> <how far it got>" per area whose download began and did not complete
//   nv/index.txt        "<k> <X> <Y> <mono|gray>" per picture; nv/<k>.raw and nv/<k>.png
//   events.jsonl        the event log (written by EventLog, not here)
#include "sim/NetworkRecord.h"
#include "sim/NvLogoStore.h"
#include "sim/NvPicture.h"
#include "sim/SettingTable.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct LogoSettings {
    uint8_t topEnable = 0, topNumber = 1, topFlags = 0;
    uint8_t bottomEnable = 0, bottomNumber = 1, bottomJustify = 0;
};

struct FlashAreaRecord {
    std::string area;    // "program", "ext-font", "lcd-font", "download", "boot", legacy "legacy-..."
    int code = 0;        // area code of the transfer block, or the legacy first sector
    uint32_t size = 0;   // bytes received (block length for the transfer block)
    uint32_t checksum = 0;
    std::string verdict; // "ok" or the reason it was refused
    std::string digest = "-"; // FlashDigest of the data bytes received (legacy: accepted)
};

class PrinterState {
public:
    explicit PrinterState(int family = 1);

    int family() const { return m_family; }

    SettingMap settings;
    std::vector<NvPicture> pictures; // picture k is pictures[k-1]
    LogoSettings logo;
    std::vector<NetworkRecord> network;
    std::map<std::string, FlashAreaRecord> flash;
    // Areas whose download began (the printer erased them) and did not complete, with how far
    // it got. While any is listed the printer's program does not run: it answers no request
    // and prints nothing, and takes only downloads. A complete download of the area takes it
    // off the list.
    std::map<std::string, std::string> incomplete;
    bool firmwareIncomplete() const { return !incomplete.empty(); }
    // "program, legacy-font": the areas listed.
    std::string incompleteAreas() const;
    // Not persisted: the printer leaves user setting mode when it restarts.
    bool userSettingMode = false;
    // Not persisted: an NV definition whose connection ended before its last picture.
    std::optional<nv_store::NvDefinition> openDefinition;

    // Which parts changed since the last save (so a save does not rewrite every picture).
    bool settingsDirty = false, picturesDirty = false, logoDirty = false, networkDirty = false,
         flashDirty = false, incompleteDirty = false;
    void markAllDirty();

    // Loads what the folder holds; missing files keep the factory values. Lines that do not
    // parse are skipped and described in *warnings. Returns false only when the folder exists
    // but cannot be read.
    bool load(const std::string& dir, std::vector<std::string>* warnings);
    // Writes the dirty parts (each file by temp file + rename). Returns false with a reason.
    bool save(const std::string& dir, std::string* error);

private:
    int m_family;
};
