#include "readers/plxUnBh.h"

#include <algorithm>

#include "core/ByteSourceStream.h"
#include "core/Err_Msgs.h"
#include "core/plxBZip2.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "readers/MemberData.h"
#include "readers/plxUnLha.h"

namespace {

constexpr std::uint32_t kKeptAttributes = 0x27;  // read-only, hidden, system, archive
constexpr std::size_t kBlock = 32768;

// Thrown by the sink when the output cannot take a block (the write reported it).
struct TWriteStopped {};
// Thrown by the sink when the data decode to more than the header declares.
struct TOverflow {};

int FailureOf(TCodecStatus Result)
{
    if (Result == TCodecStatus::Canceled)
        throw ECancel();
    return CodecStatusMessage(Result);
}

}  // namespace

bool BhStaticParams(std::uint8_t Method, TStaticHuffmanParams& Params)
{
    // Method 3 is written with 14 dictionary bits and read with 15: the position-code count has
    // the same 5 bits, the missing lengths are 0. The window holds the whole 32 KiB dictionary.
    switch (Method) {
    case 1:
        Params = {13, 14, 4, 16};
        return true;
    case 3:
        Params = {15, 16, 5, 16};
        return true;
    default:
        return false;
    }
}

TUnBh::TUnBh(TObject* AOwner) : TUnBase(AOwner)
{
    // Several writers store full paths ("\dir\file"): they extract below the target folder.
    NameRules = kDosFullPaths;
    SetFileSpec({"*.*"});
}

void TUnBh::ProcessArchive(TStream32* Archive)
{
    CollectThenExtract(
        *this, Archive, FMembers, [this](TStream32& A) { CollectMembers(A); },
        [this](TStream32& A, const TMember& M) { ExtractMember(A, M); });
}

void TUnBh::CollectMembers(TStream32& Archive)
{
    const TReadAt read = LhaReaderOf(Archive);
    std::int64_t pos = std::max<std::int64_t>(ArchiveOffset, 0);
    TBhHeader header;
    THeaderStatus status = THeaderStatus::End;
    // A plain archive starts with a header: bytes before the first one found were a member.
    if (ArcType() == atBh && pos > 0)
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
    while (!GetCancel() && (status = ReadBhHeader(read, pos, header)) == THeaderStatus::Header) {
        pos = header.NextOffset();
        TMember member{header, BhNameToUtf8(header.Name)};
        if (member.Name.empty() || !MatchesStoredName(member.Name, RecurseDirs))
            continue;
        NewestDate = std::max(NewestDate, DosDateTimeToDateTime(header.DosDateTime));
        PackedTotal += header.DataSize();
        UnpackedTotal += header.UnpackedSize;
        FMembers.push_back(std::move(member));
    }
    // What came before the damage is still extracted, but the damage is reported.
    if (status == THeaderStatus::Corrupt && !GetCancel())
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
}

bool TUnBh::CheckPassword()
{
    return DataCipher.CheckCryptHeader(CryptHeader, FCurrent.Flags, FCurrent.Crc, Password(),
                                       std::uint16_t(FCurrent.DosDateTime & 0xFFFF));
}

bool TUnBh::Unlock(TStream32& Archive, const TBhHeader& Header)
{
    FCurrent = Header;
    Archive.Seek64(Header.DataOffset(), soBeginning);
    if (NoDecrypt) {
        PasswordRefused = true;  // no password fitted an earlier member: the rest are not tried
    } else if (!AcquirePassword()) {
        NoDecrypt = true;
        DoBadPassword();
    }
    if (PasswordRefused) {
        if (!GetCancel())
            FailEntry(E_PASSWORDFAILED);
        return false;
    }
    // Older writers start the data keys afresh after the encryption header.
    if (Header.Version < kBhCurrentVersion)
        DataCipher.InitDataKeys(Password());
    return true;
}

