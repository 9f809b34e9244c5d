// Short method texts for the listing's method column.
#pragma once

#include <cstdint>
#include <string>

#include "core/plxConsts.h"

// What the method text may depend on besides the method number.
struct TMethodEntryFacts {
    std::uint8_t HeaderType = 0;      // ARC: the header type byte (30 for a folder)
    std::uint8_t FileType = 0;        // ARJ: the file type (3 for a folder)
    std::uint32_t Attributes = 0;     // 0x10 marks a folder
    std::uint8_t FirstBytes[2] = {};  // GZip family: the member's first two bytes
    int AesMethod = -1;               // ZIP method 99: the real method of the AES extra block
    std::string FileName;             // TAR: a name without a file part is a folder
};

// "Unsupported" unless the archive type knows the method.
std::string GetMethodName(TArcType ArcType, std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);

// Each format's namer, as its descriptor holds it.
std::string AceMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string ArcMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string ArjMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string BhMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string Bz2MethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string CabMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string GzipMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string HaMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string LhaMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string PakMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string RarMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string TarMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string ZipMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
std::string ZooMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);
