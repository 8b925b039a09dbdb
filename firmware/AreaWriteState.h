#pragma once
// What a firmware download has done to the flash area it writes, as far as the tool knows:
// nothing yet, erasing (the printer was told to erase the area and no data is known to be in
// place), written up to an offset, or complete. The engines keep it up to date while they run
// and hand it out with their outcome; the one message of a download that ended early and the
// note a killed download leaves behind are both made from it.
//
// Threads: a plain value; copy it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct AreaWriteState {
    enum class Phase {
        NotStarted, // no byte of the download reached the printer: it is unchanged
        Erasing,    // the printer began erasing the area (the erase packet or the block's header left)
        Writing,    // data is in place up to `reached`
        Complete,   // the whole area was taken
    };
    Phase phase = Phase::NotStarted;
    std::uint32_t start = 0;   // the area's first byte, as an offset into the image
    std::uint32_t end = 0;     // one past its last byte
    std::uint32_t reached = 0; // the data in place ends here (start while none is)

    static AreaWriteState of(std::uint32_t start, std::uint32_t end)
    {
        AreaWriteState s;
        s.start = start;
        s.end = end;
        s.reached = start;
        return s;
    }
    bool started() const { return phase != Phase::NotStarted; }
    bool complete() const { return phase == Phase::Complete; }
    // The area is left in a state the printer cannot run from: begun and not complete.
    bool incomplete() const { return started() && !complete(); }

    void erasing()
    {
        if (phase == Phase::NotStarted)
            phase = Phase::Erasing;
    }
    // Data is in place up to `offset` (clamped to the area).
    void writtenTo(std::uint32_t offset)
    {
        reached = offset < start ? start : offset > end ? end : offset;
        phase = Phase::Writing;
    }
    void completed()
    {
        reached = end;
        phase = Phase::Complete;
    }

    friend bool operator==(const AreaWriteState&, const AreaWriteState&) = default;
};

// "not-started", "erasing", "writing", "complete", and back (nothing for any other word).
std::string_view writePhaseName(AreaWriteState::Phase phase);
std::optional<AreaWriteState::Phase> writePhaseFromName(std::string_view name);

// What the user needs to know to start the same download again.
struct DownloadPlace {
    std::string areaName;   // "Program Area", "Boot area", in the user's language
    std::string imageFile;  // the firmware file
    std::string connection; // "network printer 10.0.0.5:9100", "serial port /dev/ttyUSB0"
};

// The one message of a download that ended before it was complete (Cancel, EXIT, Ctrl-C,
// a hang-up, a stall, an unplugged cable, a failure), in English or Korean: `reason` first
// (the failure's own words; may be empty), then which area is incomplete and how far it got,
// that the printer will not print until that area is downloaded again, and what to do now.
// A download that never reached the printer says that the printer is unchanged instead.
std::string earlyEndMessage(const AreaWriteState& state, const DownloadPlace& place, const std::string& reason,
                            bool korean);
