#pragma once
// NV bit images: FS q n defines n pictures (the memory is erased first, then each picture's
// header xL xH yL yH and its raster), FS p n m prints one; the star emulation puts ESC in front
// of both. A definition the printer cannot store fails whole, and its raster bytes are skipped
// by their announced size, never taken as commands.
//
// A definition outlives its connection: when the connection ends inside it, suspend() leaves
// it with the printer, and the next connection's bytes continue it (resume()).
//
// Threads: as the interpreter that owns it.
#include "sim/NvLogoStore.h"
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"

class NvLogoDecoder final : public ProtocolDecoder {
public:
    NvLogoDecoder(PrinterState& state, InterpreterSink& sink) : ProtocolDecoder(sink), m_state(state) {}

    size_t feed(const uint8_t* data, size_t size) override;
    void finish() override;

    // The connection ended: a definition in progress goes to the PrinterState and the frame is
    // over. Returns whether there was one.
    bool suspend();
    // Continues the definition the PrinterState keeps with the next bytes fed.
    void resume();

    // The time of the bytes fed next, in ms of a monotonic clock (-1: not timed).
    void setNowMs(int64_t ms) { m_nowMs = ms; }
    // How long the NV memory erases after FS q n (0: at once).
    void setEraseMs(int ms) { m_eraseMs = ms; }

private:
    enum class Phase { Command, Header, Raster };

    void started() override { m_phase = Phase::Command; }
    void complete() override;
    void command();
    size_t raster(const uint8_t* data, size_t size);
    void startDefine(int count, bool star);
    void pictureHeader();
    void nextPicture();
    void finishDefine();
    void printPicture(int n, int m, bool star);

    PrinterState& m_state;
    Phase m_phase = Phase::Command;
    nv_store::NvDefinition m_def;
    int64_t m_nowMs = -1;
    int m_eraseMs = 0;
};
