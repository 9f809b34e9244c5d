#include "readers/plxUnLha.h"

#include <algorithm>
#include <memory>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Time.h"
#include "readers/MemberData.h"
#include "readers/plxUnTar.h"

namespace {

constexpr std::uint32_t kKeptAttributes = 0x27;  // read-only, hidden, system, archive

// Thrown by the sink when the output cannot take a block (the write reported it).
struct TWriteStopped {};

}  // namespace

bool LhaMethodSupported(const TLhaHeader& Header)
{
    if (!Header.IsLhaMethod())
        return false;
    const char m = Header.MethodChar();
    return m == '0' || m == '1' || m == 'd' || (m >= '4' && m <= '7');
}

std::uint32_t LhaDosDateTime(const TLhaHeader& Header)
{
    if (!Header.UnixStamp)
        return Header.Stamp;
    return FileTimeToDosTime(win::UnixTimeToFileTime(std::int64_t(Header.Stamp)));
}

std::optional<std::int64_t> LhaUnixTime(const TLhaHeader& Header)
{
    return Header.UnixStamp ? std::optional<std::int64_t>(Header.Stamp) : std::nullopt;
}

std::string LhaNameToUtf8(const std::string& Stored)
{
    return ToDosSeparators(StoredNameToUtf8(Stored));
}

TReadAt LhaReaderOf(TStream32& Archive)
{
    return [&Archive](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Count <= 0 || Archive.Seek64(Offset, soBeginning) != Offset)
            return 0;
        return std::max(0, Archive.Read(Buffer, std::int32_t(std::min<std::int64_t>(Count, 1 << 30))));
    };
}

TUnLha::TUnLha(TObject* AOwner) : TUnBase(AOwner)
{
    // Several writers store full paths ("\dir\file"): they extract below the target folder.
    NameRules = kDosFullPaths;
    SetFileSpec({"*.*"});
}

void TUnLha::ProcessArchive(TStream32* Archive)
{
    CollectThenExtract(
        *this, Archive, FMembers, [this](TStream32& A) { CollectMembers(A); },
        [this](TStream32& A, const TMember& M) { ExtractMember(A, M); });
}

void TUnLha::CollectMembers(TStream32& Archive)
{
    const TReadAt read = LhaReaderOf(Archive);
    std::int64_t pos = LhaFirstHeader(read, std::max<std::int64_t>(ArchiveOffset, 0));
    TLhaHeader header;
    THeaderStatus status = THeaderStatus::End;
    // Detection passes over a first member whose header was damaged; that member is lost.
    if ((ArcType() == atLha || ArcType() == atLzh) && ArchiveOffset > 0 && LhaDamagedHeaderAt(read, 0))
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
    while (!GetCancel() && (status = ReadLhaHeaderPastGap(read, pos, ArchiveSize, header)) == THeaderStatus::Header) {
        pos = header.NextOffset;
        TMember member{header, LhaNameToUtf8(header.Name)};
        if (header.IsSymlink()) {
            // Links are not extracted, as with TAR, but each one selected is told.
            const std::size_t bar = member.Name.find('|');
            std::string name = member.Name.substr(0, bar);
            while (!name.empty() && name.back() == '\\')
                name.pop_back();
            const std::string target = bar == std::string::npos ? std::string() : member.Name.substr(bar + 1);
            if (!name.empty() && MatchesStoredName(name, RecurseDirs))
                DoError(name, target.empty() ? "symbolic link" : "symbolic link to " + target, E_SKIPPEDFILE,
                        VolumeName);
            continue;
        }
        if (member.Name.empty()) {
            // A folder without a name is the archive's root; a file without one has nowhere to go.
            if (!header.IsDirectory())
                DoError(ArchiveFile(), "", E_INVALIDFILENAME, VolumeName);
            continue;
        }
        if (!MatchesStoredName(member.Name, RecurseDirs))
            continue;
        NewestDate = std::max(NewestDate, DosDateTimeToDateTime(LhaDosDateTime(header)));
        PackedTotal += header.PackedSize;
        UnpackedTotal += header.UnpackedSize;
        FMembers.push_back(std::move(member));
    }
    // What came before the damage is still extracted, but the damage is reported.
    if (status == THeaderStatus::Corrupt && !GetCancel())
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
}

