// Bytes from a parallel printer: automatic status reports (ASB) kept apart from the data,
// in whatever pieces the read thread gets them.
#include "FuzzCheck.h"

#include "app/CErrorLog.h"
#include "port/ParPortCtl.h"
#include "TestClock.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

std::vector<uint8_t> drain(ParPortCtl& par)
{
    std::vector<uint8_t> out;
    for (int status = 1;;) {
        uint8_t b = par.PopByte(status);
        if (status != 1)
            return out;
        out.push_back(b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const size_t pieceSize = in.ConsumeIntegralInRange<size_t>(1, 600);
    const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

    TestClock clock;
    CErrorLog log(&clock);
    ParPortCtl par(log, clock);
    size_t taken = 0;
    bool full = false;
    for (size_t at = 0; at < stream.size() && !full; at += pieceSize) {
        const size_t n = std::min(pieceSize, stream.size() - at);
        full = !par.ProcessReceived(stream.data() + at, int(n));
        taken = at + n;
        // A report is stored only when it has the status pattern.
        const auto asb = par.GetAsb();
        if (asb != std::array<uint8_t, 4>{})
            FUZZ_CHECK(ParPortCtl::IsAsbReport(asb.data(), 4, 0));
    }
    // The queue holds at most its 4095 bytes; a full one is reported, never overrun.
    FUZZ_CHECK(par.QueueCount() <= 4095);
    FUZZ_CHECK(!full || par.QueueCount() == 4095);
    const std::vector<uint8_t> kept = drain(par);

    // The data handed on is the stream less what was taken as reports, in order: a
    // subsequence of what was read, and, when everything fitted, shorter by whole reports.
    FUZZ_CHECK(kept.size() <= taken);
    if (!full)
        FUZZ_CHECK((taken - kept.size()) % 4 == 0);
    size_t j = 0;
    for (size_t i = 0; i < taken && j < kept.size(); ++i)
        if (stream[i] == kept[j])
            ++j;
    FUZZ_CHECK(j == kept.size());
    return 0;
}
