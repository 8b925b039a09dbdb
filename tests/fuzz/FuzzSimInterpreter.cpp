// The virtual printer's command interpreter: any byte stream a tool (or a capture) sends,
// fed whole and in the pieces a serial line, a USB node or a socket delivers.
#include "FuzzCheck.h"

#include "sim/CommandInterpreter.h"
#include "sim/PrinterState.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

namespace {

std::string unquoted(const std::string& json)
{
    return json.size() >= 2 && json.front() == '"' && json.back() == '"' ? json.substr(1, json.size() - 2) : json;
}

// Plain text and stray bytes are reported per read (a run ends where the read ends), so they
// are compared as one stream each; every other event must come whole and in order.
struct Recorder final : InterpreterSink {
    std::vector<uint8_t> replies;
    std::vector<std::string> events;
    std::string rawBytes, text;
    std::vector<std::string> looks;
    std::vector<std::string> other;
    void reply(const std::vector<uint8_t>& b) override { replies.insert(replies.end(), b.begin(), b.end()); }
    void event(SimEvent e) override
    {
        FUZZ_CHECK(!e.toJson().empty() && e.toJson().front() == '{' && e.toJson().back() == '}');
        FUZZ_CHECK(nlohmann::json::accept(e.toJson())); // whatever bytes came in
        if (e.cmd() == "raw")
            rawBytes += unquoted(e.field("bytes")) + " ";
        else if (e.cmd() == "text") {
            text += unquoted(e.field("text"));
            // A line may be reported in parts; the look of consecutive parts is one entry.
            const std::string look = e.field("color") + e.field("align") + e.field("eol");
            if (looks.empty() || looks.back() != look)
                looks.push_back(look);
        }
        else
            events.push_back(e.toJson());
    }
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
    FUZZ_CHECK(whole.sink.rawBytes == pieces.sink.rawBytes);
    FUZZ_CHECK(whole.sink.text == pieces.sink.text);
    FUZZ_CHECK(whole.sink.looks == pieces.sink.looks);
    FUZZ_CHECK(whole.sink.other == pieces.sink.other);
    FUZZ_CHECK(whole.state == pieces.state);
    return 0;
}