void TUnLha::ExtractMember(TStream32& Archive, const TMember& Member)
{
    const TLhaHeader& h = Member.Header;
    StartEntryData();
    Encrypted = false;
    MethodNumber = std::uint8_t(h.MethodChar());
    PackedSize = h.PackedSize;
    UnpackedSize = h.UnpackedSize;
    Crc32 = h.Crc;
    DateTime = DosDateTimeToDateTime(LhaDosDateTime(h));
    // A name of nothing but its root is the archive's root folder: nothing to make.
    if (Member.Name.find_first_not_of('\\') == std::string::npos)
        return;
    if (!NameEntry(Member.Name))
        return;
    if (!LhaMethodSupported(h)) {
        FailEntry(E_UNSUPPORTEDMETHOD);
        return;
    }
    if (h.IsDirectory()) {
        if (IsFileOutput() && CreateStoredDirs && !MakeStoredDir(FileName, LhaDosDateTime(h), LhaUnixTime(h)))
            return;
        RunningCrc.Crc16 = h.Crc;  // nothing to check
        CheckCrc(16, h.Crc);
        return;
    }
    std::unique_ptr<TStream32> out;
    if (!OpenPlainOutput(out))
        return;
    const int failure = DecodeMember(Archive, h, out.get());
    CloseOutFile(out, FileName, h.Attributes & kKeptAttributes, LhaDosDateTime(h), LhaUnixTime(h));
    FinishDecodedEntry(failure, 16, h.Crc);
}

int TUnLha::DecodeMember(TStream32& Archive, const TLhaHeader& Header, TStream32* Out)
{
    if (Archive.Seek64(Header.DataOffset, soBeginning) != Header.DataOffset)
        return E_UNEXPECTEDEOF;
    std::int64_t left = Header.PackedSize;
    const TByteSource source = [&](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
        const auto want = std::int32_t(std::min<std::int64_t>(std::int64_t(Count), left));
        const std::int32_t got = want > 0 ? ReadArchiveProc(&Archive, Buffer, want, false, 0) : 0;
        if (got <= 0)
            return 0;
        left -= got;
        BytesToRead -= got;
        return std::size_t(got);
    };
    std::uint64_t written = 0;
    const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
        if (GetCancel())
            throw ECancel();
        const auto n = std::int32_t(Count);
        if (WriteOutputProc(Out, Data, kKindFileData, n, 16, false) < n)
            throw TWriteStopped();
        written += Count;
        ProcessMessages();
        DoProgress(std::int64_t(written), Header.UnpackedSize, ArchiveSize);
    };
    try {
        TStaticHuffmanBits bits(source);
        TCodecStatus result = TCodecStatus::Ok;
        TStaticHuffmanParams params;
        const char method = Header.MethodChar();
        if (method == '0') {
            std::vector<std::uint8_t> block(32768);
            std::uint64_t remaining = Header.UnpackedSize;
            while (remaining > 0) {
                const std::size_t got =
                    source(block.data(), std::size_t(std::min<std::uint64_t>(remaining, block.size())));
                if (got == 0)
                    return E_UNEXPECTEDEOF;
                sink(block.data(), got);
                remaining -= got;
            }
        } else if (method == '1') {
            result = FAdaptive.AdaptiveHuffmanDecode(bits, sink, Header.UnpackedSize);
        } else if (LhaStaticParams(method, params)) {
            FStatic.StaticHuffmanInit(params);
            result = FStatic.StaticHuffmanDecode(bits, sink, Header.UnpackedSize);
        } else {
            return E_UNSUPPORTEDMETHOD;
        }
        return CodecStatusMessage(result);
    } catch (const TWriteStopped&) {
        return kFailureReported;
    }
    return 0;
}
