// The member decoders of the ZIP extractor, chosen by method. Every one reads through ReadMember
// (bounded by the compressed size, deciphered, continued on the next volume) and writes through
// WriteDecoded (bounded by the declared size; CRC and progress in the output hook).
#include "readers/plxUnZIP.h"

#include "core/ByteSourceStream.h"
#include "core/Err_Msgs.h"
#include "core/plxBZip2.h"
#include "core/plxHooks.h"
#include "readers/ZipLegacy.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kBlock = 32768;

// Thrown by the sink to stop a decoder that goes past the member's declared size.
struct TOverflowStop {};

}  // namespace

std::size_t TUnZip::ReadMember(std::uint8_t* Buffer, std::size_t Count)
{
    std::size_t total = 0;
    const bool decipher = FMemberEncrypted && EncryptionMethod() == emZip_V2;
    while (total < Count && FPackedLeft > 0 && ArchiveStream) {
        const auto want = std::int32_t(std::min<std::uint64_t>({Count - total, FPackedLeft, 1u << 30}));
        const std::int32_t got = FOwnHooks ? ReadArchiveBlock(ArchiveStream.get(), Buffer + total, want, decipher, 0)
                                           : ReadArchiveProc(ArchiveStream.get(), Buffer + total, want, decipher, 0);
        if (got <= 0) {
            // The member goes on on the next volume of a set; elsewhere its data ends here.
            if (IsMultiVolume() && !GetCancel() && NextVolume())
                continue;
            break;
        }
        total += std::size_t(got);
        FPackedLeft -= std::uint64_t(got);
        BytesToRead = std::max<std::int64_t>(0, BytesToRead - got);
    }
    MemberBytesRemaining() = std::int64_t(std::min<std::uint64_t>(FPackedLeft, INT64_MAX));
    return total;
}

void TUnZip::WriteDecoded(TStream32* Output, const std::uint8_t* Data, std::size_t Count)
{
    const std::uint64_t room = FWork.UnpackedSize - std::min(FWritten, FWork.UnpackedSize);
    if (Count > room) {
        Count = std::size_t(room);
        FOverflow = true;
    }
    while (Count > 0) {
        const auto n = std::int32_t(std::min(Count, kBlock));
        const std::int32_t written = FOwnHooks ? WriteOutputBlock(Output, Data, kKindFileData, n, 32, false)
                                               : WriteOutputProc(Output, Data, kKindFileData, n, 32, false);
        if (written < n)
            throw E_RAISE(E_WRITEFILE);  // reported by the output hook
        Data += n;
        Count -= std::size_t(n);
        FWritten += std::uint64_t(n);
        DoProgress(std::int64_t(FWritten), std::int64_t(FWork.UnpackedSize), ArchiveSize);
        ProcessMessages();
    }
    if (GetCancel())
        throw ECancel();
    if (FOverflow)
        throw TOverflowStop();
}

bool TUnZip::DecodeMember(TStream32* Output, const TWorkRecord& Work)
{
    FWork = Work;
    FWritten = 0;
    FOverflow = false;
    FPackedLeft = Work.PackedSize;
    if (FMemberEncrypted && EncryptionMethod() == emZip_V2)
        FPackedLeft -= std::min<std::uint64_t>(12, FPackedLeft);  // the header went to the password check
    MemberBytesRemaining() = std::int64_t(std::min<std::uint64_t>(FPackedLeft, INT64_MAX));
    if (FPackedLeft == 0)
        return Work.UnpackedSize == 0;

    const auto read = [this](std::uint8_t* b, std::size_t n) { return ReadMember(b, n); };
    const auto write = [this, Output](const std::uint8_t* d, std::size_t n) { WriteDecoded(Output, d, n); };
    bool ok = false;
    try {
        switch (Work.Method) {
        case 0: {
            // Grown to the largest member so far, never cleared again: small members cost no
            // allocation each.
            const std::size_t want = std::size_t(std::min<std::uint64_t>(kBlock, FPackedLeft));
            if (FStoredBlock.size() < want)
                FStoredBlock.resize(want);
            // Until the member's last byte: no read more to learn that it ended.
            for (std::size_t got; FPackedLeft > 0 && (got = read(FStoredBlock.data(), want)) > 0;)
                write(FStoredBlock.data(), got);
            ok = FPackedLeft == 0;
            break;
        }
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: {
            TZipLegacyMember member;
            member.CompressedSize = FPackedLeft;
            member.UncompressedSize = Work.UnpackedSize;
            member.Flags = Work.Flags;
            const TCodecStatus status = MakeZipLegacyDecoder(int(Work.Method), read, write, member)->Decode();
            if (const int message = ZipLegacyMessage(int(Work.Method), status))
                RaiseError(FileName, "", VolumeName, message);
            ok = status == TCodecStatus::Ok;
            break;
        }
        case 8:
        case 9: {
            TInflateIo io;
            io.Read = read;
            io.Write = write;
            io.Cancel = CancelPtr;
            if (!FInflate)
                FInflate = std::make_unique<TInflateWorkspace>();
            io.Workspace = FInflate.get();
            ok = InflateData(io, Work.Method == 9, FArcType == atGZip) == TCodecStatus::Ok;
            break;
        }
        case 12: {
            TByteSourceStream source(read);
            TBz2Owner owner;
            owner.Output = write;
            owner.Cancel = CancelPtr;
            try {
                ok = DecodeBzip2Region(owner, &source, std::int64_t(std::min<std::uint64_t>(FPackedLeft, INT64_MAX))) ==
                     0;
            } catch (const Ebz2libError& e) {
                RaiseError(FileName, "", VolumeName, e.ECode ? e.ECode : E_CORRUPTINPUT);
            }
            break;
        }
        case 98: {
            if (!FPpmd)
                FPpmd = std::make_unique<TPpmdCodec>();
            TPpmdCallbacks io;
            io.Read = read;
            io.Write = write;
            io.Cancel = CancelPtr;
            const TCodecStatus rc = FPpmd->PPMdDecompress(io, FPackedLeft, Work.UnpackedSize);
            if (rc == TCodecStatus::Canceled)
                throw ECancel();
            if (rc == TCodecStatus::UnsupportedMethod)
                DoError(FileName, "", E_UNSUPPORTEDMETHOD, VolumeName);
            else if (rc != TCodecStatus::Ok)
                RaiseError(FileName, "", VolumeName, CodecStatusMessage(rc, E_BADBLOCK));
            ok = rc == TCodecStatus::Ok;
            break;
        }
        default:
            DoError(FileName, "", E_UNSUPPORTEDMETHOD, VolumeName);
            return false;
        }
    } catch (const TOverflowStop&) {
        return false;
    }
    return ok && !FOverflow && FWritten == Work.UnpackedSize;
}