void TUnBh::ExtractMember(TStream32& Archive, const TMember& Member)
{
    const TBhHeader& h = Member.Header;
    StartEntryData();
    Encrypted = h.Encrypted();
    SetEncryptionMethod(Encrypted ? emZip_V2 : emNone);
    MethodNumber = h.Method == 2 ? 8 : h.Method;
    PackedSize = h.PackedSize;
    UnpackedSize = h.UnpackedSize;
    Crc32 = h.Crc;
    DateTime = DosDateTimeToDateTime(h.DosDateTime);
    VersionMadeBy = h.Version;
    if (!NameEntry(Member.Name))
        return;
    if (Member.Name.back() == '\\') {
        if (!PrepareOutput(true) || (IsFileOutput() && CreateStoredDirs && !MakeStoredDir(FileName, h.DosDateTime)))
            return;
        RunningCrc.Crc32 = h.Crc;  // nothing to check
        CheckCrc(32, h.Crc);
        return;
    }
    TStaticHuffmanParams params;
    const bool known =
        h.Method == 0 || h.Method == 2 || h.Method == 8 || h.Method == 12 || BhStaticParams(h.Method, params);
    if (!known) {
        FailEntry(E_UNSUPPORTEDMETHOD);
        return;
    }
    if (Encrypted && h.PackedSize < 12) {  // not even the encryption header
        FailEntry(E_BADFILEHEADER);
        return;
    }
    std::unique_ptr<TStream32> out;
    if (!PrepareOutput(false) || (Encrypted && !Unlock(Archive, h)) || !OpenPlainOutput(out, true))
        return;
    const int failure = DecodeMember(Archive, h, out.get());
    CloseOutFile(out, FileName, h.Attributes & kKeptAttributes, h.DosDateTime);
    FinishDecodedEntry(failure, 32, h.Crc);
}

int TUnBh::DecodeMember(TStream32& Archive, const TBhHeader& Header, TStream32* Out)
{
    // The encryption header went to the password check.
    const std::int64_t dataStart = Header.DataOffset() + (Header.Encrypted() ? 12 : 0);
    if (Archive.Seek64(dataStart, soBeginning) != dataStart)
        return E_UNEXPECTEDEOF;
    // Older writers left encrypted stored data plain.
    const bool decipher = Header.Encrypted() && !(Header.Method == 0 && Header.Version < kBhCurrentVersion);
    std::int64_t left = Header.DataSize();
    const TByteSource source = [&](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
        const auto want = std::int32_t(std::min<std::int64_t>({std::int64_t(Count), left, 1 << 30}));
        const std::int32_t got = want > 0 ? ReadArchiveProc(&Archive, Buffer, want, decipher, 0) : 0;
        if (got <= 0)
            return 0;
        left -= got;
        BytesToRead = std::max<std::int64_t>(0, BytesToRead - got);
        return std::size_t(got);
    };
    std::uint64_t written = 0;
    const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
        if (GetCancel())
            throw ECancel();
        if (Count > Header.UnpackedSize - written)
            throw TOverflow();
        while (Count > 0) {
            const auto n = std::int32_t(std::min(Count, kBlock));
            if (WriteOutputProc(Out, Data, kKindFileData, n, 32, false) < n)
                throw TWriteStopped();
            Data += n;
            Count -= std::size_t(n);
            written += std::uint64_t(n);
        }
        ProcessMessages();
        DoProgress(std::int64_t(written), Header.UnpackedSize, ArchiveSize);
    };
    int failure = 0;
    try {
        TStaticHuffmanParams params;
        if (BhStaticParams(Header.Method, params)) {
            if (!FStatic)
                FStatic = std::make_unique<TStaticHuffmanDecoder>();
            TStaticHuffmanBits bits(source);
            FStatic->StaticHuffmanInit(params);
            failure = FailureOf(FStatic->StaticHuffmanDecode(bits, sink, Header.UnpackedSize));
        } else if (Header.Method == 2 || Header.Method == 8) {
            TInflateIo io;
            io.Read = source;
            io.Write = sink;
            io.Cancel = CancelPtr;
            if (!FInflate)
                FInflate = std::make_unique<TInflateWorkspace>();
            io.Workspace = FInflate.get();
            failure = FailureOf(InflateData(io, false));
        } else if (Header.Method == 12) {
            TByteSourceStream stream(source);
            TBz2Owner owner;
            owner.Output = sink;
            owner.Cancel = CancelPtr;
            try {
                failure = DecodeBzip2Region(owner, &stream, left);
                if (failure == E_USERCANCEL)
                    throw ECancel();
            } catch (const Ebz2libError& e) {
                failure = e.ECode ? e.ECode : E_CORRUPTINPUT;
            }
        } else {
            std::vector<std::uint8_t> block(kBlock);
            for (std::size_t got; written < Header.UnpackedSize && (got = source(block.data(), block.size())) > 0;)
                sink(block.data(), got);
        }
    } catch (const TWriteStopped&) {
        return kFailureReported;
    } catch (const TOverflow&) {
        return E_CORRUPTINPUT;
    }
    if (failure == 0 && written != Header.UnpackedSize)
        failure = E_UNEXPECTEDEOF;
    return failure;
}
