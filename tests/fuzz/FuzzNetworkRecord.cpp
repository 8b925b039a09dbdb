// Datagrams on the network module's settings port: the 35-byte record as the virtual
// printer's module reads it, and what it keeps in its state file afterwards.
#include "FuzzCheck.h"

#include "sim/NetworkRecord.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

NetworkRecord startRecord()
{
    NetworkRecord r;
    r.ip = {127, 0, 0, 1};
    r.mask = {255, 0, 0, 0};
    r.gateway = {127, 0, 0, 1};
    r.mac = {0x02, 0x5C, 0x3A, 0x00, 0x00, 0x01};
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    NetworkResponder module(startRecord());
    while (in.remaining_bytes() > 0) {
        const uint8_t shape = in.ConsumeIntegral<uint8_t>();
        std::vector<uint8_t> datagram =
            in.ConsumeBytes<uint8_t>(shape & 0x80 ? in.ConsumeIntegralInRange<size_t>(0, 40) : NetworkRecord::kSize);
        // Most datagrams carry the markers and this module's MAC, so the fuzzer reaches the
        // set and apply paths without guessing eight bytes.
        if ((shape & 0x03) != 0 && datagram.size() == NetworkRecord::kSize) {
            datagram[0] = datagram[1] = 0xAA;
            datagram[33] = datagram[34] = 0x55;
            if (shape & 0x02)
                std::copy(module.record().mac.begin(), module.record().mac.end(), datagram.begin() + 15);
            if (shape & 0x04)
                datagram[2] = shape & 0x08 ? 0x04 : 0x02;
        }

        uint8_t command = 0xFF;
        if (auto record = NetworkRecord::decode(datagram, &command)) {
            FUZZ_CHECK(datagram.size() == NetworkRecord::kSize);
            // A record decodes to what encodes it.
            uint8_t again = 0xFF;
            auto back = NetworkRecord::decode(record->encode(command), &again);
            FUZZ_CHECK(back && again == command && back->encode(command) == record->encode(command));
        }

        auto outcome = module.handle(datagram);
        FUZZ_CHECK(!outcome.what.empty());
        if (outcome.reply) {
            uint8_t replyCommand = 0xFF;
            FUZZ_CHECK(NetworkRecord::decode(*outcome.reply, &replyCommand).has_value());
        }
        // Whatever the module took, its state file can load again.
        const std::string line = module.record().toLine();
        auto loaded = NetworkRecord::fromLine(line);
        FUZZ_CHECK(loaded.has_value());
        FUZZ_CHECK(loaded->encode(0) == module.record().encode(0));
    }
    return 0;
}
