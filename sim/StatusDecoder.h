#pragma once
// What a tool asks the printer about itself: GS I n (the printer's IDs: model, type, ROM
// version, maker, model name; one answer each) and GS a n (automatic status back on or off,
// which the connection then sends, or stops sending, on its own).
//
// Threads: as the interpreter that owns it.
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"

class StatusDecoder final : public ProtocolDecoder {
public:
    StatusDecoder(const PrinterState& state, InterpreterSink& sink) : ProtocolDecoder(sink), m_state(state) {}

private:
    void complete() override;
    void printerId(int n);

    const PrinterState& m_state;
};
