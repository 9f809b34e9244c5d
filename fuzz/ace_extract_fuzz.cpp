// The ACE extractor over arbitrary files through our ACE library: each run must end after its
// reports, and an extraction writes nothing outside its folder. The first byte picks test or
// extraction; the rest is the archive. A password is set, so enciphered members are deciphered,
// and a request for a further volume is answered (there is none).
#include "fuzz/ExtractFuzz.h"
#include "platform/win/Library.h"
#include "readers/plxUnAce.h"

// The extractor loads and frees its library per run; one reference held here keeps the
// instrumented library mapped, so the fuzzer's coverage counters stay valid.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    LoadLibraryA("plxunace26.dll");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    fuzzsupport::ExtractInPrivateFolder("in.ace", data + 1, size - 1, [&](const auto& archive, const auto& out) {
        TUnACE un;
        un.SetPassword("fuzz");
        un.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
        fuzzsupport::RunExtractor(un, archive, out, data[0] & 1);
    });
    return 0;
}
