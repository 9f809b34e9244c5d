// ARJ method 4: LZ77 with fixed variable-length codes for lengths and distances, read by the
// static-Huffman bit reader. State per object.
#pragma once

#include <cstdint>
#include <vector>

#include "readers/StaticHuffman.h"

class TArjMethod4Decoder {
public:
    static constexpr std::size_t kWindowSize = 32768;  // beyond the longest distance (15871)

    // Decodes OutputSize bytes from Bits into Sink, in blocks of at most the window size.
    TCodecStatus Decode(TStaticHuffmanBits& Bits, const TByteSink& Sink, std::uint64_t OutputSize);

private:
    std::vector<std::uint8_t> FWindow;
};
