// Octal fields, percentages, method texts, archive-type sets, volume names and magic numbers.
#include "core/plxGbls.h"

#include "core/ArcDescriptor.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Part/Total in percent, rounded half to even, in 128 bits so that no size can overflow.
int RoundedPercent(__int128 part, __int128 total)
{
    if (total == 0 || part == 0)
        return 0;
    if ((part < 0) != (total < 0))
        return 0;
    if (part < 0) {
        part = -part;
        total = -total;
    }
    const __int128 scaled = part * 100;
    __int128 q = scaled / total;
    const __int128 twice = (scaled % total) * 2;
    if (twice > total || (twice == total && (q & 1)))
        ++q;
    return q > 100 ? 100 : int(q);
}

}  // namespace

std::uint64_t OctalToInt(std::string_view Text, bool* Overflow)
{
    if (Overflow)
        *Overflow = false;
    std::size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    std::uint64_t value = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '\0' || c == ' ')
            break;
        if (c < '0' || c > '7')
            continue;
        if (value > (UINT64_MAX >> 3)) {
            if (Overflow)
                *Overflow = true;
            return UINT64_MAX;
        }
        value = (value << 3) | std::uint64_t(c - '0');
    }
    return value;
}

bool IntToOctalField(std::uint64_t Value, int Width, bool NulEnd, char Pad, char* Field)
{
    if (Width < 1)
        return false;
    std::memset(Field, Pad, std::size_t(Width));
    Field[Width - 1] = NulEnd ? '\0' : ' ';
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + (Value & 7));
        Value >>= 3;
    } while (Value != 0);
    if (count > Width - 1)
        return false;
    for (int i = 0; i < count; ++i)
        Field[Width - 2 - i] = digits[i];
    return true;
}

int Percent32(std::int32_t Part, std::int32_t Total)
{
    return RoundedPercent(Part, Total);
}
int Percent64(std::int64_t Part, std::int64_t Total)
{
    return RoundedPercent(Part, Total);
}

int RatioPercent64(std::int64_t Unpacked, std::int64_t Packed)
{
    if (Unpacked <= 0 || Unpacked <= Packed)
        return 0;
    return RoundedPercent(__int128(Unpacked) - Packed, Unpacked);
}

int RatioPercentFloat(double Unpacked, double Packed)
{
    if (!(Unpacked > 0) || !(Unpacked > Packed))
        return 0;
    const double ratio = std::nearbyint((Unpacked - Packed) * 100.0 / Unpacked);
    return ratio > 100 ? 100 : int(ratio);
}

std::string EncryptionMethodName(int Method)
{
    static const char* const Names[] = {"Aes1-128",   "Aes1-192",   "Aes1-256",   "Aes2-128",   "Aes2-192",
                                        "Aes2-256",   "ZipV2",      "PkAes1-128", "PkAes1-192", "PkAes1-256",
                                        "PkAes2-128", "PkAes2-192", "PkAes2-256"};
    if (Method >= 0 && Method <= 12)
        return Names[Method];
    if (Method == emNone)
        return "";
    if (Method == emUnsupported)
        return "Unsupported";
    return "Unknown";
}

bool IsArchiveType(TArcType t)
{
    return DescriptorOf(t) != nullptr;
}
bool IsZipOrJarType(TArcType t)
{
    return HasArcFlag(t, arcflag::ZipRecords) && HasArcFlag(t, arcflag::WholeFile);
}
bool IsZipFamilyType(TArcType t)
{
    return HasArcFlag(t, arcflag::ZipRecords);
}
bool IsZipCipherType(TArcType t)
{
    return HasArcFlag(t, arcflag::ZipCipher);
}
bool IsEncryptableType(TArcType t)
{
    return HasArcFlag(t, arcflag::Encrypt);
}
bool IsWritableType(TArcType t)
{
    return HasArcFlag(t, arcflag::Create);
}
bool IsTestableType(TArcType t)
{
    return HasArcFlag(t, arcflag::Test);
}
bool IsCheckableType(TArcType t)
{
    return HasArcFlag(t, arcflag::Check);
}

void NextVolumeName(std::string_view Name, TArcType ArcType, char& Letter, int& Number)
{
    const TArcTypeRow* row = ArcTypeRowOf(ArcType);
    if (!row || row->VolumeExt.empty()) {
        Number = 0;
        return;
    }
    std::string ext = win::ExtractFileExt(Name);
    ext = ext.empty() ? std::string(row->VolumeExt) : ext.substr(1);
    std::size_t start = ext.size();
    while (start > 0 && ext[start - 1] >= '0' && ext[start - 1] <= '9')
        --start;
    if (start == ext.size()) {
        Number = row->FirstVolume;
        return;
    }
    Letter = ext[0];
    const int value = win::StrToInt(ext.substr(start));  // raises for a run beyond an int
    if (value == INT_MAX)
        throw win::EConvertError("'" + ext.substr(start) + "' is not a valid integer value");
    Number = value + 1;
}

void LoadArchiveExtensions(std::vector<std::string>& List)
{
    constexpr std::size_t MaxEntries = 101;
    const std::string_view text = LoadMessage(E_ARCHIVESFILTER);
    const std::size_t bar = text.find('|');
    if (bar == std::string_view::npos)
        return;
    std::string_view patterns = text.substr(bar + 1);
    while (!patterns.empty() && List.size() < MaxEntries) {
        const std::size_t semi = std::min(patterns.find(';'), patterns.size());
        const std::string_view pattern = patterns.substr(0, semi);
        const std::size_t dot = pattern.find('.');
        if (dot != std::string_view::npos)
            List.push_back(win::LowerCase(pattern.substr(dot)));
        patterns.remove_prefix(std::min(semi + 1, patterns.size()));
    }
}

bool IsAltEndRecordSig(std::uint32_t Value)
{
    return Value == 0x06055B50 || Value == 0x06055C50;
}

bool IsBZip2Header(const std::uint8_t* Buffer)
{
    // A block follows, or at once the stream's end: an empty file, also the first of several.
    static constexpr std::uint8_t Block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    static constexpr std::uint8_t End[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    return Buffer[0] == 'B' && Buffer[1] == 'Z' && Buffer[2] == 'h' && Buffer[3] >= '1' && Buffer[3] <= '9' &&
           (std::memcmp(Buffer + 4, Block, 6) == 0 || std::memcmp(Buffer + 4, End, 6) == 0);
}

bool IsCompressedStreamMagic(std::uint16_t Word)
{
    return Word == 0x8B1F || Word == 0x9E1F || Word == 0x9D1F || Word == 0xA01F || Word == 0x1E1F;
}

bool IsHeaderStateEmpty(THeaderTypeState State)
{
    return (State & ~HeaderBit(htSfx)) == 0;
}

int ClampZipCmntBufSize(int Value)
{
    return Value >= 32768 ? 32767 : Value < 2000 ? 2000 : Value;
}
