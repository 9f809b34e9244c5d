#include "core/plxBZip2.h"

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"

#include <algorithm>
#include <vector>

namespace {

// Consecutive volumes that may yield nothing before the data counts as ended; guards against a
// volume hook that keeps answering true without the source moving.
constexpr int kMaxEmptyVolumes = 64;

[[noreturn]] void RaiseNumbered(int number)
{
    throw Ebz2libError(std::string(LoadMessage(number)), number);
}

}  // namespace

int Bzip2BlockSizeOf(TDeflateType type)
{
    switch (type) {
    case dtDeflateF:
        return 2;
    case dtDeflateN:
        return 6;
    default:
        return 9;
    }
}

Tbz2Stream::Tbz2Stream(const TBz2Owner& owner, TStream* strm, std::int64_t startOffset, std::int64_t limit)
    : FOwner(owner), FStrm(strm), FStartOffset(startOffset), FLimit(std::max<std::int64_t>(limit, 0))
{
    CancelPointer = owner.Cancel;
    if (FStartOffset >= 0)
        FStrm->Seek64(FStartOffset, soBeginning);
}

// ---- decoding ----

TBzDecompressStream::TBzDecompressStream(const TBz2Owner& owner, TStream* source, std::int64_t startOffset,
                                         std::int64_t limit)
    : Tbz2Stream(owner, source, startOffset, limit)
{
    const int rc = BZ2_bzDecompressInit(&FRec, 0, 0);
    if (rc == BZ_MEM_ERROR)
        throw Ebz2MEMError();
    if (rc != BZ_OK)
        throw Ebz2libError(kBz2InitText);
    FEngineOpen = true;
}

TBzDecompressStream::~TBzDecompressStream()
{
    if (FEngineOpen)
        BZ2_bzDecompressEnd(&FRec);
}

bool TBzDecompressStream::FillInput()
{
    const std::int64_t limitAtStart = FLimit + FTotal;
    for (int emptyVolumes = 0;;) {
        const auto want = std::int32_t(std::min<std::int64_t>(kBufferSize, FLimit));
        if (want <= 0)
            break;
        const std::int32_t got = FStrm->Read(FBuffer, want);
        if (got > 0) {
            FLimit -= got;
            FTotal += got;
            LowerRemaining(got);
            if (FOwner.Cipher)
                FOwner.Cipher->DecryptBuffer(FBuffer, std::size_t(got));
            FRec.next_in = reinterpret_cast<char*>(FBuffer);
            FRec.avail_in = unsigned(got);
            DoProgress(FTotal, limitAtStart);
            return true;
        }
        if (!FOwner.NextVolume || emptyVolumes++ >= kMaxEmptyVolumes)
            break;
        if (!FOwner.NextVolume()) {
            if (CancelPointer)
                *CancelPointer = true;
            throw Ebz2USERError(std::string(LoadMessage(E_USERCANCEL)));
        }
    }
    FInputDone = true;
    return false;
}

// Called after a stream's end with the engine closed: starts the next stream. Only zero padding
// may follow the last one; anything else is decoded as a stream and fails if it is none.
void TBzDecompressStream::StartNextStream()
{
    for (;;) {
        while (FRec.avail_in > 0 && *FRec.next_in == 0) {
            ++FRec.next_in;
            --FRec.avail_in;
        }
        if (FRec.avail_in > 0)
            break;
        if (FInputDone || !FillInput()) {
            FEnded = true;
            return;
        }
    }
    char* next = FRec.next_in;
    const unsigned avail = FRec.avail_in;
    const int rc = BZ2_bzDecompressInit(&FRec, 0, 0);
    if (rc == BZ_MEM_ERROR)
        throw Ebz2MEMError();
    if (rc != BZ_OK)
        throw Ebz2libError(kBz2InitText);
    FEngineOpen = true;
    FRec.next_in = next;
    FRec.avail_in = avail;
}

std::int32_t TBzDecompressStream::Read(void* Buffer, std::int32_t Count)
{
    if (Count <= 0 || Buffer == nullptr || FEnded)
        return 0;
    FRec.next_out = static_cast<char*>(Buffer);
    FRec.avail_out = unsigned(Count);
    while (FRec.avail_out > 0 && !FEnded) {
        if (FRec.avail_in == 0 && !FInputDone)
            FillInput();
        const unsigned roomBefore = FRec.avail_out;
        const unsigned inBefore = FRec.avail_in;
        const int rc = BZ2_bzDecompress(&FRec);
        if (rc == BZ_STREAM_END) {
            BZ2_bzDecompressEnd(&FRec);
            FEngineOpen = false;
            if (Concatenated)
                StartNextStream();
            else
                FEnded = true;
            continue;
        }
        if (rc == BZ_OK) {
            // No input left and the engine can give nothing more: the end marker is missing.
            const bool stalled = FRec.avail_out == roomBefore && FRec.avail_in == inBefore;
            if (stalled && (FInputDone || FRec.avail_in > 0)) {
                FEnded = true;
                RaiseNumbered(E_UNEXPECTEDEOF);
            }
            continue;
        }
        FEnded = true;
        if (rc == BZ_DATA_ERROR || rc == BZ_DATA_ERROR_MAGIC)
            RaiseNumbered(E_CORRUPTINPUT);
        if (rc == BZ_MEM_ERROR)
            throw Ebz2MEMError();
        throw Ebz2libError(kBz2DecompressText);
    }
    const std::int32_t produced = Count - std::int32_t(FRec.avail_out);
    FOut += produced;
    return produced;
}

