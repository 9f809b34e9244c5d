#include "writers/Lha.h"

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "readers/plxUnLha.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t kCopyBlock = 65536;
constexpr std::int64_t kMaxMemberSize = 0xFFFFFFFF;  // the header's 32-bit sizes
constexpr std::uint8_t kKeptAttributes = 0x27;       // never 0x80 or other host bits

// The fields of the driver's entry record: a level-0 base header.
constexpr std::size_t kRecMethod = 5, kRecPacked = 7, kRecUnpacked = 11, kRecTime = 15, kRecAttr = 19;

}  // namespace

TLha::TLha(TObject* AOwner) : TCompBase(AOwner)
{
    FClassDefaultExt = ".LHA";
    SetDefaultExt("");
    FArcType = atLha;
    CompressMethod.Restrict({cmStore, cmFrozen5, cmFrozen6}, cmFrozen6);
}

void TLha::SetArcType(TArcType)
{
    FArcType = atLha;
    AddDefaultExt();
}

std::string TLha::EntryHeader(char Method, std::uint32_t Packed, std::uint32_t Unpacked, std::uint32_t DosTime,
                              std::uint8_t Attributes, const std::string& Name, std::uint16_t Crc)
{
    const bool level1 = Name.size() > kLevel0NameLimit;
    // Level 1: the folder (0xFF separators) and the file name in extended headers after the base.
    std::string extended;
    if (level1) {
        const std::size_t cut = Name.find_last_of('\\');
        const auto block = [&](char type, const std::string& data) {
            std::string b(2, '\0');
            PutLE16(reinterpret_cast<std::uint8_t*>(b.data()), std::uint16_t(data.size() + 3));
            if (!extended.empty())  // the size of a block stands at the end of the one before
                extended.replace(extended.size() - 2, 2, b);
            else
                extended = b;  // taken out again below: the base header ends with it
            extended += type;
            extended += data;
            extended += std::string(2, '\0');
        };
        if (cut != std::string::npos) {
            std::string folder = Name.substr(0, cut + 1);
            std::replace(folder.begin(), folder.end(), '\\', '\xFF');
            block(0x02, folder);
        }
        if (cut == std::string::npos || cut + 1 < Name.size())
            block(0x01, Name.substr(cut == std::string::npos ? 0 : cut + 1));
    }
    const std::string stored = level1 ? std::string() : Name;
    std::string h(kLhaBaseHeaderSize, '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(h.data());
    const std::size_t baseSize = kLhaBaseHeaderSize + stored.size() + (level1 ? 3 : 0);
    b[0] = std::uint8_t(baseSize);
    std::memcpy(b + 2, "-lh", 3);
    b[5] = std::uint8_t(Method);
    b[6] = '-';
    // Level 1 counts its extended headers in the packed size.
    PutLE32(b + 7, Packed + std::uint32_t(level1 ? extended.size() - 2 : 0));
    PutLE32(b + 11, Unpacked);
    PutLE32(b + 15, DosTime);
    b[19] = Attributes;
    b[20] = level1 ? 1 : 0;
    b[21] = std::uint8_t(stored.size());
    h += stored;
    h += char(Crc & 0xFF);
    h += char(Crc >> 8);
    if (level1)
        h += 'M';   // MS-DOS
    h += extended;  // level 1: the first block's size ends the base header
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < baseSize + 2; ++i)
        sum = std::uint8_t(sum + std::uint8_t(h[i]));
    h[1] = char(sum);
    return h;
}

void TLha::WriteHeader(TStream32& Output, const std::string& Header)
{
    if (Output.Write(Header.data(), std::int32_t(Header.size())) != std::int32_t(Header.size()))
        RaiseWriteError(FArchiveFile);
}

// --- the driver's entry records ---

void TLha::StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info)
{
    Item.Header.resize(GetHeadSize(), 0);
    std::uint8_t* h = Item.Header.data();
    const bool dir = (Info.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    h[kRecMethod] = dir ? 'd' : '0';
    PutLE32(h + kRecPacked, std::uint32_t(std::clamp<std::int64_t>(Info.PackedSize, 0, kMaxMemberSize)));
    PutLE32(h + kRecUnpacked, std::uint32_t(std::clamp<std::int64_t>(Info.UnpackedSize, 0, kMaxMemberSize)));
    PutLE32(h + kRecTime, Info.DosDateTime);
    h[kRecAttr] = std::uint8_t((Info.Attributes & kKeptAttributes) | (dir ? 0x10 : 0));
}

void TLha::ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info)
{
    Info = {};
    if (Item.Header.size() < std::size_t(kLhaBaseHeaderSize))
        return;
    const std::uint8_t* h = Item.Header.data();
    Info.PackedSize = GetLE32(h + kRecPacked);
    Info.UnpackedSize = GetLE32(h + kRecUnpacked);
    Info.DosDateTime = GetLE32(h + kRecTime);
    Info.Attributes = h[kRecAttr] | (h[kRecMethod] == 'd' ? FILE_ATTRIBUTE_DIRECTORY : 0);
}

