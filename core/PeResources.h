// String resources of a Windows executable, read from its bytes as data: no loader, nothing run.
// Self-extractors keep the offset of their archive there. Every offset, count and size the image
// states is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ByteIO.h"

class TPeStringResources {
public:
    // False when the bytes are no PE image or it has no string table.
    bool Load(const TReadAt& Read, std::int64_t Size);
    // As the system's LoadStringA with a buffer of BufferChars characters: at most BufferChars - 1
    // characters, those beyond ASCII read as "?"; empty when the string is missing.
    std::string LoadString(unsigned Id, int BufferChars) const;

private:
    struct TSection {
        std::uint32_t VirtualAddress = 0;
        std::uint32_t VirtualSize = 0;
        std::uint32_t RawSize = 0;
        std::uint32_t RawPointer = 0;
    };
    using TEntries = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // (id, offset and flag)

    std::int64_t RvaToOffset(std::uint64_t Rva, std::uint32_t Count) const;
    bool ReadAt(std::int64_t Offset, void* Buffer, std::uint32_t Count) const;
    bool ReadRva(std::uint64_t Rva, void* Buffer, std::uint32_t Count) const;
    // The numbered entries of the directory at DirOffset inside the resource section.
    bool ReadDirectory(std::uint32_t DirOffset, TEntries& Entries) const;
    // The offset (with its subdirectory flag) of entry Id, or of the first numbered entry when AnyId.
    bool FindEntry(std::uint32_t DirOffset, std::uint32_t Id, bool AnyId, std::uint32_t& Found) const;

    TReadAt FRead;
    std::int64_t FSize = 0;
    std::vector<TSection> FSections;
    std::uint32_t FResourceRva = 0;
    std::uint32_t FStringDir = 0;  // the string table's directory inside the resource section
};
