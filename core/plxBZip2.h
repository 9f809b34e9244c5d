// bzip2 filter streams over libbzip2: decode-on-read (.bz2 files, ZIP and BH method 12) and
// encode-on-write (.bz2 and TAR+bzip2 writers, ZIP and BH method 12). They live in the core because
// the core's per-entry compression and member decoding call them; the .bz2 extractor and writer
// components build on them.
#pragma once

#include "core/ByteIO.h"
#include "core/Crc.h"
#include "core/Err_Msgs.h"
#include "core/plxConsts.h"
#include "core/plxCrypt.h"
#include "core/plxStreams.h"

#include <bzlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// Texts of the bzip2 stream failures.
inline constexpr const char* kBz2MemText = "The bz2 engine have not enough memory to initialize !";
inline constexpr const char* kBz2InitText = "The bz2 engine reports a fatal error during initialization process !";
inline constexpr const char* kBz2AbortText = "The client application abort bz2 process";
inline constexpr const char* kBz2CompressText = "The bz2 engine reports a fatal error during compression process.";
inline constexpr const char* kBz2FinishText = "The bz2 engine reports a fatal error during terminaison process.";
inline constexpr const char* kBz2DecompressText = "The bz2 engine reports a fatal error during decompression process.";
inline constexpr const char* kBz2InvalidOpText = "Invalid stream operation";

// Message numbers the streams' failures carry, so that the running component can report them.

// ECode is the message number to report, 0 when Message is the whole story.
class Ebz2libError : public win::Exception {
public:
    explicit Ebz2libError(std::string message, int code = 0) : win::Exception(std::move(message)), ECode(code) {}
    int ECode;
};
class Ebz2MEMError : public Ebz2libError {
public:
    Ebz2MEMError() : Ebz2libError(kBz2MemText, E_OUTOFMEMORY) {}
};
class Ebz2USERError : public Ebz2libError {
public:
    explicit Ebz2USERError(std::string message = kBz2AbortText) : Ebz2libError(std::move(message), E_USERCANCEL) {}
};

// What the streams need of the component that runs them; every member may stay empty. Progress
// and the packed-byte counter are the stream's own TStream32 hooks.
struct TBz2Owner {
    // Opens the next volume of a split or spanned set so that the source stream reads on; false
    // when there is none (the run is then cancelled).
    std::function<bool()> NextVolume;
    // Set while the entry's data is enciphered with the traditional ZIP cipher (emZip_V2):
    // compressed bytes are deciphered after reading and enciphered before writing.
    TZipCipher* Cipher = nullptr;
    // The running CRC-32 of the entry (start CRC_MASK).
    TRunningCrc* Crc = nullptr;
    // The component's output operation (CRC-32 and progress included); throws on a failed write.
    TByteSink Output;
    // The component's encryption method: with one of its own ciphers the CRC comes from a pass
    // of its own before the data, so the encoder leaves it alone.
    TEncryptionMethod EncryptionMethod = emNone;
    // The component's cancel flag.
    bool* Cancel = nullptr;
};

// Block size (in 100,000 bytes) of the ZIP bzip2 method for a deflate type.
int Bzip2BlockSizeOf(TDeflateType type);

// Holds the libbzip2 record, the stream the compressed bytes come from or go to, and the limits.
class Tbz2Stream : public TStream32 {
public:
    static constexpr std::int32_t kBufferSize = 16384;

    Tbz2Stream(const TBz2Owner& owner, TStream* strm, std::int64_t startOffset, std::int64_t limit);
    Tbz2Stream(const Tbz2Stream&) = delete;
    Tbz2Stream& operator=(const Tbz2Stream&) = delete;

    void SetSize64(std::int64_t) override { throw Ebz2libError(kBz2InvalidOpText); }
    std::int64_t GetSize() override { return -1; }

    std::int64_t TotalCompressed() const { return FTotal; }
    bool Ended() const { return FEnded; }

protected:
    TBz2Owner FOwner;
    TStream* FStrm;
    std::int64_t FStartOffset;
    std::int64_t FLimit;      // compressed bytes still allowed (decoding) or the input size (encoding)
    std::int64_t FTotal = 0;  // compressed bytes read or written
    bool FEnded = false;
    bz_stream FRec{};
    std::uint8_t FBuffer[kBufferSize] = {};
};

// Decode-on-read. Read answers the bytes produced, 0 once the data has ended. A damaged stream,
// or data that ends before the stream's end marker, raises Ebz2libError with the message number
// to report: a decoder never lets the CRC check be the only guard.
class TBzDecompressStream : public Tbz2Stream {
public:
    // Reads from startOffset (-1: where the source stands) at most limit compressed bytes
    // (a negative limit counts as 0).
    TBzDecompressStream(const TBz2Owner& owner, TStream* source, std::int64_t startOffset, std::int64_t limit);
    ~TBzDecompressStream() override;

    // Decode every bzip2 stream that follows the first (a .bz2 file made by concatenation or by
    // a parallel compressor); only zero padding may follow the last one, anything else is
    // corruption. Off: only the first stream is decoded and what follows it is ignored.
    bool Concatenated = false;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void*, std::int32_t) override { throw Ebz2libError(kBz2InvalidOpText); }
    // Forward only, from the start or the current position, by decoding and discarding.
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;

    std::int64_t TotalOut() const { return FOut; }

private:
    bool FillInput();
    void StartNextStream();

    bool FEngineOpen = false;
    bool FInputDone = false;  // nothing more can come from the source
    std::int64_t FOut = 0;
};

// Encode-on-write. Finish ends the bzip2 stream and writes the rest; the destructor only frees
// the engine, so a stream that was never finished leaves no valid end behind.
class TBZCompressStream : public Tbz2Stream {
public:
    // blockSize 1..9 (values outside are clamped); writes from startOffset (-1: where the target
    // stands). limit is the expected input size, for progress only.
    TBZCompressStream(const TBz2Owner& owner, TStream* target, std::int64_t startOffset, std::int64_t limit,
                      int blockSize);
    ~TBZCompressStream() override;

    std::int32_t Read(void*, std::int32_t) override { throw Ebz2libError(kBz2InvalidOpText); }
    // Answers Count, or 0 when the run has been cancelled.
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    // Only (0, soCurrent): the uncompressed bytes taken so far.
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;
    void Finish();

    std::int64_t TotalIn() const { return FIn; }

private:
    void FlushOutput();

    bool FEngineOpen = false;
    bool FFinished = false;
    std::int64_t FIn = 0;
};

// Decodes the bzip2 data of the next compSize bytes of archive into owner.Output. Answers 0, or
// E_USERCANCEL when the run was cancelled (the CRC accumulator is then reset); the stream's failures
// (damaged or truncated data, memory) are raised as Ebz2libError, the output's pass through.
int DecodeBzip2Region(const TBz2Owner& owner, TStream* archive, std::int64_t compSize, bool concatenated = false);

// Compresses size bytes of input (all of it when size < 0) into output as one bzip2 stream of
// the given level (1..9), keeping owner.Crc and calling progress after each chunk. Answers false
// when the run was cancelled or the input ended short of size.
bool BZipEncodeStream(const TBz2Owner& owner, TStream* input, TStream* output, const TStreamProgress& progress,
                      int level, std::int64_t size);
