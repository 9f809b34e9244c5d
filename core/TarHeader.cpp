#include "core/TarHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int ChecksumOffset = 148;
constexpr int ChecksumWidth = 8;
// Sizes and offsets stay far below the int64 range so that rounding and adding cannot overflow.
constexpr std::int64_t MaxFieldValue = std::int64_t(1) << 62;

std::int64_t RoundUpToBlock(std::int64_t n) { return (n + TarBlockSize - 1) / TarBlockSize * TarBlockSize; }

std::string TextField(const std::uint8_t* field, int width) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(field, 0, width));
    return std::string(reinterpret_cast<const char*>(field), end ? end - field : width);
}

}  // namespace

std::uint32_t TarHeaderChecksum(const std::uint8_t* Header) {
    std::uint32_t sum = 0;
    for (int i = 0; i < TarBlockSize; ++i)
        sum += (i >= ChecksumOffset && i < ChecksumOffset + ChecksumWidth) ? 0x20 : Header[i];
    return sum;
}

std::optional<std::int64_t> TarNumericField(const std::uint8_t* Field, int Width) {
    std::int64_t value = 0;
    if (Field[0] & 0x80) {
        if (Field[0] != 0x80) return std::nullopt;  // negative (0xFF) or beyond 2^62
        for (int i = 1; i < Width; ++i) {
            if (value >= MaxFieldValue >> 8) return std::nullopt;
            value = value << 8 | Field[i];
        }
        return value;
    }
    for (int i = 0; i < Width; ++i) {
        if (Field[i] < '0' || Field[i] > '7') continue;
        if (value >= MaxFieldValue >> 3) return std::nullopt;
        value = value << 3 | (Field[i] - '0');
    }
    return value;
}

bool TarHeaderValid(const std::uint8_t* Header) {
    auto stored = TarNumericField(Header + ChecksumOffset, ChecksumWidth);
    return stored && *stored == TarHeaderChecksum(Header);
}

bool ReadTarHeader(const TTarBlockReader& Read, std::int64_t ArchiveSize, std::int64_t& Offset,
                   std::string& LongName, TTarHeaderInfo& Info) {
    std::uint8_t header[TarBlockSize];
    if (Offset < 0 || Offset > MaxFieldValue || Read(Offset, header, TarBlockSize) != TarBlockSize ||
        !TarHeaderValid(header))
        return false;
    auto size = TarNumericField(header + 124, 12);
    if (!size) return false;

    Info = TTarHeaderInfo();
    Info.HeaderOffset = Offset;
    Info.DataOffset = Offset + TarBlockSize;
    Info.Size = *size;
    Info.TypeFlag = char(header[156]);
    Info.Mode = std::uint32_t(TarNumericField(header + 100, 8).value_or(0) & 0xFFFFFFFF);
    Info.MTime = TarNumericField(header + 136, 12).value_or(0);
    std::string name = TextField(header, 100);

    // Only a nameless empty header ends the walk; an empty file with mode 0 is a member.
    if (name.empty() && Info.Size == 0) {
        Offset = ArchiveSize;
        return false;
    }
    Offset = Info.DataOffset + RoundUpToBlock(Info.Size);

    if (Info.TypeFlag == 'L') {
        Info.Kind = TTarHeaderKind::LongName;
        std::int64_t want = std::min<std::int64_t>(Info.Size, TarMaxLongName);
        std::string text(std::size_t(want), '\0');
        if (Read(Info.DataOffset, text.data(), want) != want) return false;
        LongName = text.substr(0, text.find('\0'));
        return true;
    }
    if (name.empty()) {
        Info.Kind = TTarHeaderKind::Nameless;
        LongName.clear();
        return true;
    }
    if (!LongName.empty() && LongName.compare(0, 100, name) == 0) name = LongName;
    LongName.clear();
    std::replace(name.begin(), name.end(), '/', '\\');
    Info.FileName = std::move(name);
    return true;
}
