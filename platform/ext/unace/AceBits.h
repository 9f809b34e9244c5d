// What the ACE decoder's modes share: the bit stream, the Huffman trees and the mode instruction
// that ends a block.
#pragma once

#include "core/ByteIO.h"
#include "core/Endian.h"

#include <cstdint>
#include <vector>

enum class TAceResult { Ok, Corrupt, Truncated, Unsupported, Stopped };

enum {
    kAceModeLz77 = 0,
    kAceModeDelta = 1,
    kAceModeExe = 2,
    kAceModeSound8 = 3,
    kAceModeSound32B = 6,
    kAceModePic = 7
};

// 32-bit little-endian words read most significant bit first. Up to 31 bits past the end read
// as zeros; consuming them marks the stream overrun.
class TAceBits {
public:
    explicit TAceBits(const TByteSource& In) : FIn(In) {}

    std::uint32_t Peek(int N)  // N <= 32
    {
        Fill();
        return N == 0 ? 0 : std::uint32_t(FBuf >> (64 - N));
    }
    void Skip(int N)
    {
        Fill();
        FBuf <<= N;
        FCount -= N;
        FConsumed += std::uint64_t(N);
    }
    std::uint32_t Read(int N)
    {
        const std::uint32_t v = Peek(N);
        Skip(N);
        return v;
    }
    // An integer of a known width whose top bit, always set, is not stored.
    std::uint32_t ReadKnownWidth(int N)
    {
        if (N < 2)
            return std::uint32_t(N);
        return Read(N - 1) + (std::uint32_t(1) << (N - 1));
    }
    // A Golomb-Rice code: RBits low bits, then the high part in unary. Signed codes keep the sign
    // in the lowest bit. False when the unary part runs longer than any sane encoder writes.
    bool ReadGolombRice(int RBits, bool Signed, std::int64_t& Value)
    {
        std::int64_t v = RBits > 0 ? std::int64_t(Read(RBits)) : 0;
        for (int ones = 0; Read(1) == 1; ++ones) {
            if (ones >= 4096 || Overrun())
                return false;
            v += std::int64_t(1) << RBits;
        }
        Value = !Signed ? v : (v & 1) ? -(v >> 1) - 1 : v >> 1;
        return true;
    }
    bool Overrun() const { return FEnded && FConsumed > FAvailable; }

private:
    void Fill()
    {
        while (FCount <= 32) {
            std::uint8_t word[4] = {};
            for (int i = 0; i < 4 && !FEnded; ++i) {
                if (FPos == FHave) {
                    FHave = FIn(FBlock, sizeof FBlock);
                    FPos = 0;
                    if (FHave == 0) {
                        FEnded = true;
                        break;
                    }
                }
                word[i] = FBlock[FPos++];
                FAvailable += 8;
            }
            FBuf |= std::uint64_t(GetLE32(word)) << (32 - FCount);
            FCount += 32;
        }
    }

    const TByteSource& FIn;
    std::uint8_t FBlock[65536] = {};
    std::size_t FPos = 0, FHave = 0;
    std::uint64_t FBuf = 0;
    int FCount = 0;
    std::uint64_t FConsumed = 0, FAvailable = 0;
    bool FEnded = false;
};

struct TAceTree {
    std::vector<std::uint16_t> Codes;
    std::vector<std::uint8_t> Widths;
    int MaxWidth = 0;
};

bool AceReadTree(TAceBits& Bits, int MaxWidth, int NumCodes, TAceTree& Tree);
bool AceReadSymbol(TAceBits& Bits, const TAceTree& Tree, int& Symbol);

// The instruction that switches the blocked method to another mode, with its parameters.
struct TAceMode {
    int Mode = kAceModeLz77;
    int DeltaDist = 0;
    int DeltaLen = 0;
    int ExeMode = 0;
};

void AceReadMode(TAceBits& Bits, TAceMode& Mode);
