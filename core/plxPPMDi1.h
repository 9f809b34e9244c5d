// PPMd variant I revision 1 coder for ZIP method 98: the model, its range coder and the 2-byte
// parameter word in front of the coded data. Bytes come and go through the byte source and sink so
// that the archive components can put ciphers, CRCs and volume changes in between.
#pragma once

#include "core/ByteIO.h"
#include "core/CodecStatus.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// What the parameter word holds: bits 0-3 order - 1, bits 4-11 memory in MB - 1, bits 12-15
// restoration method (0 restart the model, 1 cut it down when memory runs out).
struct TPpmdParams {
    unsigned Order = 16;
    unsigned MemoryMB = 64;
    unsigned Restoration = 0;

    std::uint16_t Word() const;
    static TPpmdParams FromWord(std::uint16_t word);
    bool Supported() const;  // order 2..16, 1..256 MB, restoration 0 or 1
};

constexpr std::uint16_t kPpmdWriterWord = 0x03FF;  // order 16, 64 MB, restart

struct TPpmdCallbacks {
    // Read and write errors are the source's and sink's exceptions, passed on to the caller.
    // A reader of split archives asks for the next volume itself before answering 0.
    TByteSource Read;
    TByteSink Write;
    // Bytes done of the entry's total (input bytes when coding, output bytes when decoding).
    std::function<void(std::uint64_t done, std::uint64_t total)> Progress;
    // Polled for every symbol; when it turns true the run stops with Canceled.
    const volatile bool* Cancel = nullptr;
};

// Callbacks over memory: Read takes In from Pos on (advancing Pos), Write appends to Out.
TPpmdCallbacks MemoryPpmdCallbacks(const std::vector<std::uint8_t>& In, std::size_t& Pos,
                                   std::vector<std::uint8_t>& Out);

class TPpmdModel;

// One coder owns one model; its memory block is kept for the next run that asks for the same size.
class TPpmdCodec {
public:
    TPpmdCodec();
    ~TPpmdCodec();
    TPpmdCodec(const TPpmdCodec&) = delete;
    TPpmdCodec& operator=(const TPpmdCodec&) = delete;

    // Writes the parameter word and codes everything Read delivers up to its end.
    // sizeHint is the expected input size, used for progress only; *bytesIn gets the count coded.
    // Parameters it cannot code with are UnsupportedMethod, a model it cannot allocate OutOfMemory.
    TCodecStatus PPMdCompress(const TPpmdCallbacks& io, std::uint64_t sizeHint,
                              const TPpmdParams& params = TPpmdParams{}, std::uint64_t* bytesIn = nullptr);

    // Decodes one entry's data: packedSize counts the parameter word too. Stops after
    // unpackedSize bytes (or at the end mark when it is kPpmdUnknownSize); an end mark before
    // that size, coded data that runs out or a code no model allows is DataError (the ZIP family's
    // "bad block").
    static constexpr std::uint64_t kPpmdUnknownSize = ~std::uint64_t(0);
    TCodecStatus PPMdDecompress(const TPpmdCallbacks& io, std::uint64_t packedSize, std::uint64_t unpackedSize,
                                std::uint64_t* bytesOut = nullptr);

private:
    TCodecStatus PrepareModel(const TPpmdParams& params);
    std::unique_ptr<TPpmdModel> FModel;
};
