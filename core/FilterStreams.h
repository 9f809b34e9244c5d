// Filters between a component and its archive stream: deflate on write, inflate on read, stored
// copy with CRC or cipher, CRC only. Each can run the traditional ZIP cipher on the way.
#pragma once

#include "core/Crc.h"
#include "core/Inflater.h"
#include "core/plxCrypt.h"
#include "core/plxStreams.h"

#include <zlib.h>

#include <cstdint>
#include <vector>

// What the caller hands a store or CRC filter: its counters, flag and cipher.
struct TStreamControl {
    std::int64_t* Remaining = nullptr;
    bool* Cancel = nullptr;
    TEncryptionMethod EncryptionMethod = emNone;
    TZipCipher* Cipher = nullptr;             // the operation's working keys, for emZip_V2
    const TRunningCrc* RunningCrc = nullptr;  // where an enciphered copy's CRC continues from
};

class TCustomStream : public TStream32 {
public:
    static constexpr std::int32_t kBufferSize = 65536;

    explicit TCustomStream(TStream* Strm);
    TCustomStream(const TCustomStream&) = delete;
    TCustomStream& operator=(const TCustomStream&) = delete;

    std::int64_t GetSize() override { return 0; }
    void SetSize64(std::int64_t) override {}
    std::int32_t Read(void*, std::int32_t) override { return -1; }
    std::int32_t Write(const void*, std::int32_t) override { return -1; }
    std::int64_t Seek64(std::int64_t, TSeekOrigin) override { return -1; }

    std::uint32_t Crc = CRC_MASK;
    TEncryptionMethod EncryptionMethod = emNone;
    TZipCipher* Cipher = nullptr;  // required for emZip_V2
    std::uint8_t CrcWidth = 32;

protected:
    bool Enciphers() const { return EncryptionMethod == emZip_V2 && Cipher; }
    void RestoreStreamPosition();

    std::vector<std::uint8_t> FBuffer;
    TStream* FStrm;
    std::int64_t FStrmPos;
    bool FPrivateCancel = false;
};

// Deflates what is written into the target. FinishDeflate writes the end of the deflate stream
// and raises on failure; freeing an unfinished stream finishes it without raising.
class TCompressStream : public TCustomStream {
public:
    TCompressStream(TStream* Target, TDeflateType DeflateType, int WindowBits);
    ~TCompressStream() override;

    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    // (0, soCurrent) answers the input taken so far; anything else -1.
    std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;

    virtual void FinishDeflate();
    std::int64_t TotalIn() const { return std::int64_t(FZRec.total_in); }
    std::int64_t TotalOut() const { return std::int64_t(FZRec.total_out); }

protected:
    virtual void InitDeflater(int Level, int WindowBits);
    void FlushBuffer(std::size_t Count);

    z_stream FZRec{};
    bool FEngineOpen = false;
    bool FFinished = false;
};

// Raw deflate of a whole buffer of up to 16 KiB in one call, with a window and tables sized for it:
// for a small file their set-up, not its data, was the cost. Raises as the stream does.
std::vector<std::uint8_t> DeflateSmallBuffer(const std::uint8_t* Data, std::size_t Size, TDeflateType DeflateType);

// Inflates from the source (our own inflater: raw Deflate for negative window bits, Deflate64 on
// request). Read answers the bytes produced, or a negative inflater result when nothing could be
// produced (damaged or truncated data).
class TDecompressStream : public TCustomStream {
public:
    TDecompressStream(TStream* Source, int WindowBits, TEncryptionMethod Method, bool Deflate64 = false);
    ~TDecompressStream() override;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    // Refills take at most ReadSize bytes and never more than Remaining, which is lowered by
    // what is taken from the source.
    std::int32_t ReadInflate(void* Buffer, std::int32_t Count, std::int64_t& Remaining, std::int32_t ReadSize);
    std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;

    bool EndOfStream() const { return FEndOfStream; }
    int LastResult() const { return FLastResult; }
    std::int64_t TotalOut() const { return std::int64_t(FZRec.TotalOut); }

protected:
    virtual void ResetInflater();
    virtual void EndInflater();
    virtual void InitInflater(int WindowBits);
    std::int32_t Inflate(void* Buffer, std::int32_t Count, std::int64_t* Remaining, std::int32_t ReadSize);
    bool Refill(std::int32_t Want);

    TInflateRecord FZRec{};
    int FWindowBits;
    bool FDeflate64;
    bool FEndOfStream = false;
    int FLastResult = kInflateOk;
    std::int32_t FLastRead = 0;
};

// Passes data to the target unchanged (CRC kept) or enciphered (a copy; the caller's data stays).
class TStoreStream : public TCustomStream {
public:
    static constexpr std::int32_t kCopyBlock = 102400;

    TStoreStream(TStream* Target, const TStreamControl& Control, std::uint8_t Width);

    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    // Count 0 copies the whole source from its start; answers the bytes copied.
    virtual std::int64_t CopyData(TStream* Source, std::int64_t Count);
    std::int64_t TotalWritten() const { return FTotal; }

protected:
    std::int64_t FTotal = 0;
};

// Computes the CRC of Count bytes of Source while it is constructed.
class TCalcStreamCRC : public TCustomStream {
public:
    TCalcStreamCRC(TStream* Source, const TStreamProgress& Progress, bool* CancelPointer, const TStreamControl& Control,
                   std::uint8_t Width, std::int64_t Count);

    std::int32_t Write(const void* Buffer, std::int32_t Count) override;

private:
    std::int64_t FDone = 0;
};

// The CRC-32 register of Count bytes of Source (0: all of it), not complemented; Source is left
// at position 0.
std::uint32_t CalcStreamCRC(TStream* Source, const TStreamControl& Control, const TStreamProgress& Progress,
                            bool* CancelPointer, std::int64_t Count);

std::uint32_t Adler32(std::uint32_t Adler, const void* Buffer, std::uint32_t Length);
