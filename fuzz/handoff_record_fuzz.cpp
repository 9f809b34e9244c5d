// The hand-off record the internet program sends back. The app library is not linked into fuzz
// targets, so its decoder is compiled in here.
#include "app/lib/HandOff.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto handOff = DecodeHandOffRecord(data, size)) {
        if (size < HandOffRecordSize)
            std::abort();
        TCutFields cut;
        const THandOffBytes bytes = EncodeHandOffRecord(*handOff, &cut);
        if (!DecodeHandOffRecord(bytes.data(), bytes.size()))
            std::abort();
    }
    return 0;
}
