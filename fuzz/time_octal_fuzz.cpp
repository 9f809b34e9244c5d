// DOS and Unix stamps and octal fields from arbitrary values: no raise, no crash, and octal
// fields read back what was written whenever they report that the value fit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/plxGbls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 13)
        return 0;
    std::uint32_t dos = 0;
    std::int64_t unix = 0;
    std::memcpy(&dos, data, 4);
    std::memcpy(&unix, data + 4, 8);
    const int width = data[12] % 24;

    const TDateTime fromDos = DosDateTimeToDateTime(dos);
    if (!(fromDos >= 29221.0 && fromDos < 29221.0 + 128 * 366.0))
        std::abort();
    (void)UnixToDateTime(unix);

    char field[24];
    if (IntToOctalField(std::uint64_t(unix), width, (data[12] & 0x80) != 0, '0', field)) {
        bool overflow = true;
        if (OctalToInt(std::string_view(field, std::size_t(width)), &overflow) != std::uint64_t(unix) || overflow)
            std::abort();
    }
    bool overflow = false;
    (void)OctalToInt(std::string_view(reinterpret_cast<const char*>(data + 13), size - 13), &overflow);
    return 0;
}
