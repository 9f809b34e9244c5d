#include "readers/BhFormat.h"

#include <algorithm>

#include "core/Endian.h"
#include "readers/plxUnLha.h"

bool DecodeBhHeader(const std::uint8_t* b, TBhHeader& h)
{
    h.HeaderLength = GetLE16(b + 4);
    h.Version = b[7];
    h.Version2 = b[8];
    h.Flags = b[9];
    h.Method = b[10];
    h.DosDateTime = GetLE32(b + 11);
    h.PackedSize = GetLE32(b + 15);
    h.UnpackedSize = GetLE32(b + 19);
    h.Crc = GetLE32(b + 23);
    h.Attributes = GetLE16(b + 27);
    h.NameLength = GetLE16(b + 33);
    h.ExtraLength = GetLE16(b + 35);
    return GetLE32(b) == kBhSignature && h.HeaderLength != 0;
}

void EncodeBhHeader(const TBhHeader& h, std::uint8_t* b)
{
    std::fill(b, b + kBhHeaderSize, std::uint8_t(0));
    PutLE32(b, kBhSignature);
    PutLE16(b + 4, h.HeaderLength);
    b[6] = kBhHeaderSize;
    b[7] = h.Version;
    b[8] = h.Version2;
    b[9] = h.Flags;
    b[10] = h.Method;
    PutLE32(b + 11, h.DosDateTime);
    PutLE32(b + 15, h.PackedSize);
    PutLE32(b + 19, h.UnpackedSize);
    PutLE32(b + 23, h.Crc);
    PutLE16(b + 27, h.Attributes);
    PutLE16(b + 33, h.NameLength);
    PutLE16(b + 35, h.ExtraLength);
}

THeaderStatus ReadBhHeader(const TReadAt& Read, std::int64_t Pos, TBhHeader& Header)
{
    std::uint8_t fixed[kBhHeaderSize];
    const std::int64_t got = Read(Pos, fixed, kBhHeaderSize);
    if (got <= 0) {
        // The file ends here, or a packed size sent the walk beyond it.
        std::uint8_t last;
        return Pos == 0 || Read(Pos - 1, &last, 1) == 1 ? THeaderStatus::End : THeaderStatus::Corrupt;
    }
    if (got < kBhHeaderSize)
        return THeaderStatus::Corrupt;
    Header = {};
    Header.Offset = Pos;
    if (!DecodeBhHeader(fixed, Header)) {
        // Only the closing header the writer adds (the signature and the base size, the rest zeros)
        // ends the archive: a length of 0 in a header that holds a member's fields is damage.
        const bool closing = GetLE32(fixed) == kBhSignature &&
                             std::all_of(fixed + 7, fixed + kBhHeaderSize, [](std::uint8_t b) { return b == 0; });
        return closing ? THeaderStatus::End : THeaderStatus::Corrupt;
    }
    Header.Name.resize(std::min<std::size_t>(Header.NameLength, kBhMaxNameLength));
    if (Read(Pos + kBhHeaderSize, Header.Name.data(), std::int64_t(Header.Name.size())) !=
        std::int64_t(Header.Name.size()))
        return THeaderStatus::Corrupt;
    return THeaderStatus::Header;
}

std::string BhNameToUtf8(const std::string& Stored)
{
    return LhaNameToUtf8(Stored);
}
