#include "core/FilterStreams.h"

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

bool InInt32(std::int64_t v)
{
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

[[noreturn]] void RaiseDeflateError(int result)
{
    throw E_RAISE(result == Z_MEM_ERROR ? E_OUTOFMEMORY : E_UNKNOWNERROR);
}

int ZlibLevelOf(TDeflateType type)
{
    static constexpr int levels[] = {0, 1, Z_DEFAULT_COMPRESSION, 9};
    return levels[type <= dtDeflateX ? type : dtDeflateN];
}

std::uint32_t StartCrc(const TStreamControl& control, std::uint8_t width)
{
    const bool enciphered = control.EncryptionMethod == emZip_V2;
    if (enciphered && control.RunningCrc)
        return width == 16 ? control.RunningCrc->Crc16 : control.RunningCrc->Crc32;
    return width == 16 ? 0 : CRC_MASK;
}

void UpdateCrcOf(std::uint8_t width, const void* buffer, std::int64_t count, std::uint32_t& crc)
{
    if (width == 16)
        UpdateCrc16(buffer, count, crc);
    else
        UpdateCrc32(buffer, count, crc);
}

}  // namespace

// TCustomStream

TCustomStream::TCustomStream(TStream* Strm) : FBuffer(kBufferSize), FStrm(Strm), FStrmPos(Strm ? Strm->Position() : 0)
{
    CancelPointer = &FPrivateCancel;
}

void TCustomStream::RestoreStreamPosition()
{
    if (FStrm->Position() != FStrmPos)
        FStrm->Seek64(FStrmPos, soBeginning);
}

// TCompressStream

TCompressStream::TCompressStream(TStream* Target, TDeflateType DeflateType, int WindowBits) : TCustomStream(Target)
{
    FZRec.next_out = FBuffer.data();
    FZRec.avail_out = kBufferSize;
    // Named: a derived override is not yet (or no longer, below) part of the object.
    TCompressStream::InitDeflater(ZlibLevelOf(DeflateType), WindowBits);
}

std::vector<std::uint8_t> DeflateSmallBuffer(const std::uint8_t* Data, std::size_t Size, TDeflateType DeflateType)
{
    const auto bitsFor = [](std::size_t n) {
        int bits = 0;
        while (bits < 16 && (std::size_t(1) << bits) < n)
            ++bits;
        return bits;
    };
    // The window reaches back over the whole input (matches reach 262 bytes less than the window)
    // and the symbol buffer splits it into as many blocks as the full-size one would, so the data
    // packs as with full-size tables, at a fraction of their set-up.
    const int windowBits = -std::clamp(bitsFor(Size + 263), 9, 15);
    const int memLevel = std::clamp(bitsFor(Size + 1) - 6, 1, 8);
    z_stream z{};
    const int opened = deflateInit2(&z, ZlibLevelOf(DeflateType), Z_DEFLATED, windowBits, memLevel, Z_DEFAULT_STRATEGY);
    if (opened != Z_OK)
        RaiseDeflateError(opened);
    std::vector<std::uint8_t> packed(deflateBound(&z, uLong(Size)));
    z.next_in = const_cast<Bytef*>(Data);
    z.avail_in = uInt(Size);
    z.next_out = packed.data();
    z.avail_out = uInt(packed.size());
    const int result = deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        RaiseDeflateError(result == Z_OK ? Z_STREAM_ERROR : result);
    return packed;
}

TCompressStream::~TCompressStream()
{
    try {
        TCompressStream::FinishDeflate();
    } catch (...) {
        // Callers that need to know call FinishDeflate themselves before freeing.
    }
    if (FEngineOpen)
        deflateEnd(&FZRec);
}

void TCompressStream::InitDeflater(int Level, int WindowBits)
{
    const int result = deflateInit2(&FZRec, Level, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK)
        RaiseDeflateError(result);
    FEngineOpen = true;
}

void TCompressStream::FlushBuffer(std::size_t Count)
{
    if (Count > 0) {
        if (Enciphers())
            Cipher->EncryptBuffer(FBuffer.data(), Count);
        FStrm->WriteBuffer(FBuffer.data(), std::int32_t(Count));
        FStrmPos = FStrm->Position();
    }
    FZRec.next_out = FBuffer.data();
    FZRec.avail_out = kBufferSize;
}

std::int32_t TCompressStream::Write(const void* Buffer, std::int32_t Count)
{
    if (Count <= 0 || FFinished)
        return 0;
    RestoreStreamPosition();
    UpdateCrc32(Buffer, Count, Crc);
    FZRec.next_in = static_cast<Bytef*>(const_cast<void*>(Buffer));
    FZRec.avail_in = uInt(Count);
    while (FZRec.avail_in > 0 && !Cancelled()) {
        const uInt before = FZRec.avail_in;
        const int result = deflate(&FZRec, Z_NO_FLUSH);
        if (result != Z_OK) {
            FZRec.next_in = nullptr;
            FZRec.avail_in = 0;
            RaiseDeflateError(result);
        }
        LowerRemaining(before - FZRec.avail_in);
        if (FZRec.avail_out == 0)
            FlushBuffer(kBufferSize);
        DoProgress(TotalIn(), 0);
    }
    FZRec.next_in = nullptr;  // never keep the caller's buffer
    FZRec.avail_in = 0;
    return Count;
}