// --- the old archive ---

void TLha::CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList)
{
    FOldEntries.clear();
    const TReadAt read = LhaReaderOf(OldArchive);
    const std::int64_t size = OldArchive.Size();
    TLhaHeader h;
    for (std::int64_t pos = LhaFirstHeader(read, std::max<std::int64_t>(ArchiveOffset, 0));; pos = h.NextOffset) {
        const THeaderStatus status = ReadLhaHeader(read, pos, size, h);
        if (status == THeaderStatus::End)
            break;
        // A damaged archive is never rewritten with some of its entries silently gone.
        if (status == THeaderStatus::Corrupt || h.NextOffset > size)
            RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
        TCompressFileInfo record;
        record.Action = eaCopy;
        record.Offset = h.Offset;
        TCompressEntryInfo info;
        info.PackedSize = h.PackedSize;
        info.UnpackedSize = h.UnpackedSize;
        info.DosDateTime = LhaDosDateTime(h);
        info.Attributes = h.Attributes;
        StoreFileInfo(record, info);
        record.Header[kRecMethod] = std::uint8_t(h.MethodChar());
        FOldEntries[h.Offset] = h;
        AddOldEntry(EntryList, record, LhaNameToUtf8(h.Name));
    }
}

std::int64_t TLha::GetEntryLength(TStream32&, TStream32&, TCompressFileInfo& Item)
{
    const auto found = FOldEntries.find(Item.Offset);
    return found == FOldEntries.end() ? -1 : found->second.NextOffset - found->second.Offset;
}

void TLha::CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index)
{
    // A kept entry under a new name: a new level-0 header in front of the same data.
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    const auto found = FOldEntries.find(item.Offset);
    if (found == FOldEntries.end())
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
    const TLhaHeader& old = found->second;
    std::string name;
    AnsiToOemName(0, name, EntryList.Name(std::uint32_t(Index)));
    if (name.size() > kMaxNameLength)
        RaiseError(EntryList.Name(std::uint32_t(Index)), "", FArchiveFile, E_INVALIDFILENAME);
    Output.Seek64(0, soEnd);
    item.Offset = Output.Position();
    WriteHeader(Output, EntryHeader(old.MethodChar(), std::uint32_t(old.PackedSize), old.UnpackedSize,
                                    LhaDosDateTime(old), old.Attributes & (kKeptAttributes | 0x10), name, old.Crc));
    OldArchive.SetPosition(old.DataOffset);
    if (Output.CopyFrom(&OldArchive, old.PackedSize) != old.PackedSize)
        RaiseWriteError(FArchiveFile);
}

// --- new entries ---

bool TLha::StoreData(TStream32& Input, TStream32& Output, std::int64_t Size, std::uint16_t& Crc)
{
    Input.SetPosition(0);
    std::vector<std::uint8_t> block(kCopyBlock);
    std::uint32_t crc = 0;
    std::int64_t done = 0;
    while (done < Size) {
        if (GetCancel())
            return false;
        const auto want = std::int32_t(std::min<std::int64_t>(Size - done, kCopyBlock));
        const std::int32_t got = Input.Read(block.data(), want);
        if (got <= 0)
            break;
        UpdateCrc16(block.data(), got, crc);
        if (Output.Write(block.data(), got) != got)
            RaiseWriteError(FCurrentSource);
        done += got;
        BytesToRead -= got;
        DoProgress(done, Size, UnpackedTotal);
        ProcessMessages();
    }
    if (done != Size)
        throw EReadError("the file changed while it was read");
    Crc = std::uint16_t(crc);
    return true;
}

