// The virtual printer's command interpreter: any byte stream a tool (or a capture) sends,
// fed whole and in the pieces a serial line, a USB node or a socket delivers.
#include "FuzzCheck.h"

#include "sim/CommandInterpreter.h"
#include "sim/PrinterState.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

struct Recorder final : InterpreterSink {
    std::vector<uint8_t> replies;
    std::vector<std::string> events;
    std::vector<std::string> other;
    void reply(const std::vector<uint8_t>& b) override { replies.insert(replies.end(), b.begin(), b.end()); }
    void event(SimEvent e) override { events.push_back(e.toJson()); }
    void restart(const std::string& r) override { other.push_back("restart " + r); }
    void asbEnabled(bool on) override { other.push_back(on ? "asb on" : "asb off"); }
    void flashWriting(const std::string& v) override { other.push_back("flash " + v); }
};

struct Run {
    Recorder sink;
    std::string state;
};

Run interpret(int family, const InterpreterFaults& faults, const std::vector<uint8_t>& stream,
              const std::vector<uint8_t>& cuts)
{
    Run run;
    PrinterState state(family);
    CommandInterpreter interpreter(state, run.sink, faults);
    size_t at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        size_t n = i < cuts.size() ? cuts[i] % 64 : stream.size() - at;
        n = std::min(n, stream.size() - at);
        interpreter.feed(stream.data() + at, n);
        at += n;
    }
    interpreter.finish();
    // What the printer keeps, in the form it stores it.
    for (int k = 0; k < 256; ++k) {
        auto reply = CommandInterpreter::settingReply(state, k);
        run.state.append(reply.begin(), reply.end());
    }
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int family = in.ConsumeIntegralInRange(1, 6);
    InterpreterFaults faults;
    faults.splitDle = in.ConsumeBool();
    faults.strayAck = in.ConsumeBool();
    faults.nakEvery = in.ConsumeIntegralInRange(0, 3);
    const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));
    const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

    // The printer reads a byte stream: how it is cut into reads changes nothing it does.
    Run whole = interpret(family, faults, stream, {});
    Run pieces = interpret(family, faults, stream, cuts);
    FUZZ_CHECK(whole.sink.replies == pieces.sink.replies);
    FUZZ_CHECK(whole.sink.events == pieces.sink.events);
    FUZZ_CHECK(whole.sink.other == pieces.sink.other);
    FUZZ_CHECK(whole.state == pieces.state);
    for (const auto& e : whole.sink.events)
        FUZZ_CHECK(!e.empty() && e.front() == '{' && e.back() == '}');
    return 0;
}
