#include "readers/plxUnZoo.h"

#include <algorithm>
#include <memory>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "readers/LzwDecoder.h"
#include "readers/MemberData.h"
#include "readers/plxUnLha.h"

namespace {

constexpr std::uint32_t kAttrArchive = 0x20;
constexpr int kZooLzwBits = 13;

}  // namespace

TUnZoo::TUnZoo(TObject* AOwner) : TUnBase(AOwner)
{
    // Names are always relative: one that starts at a root or climbs is refused whole.
    NameRules = kRelativeNamesOnly;
    SetFileSpec({"*.*"});
}

void TUnZoo::ProcessArchive(TStream32* Archive)
{
    CollectThenExtract(
        *this, Archive, FMembers, [this](TStream32& A) { CollectMembers(A); },
        [this](TStream32& A, const TMember& M) { ExtractMember(A, M); });
}

void TUnZoo::CollectMembers(TStream32& Archive)
{
    const TReadAt read = LhaReaderOf(Archive);
    TZooArchiveHeader header;
    if (!ReadZooArchiveHeader(read, header)) {
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
        return;
    }
    std::int64_t pos = header.Start;
    TZooEntry entry;
    THeaderStatus status = THeaderStatus::End;
    while (!GetCancel() && (status = ReadZooEntry(read, pos, entry)) == THeaderStatus::Header) {
        // Offsets are absolute: one that does not move on would walk in a circle.
        if (entry.NextOffset <= pos) {
            status = THeaderStatus::Corrupt;
            break;
        }
        pos = entry.NextOffset;
        if (entry.Deleted)
            continue;
        std::string name = LhaNameToUtf8(entry.Name);
        name.erase(0, std::min(name.find_first_not_of('\\'), name.size()));
        if (name.empty() || !MatchesStoredName(name, RecurseDirs))
            continue;
        NewestDate = std::max(NewestDate, DosDateTimeToDateTime(entry.Stamp));
        PackedTotal += entry.PackedSize;
        UnpackedTotal += entry.UnpackedSize;
        FMembers.push_back({entry, std::move(name)});
    }
    if (status == THeaderStatus::Corrupt && !GetCancel())
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
}

void TUnZoo::ExtractMember(TStream32& Archive, const TMember& Member)
{
    const TZooEntry& e = Member.Entry;
    Encrypted = false;
    MethodNumber = e.Method;
    PackedSize = e.PackedSize;
    UnpackedSize = e.UnpackedSize;
    Crc32 = e.Crc;
    HeaderOffset = e.Offset;
    DateTime = DosDateTimeToDateTime(e.Stamp);
    if (!NameEntry(Member.Name))
        return;
    if (e.Method > 2) {
        FailEntry(E_UNSUPPORTEDMETHOD);
        return;
    }
    std::unique_ptr<TStream32> out;
    if (!OpenPlainOutput(out))
        return;
    const int failure = DecodeMember(Archive, e, out.get());
    CloseOutFile(out, FileName, kAttrArchive, e.Stamp);
    FinishDecodedEntry(failure, 16, e.Crc);
}

int TUnZoo::DecodeMember(TStream32& Archive, const TZooEntry& Entry, TStream32* Out)
{
    if (Archive.Seek64(Entry.DataOffset, soBeginning) != Entry.DataOffset)
        return E_UNEXPECTEDEOF;
    TMemberData data(*this, Archive, Entry.PackedSize, Out, 16);
    const TByteSource source = data.Source();
    const TByteSink sink = data.Sink();
    try {
        switch (Entry.Method) {
        case 0:
            return CopyStoredData(source, sink, Entry.UnpackedSize) ? 0 : E_UNEXPECTEDEOF;
        case 1: {
            TLzwDecoder lzw(source, sink, Entry.UnpackedSize, TLzwRawFormat{kZooLzwBits, false});
            const TCodecStatus status = lzw.Decode();
            const bool fellShort = status == TCodecStatus::Ok && lzw.BytesWritten() != Entry.UnpackedSize;
            return CodecStatusMessage(fellShort ? TCodecStatus::Truncated : status);
        }
        case 2: {
            TStaticHuffmanParams params;
            LhaStaticParams('5', params);
            FStatic.StaticHuffmanInit(params);
            TStaticHuffmanBits bits(source);
            const TCodecStatus result = FStatic.StaticHuffmanDecode(bits, sink, Entry.UnpackedSize);
            return CodecStatusMessage(result);
        }
        default:
            return E_UNSUPPORTEDMETHOD;
        }
    } catch (const TMemberWriteStopped&) {
        return kFailureReported;
    }
}
