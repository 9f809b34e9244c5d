// The RAR extractor over arbitrary files through our RAR library: each run must end after its
// reports, and an extraction writes nothing outside its folder. The first byte picks test or
// extraction; the rest is the archive.
#include "fuzz/ExtractFuzz.h"
#include "readers/plxUnRar.h"

// The library decodes RAR 5 members with libarchive, whose reader asks malloc for sizes near 2^64
// on some damaged members and then fails the member cleanly when it gets none; it gets none here
// too. A C++ allocation that fails still ends the run.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    fuzzsupport::ExtractInPrivateFolder("in.rar", data + 1, size - 1, [&](const auto& archive, const auto& out) {
        TUnRar un;
        fuzzsupport::RunExtractor(un, archive, out, data[0] & 1);
    });
    return 0;
}
