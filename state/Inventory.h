#pragma once
// The list of printers one run brings to a state file (YAML):
//
//   printers:
//     - name: till-1                      # required, unique in the list
//       device: "TAVRO36/38 U-II"         # a DEVICE entry (default: the command line's)
//       port: usb                         # usb, /dev/..., a USB serial number, tcp://HOST[:PORT]
//       baud: 115200                      # data, parity, stop, flow as well (default: the command line's)
//       tags: [kitchen, floor-2]
//       settings: {speed: 180}            # over the state file's settings, for this printer only
//
// The list is checked whole before anything is sent: an unknown key, a name given twice, a
// port that is none of the forms, a setting that is not a setting — each is a failure
// "FILE:LINE: KEY: reason". Whether a setting's value suits the printer's model is checked
// when the model is known (stateForPrinter).
//
// Pure; any thread.
#include "app/ConnectionRules.h"
#include "app/Result.h"
#include "state/StateFile.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct InventoryValue {
    std::string value;
    int line = 0;
};

struct InventoryPrinter {
    std::string name;
    int line = 0;                  // where the entry begins
    std::optional<InventoryValue> device, port, baud, data, parity, stop, flow;
    std::vector<std::string> tags;
    std::vector<std::pair<std::string, InventoryValue>> settings; // key (lower case) and value, in order
};

struct Inventory {
    std::string name; // the file's name, for the messages
    std::vector<InventoryPrinter> printers;
};

// Failure: "FILE:LINE: KEY: reason".
Result<Inventory> parseInventoryText(const std::string& text, const std::string& name);
Result<Inventory> loadInventory(const std::filesystem::path& file);

// What a port entry names.
enum class InventoryPortForm { Usb, Device, UsbSerialNumber, Tcp, File };
// Nullopt when the text is none of the forms.
std::optional<InventoryPortForm> inventoryPortForm(const std::string& port);

// The printers a --limit selects: those whose name or one of whose tags is among `limits`
// (each item may be a comma list); all of them when limits is empty. Failure: a limit that
// names no printer and no tag.
Result<std::vector<InventoryPrinter>> selectPrinters(const std::vector<InventoryPrinter>& printers,
                                                     const std::vector<std::string>& limits);

// The state for one printer: its own settings over the file's, checked together for the
// printer's model as the file's are. Failure: "FILE:LINE: printers[NAME].settings.KEY: reason".
Result<DesiredState> stateForPrinter(const DesiredState& state, const InventoryPrinter& printer, ModelFamily family,
                                     const std::string& inventoryName);
