// LHA -lh1-: LZ77 over a 4096-byte window, literals and lengths under one adaptive Huffman tree,
// positions under a fixed code for their upper 6 bits. One object decodes one member.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ByteIO.h"
#include "readers/StaticHuffman.h"

class TAdaptiveHuffmanDecoder {
public:
    // Decodes OutputSize bytes from Bits into Sink.
    TCodecStatus AdaptiveHuffmanDecode(TStaticHuffmanBits& Bits, const TByteSink& Sink, std::uint64_t OutputSize);

private:
    static constexpr int N_CHAR = 314;        // 256 literals and lengths 3 to 60
    static constexpr int T = 2 * N_CHAR - 1;  // nodes
    static constexpr int R = T - 1;           // the root
    static constexpr unsigned kMaxFreq = 0x8000;

    void StartTree();
    void Rebuild();
    void Update(int Symbol);
    int DecodeSymbol(TStaticHuffmanBits& Bits);
    unsigned DecodePosition(TStaticHuffmanBits& Bits);

    std::uint16_t FFreq[T + 1] = {};
    std::int16_t FParent[T + N_CHAR] = {};
    std::int16_t FSon[T] = {};
};
