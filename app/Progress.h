#pragma once
// Progress that engines publish and front ends show: a bar in the dialogs, a bar with rate
// and time left on a terminal's stderr in tavroctl, a JSON line per report with --json.
// Work is counted in weighted units (usually bytes) so that a bar moves evenly over steps of
// different size; `text` is the engine's status line ("Updating(2/5)...logo.bmp").
#include <cstdint>
#include <string>

struct ProgressReport {
    std::uint64_t done = 0;  // units finished
    std::uint64_t total = 0; // units in the whole job (0: unknown)
    std::string text;        // status line, may be empty
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Called on the engine's thread; a GUI sink marshals to its GUI thread itself.
    virtual void report(const ProgressReport& progress) = 0;
};

// A sink that shows nothing.
class NullProgress final : public ProgressSink {
public:
    void report(const ProgressReport&) override {}
};
