// Masks and names from arbitrary bytes: compiling may refuse a mask, matching must not crash or hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/plxGbls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view mask = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    try {
        TInternalMask compiled(mask);
        compiled.Matches(name);
    } catch (const EInvalidMask&) {
    }
    return 0;
}
