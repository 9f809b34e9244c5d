#include "core/MethodName.h"

#include <initializer_list>

#include "core/ArcDescriptor.h"
#include "core/plxGbls.h"

namespace {

const char* const Unsupported = "Unsupported";
const char* const Dir = "<Dir>";
constexpr std::uint32_t DirectoryAttr = 0x10;

// Text number (Method - First) of the list, or nullptr outside it.
const char* Pick(int method, int first, std::initializer_list<const char*> texts)
{
    int index = method - first;
    if (index < 0 || index >= int(texts.size()))
        return nullptr;
    return texts.begin()[index];
}

std::string Or(const char* text, const char* otherwise)
{
    return text ? text : otherwise;
}

std::string ZipMethodText(std::uint16_t method, std::uint16_t flags, const TMethodEntryFacts& e, bool aesLookup)
{
    if (const char* t = Pick(
            method, 0, {"Stored", "Shrunk", "Reduce-1", "Reduce-2", "Reduce-3", "Reduce-4", "Imploded", "Tokened"}))
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
            return ZipMethodText(std::uint16_t(e.AesMethod), flags, e, false);
        break;
    }
    return (e.Attributes & DirectoryAttr) ? Dir : Unsupported;
}

bool HasNoFilePart(const std::string& name)
{
    return name.empty() || name.back() == '\\' || name.back() == '/';
}

}  // namespace

// The namers the descriptors hold (core/ArcDescriptors.cpp).

std::string AceMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    return Or(Pick(Method, 0, {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw"}), Unsupported);
}

std::string ArcMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts& Entry)
{
    return Or(Pick(Method, 1,
                   {"Stored", "Stored", "Packed", "Squeezed", "Crunched", "Crunched", "Squashed", "Pack10", "Pack11",
                    "Pack12"}),
              Entry.HeaderType == 30 ? Dir : Unsupported);
}

std::string ArjMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts& Entry)
{
    return Or(Pick(Method, 0, {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"}),
              Entry.FileType == 3 ? Dir : Unsupported);
}

std::string BhMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts&)
{
    if (Method == 8 || Method == 12)
        return CompressMethodName(Method, Flags);
    return Or(Pick(Method, 0, {"Stored", "Fused1", "Deflate", "Fused3"}), Unsupported);
}

std::string Bz2MethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    // The listing gives the block-size digit: any of 1 to 9 is a bzip2 stream.
    if (Method >= 2 && Method <= 9)
        return "BZ'd";
    return Or(Pick(Method, 0, {"Stored", "BZ'd"}), Unsupported);
}

std::string CabMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    const int type = Method & 15;
    if (type >= 4)
        return "Lzx" + std::to_string(type);
    return Pick(type, 0, {"Stored", "MsZIP", "Quantum", "Lzx"});
}

std::string GzipMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts& Entry)
{
    if (Method == 0)
        return "Stored";
    if (Method == 8)
        return "Deflate";
    if (Method == 144)
        return "LzwMAGIC";
    if (Entry.FirstBytes[0] == 0x1F && Entry.FirstBytes[1] == 0x1E)
        return "PackMAGIC";
    if (Entry.FirstBytes[0] == 0x1F && Entry.FirstBytes[1] == 0xA0)
        return "LzhMAGIC";
    return Unsupported;
}

std::string HaMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    if (Method == 14)
        return Dir;
    if (Method == 15)
        return "Special";
    return Or(Pick(Method, 0, {"Cpy", "Asc", "HSC"}), Unsupported);
}

std::string ZipMethodName(std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry)
{
    return ZipMethodText(Method, Flags, Entry, true);
}

std::string LhaMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    if (Method == 'd')
        return Dir;
    return Or(Pick(Method, '0',
                   {"Stored", "Frozen-1", "Frozen-2", "Frozen-3", "Frozen-4", "Frozen-5", "Frozen-6", "Frozen-7"}),
              Unsupported);
}

std::string PakMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    return Or(Pick(Method, 2,
                   {"Stored", "RLE", "Squeezed", "FixedLen", "FixedLen", "FixedLen", "Varible", "Varible", "Crushed",
                    "Distill"}),
              Unsupported);
}

std::string RarMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts& Entry)
{
    if (Entry.Attributes & DirectoryAttr)
        return Dir;
    return Or(Pick(Method, '0', {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"}), Unsupported);
}

std::string TarMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts& Entry)
{
    if (Method == 0)
        return "Tarred";
    return HasNoFilePart(Entry.FileName) ? Dir : Unsupported;
}

std::string ZooMethodName(std::uint16_t Method, std::uint16_t, const TMethodEntryFacts&)
{
    return Or(Pick(Method, 0, {"Stored", "Fastest", "Greatest"}), Unsupported);
}

std::string GetMethodName(TArcType ArcType, std::uint16_t Method, std::uint16_t Flags, const TMethodEntryFacts& Entry)
{
    const TArcDescriptor* format = DescriptorOf(ArcType);
    if (format == nullptr || format->MethodName == nullptr)
        return Unsupported;
    return format->MethodName(Method, Flags, Entry);
}
