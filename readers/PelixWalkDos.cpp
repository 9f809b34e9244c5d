// The header-chained formats of the DOS era: LHA, ARJ, ARC/PAK, ZOO, BH, HA, ACE and MsGZ.
#include <algorithm>

#include "core/plxGbls.h"
#include "platform/win/SysDates.h"
#include "core/Err_Msgs.h"
#include "readers/ArjFormat.h"
#include "readers/BhFormat.h"
#include "readers/LhaFormat.h"
#include "readers/Pelix.h"
#include "readers/plxUnLha.h"

namespace {


std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) { return std::uint32_t(Le16(p) | std::uint32_t(Le16(p + 2)) << 16); }

std::string FfToBackslash(std::string s)
{
    std::replace(s.begin(), s.end(), '\xFF', '\\');
    return s;
}

std::string JoinFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
    return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

}  // namespace

// --- LHA ---

void TPelix::PrepareLha()
{
    FCurrentOffset = LhaFirstHeader(
        [this](std::int64_t Pos, void* Buffer, std::int64_t Count) { return ReadAt(Pos, Buffer, Count); },
        FCurrentOffset);
}

void TPelix::ReadLha()
{
    TLhaHeader h;
    const TLhaReadAt read = [this](std::int64_t Pos, void* Buffer, std::int64_t Count) {
        return ReadAt(Pos, Buffer, Count);
    };
    switch (ReadLhaHeader(read, FTurnStart, ArchiveSize, h)) {
    case TLhaHeaderStatus::End:
        EndWalk();
        return;
    case TLhaHeaderStatus::Corrupt:
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    case TLhaHeaderStatus::Header:
        break;
    }
    FCurrentOffset = h.NextOffset;
    TPelixEntry entry;
    entry.Name = LhaNameToUtf8(h.Name);
    entry.Date = h.UnixStamp ? UnixToDateTime(std::int64_t(h.Stamp)) : DosDateTimeToDateTime(h.Stamp);
    entry.Crc = h.Crc;
    entry.Directory = h.IsDirectory();
    entry.Packed = h.PackedSize;
    entry.Unpacked = h.UnpackedSize;
    entry.Method = std::uint8_t(h.MethodChar());
    entry.InternalAttr = 32;
    entry.ExternalAttr = h.Attributes;
    entry.Offset = FTurnStart;
    ListEntry(entry);
}

// --- ARJ ---

