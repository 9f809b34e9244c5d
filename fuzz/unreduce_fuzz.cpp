// ZIP methods 2 to 5 over arbitrary bytes: no crash, no endless reading, nothing past the declared size.
#include "fuzz/ZipLegacyFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Two of the flag bits the driver takes from the third byte pick the compression factor.
    const int method = size >= 3 ? 2 + ((data[2] >> 4) & 3) : 5;
    return zip_legacy_fuzz::Run(method, data, size);
}
