#pragma once
// The legacy download packets of the TAVRO15: 40 F2 <first sector> <end sector> and six zero
// bytes erases an area; 40 F0 / 40 F1 (the last) <length, 2 bytes BE> <address, 4 bytes BE>
// <data> <sum, 2 bytes BE> writes one packet of at most 512 bytes. Every packet is answered
// DLE ACK or DLE NAK; a repeated packet is acknowledged again without being written twice.
//
// Threads: as the interpreter that owns it.
#include "sim/FlashDigest.h"
#include "sim/InterpreterSink.h"
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"
#include "sim/TextLine.h"

#include <string>

class LegacyPacketDecoder final : public ProtocolDecoder {
public:
    LegacyPacketDecoder(PrinterState& state, InterpreterSink& sink, TextLine& line, const InterpreterFaults& faults)
        : ProtocolDecoder(sink), m_state(state), m_line(line), m_nakEvery(faults.nakEvery),
          m_splitDle(faults.splitDle), m_strayAck(faults.strayAck)
    {
    }

private:
    enum class Part { Lead, Head, Body };

    void started() override { m_part = Part::Lead; }
    void complete() override;
    void head();
    void body();
    void answer(bool ack);

    PrinterState& m_state;
    TextLine& m_line;
    const int m_nakEvery;    // NAK the first try of every k-th packet (a fault; 0: never)
    const bool m_splitDle;   // DLE and ACK/NAK in separate writes (a fault)
    const bool m_strayAck;   // a lone 06 in front of each answer (a fault)
    Part m_part = Part::Lead;

    // The download in progress, from its erase packet to its last packet; it spans frames.
    struct Download {
        bool erased = false;
        std::string area;
        uint8_t sector = 0;
        uint32_t start = 0, end = 0, next = 0;
        uint32_t sum = 0;
        int packets = 0;
        FlashDigest digest;
        bool lastWasNakFault = false;
        uint32_t lastNakAddress = 0;
    } m_download;
};