void TPelix::PrepareArj()
{
    TArjHeader main;
    const TReadAt read = [this](std::int64_t p, void* b, std::int64_t n) { return ReadAt(p, b, n); };
    if (ReadArjHeader(read, FCurrentOffset, main) != TArjHeaderStatus::Header) {
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    FArjVolume = main.ContinuesInNext();
    FCurrentOffset = main.DataOffset;
}

void TPelix::ReadArj()
{
    TArjHeader h;
    const TReadAt read = [this](std::int64_t p, void* b, std::int64_t n) { return ReadAt(p, b, n); };
    switch (ReadArjHeader(read, FTurnStart, h)) {
    case TArjHeaderStatus::End:
        EndWalk();
        return;
    case TArjHeaderStatus::Corrupt:
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    case TArjHeaderStatus::Header:
        break;
    }
    TPelixEntry entry;
    entry.Name = ArjNameToUtf8(h);
    entry.Date = ArjDateTime(h);
    entry.VersionMadeBy = h.Version;
    entry.VersionNeeded = h.MinVersion;
    entry.Packed = h.PackedSize;
    entry.Unpacked = h.UnpackedSize;
    entry.Crc = h.Crc;
    entry.Encrypted = h.Garbled();
    entry.Method = h.Method;
    entry.Facts.FileType = h.FileType;
    entry.Directory = h.IsDirectory();
    entry.ExternalAttr = ArjAttributes(h);
    entry.Offset = FTurnStart;
    FCurrentOffset = h.NextOffset;
    ListEntry(entry);
}

// --- ARC and PAK ---

void TPelix::ReadArc()
{
    const std::uint8_t method = B(1);
    if (B(0) != 0x1A) {
        if (FileCount == 0)
            DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    const bool arc = FArcType == atArc || FArcType == atArcExe;
    if (method == 0) {  // end marker
        EndWalk();
        return;
    }
    if (arc && method == 31) {  // the end of a folder entered by method 30
        if (!FArcDirs.empty())
            FArcDirs.pop_back();
        FCurrentOffset = FTurnStart + 2;
        return;
    }
    const char* text = reinterpret_cast<const char*>(FHeader.data()) + 2;
    const std::string stored(text, std::find(text, text + 13, '\0'));
    std::string folder;
    for (const auto& d : FArcDirs)
        folder += d + "\\";
    TPelixEntry entry;
    entry.Name = OemName(folder + stored);
    entry.Packed = L(15);
    // Method 1 headers are four bytes shorter: they hold no unpacked size.
    const bool shortHeader = method == 1;
    entry.Unpacked = shortHeader ? entry.Packed : L(25);
    entry.Date = DosDateTimeToDateTime(SwapWords(L(19)));
    entry.Crc = W(23);
    entry.Method = method;
    entry.Facts.HeaderType = method;
    entry.Directory = arc && method == 30;
    entry.ExternalAttr = entry.Directory ? 16 : 32;
    entry.Offset = FTurnStart;
    const std::int64_t dataAt = FTurnStart + (shortHeader ? 25 : 29);
    if (entry.Directory) {
        // The folder's members follow its header; its size covers them all.
        FArcDirs.push_back(stored);
        if (FArcDirs.size() > 64)
            FArcDirs.erase(FArcDirs.begin());
        FCurrentOffset = dataAt;
    } else {
        FCurrentOffset = dataAt + entry.Packed;
    }
    ListEntry(entry);
}

// --- ZOO ---

void TPelix::ReadZoo()
{
    if (FZooFirst) {
        FZooFirst = false;
        const std::uint32_t start = L(24);
        if (L(20) != 0xFDC4A7DC || std::uint32_t(start + L(28)) != 0 || start == 0) {
            DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
            EndWalk();
            return;
        }
        if (W(39) > 0)
            ReadComment(L(35), W(39));
        FCurrentOffset = start;
        --EntryIndex;
        return;
    }
    const std::uint32_t next = L(6);
    if (L(0) != 0xFDC4A7DC || next == 0) {
        EndWalk();
        return;
    }
    FCurrentOffset = next;  // the walk refuses a pointer that does not move on
    if (B(30) != 0)         // a deleted entry stays in the chain
        return;
    if (W(36) > 0)
        ReadComment(L(32), W(36));
    const char* text = reinterpret_cast<const char*>(FHeader.data()) + 38;
    std::string name(text, std::find(text, text + 13, '\0'));
    std::string folder;
    if (B(4) == 2 && W(51) >= 2) {
        // The variable part: long name and folder.
        std::int64_t pos = FTurnStart + 58;
        const std::string longName = ReadStringAtPos(pos, B(56));
        folder = ReadStringAtPos(pos, B(57));
        if (!folder.empty() && folder.back() == '\0')
            folder.resize(folder.find('\0'));
        const std::string cut = longName.substr(0, longName.find('\0'));
        if (!cut.empty())
            name = cut;
    }
    TPelixEntry entry;
    entry.Name = OemName(JoinFolder(folder, name));
    entry.Date = DosDateTimeToDateTime(SwapWords(L(14)));
    entry.VersionMadeBy = B(28);
    entry.VersionNeeded = B(29);
    entry.Packed = L(24);
    entry.Unpacked = L(20);
    entry.Crc = W(18);
    entry.Method = B(5);
    entry.Offset = FTurnStart;
    ListEntry(entry);
}

// --- BH ---

void TPelix::ReadBh()
{
    TBhHeader h;
    const TLhaReadAt read = [this](std::int64_t Pos, void* Buffer, std::int64_t Count) {
        return ReadAt(Pos, Buffer, Count);
    };
    switch (ReadBhHeader(read, FTurnStart, h)) {
    case TBhHeaderStatus::End:
        EndWalk();
        return;
    case TBhHeaderStatus::Damaged:
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    case TBhHeaderStatus::Header:
        break;
    }
    TPelixEntry entry;
    entry.Name = BhNameToUtf8(h.Name);
    entry.Encrypted = h.Encrypted();
    entry.Packed = h.DataSize();
    entry.Unpacked = h.UnpackedSize;
    entry.Crc = h.Crc;
    entry.Date = DosDateTimeToDateTime(h.DosDateTime);
    entry.VersionMadeBy = h.Version;
    entry.VersionNeeded = h.Version2;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.ExternalAttr = h.Attributes;
    entry.Offset = FTurnStart;
    FCurrentOffset = h.NextOffset();
    ListEntry(entry);
}

// --- HA ---

void TPelix::ReadHa()
{
    // The fixed header is read one byte early: byte 1 is its type byte.
    std::int64_t pos = FTurnStart + 18;
    const std::string path = ReadStringAt(pos, 1023);
    const std::string name = ReadStringAt(pos, 1023);
    std::uint8_t infoLength = 0;
    if (ReadAt(pos, &infoLength, 1) != 1) {
        EndWalk();
        return;
    }
    const std::int64_t packed = L(2);
    TPelixEntry entry;
    entry.Name = OemName(FfToBackslash(path + name));
    entry.Date = win::Now();
    entry.VersionMadeBy = B(1) >> 4;
    entry.Method = B(1) & 0x0F;
    entry.Directory = entry.Method == 14;
    entry.Packed = packed;
    entry.Unpacked = L(6);
    entry.Crc = L(10);
    entry.ExternalAttr = entry.Directory ? 0x30 : 32;
    entry.Offset = FTurnStart + 1;
    FCurrentOffset = pos + infoLength + packed;
    ListEntry(entry);
}

// --- ACE ---

void TPelix::PrepareAce()
{
    std::uint8_t main[31] = {};
    const std::int64_t at = FCurrentOffset;
    if (ReadAt(at, main, sizeof main) != sizeof main || std::string_view((const char*)main + 7, 7) != "**ACE**") {
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    FAceCreator = main[15];
    FCurrentOffset = at + 4 + Le16(main + 2);
}

void TPelix::ReadAce()
{
    const std::uint16_t size = W(2);
    if (size == 0) {
        EndWalk();
        return;
    }
    const std::uint16_t flags = W(5);
    if (B(4) != 1) {  // not a file: skip it and the data it announces
        FCurrentOffset = FTurnStart + 4 + size + ((flags & 1) ? std::int64_t(L(7)) : 0);
        --EntryIndex;
        return;
    }
    std::int64_t pos = FTurnStart + 35;
    const std::uint16_t nameLength = std::min<std::uint16_t>(W(33), std::uint16_t(std::max(size - 31, 0)));
    TPelixEntry entry;
    entry.Name = OemName(ReadStringAtPos(pos, nameLength));
    entry.Packed = L(7);
    entry.Unpacked = L(11);
    entry.Date = DosDateTimeToDateTime(L(15));
    entry.ExternalAttr = W(19);
    entry.Directory = (entry.ExternalAttr & 0x10) != 0;
    entry.Crc = L(23);
    entry.Method = B(28);
    entry.Encrypted = (flags & 0x4000) != 0;
    entry.VersionMadeBy = entry.VersionNeeded = FAceCreator;
    entry.Offset = FTurnStart;
    FCurrentOffset = FTurnStart + 4 + size + entry.Packed;
    ListEntry(entry);
}

// --- MsGZ ---

void TPelix::PrepareMsGZ()
{
    std::uint8_t head[54] = {};
    ReadAt(0, head, sizeof head);
    std::int64_t start = ArchiveSize <= std::int64_t(Le32(head + 41)) ? 54 : std::int64_t(Le32(head + 41));
    std::int64_t reached = start;
    for (int link = 0; link < 65536; ++link) {
        std::uint8_t record[6] = {};
        const std::int64_t got = ReadAt(start, record, 6);
        if (got <= 0)
            break;
        reached = start + got;
        if (Le16(record + 2) == 0)
            break;
        start += Le16(record + 2);
    }
    FCurrentOffset = std::max<std::int64_t>(reached - 5, 0);
}

void TPelix::ReadMsGZ()
{
    std::int64_t pos = FTurnStart + 29;
    TPelixEntry entry;
    entry.Name = OemName(ReadStringAtPos(pos, B(28)));
    entry.Date = DosDateTimeToDateTime(SwapWords(L(14)));
    entry.Packed = L(2);
    entry.Unpacked = L(6);
    entry.ExternalAttr = W(18);
    entry.Offset = L(10);
    FCurrentOffset = FTurnStart + W(22);
    ListEntry(entry);
}
