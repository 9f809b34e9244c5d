// The WM_COPYDATA request that other programs send us. The app library is not linked into fuzz
// targets, so its decoder is compiled in here.
#include "app/lib/RequestRecord.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto request = DecodeRequestRecord(data, size)) {
        if (size < RequestRecordSize)
            std::abort();
        // What we decoded must encode again and decode to the same strings (they were clamped once).
        const TRequestBytes bytes = EncodeRequestRecord(*request);
        const auto again = DecodeRequestRecord(bytes.data(), bytes.size());
        if (!again || again->Mode != request->Mode)
            std::abort();
    }
    return 0;
}
