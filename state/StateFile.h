#pragma once
// A printer's desired configuration as one file (YAML 1.2; JSON is read as the YAML it is):
//
//   tavro: 1                       # the schema version, required
//   model: TAVRO36/38              # optional: refuse a printer of another model
//   settings: {paper_width: 58, speed: 150}     # the keys and values of `setup get`
//   logos: {files: [head.bmp, foot.bmp], sha256: {head.bmp: "..."}, gray: false, star: false,
//           center: [1], max_area: 576, diverging: 128}
//   logo_settings: {top: {enabled: true, number: 1, align: center},
//                   bottom: {enabled: true, number: 2, align: center}, power_on: false}
//   firmware: {file: fw.T25, sha256: "...", areas: [program]}
//   network: {dhcp: false, ip: 192.168.0.50, mask: 255.255.255.0, gateway: 192.168.0.1,
//             port: 9100, gateway_outside_subnet: false}      # network printers only
//
// Every section is optional. The whole file is checked when it is read, before anything is
// sent to a printer: an unknown key, a value out of range or not offered by the model, a
// picture or image that is missing or unreadable, a pinned digest that differs — each is a
// failure "FILE:LINE: KEY: reason". Paths are relative to the file's folder.
//
// Pure (reads the named files only); any thread.
#include "app/ConnectionRules.h"
#include "app/Result.h"
#include "firmware/FirmwareArea.h"
#include "logo/LogoFrames.h"
#include "network/NetworkAddressRules.h"
#include "setup/SetupSnapshot.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The sections, in the order an apply takes them. The network section comes last: once it
// is applied the printer may no longer be where the connection reaches it.
enum class StateSection { Firmware, Settings, Logos, LogoSettings, Network };
inline constexpr StateSection kStateSections[] = {StateSection::Firmware, StateSection::Settings,
                                                  StateSection::Logos, StateSection::LogoSettings,
                                                  StateSection::Network};
// "firmware", "settings", "logos", "logo_settings", "network".
const char* stateSectionName(StateSection section);
// A comma-separated list of section names ("logos,firmware"); "all" names every section.
Result<std::set<StateSection>> parseStateSections(const std::string& text);

// The model names a file may give, and the family of one (None when unknown).
ModelFamily modelOfName(const std::string& name);
std::string modelName(ModelFamily family);

struct StateSettings {
    // The keys in the file's order with the value as the snapshot writes it.
    SnapshotLines values;
};

struct StateLogoFile {
    std::string name;            // as the file gives it
    std::filesystem::path path;  // resolved against the state file's folder
    std::string sha256;          // the picture file's digest
};

struct StateLogos {
    std::vector<StateLogoFile> files; // image numbers 1..N
    bool gray = false;
    bool star = false;
    std::set<int> center;            // image numbers to centre
    int maxArea = 576;
    int diverging = 128;
    // One digest over the pictures and the conversion options: what the record keeps.
    std::string digest() const;
};

struct StateFirmware {
    std::string name;
    std::filesystem::path path;
    std::string sha256;                  // the file's digest (checked against the pin)
    std::vector<FirmwareArea> areas;     // in download order
};

// A network module's settings. With DHCP on, the address, mask and gateway are the DHCP
// server's to give: the file may leave them out (the printer's are sent again) and they are
// not compared. A port left out stays as the printer has it.
struct StateNetwork {
    bool dhcp = false;
    std::optional<Ipv4Bytes> ip, mask, gateway;
    std::optional<std::uint16_t> port;
    // A gateway outside the subnet of ip and mask is sent only when the file says so.
    bool gatewayOutsideSubnet = false;
    int line = 0; // the line of the section, for messages about it
};

struct DesiredState {
    std::filesystem::path file;
    ModelFamily model = ModelFamily::None; // None: the file names no model
    std::optional<StateSettings> settings;
    std::optional<StateLogos> logos;
    std::optional<logo_frames::LogoSettingsValues> logoSettings;
    std::optional<StateFirmware> firmware;
    std::optional<StateNetwork> network;

    bool has(StateSection section) const;
    // Leaves only the given sections.
    void keepOnly(const std::set<StateSection>& sections);
};

// The state's sections fit the connection: a network section wants a network printer.
// Failure: "FILE:LINE: network: reason".
Status checkStateConnection(const DesiredState& state, const ConnectionSettings& connection);

// Reads and checks a state file for a printer of `family` (None: the file's model, else the
// checks that need a model use the TAVRO36/38's). Failure: "FILE:LINE: KEY: reason".
Result<DesiredState> loadStateFile(const std::filesystem::path& file, ModelFamily family);
// The same for the text of a file (paths relative to `folder`); `name` for the messages.
Result<DesiredState> parseStateText(const std::string& text, const std::string& name,
                                    const std::filesystem::path& folder, ModelFamily family);

// Canonical text of logo settings, for plans and the record: "top on 1 center, bottom on 2
// center, power_on off".
std::string logoSettingsText(const logo_frames::LogoSettingsValues& values);
