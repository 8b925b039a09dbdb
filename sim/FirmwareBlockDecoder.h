#pragma once
// The firmware transfer block: a 10-byte header 01 11 <area code> 32 <FileSize, 4 bytes LE>
// <checksum, 2 bytes LE>, then FileSize - 10 data bytes. The area code, FileSize, the 16-bit sum
// of the data and, for the boot block, its last four bytes are checked against the model
// family; the verdict goes to the flash record. After the block the printer writes its flash
// and reads nothing more until it is done (takeStop()).
//
// A header that names an area of the family with its FileSize makes the printer erase that
// area: from then on it is incomplete (PrinterState::incomplete) until a block for it is
// taken whole with the right checksum.
//
// Threads: as the interpreter that owns it.
#include "sim/FlashDigest.h"
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"
#include "sim/TextLine.h"

class FirmwareBlockDecoder final : public ProtocolDecoder {
public:
    FirmwareBlockDecoder(PrinterState& state, InterpreterSink& sink, TextLine& line)
        : ProtocolDecoder(sink), m_state(state), m_line(line)
    {
    }

    size_t feed(const uint8_t* data, size_t size) override;
    void finish() override;

private:
    void started() override { m_inData = false; }
    void complete() override;
    void header();
    void data(const uint8_t* bytes, size_t n);
    void done();
    // The area is at stake (`detail` says how far the download got), or whole again.
    void markIncomplete(const std::string& detail);
    void markComplete();

    PrinterState& m_state;
    TextLine& m_line;
    bool m_inData = false;

    struct Block {
        uint8_t code = 0;
        uint32_t fileSize = 0;
        uint16_t checksum = 0;
        uint32_t received = 0;
        uint32_t remaining = 0;
        uint32_t sum = 0;
        uint8_t tail[4] = {};
        FlashDigest digest;
        std::string area; // the area the header names for this family, when its FileSize fits
    } m_block;
};
