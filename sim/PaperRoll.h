#pragma once
// The paper that comes out of the virtual printer: text lines and stored pictures as they
// would print at 203 dpi on the 576-dot head, with the top logo at the head of every receipt,
// the bottom logo before the cut and the top logo at power-on when the logo settings ask for
// them. Each cut ends a receipt, written as receipts/receipt-NNNN.png in the state folder so
// that a person can look at what the printer did.
//
// A receipt that is never cut does not grow without bound: past maxRows dot rows (and
// kMaxItems items) the roll keeps the receipt's head, tells the cut-off once in the event log
// ("paper-full") and goes on taking what is printed without keeping it; the receipt's event
// counts what was left off.
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
    // 2.5 m of paper at 8 dots a millimetre: 11.5 MB of dots, a 4 MB PNG at most.
    static constexpr int kMaxRows = 20000;
    static constexpr std::size_t kMaxItems = 2000;

    // folder: where the receipts go ("" keeps them in memory only). log: where each finished
    // receipt and a cut-off are told.
    PaperRoll(const PrinterState& state, std::string folder, std::function<void(SimEvent)> log,
              int maxRows = kMaxRows);

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
    // Dot rows and items of the current receipt left off past the cap.
    std::int64_t droppedRows() const { return m_droppedRows; }
    std::int64_t droppedItems() const { return m_droppedItems; }

private:
    void begin();
    void addPicture(int number, int mode, int justify, const std::string& role);
    // Adds up to `rows` blank rows within the cap; returns how many were added.
    int addRows(int rows);
    void addItem(std::string item);
    void full();

    const PrinterState& m_state;
    std::string m_folder;
    std::function<void(SimEvent)> m_log;
    std::vector<uint8_t> m_dots;
    std::vector<std::string> m_items;
    int m_maxRows;
    std::int64_t m_droppedRows = 0;
    std::int64_t m_droppedItems = 0;
    bool m_started = false;
    int m_receipts = 0;
};