void TCompressStream::FinishDeflate()
{
    if (FFinished || !FEngineOpen)
        return;
    FFinished = true;
    RestoreStreamPosition();
    for (;;) {
        const int result = deflate(&FZRec, Z_FINISH);
        if (result == Z_STREAM_END)
            break;
        if (result != Z_OK || FZRec.avail_out != 0) {
            deflateEnd(&FZRec);
            FEngineOpen = false;
            RaiseDeflateError(result == Z_OK ? Z_STREAM_ERROR : result);
        }
        if (Cancelled()) {
            deflateEnd(&FZRec);
            FEngineOpen = false;
            return;
        }
        FlushBuffer(kBufferSize);
    }
    FlushBuffer(kBufferSize - FZRec.avail_out);
    deflateEnd(&FZRec);
    FEngineOpen = false;
}

std::int32_t TCompressStream::Seek(std::int32_t Offset, std::uint16_t Origin)
{
    if (Offset == 0 && Origin == soCurrent)
        return std::int32_t(std::min<std::int64_t>(TotalIn(), std::numeric_limits<std::int32_t>::max()));
    return -1;
}

std::int64_t TCompressStream::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    if (!InInt32(Offset))
        throw ERangeError();
    return Offset == 0 && Origin == soCurrent ? TotalIn() : -1;
}

// TDecompressStream

TDecompressStream::TDecompressStream(TStream* Source, int WindowBits, TEncryptionMethod Method, bool Deflate64)
    : TCustomStream(Source), FWindowBits(WindowBits), FDeflate64(Deflate64)
{
    EncryptionMethod = Method;
    // Named: a derived override is not yet (or no longer, below) part of the object.
    TDecompressStream::InitInflater(WindowBits);
}

TDecompressStream::~TDecompressStream()
{
    // Give back what was read past the compressed data, so the source stands just after it.
    if (FZRec.AvailIn > 0)
        FStrm->Seek64(FStrmPos - FZRec.AvailIn, soBeginning);
    TDecompressStream::EndInflater();
}

void TDecompressStream::InitInflater(int WindowBits)
{
    const int result = InflateInit2(&FZRec, WindowBits, kInflateRecordSize, FDeflate64);
    if (result != kInflateOk)
        throw E_RAISE(result == kInflateMemError ? E_OUTOFMEMORY : E_DECOMPRESSIONERROR);
}

void TDecompressStream::ResetInflater()
{
    InflateReset(&FZRec);
    FZRec.NextIn = FBuffer.data();
    FZRec.AvailIn = 0;
    FEndOfStream = false;
    FLastResult = kInflateOk;
}

void TDecompressStream::EndInflater()
{
    InflateEnd(&FZRec);
}

bool TDecompressStream::Refill(std::int32_t Want)
{
    // Never more than the buffer holds, whatever the caller asked for.
    Want = std::min(Want, kBufferSize);
    const std::int32_t got = Want > 0 ? FStrm->Read(FBuffer.data(), Want) : 0;
    FLastRead = std::max(got, 0);
    FStrmPos += FLastRead;
    FZRec.NextIn = FBuffer.data();
    FZRec.AvailIn = std::uint32_t(FLastRead);
    if (FLastRead > 0) {
        if (Enciphers())
            Cipher->DecryptBuffer(FBuffer.data(), std::size_t(FLastRead));
        DoProgress(std::int64_t(FZRec.TotalIn) + FLastRead, 0);
    }
    return FLastRead > 0;
}

std::int32_t TDecompressStream::Inflate(void* Buffer, std::int32_t Count, std::int64_t* Left, std::int32_t ReadSize)
{
    if (Count <= 0 || FEndOfStream)
        return 0;
    RestoreStreamPosition();
    FZRec.NextOut = static_cast<std::uint8_t*>(Buffer);
    FZRec.AvailOut = std::uint32_t(Count);
    while (FZRec.AvailOut > 0) {
        if (FZRec.AvailIn == 0) {
            std::int64_t want = Left ? std::min<std::int64_t>(ReadSize, *Left) : Count;
            Refill(std::int32_t(std::clamp<std::int64_t>(want, 0, kBufferSize)));
            if (Left)
                *Left -= FLastRead;
        }
        FLastResult = ::Inflate(&FZRec, kInflateNoFlush);
        if (FLastResult == kInflateStreamEnd) {
            FEndOfStream = true;
            break;
        }
        if (FLastResult == kInflateNeedDict)
            FLastResult = kInflateDataError;
        if (FLastResult < 0)
            break;
    }
    FZRec.NextOut = nullptr;
    const std::int32_t produced = Count - std::int32_t(FZRec.AvailOut);
    FZRec.AvailOut = 0;
    // Running out of input after some output is a pause, not a failure; damage always fails.
    if (FLastResult < 0 && (produced == 0 || FLastResult != kInflateBufError))
        return FLastResult;
    return produced;
}

