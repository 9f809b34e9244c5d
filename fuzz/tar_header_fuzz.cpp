// The tar header walk over arbitrary bytes: every turn must move forward and stay bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/TarHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archiveSize = std::int64_t(size);
    TTarBlockReader read = [&](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || offset >= archiveSize || count < 0) return 0;
        const std::int64_t n = std::min(count, archiveSize - offset);
        std::memcpy(buffer, data + offset, std::size_t(n));
        return n;
    };
    std::int64_t offset = 0;
    std::string longName;
    TTarHeaderInfo info;
    while (true) {
        const std::int64_t before = offset;
        if (!ReadTarHeader(read, archiveSize, offset, longName, info)) break;
        if (offset <= before || longName.size() > std::size_t(TarMaxLongName)) std::abort();
    }
    return 0;
}
