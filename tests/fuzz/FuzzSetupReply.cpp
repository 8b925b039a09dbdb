// The printer's answers to a setup read: the byte-fed reply parser, the value codec that
// turns replies into the form, and the form's round trip through snapshot text.
#include "FuzzCheck.h"

#include "setup/SetupReplyParser.h"
#include "setup/SetupSnapshot.h"
#include "setup/SetupTextSlots.h"
#include "setup/SetupValueCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const ModelFamily family = familyOfNumber(1 + data[0] % 6);
    SetupReplyParser parser;
    SetupTextSlots slots;
    SetupOptions form;
    for (size_t i = 1; i < size; ++i) {
        auto reply = parser.feed(data[i]);
        if (!reply)
            continue;
        // A frame ends at its terminator, so a reply never holds one.
        FUZZ_CHECK(data[i] == 0x00);
        FUZZ_CHECK(reply->number >= 0 && reply->number <= 255);
        FUZZ_CHECK(int(reply->data.size()) <= SetupReplyParser::kMaxDataLength);
        FUZZ_CHECK(reply->data.find('\0') == std::string::npos);
        if (auto margin = decodeMargin(reply->data))
            FUZZ_CHECK(*margin >= 0 && *margin <= 576);
        if (auto code = dispatchReply(*reply, slots))
            (void)applySetupValue(form, reply->number, *code, slots, family);
    }

    // Whatever the printer made the form show, its snapshot text reads back as the same
    // form: what `setup get --save` writes, `setup set --from` applies unchanged.
    const SnapshotLines lines = snapshotOf(form, family);
    SetupOptions again;
    for (const auto& [key, value] : lines)
        FUZZ_CHECK(applySnapshotValue(again, key, value, family).ok());
    FUZZ_CHECK(snapshotOf(again, family) == lines);
    return 0;
}
