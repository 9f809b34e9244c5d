#include "core/MethodName.h"

#include <initializer_list>

#include "core/plxGbls.h"

namespace {

const char* const Unsupported = "Unsupported";
const char* const Dir = "<Dir>";
constexpr std::uint32_t DirectoryAttr = 0x10;

// Text number (Method - First) of the list, or nullptr outside it.
const char* Pick(int method, int first, std::initializer_list<const char*> texts) {
    int index = method - first;
    if (index < 0 || index >= int(texts.size())) return nullptr;
    return texts.begin()[index];
}

std::string Or(const char* text, const char* otherwise) { return text ? text : otherwise; }

std::string ZipMethodName(std::uint16_t method, std::uint16_t flags, const TMethodEntryFacts& e,
                          bool aesLookup) {
    if (const char* t = Pick(method, 0, {"Stored", "Shrunk", "Reduce-1", "Reduce-2", "Reduce-3", "Reduce-4",
                                          "Imploded", "Tokened"}))
        return t;
    switch (method) {
    case 8:
    case 9:
        return CompressMethodName(method, flags);
    case 10:
        return "DCL-implode";
    case 12:
        return "BZip2";
    case 98:
        return "PPMDi1";
    case 99:
        // The AES block names the real method; it cannot name 99 again.
        if (aesLookup && e.AesMethod >= 0 && e.AesMethod <= 0xFFFF && e.AesMethod != 99)
            return ZipMethodName(std::uint16_t(e.AesMethod), flags, e, false);
        break;
    }
    return (e.Attributes & DirectoryAttr) ? Dir : Unsupported;
}

bool HasNoFilePart(const std::string& name) {
    return name.empty() || name.back() == '\\' || name.back() == '/';
}

}  // namespace

std::string GetMethodName(TArcType ArcType, std::uint16_t Method, std::uint16_t Flags,
                          const TMethodEntryFacts& Entry) {
    const int m = Method;
    switch (ArcType) {
    case atAce:
    case atAceExe:
        return Or(Pick(m, 0, {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw"}), Unsupported);
    case atArc:
    case atArcExe:
        return Or(Pick(m, 1, {"Stored", "Stored", "Packed", "Squeezed", "Crunched", "Crunched", "Squashed",
                              "Pack10", "Pack11", "Pack12"}),
                  Entry.HeaderType == 30 ? Dir : Unsupported);
    case atArj:
    case atArjExe:
        return Or(Pick(m, 0, {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"}),
                  Entry.FileType == 3 ? Dir : Unsupported);
    case atBh:
    case atBhExe:
        if (m == 8 || m == 12) return CompressMethodName(Method, Flags);
        return Or(Pick(m, 0, {"Stored", "Fused1", "Deflate", "Fused3"}), Unsupported);
    case atBz2:
        // The listing gives the block-size digit: any of 1 to 9 is a bzip2 stream.
        if (m >= 2 && m <= 9) return "BZ'd";
        return Or(Pick(m, 0, {"Stored", "BZ'd"}), Unsupported);
    case atCab:
    case atCabExe: {
        const int type = m & 15;
        if (type >= 4) return "Lzx" + std::to_string(type);
        return Pick(type, 0, {"Stored", "MsZIP", "Quantum", "Lzx"});
    }
    case atGZip:
        if (m == 0) return "Stored";
        if (m == 8) return "Deflate";
        if (m == 144) return "LzwMAGIC";
        if (Entry.FirstBytes[0] == 0x1F && Entry.FirstBytes[1] == 0x1E) return "PackMAGIC";
        if (Entry.FirstBytes[0] == 0x1F && Entry.FirstBytes[1] == 0xA0) return "LzhMAGIC";
        return Unsupported;
    case atHA:
        if (m == 14) return Dir;
        if (m == 15) return "Special";
        return Or(Pick(m, 0, {"Cpy", "Asc", "HSC"}), Unsupported);
    case atJar:
    case atJarExe:
    case atZip:
    case atZipExe:
    case atZipDS:
    case atZipMV:
        return ZipMethodName(Method, Flags, Entry, true);
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe:
        if (m == 'd') return Dir;
        return Or(Pick(m, '0', {"Stored", "Frozen-1", "Frozen-2", "Frozen-3", "Frozen-4", "Frozen-5",
                                "Frozen-6", "Frozen-7"}),
                  Unsupported);
    case atPak:
    case atPakExe:
        return Or(Pick(m, 2, {"Stored", "RLE", "Squeezed", "FixedLen", "FixedLen", "FixedLen", "Varible",
                              "Varible", "Crushed", "Distill"}),
                  Unsupported);
    case atRar:
    case atRarExe:
        if (Entry.Attributes & DirectoryAttr) return Dir;
        return Or(Pick(m, '0', {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"}), Unsupported);
    case atTar:
        if (m == 0) return "Tarred";
        return HasNoFilePart(Entry.FileName) ? Dir : Unsupported;
    case atZoo:
        return Or(Pick(m, 0, {"Stored", "Fastest", "Greatest"}), Unsupported);
    default:
        return Unsupported;
    }
}
