// The cabinet extractor (and the cabinet library under it) over arbitrary files: each run must
// end after its reports, and an extraction writes nothing outside its folder. The first byte
// picks test or extraction; the rest is the cabinet.
#include "fuzz/ExtractFuzz.h"
#include "readers/plxUnCab.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    fuzzsupport::ExtractInPrivateFolder("in.cab", data + 1, size - 1, [&](const auto& archive, const auto& out) {
        TUnCab un;
        fuzzsupport::RunExtractor(un, archive, out, data[0] & 1);
    });
    return 0;
}