std::int64_t TBzDecompressStream::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    std::int64_t target;
    if (Origin == soCurrent && Offset >= 0)
        target = FOut + Offset;
    else if (Origin == soBeginning && Offset >= FOut)
        target = Offset;
    else
        throw Ebz2libError(kBz2InvalidOpText);
    std::vector<std::uint8_t> scratch(kBufferSize);
    while (FOut < target) {
        const auto want = std::int32_t(std::min<std::int64_t>(kBufferSize, target - FOut));
        if (Read(scratch.data(), want) == 0)
            break;
    }
    return FOut;
}

int DecodeBzip2Region(const TBz2Owner& owner, TStream* archive, std::int64_t compSize, bool concatenated)
{
    TBzDecompressStream bz(owner, archive, -1, compSize);
    bz.Concatenated = concatenated;
    std::vector<std::uint8_t> block(4 * Tbz2Stream::kBufferSize);
    for (;;) {
        if (bz.Cancelled()) {
            if (owner.Crc)
                owner.Crc->Reset();
            return E_USERCANCEL;
        }
        const std::int32_t n = bz.Read(block.data(), std::int32_t(block.size()));
        if (n <= 0)
            return 0;
        if (owner.Output)
            owner.Output(block.data(), std::size_t(n));
    }
}

// ---- encoding ----

TBZCompressStream::TBZCompressStream(const TBz2Owner& owner, TStream* target, std::int64_t startOffset,
                                     std::int64_t limit, int blockSize)
    : Tbz2Stream(owner, target, startOffset, limit)
{
    if (Cancelled())
        throw Ebz2USERError();
    const int rc = BZ2_bzCompressInit(&FRec, std::clamp(blockSize, 1, 9), 0, 30);
    if (rc == BZ_MEM_ERROR)
        throw Ebz2MEMError();
    if (rc != BZ_OK)
        throw Ebz2libError(kBz2InitText);
    FEngineOpen = true;
    FRec.next_out = reinterpret_cast<char*>(FBuffer);
    FRec.avail_out = kBufferSize;
}

TBZCompressStream::~TBZCompressStream()
{
    if (FEngineOpen)
        BZ2_bzCompressEnd(&FRec);
}

void TBZCompressStream::FlushOutput()
{
    const auto n = std::int32_t(kBufferSize - FRec.avail_out);
    if (n > 0) {
        if (FOwner.Cipher)
            FOwner.Cipher->EncryptBuffer(FBuffer, std::size_t(n));
        FStrm->WriteBuffer(FBuffer, n);
        FTotal += n;
    }
    FRec.next_out = reinterpret_cast<char*>(FBuffer);
    FRec.avail_out = kBufferSize;
}

std::int32_t TBZCompressStream::Write(const void* Buffer, std::int32_t Count)
{
    if (Cancelled())
        return 0;
    if (Count <= 0)
        return 0;
    if (FFinished)
        throw Ebz2libError(kBz2InvalidOpText);
    // The engine takes a non-const pointer but only reads through it.
    FRec.next_in = static_cast<char*>(const_cast<void*>(Buffer));
    FRec.avail_in = unsigned(Count);
    while (FRec.avail_in > 0) {
        if (BZ2_bzCompress(&FRec, BZ_RUN) != BZ_RUN_OK)
            throw Ebz2libError(kBz2CompressText);
        if (FRec.avail_out == 0)
            FlushOutput();
    }
    FIn += Count;
    DoProgress(FIn, FLimit);
    return Count;
}

void TBZCompressStream::Finish()
{
    if (FFinished)
        return;
    for (;;) {
        const int rc = BZ2_bzCompress(&FRec, BZ_FINISH);
        if (rc != BZ_FINISH_OK && rc != BZ_STREAM_END)
            throw Ebz2libError(kBz2FinishText);
        if (rc == BZ_STREAM_END || FRec.avail_out == 0)
            FlushOutput();
        if (rc == BZ_STREAM_END)
            break;
    }
    BZ2_bzCompressEnd(&FRec);
    FEngineOpen = false;
    FFinished = true;
}

std::int64_t TBZCompressStream::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    if (Offset == 0 && Origin == soCurrent)
        return FIn;
    throw Ebz2libError(kBz2InvalidOpText);
}

bool BZipEncodeStream(const TBz2Owner& owner, TStream* input, TStream* output, const TStreamProgress& progress,
                      int level, std::int64_t size)
{
    TBZCompressStream bz(owner, output, -1, size, level);
    bz.OnProgress = progress;
    const bool crcHere = owner.Crc && !IsOwnEncryptionMethod(owner.EncryptionMethod);
    std::vector<std::uint8_t> chunk(Tbz2Stream::kBufferSize);
    std::int64_t left = size;
    while (size < 0 || left > 0) {
        const auto want = std::int32_t(size < 0 ? chunk.size() : std::min<std::int64_t>(chunk.size(), left));
        const std::int32_t got = input->Read(chunk.data(), want);
        if (got <= 0)
            break;
        if (crcHere)
            owner.Crc->UpdateCrc(32, chunk.data(), got);
        if (bz.Write(chunk.data(), got) != got)
            return false;
        left -= got;
        ProcessMessages();
    }
    if (size >= 0 && left > 0)
        return false;  // the input shrank while being read
    bz.Finish();
    if (crcHere)
        owner.Crc->Crc32 ^= CRC_MASK;
    return true;
}
