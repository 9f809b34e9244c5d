// The archive formats. A new format adds its enumerators to TArcType and one descriptor here, then
// its reader and writer rows (readers/FormatReaders.cpp, writers/FormatWriters.cpp).
#include "core/ArcDescriptor.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/MethodName.h"

namespace {

using namespace arcflag;

constexpr std::uint8_t Byte(std::uint32_t Dword, int Index)
{
    return std::uint8_t(Dword >> (8 * Index));
}

constexpr std::uint32_t Dword(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16 |
           std::uint32_t(std::uint8_t(d)) << 24;
}

// The ARC self-extractor's stub length, implied by the signatures that find its code.
constexpr std::int64_t kArcStubOffset = 7716;

// Shared by ZIP and JAR: what reading ZIP records gives.
constexpr TArcTypeFlags kZipRead = Test | Check | ZipCipher | ZipRecords;
constexpr TArcTypeFlags kTestCheck = Test | Check;

// --- Types the detection answers when it finds no format ---

constexpr TArcTypeRow kNoFormat[] = {
    {atNA, "atNA", "Not avail. "},
    {atUnsupported, "atUnsupported", "Unsupport."},
    {atFileOpenErr, "atFileOpenErr", "File Error"},
    {atUnknown, "atUnknown", "Unknown   "},
};

constexpr TArcSignature kRefused[] = {
    {20, [](std::uint32_t d) { return d == Dword('P', 'K', 'G', '5'); }, atUnknown, atUnknown},
    {149,
     [](std::uint32_t d) {
         const bool pk = Byte(d, 0) == 'P' && Byte(d, 1) >= 'K' && Byte(d, 1) <= 'N';
         return pk && ((Byte(d, 2) == 'G' && Byte(d, 3) == '4') || (Byte(d, 2) == 'C' && Byte(d, 3) == 'I'));
     },
     atNA, atNA},
};

// --- The formats ---

constexpr TArcTypeRow kAceTypes[] = {
    {atAce, "atAce", "ACE       ", kTestCheck | OpensItself, 'C', "Ace"},
    {atAceExe, "atAceExe", "ACE SFX   ", kTestCheck | OpensItself | SelfExtract, 'C'},
};
constexpr std::string_view kAceExt[] = {".ace"};

constexpr TArcTypeRow kArcTypes[] = {
    {atArc, "atArc", "ARC       ", kTestCheck},
    {atArcExe, "atArcExe", "ARC SFX   ", kTestCheck | SelfExtract},
};
constexpr std::string_view kArcExt[] = {".arc"};
constexpr TArcSignature kArcSignatures[] = {
    {40, [](std::uint32_t d) { return d == Dword('\xB7', '\xDF', '\x54', '\x57'); }, atArc, atArcExe, -1,
     kArcStubOffset},
    {100, [](std::uint32_t d) { return Byte(d, 0) == 0xB7 && (Byte(d, 1) == 0xDF || Byte(d, 1) == 0x92); }, atArcExe,
     atArcExe, kArcStubOffset, kArcStubOffset},
    // Methods 1 to 7 open ordinary archives too (the first member packed or squeezed).
    {130,
     [](std::uint32_t d) {
         return Byte(d, 0) == 0x1A && (Byte(d, 1) == 0x1E || (Byte(d, 1) >= 0x01 && Byte(d, 1) <= 0x07));
     },
     atArc, atUnsupported},
    {131, [](std::uint32_t d) { return Byte(d, 0) == 0x1A && (Byte(d, 1) == 0x08 || Byte(d, 1) == 0x09); }, atArc,
     atArcExe},
};

constexpr TArcTypeRow kPakTypes[] = {
    {atPak, "atPak", "PAK       "},
    {atPakExe, "atPakExe", "PAK SFX   ", SelfExtract},
};
constexpr std::string_view kPakExt[] = {".pak"};
constexpr TArcSignature kPakSignatures[] = {
    {132, [](std::uint32_t d) { return Byte(d, 0) == 0x1A && (Byte(d, 1) == 0x0A || Byte(d, 1) == 0x0B); }, atPak,
     atPakExe},
};

constexpr TArcTypeRow kArjTypes[] = {
    {atArj, "atArj", "ARJ       ", kTestCheck, 'a', "Arj", 1},
    {atArjExe, "atArjExe", "ARJ SFX   ", kTestCheck | SelfExtract, 'a'},
};
constexpr std::string_view kArjExt[] = {".arj"};
constexpr TArcSignature kArjSignatures[] = {
    {110, [](std::uint32_t d) { return Byte(d, 0) == 0x60 && Byte(d, 1) == 0xEA; }, atArj, atArjExe},
};

constexpr TArcTypeRow kBhTypes[] = {
    {atBh, "atBh", "BH        ", kTestCheck | Create | Update | Encrypt | ZipCipher},
    {atBhExe, "atBhExe", "BH  SFX   ", kTestCheck | ZipCipher | SelfExtract},
};
constexpr std::string_view kBhExt[] = {".bh"};
constexpr TArcSignature kBhSignatures[] = {
    {60, [](std::uint32_t d) { return d == Dword('B', 'H', '\x05', '\x07'); }, atBh, atBhExe},
};

// A bzip2 stream is told by its block header, past the first four bytes (core/ArcType.cpp).
constexpr TArcTypeRow kBz2Types[] = {
    {atBz2, "atBz2", "BZ2       ", kTestCheck | Create},
};
constexpr std::string_view kBz2Ext[] = {".bz2", ".bz", ".bzip"};

constexpr TArcTypeRow kCabTypes[] = {
    {atCab, "atCab", "CAB       ", Test | Create | OpensItself},
    {atCabExe, "atCabExe", "CAB SFX   ", Test | OpensItself | SelfExtract},
};
constexpr std::string_view kCabExt[] = {".cab"};
constexpr TArcSignature kCabSignatures[] = {
    {30, [](std::uint32_t d) { return d == Dword('M', 'S', 'C', 'F'); }, atCab, atCabExe},
};

constexpr TArcTypeRow kGzipTypes[] = {
    {atGZip, "atGZip", "GZip      ", kTestCheck | Create},
};
constexpr std::string_view kGzipExt[] = {".gz"};
constexpr TArcSignature kGzipSignatures[] = {
    {90,
     [](std::uint32_t d) {
         const std::uint16_t w = std::uint16_t(d & 0xFFFF);
         return w == 0x9E1F || w == 0xA01F || w == 0x9D1F || w == 0x8B1F || w == 0x1E1F || w == 0x2125;
     },
     atGZip, atUnsupported},
};

constexpr TArcTypeRow kHaTypes[] = {
    {atHA, "atHA", "HA        "},
};
constexpr std::string_view kHaExt[] = {".ha"};
constexpr TArcSignature kHaSignatures[] = {
    {140, [](std::uint32_t d) { return Byte(d, 0) == 'H' && Byte(d, 1) == 'A'; }, atHA, atUnsupported},
};

// A ZIP archive named .jar (core/ArcType.cpp).
constexpr TArcTypeRow kJarTypes[] = {
    {atJar, "atJar", "Java JAR  ", kZipRead | WholeFile | Create | Update | Encrypt | Comment | Split, 'j', "Jar"},
    {atJarExe, "atJarExe", "JAR SFX   ",
     Check | ZipCipher | ZipRecords | WholeFile | Update | Comment | Split | SelfExtract, 'j', "Jar"},
};
constexpr std::string_view kJarExt[] = {".jar"};

constexpr TArcTypeRow kLhaTypes[] = {
    {atLha, "atLha", "LHA       ", kTestCheck | Create | Update},
    {atLhaExe, "atLhaExe", "LHA SFX   ", kTestCheck | SelfExtract},
    {atLzh, "atLzh", "LZH       ", kTestCheck | Create | Update},
    {atLzhExe, "atLzhExe", "LZH SFX   ", kTestCheck | SelfExtract},
};
constexpr std::string_view kLhaExt[] = {".lha", ".lzh"};
constexpr TArcSignature kLhaSignatures[] = {
    {80, [](std::uint32_t d) { return Byte(d, 2) == '-' && Byte(d, 3) == 'l'; }, atLha, atLhaExe},
};

constexpr TArcTypeRow kMsGZTypes[] = {
    {atMsGZ, "atMsGZ", "MsGZ      "},
};
constexpr TArcSignature kMsGZSignatures[] = {
    {50, [](std::uint32_t d) { return d == Dword('\x13', '\x5D', '\x65', '\x8C'); }, atMsGZ, atUnsupported},
};

constexpr TArcTypeRow kRarTypes[] = {
    {atRar, "atRar", "RAR       ", kTestCheck | OpensItself},
    {atRarExe, "atRarExe", "RAR SFX   ", kTestCheck | OpensItself | SelfExtract},
};
constexpr std::string_view kRarExt[] = {".rar"};
constexpr TArcSignature kRarSignatures[] = {
    {10, [](std::uint32_t d) { return d == Dword('R', 'a', 'r', '!'); }, atRar, atRarExe},
};

// TAR is told by its header checksum (core/ArcType.cpp).
constexpr TArcTypeRow kTarTypes[] = {
    {atTar, "atTar", "TAR       ", kTestCheck | Create | Update},
};
constexpr std::string_view kTarExt[] = {".tar"};

// Written only: reading one finds the GZip or bzip2 stream around the TAR.
constexpr TArcTypeRow kTgzTypes[] = {
    {atTarGz, "atTarGz", "TarGzip   ", Test | Create},
};
constexpr std::string_view kTgzExt[] = {".tgz"};
constexpr TArcTypeRow kTbzTypes[] = {
    {atTarBz, "atTarBz", "TarBzip   ", Test | Create},
};
constexpr std::string_view kTbzExt[] = {".tbz"};

// Text that carries a file announces itself in its first lines (core/EncodedText.h).
constexpr TArcTypeRow kEncodedTextTypes[] = {
    {atB64, "atB64", "Base64    ", kTestCheck},
    {atUUE, "atUUE", "UUE       ", kTestCheck},
};
constexpr std::string_view kEncodedTextExt[] = {".uue", ".uu", ".xxe", ".b64"};

constexpr TArcTypeRow kZipTypes[] = {
    {atZip, "atZip", "ZIP       ", kZipRead | WholeFile | Create | Update | Encrypt | Comment | Split},
    {atZipExe, "atZipExe", "ZIP SFX   ", kZipRead | WholeFile | Update | Comment | Split | SelfExtract},
    {atZipDS, "atZipDS", "Zip Span  ", kZipRead | Comment | Split},
    {atZipMV, "atZipMV", "Zip MVol  ", kZipRead | Create | Encrypt | Split},
};
constexpr std::string_view kZipExt[] = {".zip"};
constexpr TArcSignature kZipSignatures[] = {
    // A central header or a spanning marker opens a volume of a set: the caller settles which.
    {150,
     [](std::uint32_t d) {
         const bool pk = Byte(d, 0) == 'P' && Byte(d, 1) >= 'K' && Byte(d, 1) <= 'N';
         return pk && ((Byte(d, 2) == 1 && Byte(d, 3) == 2) || (Byte(d, 2) == 7 && Byte(d, 3) == 8));
     },
     atZipMV, atZipMV},
    {151, [](std::uint32_t d) { return Byte(d, 0) == 'P' && Byte(d, 1) >= 'K' && Byte(d, 1) <= 'N'; }, atZip, atZipExe},
};

constexpr TArcTypeRow kZooTypes[] = {
    {atZoo, "atZoo", "ZOO       ", kTestCheck},
};
constexpr std::string_view kZooExt[] = {".zoo"};
constexpr TArcSignature kZooSignatures[] = {
    {70, [](std::uint32_t d) { return d == Dword('Z', 'O', 'O', ' '); }, atZoo, atUnsupported},
    {120, [](std::uint32_t d) { return Byte(d, 0) == 'Z' && Byte(d, 1) == 'O'; }, atZoo, atUnsupported},
};

constexpr TArcDescriptor kDescriptors[] = {
    {"ace", kAceTypes, kAceExt, {}, AceMethodName},
    {"arc", kArcTypes, kArcExt, kArcSignatures, ArcMethodName},
    {"pak", kPakTypes, kPakExt, kPakSignatures, PakMethodName},
    {"arj", kArjTypes, kArjExt, kArjSignatures, ArjMethodName},
    {"bh", kBhTypes, kBhExt, kBhSignatures, BhMethodName},
    {"bz2", kBz2Types, kBz2Ext, {}, Bz2MethodName},
    {"cab", kCabTypes, kCabExt, kCabSignatures, CabMethodName},
    {"gzip", kGzipTypes, kGzipExt, kGzipSignatures, GzipMethodName},
    {"ha", kHaTypes, kHaExt, kHaSignatures, HaMethodName},
    {"jar", kJarTypes, kJarExt, {}, ZipMethodName},
    {"lha", kLhaTypes, kLhaExt, kLhaSignatures, LhaMethodName},
    {"msgz", kMsGZTypes, {}, kMsGZSignatures, nullptr},
    {"rar", kRarTypes, kRarExt, kRarSignatures, RarMethodName},
    {"tar", kTarTypes, kTarExt, {}, TarMethodName},
    {"tgz", kTgzTypes, kTgzExt, {}, nullptr},
    {"tbz", kTbzTypes, kTbzExt, {}, nullptr},
    {"text", kEncodedTextTypes, kEncodedTextExt, {}, nullptr},
    {"zip", kZipTypes, kZipExt, kZipSignatures, ZipMethodName},
    {"zoo", kZooTypes, kZooExt, kZooSignatures, ZooMethodName},
};

struct TIndex {
    std::array<const TArcTypeRow*, TEnumCount<TArcType>::value> Rows{};
    std::array<const TArcDescriptor*, TEnumCount<TArcType>::value> Formats{};
    std::vector<TArcSignature> Signatures;