bool TLha::WriteData(TStream32& Input, TStream32& Output, std::int64_t Size, char& Method, std::uint16_t& Crc,
                     std::int64_t& Packed)
{
    const std::int64_t dataStart = Output.Position();
    const std::string ext = win::LowerCase(win::ExtractFileExt(FileName));
    const bool storeType =
        !ext.empty() && std::find(StoreFilesOfType.begin(), StoreFilesOfType.end(), ext) != StoreFilesOfType.end();
    const bool code = Size > 0 && !storeType && (CompressMethod == cmFrozen5 || CompressMethod == cmFrozen6);
    if (code) {
        const bool lh5 = CompressMethod == cmFrozen5;
        FEncoder.LzhInit(lh5 ? 13 : 14, lh5 ? 4 : 5);
        std::uint32_t crc = 0;
        std::int64_t done = 0;
        Input.SetPosition(0);
        const TByteSource source = [&](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
            if (GetCancel())
                throw ECancel();
            const auto want = std::int32_t(std::min<std::int64_t>(std::int64_t(Count), Size - done));
            const std::int32_t got = want > 0 ? Input.Read(Buffer, want) : 0;
            if (got <= 0)
                return 0;
            UpdateCrc16(Buffer, got, crc);
            done += got;
            BytesToRead -= got;
            DoProgress(done, Size, UnpackedTotal);
            ProcessMessages();
            return std::size_t(got);
        };
        const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
            if (Output.Write(Data, std::int32_t(Count)) != std::int32_t(Count))
                RaiseWriteError(FCurrentSource);
        };
        const TLzhEncodeResult result = FEncoder.LzhEncode(source, sink);
        if (!result.Unpackable && done != Size)
            throw EReadError("the file changed while it was read");
        if (!result.Unpackable && std::int64_t(result.PackedSize) < Size) {
            Method = lh5 ? '5' : '6';
            Crc = std::uint16_t(crc);
            Packed = std::int64_t(result.PackedSize);
            return true;
        }
        // Coding does not pay: the data go in stored.
        Output.SetSize64(dataStart);
        Output.Seek64(dataStart, soBeginning);
        BytesToRead += done;
    }
    Method = '0';
    Packed = Size;
    return StoreData(Input, Output, Size, Crc);
}

void TLha::CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    Ok = false;
    const std::string path = EntryList.Name(std::uint32_t(Index));
    if (IsOwnArchive(path))
        return;
    const bool folder = !path.empty() && (path.back() == '\\' || path.back() == '/');
    FCurrentSource = path;
    FileName = path;
    BaseDir = path.substr(0, std::min<std::size_t>(EntryList.Value(std::uint32_t(Index)), path.size()));
    if (!DoBegin(FileName, FileNumber, &EntryList))
        return;
    TCompressEntryInfo info;
    ReadFileInfo(EntryList.GetItem(std::uint32_t(Index)), info);
    std::string name;
    AnsiToOemName(0, name, ToDosSeparators(FileName));
    if (name.empty() || name.size() > kMaxNameLength) {
        DoError(path, "", E_INVALIDFILENAME, FArchiveFile);
        return;
    }
    Output.Seek64(0, soEnd);
    EntryList.GetItem(std::uint32_t(Index)).Offset = Output.Position();
    if (folder) {
        if (name.back() != '\\')
            name += '\\';
        WriteHeader(Output, EntryHeader('d', 0, 0, info.DosDateTime, 0x10, name, 0));
        Ok = !GetCancel();
        if (OnEnd)
            OnEnd(this, FileName, Ok);
        return;
    }
    TFileStream32 input(path, fmOpenRead | fmShareDenyNone);
    if (!input.HandleValid()) {
        DoError(path, "", E_OPENFILE, FArchiveFile);
        return;
    }
    const std::int64_t size = input.Size();
    if (size > kMaxMemberSize) {
        DoError(path, "", E_MAXFILESIZE, FArchiveFile);
        return;
    }
    const std::uint8_t attributes = std::uint8_t(info.Attributes & kKeptAttributes);
    const std::int64_t headerStart = Output.Position();
    // A placeholder of the final header's size; the real one follows the data.
    WriteHeader(Output, EntryHeader('0', 0, 0, info.DosDateTime, attributes, name, 0));
    char method = '0';
    std::uint16_t crc = 0;
    std::int64_t packed = 0;
    if (!WriteData(input, Output, size, method, crc, packed))
        return;
    Output.Seek64(headerStart, soBeginning);
    WriteHeader(Output, EntryHeader(method, std::uint32_t(packed), std::uint32_t(size), info.DosDateTime, attributes,
                                    name, crc));
    Output.Seek64(0, soEnd);
    StoreFileInfo(EntryList.GetItem(std::uint32_t(Index)), {size, packed, info.DosDateTime, attributes});
    EntryList.GetItem(std::uint32_t(Index)).Header[kRecMethod] = std::uint8_t(method);
    Ok = !GetCancel();
    if (OnEnd)
        OnEnd(this, FileName, Ok);
}

bool TLha::WriteEnding(TStream32*, TStream32& Output, TCompressHeaderObj&)
{
    if (GetCancel())
        return false;
    // The end of the archive: exactly two zero bytes.
    Output.Seek64(0, soEnd);
    const std::uint8_t end[2] = {0, 0};
    if (Output.Write(end, 2) != 2)
        RaiseWriteError(FArchiveFile);
    return true;
}
