#pragma once
// The top/bottom logo settings frame, 1C 01 30 TE TN TF BE BN BJ 1C 02 30: which NV pictures
// head and end every receipt, their justification and the power-on bit. The printer stores it
// and restarts; a frame with a wrong end or a logo number 0 is ignored.
//
// Threads: as the interpreter that owns it.
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"

class LogoSettingsDecoder final : public ProtocolDecoder {
public:
    LogoSettingsDecoder(PrinterState& state, InterpreterSink& sink) : ProtocolDecoder(sink), m_state(state) {}

private:
    void complete() override;
    void settingsFrame(const std::vector<uint8_t>& f);

    PrinterState& m_state;
};
