#pragma once
// One protocol the printer speaks, decoded from the printer's side. The CommandInterpreter
// recognises a frame of it by its first bytes, calls begin() and feeds it the frame from its
// first byte on; the decoder takes bytes up to the frame's last one and no further, changes the
// PrinterState and reports through the InterpreterSink.
//
// Most frames mean nothing until enough of them is there: the decoder collects bytes until the
// frame holds as many as it asked for, then complete() looks at them and asks for more or ends
// the frame. Decoders with a long data part (NV raster, a firmware block) take it in bulk.
//
// Threads: as the interpreter that owns it (one connection); not thread-safe.
#include "sim/InterpreterSink.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ProtocolDecoder {
public:
    virtual ~ProtocolDecoder() = default;
    ProtocolDecoder(const ProtocolDecoder&) = delete;
    ProtocolDecoder& operator=(const ProtocolDecoder&) = delete;

    // A frame begins with the next byte fed.
    void begin();
    // Takes bytes of the open frame, never beyond its last one. Returns how many it took: at
    // least one while the frame is open, unless the printer stopped reading (takeStop()).
    virtual size_t feed(const uint8_t* data, size_t size);
    // Whether a frame is open: begun and its last byte not yet taken.
    bool inFrame() const { return m_inFrame; }
    // Whether the printer stopped reading after the bytes it took (it writes its flash).
    // Asking clears it.
    bool takeStop();
    // The stream ended inside the frame: reports what arrived of it, and the frame is over.
    virtual void finish();

protected:
    explicit ProtocolDecoder(InterpreterSink& sink) : m_sink(sink) {}

    // The frame holds as many bytes as asked for: ask for more (needBytes) or end the frame.
    virtual void complete() = 0;
    // A frame begins: forget what the last one left.
    virtual void started() {}

    // Adds bytes to the frame until it holds what was asked for, then calls complete().
    // Returns how many it took.
    size_t collect(const uint8_t* data, size_t size);
    void needBytes(size_t n) { m_need = n; }
    // Ends the frame and hands out its bytes.
    std::vector<uint8_t> takeFrame();
    void stopReading() { m_stop = true; }
    // GS ( k pL pH and pL + 256 pH body bytes: whether all of it is there (if not, asks for it).
    bool haveParenBody();
    void emit(SimEvent e) { m_sink.event(std::move(e)); }

    InterpreterSink& m_sink;
    std::vector<uint8_t> m_frame;

private:
    size_t m_need = 0;
    bool m_inFrame = false;
    bool m_stop = false;
};
