// The two modes of the blocked method that predict instead of matching: sound (8-bit samples of
// up to three interleaved channels) and picture (rows of pixel planes). Their output also joins
// the LZ77 dictionary, which the decoder does.
#pragma once

#include "platform/ext/unace/AceBits.h"

#include <array>
#include <cstdint>
#include <vector>

class TAceSound {
public:
    // A switch into the mode: a different sound mode starts from fresh channels.
    void Start(int Mode, bool Changed);
    // Appends up to Limit samples to Out; the block ends at a mode instruction (Next, Switched)
    // or when fewer than four bytes of the Remaining file are left.
    TAceResult Read(TAceBits& Bits, std::uint64_t Remaining, std::size_t Limit, std::vector<std::uint8_t>& Out,
                    bool& Switched, TAceMode& Next);

private:
    struct TChannel {
        int PredDifCount[2] = {}, LastPredDifCount[2] = {};
        int DifCount[4] = {}, Coeff[4] = {}, Dif[9] = {};
        std::uint32_t ByteCount = 0;
        int LastSample = 0, LastDelta = 0;
        int AdaptCount = 0, AdaptUse = 0;
        int State = 0, Code = 0;

        int Predicted() const;
        int Predict() const;
        void Adjust(int Sample);
    };
    bool Symbol(TAceBits& Bits, int Model, int& Symbol);

    int FMode = 0;
    std::vector<TAceTree> FTrees;
    int FSymbolsLeft = 0;
    std::vector<TChannel> FChannels;
    std::uint64_t FIndex = 0;  // samples since the block began: they pick the channel
};

class TAcePicture {
public:
    // A switch into the mode: a different mode reads the row geometry and starts fresh models.
    TAceResult Start(TAceBits& Bits, bool Changed);
    // Appends whole rows (the last one cut to Remaining) until Limit bytes or a mode instruction.
    TAceResult Read(TAceBits& Bits, std::uint64_t Remaining, std::size_t Limit, std::vector<std::uint8_t>& Out,
                    bool& Switched, TAceMode& Next);

private:
    struct TContext {
        int Used = 0;
        std::int64_t Average = 4;
        int Predictor = 0;
        int Errors[4] = {};
    };
    using TModel = std::array<TContext, 365>;
    TAceResult Row(TAceBits& Bits);

    int FWidth = 0, FPlanes = 0;
    TModel FFirstPlane{}, FOtherPlanes{};
    std::vector<std::uint8_t> FPrevious, FRow;
};
