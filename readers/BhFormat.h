// BH member headers: the one parser behind the listing, the extractor and the writer's walk over
// an old archive, and the one encoder of the writer. A member is 37 fixed bytes, the name (OEM),
// an optional extra block and the packed data; there is no directory and no end record.
#pragma once

#include <cstdint>
#include <string>

#include "readers/LhaFormat.h"

inline constexpr std::uint32_t kBhSignature = 0x07054842;  // "BH" 05 07
inline constexpr int kBhHeaderSize = 37;
inline constexpr std::size_t kBhMaxNameLength = 32767;  // what a reader keeps of a name
// A first version byte from here on: encrypted stored data are enciphered and the data keys run on
// from the encryption header, as our writer does it.
inline constexpr std::uint8_t kBhCurrentVersion = 3;

struct TBhHeader {
    std::int64_t Offset = 0;  // of the header's first byte
    std::uint16_t HeaderLength = 0;
    std::uint8_t Version = 0;
    std::uint8_t Version2 = 0;
    std::uint8_t Flags = 0;   // bit 0: encrypted; bits 1-2: deflate options
    std::uint8_t Method = 0;  // 0 stored, 1 and 3 static Huffman, 2 and 8 deflate, 12 bzip2
    std::uint32_t DosDateTime = 0;
    std::uint32_t PackedSize = 0;  // with the 12-byte encryption header
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Crc = 0;
    std::uint16_t Attributes = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::string Name;  // stored bytes, at most kBhMaxNameLength

    bool Encrypted() const { return (Flags & 1) != 0; }
    std::int64_t DataOffset() const { return Offset + kBhHeaderSize + NameLength + ExtraLength; }
    std::int64_t NextOffset() const { return DataOffset() + PackedSize; }
    // The packed data without the encryption header.
    std::int64_t DataSize() const { return Encrypted() && PackedSize >= 12 ? PackedSize - 12 : PackedSize; }
};

// The fixed part of a header; false unless it starts with the signature and a header length.
bool DecodeBhHeader(const std::uint8_t* Bytes, TBhHeader& Header);
void EncodeBhHeader(const TBhHeader& Header, std::uint8_t* Bytes);

// End: the end of the file, or a header length of 0. Corrupt: bytes that are no header, or a
// header whose name is cut short.
THeaderStatus ReadBhHeader(const TReadAt& Read, std::int64_t Pos, TBhHeader& Header);

// A stored name in the program's form: UTF-8 (OEM bytes converted), "\" separators.
std::string BhNameToUtf8(const std::string& Stored);
