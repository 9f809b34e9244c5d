// One descriptor per archive format: the types detection answers for it, their names and what
// the engine does with each, the file extensions, the tests of its first bytes and the names of
// its methods. Every table that used to know the types reads these rows. The classes that list,
// extract and write a format sit in layers above the core; their factories are found by the
// descriptor's key (readers/FormatReaders.h, writers/FormatWriters.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/plxConsts.h"

struct TMethodEntryFacts;

// What the engine does with an archive type; a set of bits.
using TArcTypeFlags = std::uint16_t;
namespace arcflag {
constexpr TArcTypeFlags Test = 1 << 0;         // the integrity test decodes every member
constexpr TArcTypeFlags Check = 1 << 1;        // the check of stored sizes and checksums
constexpr TArcTypeFlags Create = 1 << 2;       // a writer makes new archives of it
constexpr TArcTypeFlags Update = 1 << 3;       // its own writer adds to and deletes from it in place
constexpr TArcTypeFlags Encrypt = 1 << 4;      // a writer encrypts its members
constexpr TArcTypeFlags ZipCipher = 1 << 5;    // members read through the ZIP traditional cipher
constexpr TArcTypeFlags ZipRecords = 1 << 6;   // ZIP's local, central and end records
constexpr TArcTypeFlags WholeFile = 1 << 7;    // one ZIP or JAR file: no set of volumes
constexpr TArcTypeFlags SelfExtract = 1 << 8;  // inside an executable
constexpr TArcTypeFlags OpensItself = 1 << 9;  // its library opens the archive by name
constexpr TArcTypeFlags Comment = 1 << 10;     // the archive comment can be written
constexpr TArcTypeFlags Split = 1 << 11;       // can be written as a set of volumes
}  // namespace arcflag

// One value of TArcType.
struct TArcTypeRow {
    TArcType Type;
    std::string_view Id;       // the enumerator's name, as plxtool prints and takes it
    std::string_view Display;  // the listing's type column, blank-padded
    TArcTypeFlags Flags = 0;
    char VolumeLetter = 0;            // first letter of a numbered volume's extension
    std::string_view VolumeExt = {};  // the volume extension of a name that has none
    int FirstVolume = 0;              // the number after a name without digits
};

// A test of the first four bytes of an archive (little-endian: the first byte lowest). Tests run
// by ascending Rank across all formats, the first that matches answers.
struct TArcSignature {
    int Rank;
    bool (*Matches)(std::uint32_t Dword);
    TArcType Plain;                 // at the start of a file
    TArcType InExe;                 // inside an executable; atUnsupported where the format has no self-extractor
    std::int64_t PlainOffset = -1;  // the archive offset the signature implies, if any
    std::int64_t ExeOffset = -1;
};

using TMethodNamer = std::string (*)(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry);

struct TArcDescriptor {
    std::string_view Key;  // "zip", "lha": what the factories of the upper layers are found by
    std::span<const TArcTypeRow> Types;
    std::span<const std::string_view> Extensions;  // lower case, with the dot
    std::span<const TArcSignature> Signatures;
    TMethodNamer MethodName = nullptr;  // null: every method is "Unsupported"
};

// Every format, in a fixed order.
std::span<const TArcDescriptor> ArcDescriptors();
// The format of Type; null for atNA, atUnsupported, atFileOpenErr, atUnknown.
const TArcDescriptor* DescriptorOf(TArcType Type);
// The descriptor by key; null for an unknown key.
const TArcDescriptor* DescriptorByKey(std::string_view Key);
// The descriptor that names Extension (".lzh"); null when none does.
const TArcDescriptor* DescriptorByExtension(std::string_view Extension);
// The row of any declared type, the pseudo types included; null outside the enumeration.
const TArcTypeRow* ArcTypeRowOf(TArcType Type);
// Type's flags; 0 for the pseudo types and values outside the enumeration.
TArcTypeFlags ArcTypeFlags(TArcType Type);
inline bool HasArcFlag(TArcType Type, TArcTypeFlags Flag)
{
    return (ArcTypeFlags(Type) & Flag) != 0;
}
// The type whose Id is Name ("atZip"), the pseudo types included.
bool ArcTypeById(std::string_view Name, TArcType& Type);
// Every signature of every format, by rank.
std::span<const TArcSignature> ArcSignaturesByRank();
