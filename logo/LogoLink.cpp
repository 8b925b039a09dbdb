#include "logo/LogoLink.h"

namespace logo_link {

IoResult send(PrinterConnection& c, std::span<const uint8_t> bytes)
{
    return c.write(bytes, c.traits().writeDeadline(bytes.size()));
}

IoResult printerCheck(PrinterConnection& c)
{
    const auto request = logo_frames::printerCheck();
    IoResult r = send(c, request);
    if (!r.ok())
        return r.context("printer check");
    if (c.canAnswer()) {
        uint8_t answer[1];
        // Whatever comes (or nothing) is fine: the answer is not evaluated. A hang-up shows
        // at the next write.
        (void)c.readFor(answer, kCheckAnswerWait);
    }
    return IoResult::done();
}

} // namespace logo_link
