#include "writers/BlakHole.h"

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/SysDates.h"
#include "readers/plxUnLha.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::int64_t kMaxMemberSize = 0xFFFFFFFF;  // the header's 32-bit sizes
constexpr std::uint32_t kKeptAttributes = 0x37;      // read-only, hidden, system, folder, archive
// The fused data: a 16 KiB dictionary, position codes counted in 5 bits (read back as method 3).
constexpr int kFuseDictionaryBits = 14;
constexpr int kFusePositionBits = 5;

std::uint32_t Clamp32(std::int64_t Value)
{
    return std::uint32_t(std::clamp<std::int64_t>(Value, 0, kMaxMemberSize));
}

}  // namespace

TBlakHole::TBlakHole(TObject* AOwner) : TCompBase(AOwner)
{
    FClassDefaultExt = ".BH";
    SetDefaultExt("");
    FArcType = atBh;
    CompressMethod.Restrict({cmStore, cmDeflate, cmFuse, cmBz2}, cmDeflate);
}

void TBlakHole::SetArcType(TArcType)
{
    FArcType = atBh;
    AddDefaultExt();
}

TBhHeader TBlakHole::Head() const
{
    TBhHeader h;
    DecodeBhHeader(FHead, h);
    return h;
}

void TBlakHole::SetHead(const TBhHeader& Header)
{
    EncodeBhHeader(Header, FHead);
}

// --- the header of a new entry ---

void TBlakHole::InitHeader()
{
    TCompressEntryInfo info;
    if (CurrentItem)
        ReadFileInfo(*CurrentItem, info);
    TBhHeader h;
    h.Version = VersionMadeBy;
    h.Version2 = VersionNeeded;
    h.DosDateTime = info.DosDateTime;
    if (DateAttribute == daSysDate)
        h.DosDateTime = std::uint32_t(win::DateTimeToFileDate(win::Now()));
    else if (DateAttribute == daMaxFileDate && FNewestDosTime != 0)
        h.DosDateTime = FNewestDosTime;
    h.Attributes = std::uint16_t(info.Attributes & kKeptAttributes);
    h.UnpackedSize = Clamp32(info.UnpackedSize);
    h.Method = 8;
    SetHead(h);
    FHeadFinished = false;
}

void TBlakHole::FinishHeader(std::int64_t Packed)
{
    if (Packed > kMaxMemberSize || UnpackedSize > kMaxMemberSize)  // grown since the scan
        RaiseError(FileName, "", FArchiveFile, E_FILESIZEFORMAT);
    TBhHeader h = Head();
    h.NameLength = std::uint16_t(EncodedFileName().size());
    h.ExtraLength = 0;
    h.HeaderLength = std::uint16_t(kBhHeaderSize + h.NameLength);
    h.UnpackedSize = std::uint32_t(UnpackedSize);
    h.PackedSize = std::uint32_t(Packed);  // with the encryption header
    h.Crc = UnpackedSize == 0 ? 0 : Crc32;
    const std::uint8_t encrypted = Encrypted ? 1 : 0;
    const auto withDeflateBits = [&] { return std::uint8_t(GetDeflateFlags(encrypted)); };
    switch (MethodNumber) {
    case 0:
        h.Method = 0;
        h.Flags = encrypted;
        break;
    case 3:
        h.Method = 3;
        h.Flags = Encrypted ? withDeflateBits() : 0;
        break;
    case 12:
        h.Method = 12;
        h.Flags = withDeflateBits();
        break;
    default:
        h.Method = 8;
        h.Flags = withDeflateBits();
        break;
    }
    SetHead(h);
    FHeadFinished = true;
}

void TBlakHole::UpdateEntryName(int Index, std::uint32_t, TCompressHeaderObj& EntryList)
{
    EntryList.GetItem(std::uint32_t(Index)).Header.assign(FHead, FHead + kBhHeaderSize);
}

void TBlakHole::DoEnd()
{
    if (OnEnd)
        OnEnd(this, FileName, FHeadFinished && Head().Crc == ~RunningCrc.Crc32);
}

// --- the driver's entry records: a BH header each ---

void TBlakHole::StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info)
{
    Item.Header.resize(kBhHeaderSize, 0);
    TBhHeader h;
    DecodeBhHeader(Item.Header.data(), h);
    h.DosDateTime = Info.DosDateTime;
    h.UnpackedSize = Clamp32(Info.UnpackedSize);
    h.PackedSize = Clamp32(Info.PackedSize);
    h.Attributes = std::uint16_t(Info.Attributes);
    EncodeBhHeader(h, Item.Header.data());
}

void TBlakHole::ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info)
{
    Info = {};
    if (Item.Header.size() < std::size_t(kBhHeaderSize))
        return;
    TBhHeader h;
    DecodeBhHeader(Item.Header.data(), h);
    Info.DosDateTime = h.DosDateTime;
    Info.Attributes = h.Attributes;
    Info.UnpackedSize = std::int64_t(h.UnpackedSize) | std::int64_t(Item.HighSizeWord) << 32;
    Info.PackedSize = h.PackedSize;
}

// --- new entries ---

void TBlakHole::CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    CurrentItem = &item;
    item.Encryption = Password().empty() ? emNone : emZip_V2;
    InitHeader();
    TCompBase::CompressFile(Output, Index, Ok, EntryList);
}