    TIndex()
    {
        for (const TArcTypeRow& row : kNoFormat)
            Rows[row.Type] = &row;
        for (const TArcDescriptor& format : kDescriptors) {
            for (const TArcTypeRow& row : format.Types) {
                Rows[row.Type] = &row;
                Formats[row.Type] = &format;
            }
            Signatures.insert(Signatures.end(), format.Signatures.begin(), format.Signatures.end());
        }
        Signatures.insert(Signatures.end(), std::begin(kRefused), std::end(kRefused));
        std::stable_sort(Signatures.begin(), Signatures.end(),
                         [](const TArcSignature& a, const TArcSignature& b) { return a.Rank < b.Rank; });
    }
};

const TIndex& Index()
{
    static const TIndex index;
    return index;
}

}  // namespace

std::span<const TArcDescriptor> ArcDescriptors()
{
    return kDescriptors;
}

const TArcDescriptor* DescriptorOf(TArcType Type)
{
    return IsDeclaredOrdinal<TArcType>(Type) ? Index().Formats[Type] : nullptr;
}

const TArcDescriptor* DescriptorByKey(std::string_view Key)
{
    for (const TArcDescriptor& format : kDescriptors)
        if (format.Key == Key)
            return &format;
    return nullptr;
}

const TArcDescriptor* DescriptorByExtension(std::string_view Extension)
{
    for (const TArcDescriptor& format : kDescriptors)
        for (std::string_view ext : format.Extensions)
            if (ext == Extension)
                return &format;
    return nullptr;
}

const TArcTypeRow* ArcTypeRowOf(TArcType Type)
{
    return IsDeclaredOrdinal<TArcType>(Type) ? Index().Rows[Type] : nullptr;
}

TArcTypeFlags ArcTypeFlags(TArcType Type)
{
    const TArcTypeRow* row = ArcTypeRowOf(Type);
    return row ? row->Flags : 0;
}

bool ArcTypeById(std::string_view Name, TArcType& Type)
{
    for (int t = 0; t < TEnumCount<TArcType>::value; ++t) {
        const TArcTypeRow* row = ArcTypeRowOf(TArcType(t));
        if (row && row->Id == Name) {
            Type = TArcType(t);
            return true;
        }
    }
    return false;
}

std::span<const TArcSignature> ArcSignaturesByRank()
{
    return Index().Signatures;
}
