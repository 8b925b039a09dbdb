#include "sim/CommandInterpreter.h"

#include <array>
#include <cassert>

namespace {

enum Protocol { kUndecided, kPlain, kReceipt, kStatus, kUserSetup, kNvLogo, kLogoSettings, kFirmware, kLegacy };

constexpr int kAny = -1;

// The first bytes that choose a protocol (kAny: any byte there).
struct Lead {
    std::array<int, 4> bytes;
    size_t length;
    Protocol protocol;
    bool legacyFamilyOnly;
};

const Lead kLeads[] = {
    {{0x1B, 0x1C}, 2, kNvLogo, false},          // the star emulation's ESC in front of FS q, FS p
    {{0x1C, 0x71}, 2, kNvLogo, false},          // FS q: define NV pictures
    {{0x1C, 0x70}, 2, kNvLogo, false},          // FS p: print one
    {{0x1C, 0x01}, 2, kLogoSettings, false},    // the top/bottom logo settings frame
    {{0x1D, 0x28, 0x45}, 3, kUserSetup, false}, // GS ( E
    {{0x1D, 0x49}, 2, kStatus, false},          // GS I
    {{0x1D, 0x61}, 2, kStatus, false},          // GS a
    {{0x01, 0x11, kAny, 0x32}, 4, kFirmware, false},
    // Only the TAVRO15 speaks the packet protocol; to the others '@' is text.
    {{0x40, 0xF0}, 2, kLegacy, true},
    {{0x40, 0xF1}, 2, kLegacy, true},
    {{0x40, 0xF2}, 2, kLegacy, true},
};

bool commandByte(uint8_t b)
{
    return b == 0x1B || b == 0x1C || b == 0x1D;
}

// Whose frame begins with `lead`: a protocol, kUndecided while a longer lead may still match,
// kReceipt for any other ESC, FS or GS command, kPlain for a byte that begins no frame.
Protocol route(const std::vector<uint8_t>& lead, int family)
{
    bool more = false;
    for (const Lead& l : kLeads) {
        if (l.legacyFamilyOnly && family != 2)
            continue;
        const size_t n = std::min(lead.size(), l.length);
        bool match = true;
        for (size_t i = 0; i < n && match; ++i)
            match = l.bytes[i] == kAny || l.bytes[i] == lead[i];
        if (!match)
            continue;
        if (lead.size() >= l.length)
            return l.protocol;
        more = true;
    }
    if (more)
        return kUndecided;
    return commandByte(lead[0]) ? kReceipt : kPlain;
}

} // namespace

CommandInterpreter::CommandInterpreter(PrinterState& state, InterpreterSink& sink, InterpreterFaults faults)
    : m_state(state), m_sink(sink), m_line(sink), m_receipt(sink, m_line), m_status(state, sink),
      m_setup(state, sink, faults.noAnswerSettings, faults.refuseSettings), m_nv(state, sink), m_logoSettings(state, sink),
      m_firmware(state, sink, m_line), m_legacy(state, sink, m_line, faults)
{
}

ProtocolDecoder* CommandInterpreter::decoderFor(int protocol)
{
    switch (protocol) {
    case kReceipt: return &m_receipt;
    case kStatus: return &m_status;
    case kUserSetup: return &m_setup;
    case kNvLogo: return &m_nv;
    case kLogoSettings: return &m_logoSettings;
    case kFirmware: return &m_firmware;
    case kLegacy: return &m_legacy;
    default: return nullptr;
    }
}

void CommandInterpreter::feed(const uint8_t* data, size_t size)
{
    size_t done = 0;
    while (done < size)
        done += feedSome(data + done, size - done);
}

size_t CommandInterpreter::feedSome(const uint8_t* data, size_t size)
{
    m_pause = false;
    if (m_state.openDefinition && !m_active && m_lead.empty() && size > 0) {
        m_nv.resume();
        m_active = &m_nv;
    }
    size_t i = 0;
    while (i < size && !m_pause)
        i += step(data + i, size - i);
    m_line.endRaw();
    if (m_ignored > 0) {
        m_sink.event(SimEvent("ignored").num("bytes", m_ignored)
                         .str("reason", "a firmware area is unfinished: " + m_state.incompleteAreas()));
        m_ignored = 0;
    }
    return i;
}

size_t CommandInterpreter::step(const uint8_t* data, size_t size)
{
    if (!m_active) {
        take(data[0]);
        return 1;
    }
    ProtocolDecoder& decoder = *m_active;
    const size_t n = decoder.feed(data, size);
    if (!decoder.inFrame())
        m_active = nullptr;
    if (decoder.takeStop())
        m_pause = true;
    // A decoder takes at least one byte of an open frame unless the printer stopped reading.
    assert(n > 0 || m_pause);
    return n;
}

void CommandInterpreter::take(uint8_t b)
{
    // A command ends the text in front of it, before anyone knows which command it is.
    if (m_lead.empty() && commandByte(b))
        m_line.end();
    m_lead.push_back(b);
    const Protocol protocol = route(m_lead, m_state.family());
    if (protocol == kUndecided)
        return;
    std::vector<uint8_t> lead;
    lead.swap(m_lead);
    if (m_state.firmwareIncomplete() && protocol != kFirmware && protocol != kLegacy) {
        // Only the downloads are heard: the first byte goes, the rest is read again (it may
        // begin a download frame).
        ++m_ignored;
        refeed(lead, 1);
        return;
    }
    if (protocol == kPlain) {
        // No frame begins here: the first byte is text or raw data, and the bytes after it
        // are read again from the start.
        m_line.take(lead[0]);
        refeed(lead, 1);
        return;
    }
    m_active = decoderFor(protocol);
    m_active->begin();
    refeed(lead, 0);
}

void CommandInterpreter::refeed(const std::vector<uint8_t>& bytes, size_t from)
{
    // These bytes were taken already: they are read even where the printer stops reading
    // after them (a lead is shorter than any frame that makes it stop).
    while (from < bytes.size())
        from += step(bytes.data() + from, bytes.size() - from);
}

void CommandInterpreter::finish()
{
    if (!m_lead.empty())
        m_sink.event(SimEvent("incomplete").hex("bytes", m_lead));
    else if (m_active)
        m_active->finish();
    m_lead.clear();
    m_active = nullptr;
    m_line.end();
}

void CommandInterpreter::suspend()
{
    if (m_active == &m_nv && m_nv.suspend())
        m_active = nullptr;
}