std::int32_t TDecompressStream::Read(void* Buffer, std::int32_t Count)
{
    return Inflate(Buffer, Count, nullptr, 0);
}

std::int32_t TDecompressStream::ReadInflate(void* Buffer, std::int32_t Count, std::int64_t& Left, std::int32_t ReadSize)
{
    return Inflate(Buffer, Count, &Left, ReadSize);
}

std::int32_t TDecompressStream::Seek(std::int32_t Offset, std::uint16_t Origin)
{
    if (Origin > soEnd)
        return -1;
    const std::int64_t pos = Seek64(Offset, TSeekOrigin(Origin));
    return std::int32_t(std::min<std::int64_t>(pos, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t TDecompressStream::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    if (!InInt32(Offset))
        throw ERangeError();
    if (Offset == 0 && Origin == soBeginning) {
        ResetInflater();
        FStrm->Seek64(0, soBeginning);
        FStrmPos = 0;
        return 0;
    }
    std::int64_t skip = 0;
    if (Origin == soCurrent && Offset > 0)
        skip = Offset;
    else if (Origin == soBeginning && Offset > TotalOut())
        skip = Offset - TotalOut();
    std::uint8_t discard[4096];
    while (skip > 0) {
        const std::int32_t got = Read(discard, std::int32_t(std::min<std::int64_t>(skip, sizeof discard)));
        if (got <= 0)
            break;
        skip -= got;
    }
    return TotalOut();
}

// TStoreStream

TStoreStream::TStoreStream(TStream* Target, const TStreamControl& Control, std::uint8_t Width) : TCustomStream(Target)
{
    CrcWidth = Width;
    EncryptionMethod = Control.EncryptionMethod;
    Cipher = Control.Cipher;
    Remaining = Control.Remaining;
    if (Control.Cancel)
        CancelPointer = Control.Cancel;
    if (EncryptionMethod == emZip_V2 && !Cipher)
        throw E_RAISE(E_PASSWORDNOTASSIGNED);
    Crc = StartCrc(Control, Width);
}

std::int32_t TStoreStream::Write(const void* Buffer, std::int32_t Count)
{
    if (Count <= 0)
        return 0;
    if (Enciphers()) {
        // Encipher a copy: the caller's data may be read again (a retry, a verify).
        const auto* data = static_cast<const std::uint8_t*>(Buffer);
        for (std::int32_t done = 0; done < Count;) {
            const std::int32_t n = std::min(Count - done, kBufferSize);
            std::memcpy(FBuffer.data(), data + done, std::size_t(n));
            Cipher->EncryptBuffer(FBuffer.data(), std::size_t(n));
            FStrm->WriteBuffer(FBuffer.data(), n);
            done += n;
        }
    } else {
        UpdateCrcOf(CrcWidth, Buffer, Count, Crc);
        FStrm->WriteBuffer(Buffer, Count);
    }
    LowerRemaining(Count);
    FTotal += Count;
    DoProgress(FTotal, 0);
    return Count;
}

std::int64_t TStoreStream::CopyData(TStream* Source, std::int64_t Count)
{
    return CopyChunks(Source, Count, kCopyBlock, true);
}

// TCalcStreamCRC

TCalcStreamCRC::TCalcStreamCRC(TStream* Source, const TStreamProgress& Progress, bool* CancelPointer_,
                               const TStreamControl& Control, std::uint8_t Width, std::int64_t Count)
    : TCustomStream(Source)
{
    OnProgress = Progress;
    if (CancelPointer_)
        CancelPointer = CancelPointer_;
    Remaining = Control.Remaining;
    CrcWidth = Width;
    Crc = Width == 16 ? 0 : CRC_MASK;
    CopyFrom(Source, Count);
}

std::int32_t TCalcStreamCRC::Write(const void* Buffer, std::int32_t Count)
{
    if (Count <= 0)
        return 0;
    UpdateCrcOf(CrcWidth, Buffer, Count, Crc);
    LowerRemaining(Count);
    FDone += Count;
    DoProgress(FDone, 0);
    return Count;
}

std::uint32_t CalcStreamCRC(TStream* Source, const TStreamControl& Control, const TStreamProgress& Progress,
                            bool* CancelPointer, std::int64_t Count)
{
    TCalcStreamCRC calc(Source, Progress, CancelPointer, Control, 32, Count);
    Source->SetPosition(0);
    return calc.Crc;
}

std::uint32_t Adler32(std::uint32_t Adler, const void* Buffer, std::uint32_t Length)
{
    if (!Buffer)
        return 1;
    constexpr std::uint32_t base = 65521;
    constexpr std::uint32_t nmax = 3854;  // sums stay within 32 bits between reductions
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    std::uint32_t s1 = Adler & 0xFFFF;
    std::uint32_t s2 = Adler >> 16;
    while (Length > 0) {
        std::uint32_t n = std::min(Length, nmax);
        Length -= n;
        while (n--) {
            s1 += *p++;
            s2 += s1;
        }
        s1 %= base;
        s2 %= base;
    }
    return (s2 << 16) | s1;
}