bool TBlakHole::CompressEntry(TStream32& Output, int Index, TCompressHeaderObj& EntryList)
{
    // Checked once the stored name is known (after OnBegin).
    if (EntryList.GetItem(std::uint32_t(Index)).HighSizeWord != 0) {
        DoError(FCurrentSource, "", E_FILESIZEFORMAT, FArchiveFile);
        return false;
    }
    if (EncodedFileName().size() > kBhMaxNameLength) {
        DoError(FCurrentSource, "", E_INVALIDFILENAME, FArchiveFile);
        return false;
    }
    return TCompBase::CompressEntry(Output, Index, EntryList);
}

bool TBlakHole::OwnMethodData(TCompressMethod Method, TStream32& Input, TStream32& Output)
{
    if (Method != cmFuse)
        return TCompBase::OwnMethodData(Method, Input, Output);
    FEncoder.LzhInit(kFuseDictionaryBits, kFusePositionBits);
    std::uint32_t crc = CRC_MASK;
    std::int64_t done = 0;
    Input.SetPosition(0);
    const TByteSource source = [&](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
        const auto want = std::int32_t(std::min<std::int64_t>(std::int64_t(Count), FInputSize - done));
        const std::int32_t got = want > 0 && !GetCancel() ? Input.Read(Buffer, want) : 0;
        if (got <= 0)
            return 0;
        UpdateCrc32(Buffer, got, crc);
        done += got;
        BytesToRead -= got;
        DoProgress(done, FInputSize, UnpackedTotal);
        ProcessMessages();
        return std::size_t(got);
    };
    std::vector<std::uint8_t> ciphered;
    const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
        if (Encrypted) {
            ciphered.assign(Data, Data + Count);
            DataCipher.EncryptBuffer(ciphered.data(), ciphered.size());
            Data = ciphered.data();
        }
        Output.WriteBuffer(Data, std::int32_t(Count));
    };
    const TLzhEncodeResult result = FEncoder.LzhEncode(source, sink);
    if (GetCancel())
        return false;
    if (!result.Unpackable) {
        SettleEntryCrc(done, crc);
        if (std::int64_t(result.PackedSize) < FInputSize) {
            MethodNumber = 3;
            return true;
        }
    }
    // Coding does not pay: stored, from the encryption header on.
    BytesToRead += done;
    return StoreFallback(&Input, Output);
}

// --- the old archive ---

void TBlakHole::CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList)
{
    const TReadAt read = LhaReaderOf(OldArchive);
    const std::int64_t size = OldArchive.Size();
    TBhHeader h;
    for (std::int64_t pos = std::max<std::int64_t>(ArchiveOffset, 0);; pos = h.NextOffset()) {
        const THeaderStatus status = ReadBhHeader(read, pos, h);
        if (status == THeaderStatus::End)
            break;
        // A damaged archive is never rewritten with some of its entries silently gone.
        if (status == THeaderStatus::Corrupt || h.NextOffset() > size)
            RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
        TCompressFileInfo record;
        record.Action = eaCopy;
        record.Offset = h.Offset;
        record.Encryption = h.Encrypted() ? emZip_V2 : emNone;
        record.Header.resize(kBhHeaderSize);
        EncodeBhHeader(h, record.Header.data());
        AddOldEntry(EntryList, record, BhNameToUtf8(h.Name));
    }
}

std::int64_t TBlakHole::GetEntryLength(TStream32&, TStream32&, TCompressFileInfo& Item)
{
    TBhHeader h;
    if (Item.Header.size() < std::size_t(kBhHeaderSize) || !DecodeBhHeader(Item.Header.data(), h))
        return -1;
    return h.NextOffset() - h.Offset;
}

void TBlakHole::CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index)
{
    // A kept entry under a new name: a new header and name before the same extra block and data.
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    TBhHeader h;
    const std::int64_t size = OldArchive.Size();
    if (item.Header.size() < std::size_t(kBhHeaderSize) || !DecodeBhHeader(item.Header.data(), h))
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
    h.Offset = item.Offset;
    if (h.NextOffset() > size)
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
    const std::int64_t tail = h.NextOffset() - h.DataOffset() + h.ExtraLength;
    const std::int64_t tailStart = h.DataOffset() - h.ExtraLength;
    FileName = EntryList.Name(std::uint32_t(Index));
    const std::string name = EncodedFileName();
    if (name.size() > kBhMaxNameLength)
        RaiseError(FileName, "", FArchiveFile, E_INVALIDFILENAME);
    h.NameLength = std::uint16_t(name.size());
    h.HeaderLength = std::uint16_t(kBhHeaderSize + h.NameLength + h.ExtraLength);
    std::uint8_t head[kBhHeaderSize];
    EncodeBhHeader(h, head);
    Output.Seek64(0, soEnd);
    item.Offset = Output.Position();
    Output.WriteBuffer(head, kBhHeaderSize);
    Output.WriteBuffer(name.data(), std::int32_t(name.size()));
    OldArchive.SetPosition(tailStart);
    if (Output.CopyFrom(&OldArchive, tail) != tail)
        RaiseWriteError(FArchiveFile);
    item.Header.assign(head, head + kBhHeaderSize);
}

void TBlakHole::WriteEndMarker(TStream32& Output)
{
    std::uint8_t end[kBhHeaderSize];
    EncodeBhHeader(TBhHeader{}, end);
    Output.Seek64(0, soEnd);
    Output.WriteBuffer(end, kBhHeaderSize);
}

bool TBlakHole::WriteEnding(TStream32*, TStream32&, TCompressHeaderObj&)
{
    return !GetCancel();  // no directory, no end record
}
