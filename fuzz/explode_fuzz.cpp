// ZIP method 6 over arbitrary bytes: no crash, no endless reading, nothing past the declared size.
#include "fuzz/ZipLegacyFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return zip_legacy_fuzz::Run(6, data, size);
}
