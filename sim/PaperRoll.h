#pragma once
// The paper that comes out of the virtual printer: text lines and stored pictures as they
// would print at 203 dpi on the 576-dot head, with the top logo at the head of every receipt,
// the bottom logo before the cut and the top logo at power-on when the logo settings ask for
// them. Each cut ends a receipt, written as receipts/receipt-NNNN.png in the state folder so
// that a person can look at what the printer did.
//
// Threads: the owner's event loop only.
#include "sim/PrinterState.h"
#include "sim/SimEvent.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class PaperRoll {
public:
    static constexpr int kWidthDots = 576;
    static constexpr int kLineDots = 30; // Font A: 24-dot characters, 6 dots of line spacing

    // folder: where the receipts go ("" keeps them in memory only). log: where each finished
    // receipt is told.
    PaperRoll(const PrinterState& state, std::string folder, std::function<void(SimEvent)> log);

    void text(const std::vector<uint8_t>& line, int justify);
    void picture(int number, int mode);
    // Ends the receipt: the bottom logo, then the receipt goes out (and is written).
    void cut();
    // The printer was switched on again (restart): the top logo, when it is set for power-on.
    void powerOn();

    // What the current (uncut) receipt holds: one entry per item, "top:3", "text:...",
    // "picture:7", "bottom:2" (for tests and the event log).
    const std::vector<std::string>& items() const { return m_items; }
    int receiptsWritten() const { return m_receipts; }
    // Dots printed on the current receipt so far (rows of 576 gray bytes, 255 = paper).
    const std::vector<uint8_t>& dots() const { return m_dots; }

private:
    void begin();
    void addPicture(int number, int mode, int justify, const std::string& role);
    void addRows(int rows);

    const PrinterState& m_state;
    std::string m_folder;
    std::function<void(SimEvent)> m_log;
    std::vector<uint8_t> m_dots;
    std::vector<std::string> m_items;
    bool m_started = false;
    int m_receipts = 0;
};
