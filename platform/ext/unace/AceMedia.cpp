#include "platform/ext/unace/AceMedia.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace {

constexpr int kSoundWidth = 10;
constexpr int kRunCodes = 32;
constexpr int kSoundTypeCode = 256 + kRunCodes;
constexpr int kSoundCodes = 256 + kRunCodes + 1;
constexpr int kChannelsOf[4] = {1, 2, 3, 3};
// Which channel each byte of a group of four belongs to, per sound mode.
constexpr int kChannelOfByte[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};

constexpr int kMaxRowWidth = 1 << 20;

int SignedByte(int v)
{
    return std::int8_t(std::uint8_t(v));
}
int BitLength(std::uint64_t v)
{
    return int(std::bit_width(v));
}

// Magnitude classes of a signed byte difference (indexed modulo 256).
int SoundQuantizer(int v)
{
    const int k = v & 0xFF;
    return BitLength(std::uint64_t(k <= 128 ? k : 256 - k));
}

// Bits of a prediction error (indexed modulo 256) as the picture coder would spend them.
int DifBitWidth(int v)
{
    const int k = v & 0xFF;
    return BitLength(std::uint64_t(k < 128 ? 2 * k : 511 - 2 * k));
}

int PicQuantizer(int d)  // d in -255..255
{
    const int m = std::abs(d);
    const int q = m == 0 ? 0 : m < 3 ? 1 : m < 7 ? 2 : m < 21 ? 3 : 4;
    return d < 0 ? -q : q;
}

}  // namespace

// --- sound ---

int TAceSound::TChannel::Predicted() const
{
    return (8 * LastSample + Coeff[0] * DifCount[0] + Coeff[1] * DifCount[1] + Coeff[2] * DifCount[2] +
            Coeff[3] * DifCount[3]) >>
               3 &
           0xFF;
}

int TAceSound::TChannel::Predict() const
{
    return PredDifCount[0] > PredDifCount[1] ? LastSample : Predicted();
}

// Adapts the predictor's coefficients towards the difference that would have predicted best.
void TAceSound::TChannel::Adjust(int Sample)
{
    ++ByteCount;
    const int predDif = SignedByte(Predicted() - Sample) * 8;
    for (int i = 0; i < 4; ++i) {
        Dif[2 * i] += std::abs(predDif - DifCount[i]);
        Dif[2 * i + 1] += std::abs(predDif + DifCount[i]);
    }
    Dif[8] += std::abs(predDif);
    LastDelta = SignedByte(Sample - LastSample);
    PredDifCount[0] += SoundQuantizer(predDif >> 3);
    PredDifCount[1] += SoundQuantizer(LastSample - Sample);
    LastSample = Sample;
    if ((ByteCount & 0x1F) == 0) {
        int minDif = 0xFFFF, minPos = 8;
        for (int i = 8; i >= 0; --i) {
            if (Dif[i] <= minDif) {
                minDif = Dif[i];
                minPos = i;
            }
            Dif[i] = 0;
        }
        if (minPos != 8) {
            int& c = Coeff[minPos >> 1];
            if ((minPos & 1) == 0) {
                if (c >= -16)
                    --c;
            } else if (c <= 16) {
                ++c;
            }
        }
        if ((ByteCount & 0xFF) == 0)
            for (int i = 0; i < 2; ++i) {
                PredDifCount[i] -= LastPredDifCount[i];
                LastPredDifCount[i] = PredDifCount[i];
            }
    }
    DifCount[3] = DifCount[2];
    DifCount[2] = DifCount[1];
    DifCount[1] = LastDelta - DifCount[0];
    DifCount[0] = LastDelta;
}

void TAceSound::Start(int Mode, bool Changed)
{
    FIndex = 0;
    if (!Changed)
        return;
    FMode = Mode - kAceModeSound8;
    FChannels.assign(std::size_t(kChannelsOf[FMode]), TChannel{});
    FTrees.assign(FChannels.size() * 3, TAceTree{});
    FSymbolsLeft = 0;
}

bool TAceSound::Symbol(TAceBits& Bits, int Model, int& Symbol)
{
    if (FSymbolsLeft == 0) {
        for (TAceTree& tree : FTrees)
            if (!AceReadTree(Bits, kSoundWidth, kSoundCodes, tree))
                return false;
        FSymbolsLeft = int(Bits.Read(15));
    }
    --FSymbolsLeft;  // as with LZ77, a block announced as empty keeps its trees
    return AceReadSymbol(Bits, FTrees[std::size_t(Model)], Symbol);
}

TAceResult TAceSound::Read(TAceBits& Bits, std::uint64_t Remaining, std::size_t Limit, std::vector<std::uint8_t>& Out,
                           bool& Switched, TAceMode& Next)
{
    Switched = false;
    // The block covers the whole groups of four that were left when it began.
    const std::uint64_t blockEnd = (FIndex + Remaining) & ~std::uint64_t(3);
    for (std::size_t n = 0; n < Limit && FIndex < blockEnd; ++n, ++FIndex) {
        const int index = kChannelOfByte[FMode][FIndex % 4];
        if (index >= int(FChannels.size()))
            return TAceResult::Corrupt;
        TChannel& ch = FChannels[std::size_t(index)];
        if (ch.State != 2) {
            // Three models per channel: two for plain values (switched by how busy the signal
            // is) and one for the value after a run of zeros.
            const int model = 3 * index + (ch.State == 0 ? ch.AdaptUse : 2);
            if (!Symbol(Bits, model, ch.Code))
                return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Corrupt;
            if (ch.Code == kSoundTypeCode) {
                AceReadMode(Bits, Next);
                Switched = true;
                break;
            }
        }
        int value = 0;
        if (ch.State == 0) {
            if (ch.Code >= kRunCodes) {
                value = ch.Code - kRunCodes;
                ch.AdaptCount = (ch.AdaptCount * 7 >> 3) + value;
                ch.AdaptUse = ch.AdaptCount > 40 ? 1 : 0;
            } else {
                ch.State = 2;
            }
        } else if (ch.State == 1) {
            value = ch.Code;
            ch.State = 0;
        }
        if (ch.State == 2) {  // a run of Code + 1 zeros, then one value
            if (ch.Code == 0)
                ch.State = 1;
            else
                --ch.Code;
            value = 0;
        }
        const int delta = (value & 1) ? 255 - (value >> 1) : value >> 1;
        const int sample = (delta + ch.Predict()) & 0xFF;
        Out.push_back(std::uint8_t(sample));
        ch.Adjust(SignedByte(sample));
    }
    return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Ok;
}

// --- picture ---

TAceResult TAcePicture::Start(TAceBits& Bits, bool Changed)
{
    if (!Changed)
        return TAceResult::Ok;
    std::int64_t width = 0, planes = 0;
    if (!Bits.ReadGolombRice(12, false, width) || !Bits.ReadGolombRice(2, false, planes))
        return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Corrupt;
    if (width <= 0 || width > kMaxRowWidth || planes <= 0 || planes > width)
        return TAceResult::Corrupt;
    FWidth = int(width);
    FPlanes = int(planes);
    FFirstPlane.fill(TContext{});
    FOtherPlanes.fill(TContext{});
    FPrevious.assign(std::size_t(FWidth + FPlanes), 0);
    return TAceResult::Ok;
}

namespace {

// The neighbours of the pixel X being decoded, in this row and the one above:
//   C A D
//   B X
// Planes after the first are coded against the plane before them (kind 1 as a difference,
// kind 2 as a scaled difference); the first plane stands alone (kind 0).
struct TPixels {
    int Kind = 0;
    int A = 0, B = 0, C = 0, D = 0, X = 0;

    explicit TPixels(int AKind) : Kind(AKind)
    {
        if (Kind != 0)
            A = B = C = X = 128;
    }
    static int Scaled(int Kind, int Ref) { return Kind == 1 ? Ref : Ref * 11 >> 4; }
    void SetD(int This, int Ref) { D = Kind == 0 ? This : (128 + This - Scaled(Kind, Ref)) & 0xFF; }
    int Produce(int Ref) const { return Kind == 0 ? X : (X + Scaled(Kind, Ref) - 128) & 0xFF; }
    int Predict(int Predictor) const
    {
        switch (Predictor) {
        case 0:
            return A;
        case 1:
            return B;
        case 2:
            return (A + B) >> 1;
        default:
            return (A + B - C) & 0xFF;
        }
    }
};

}  // namespace

TAceResult TAcePicture::Row(TAceBits& Bits)
{
    const std::size_t size = std::size_t(FWidth + FPlanes);
    FRow.assign(size, 0);
    for (int plane = 0; plane < FPlanes; ++plane) {
        TModel& model = plane == 0 ? FFirstPlane : FOtherPlanes;
        const int kind = plane == 0 ? 0 : int(Bits.Read(2));
        if (kind == 3)
            return TAceResult::Corrupt;
        TPixels px(kind);
        px.SetD(FPrevious[std::size_t(plane)], FPrevious[plane == 0 ? size - 1 : std::size_t(plane - 1)]);
        for (int col = plane; col < FWidth; col += FPlanes) {
            px.C = px.A;
            px.A = px.D;
            px.B = px.X;
            px.SetD(FPrevious[std::size_t(col + FPlanes)], FPrevious[std::size_t(col + FPlanes - 1)]);
            TContext& ctx = model[std::size_t(
                std::abs(81 * PicQuantizer(px.D - px.A) + 9 * PicQuantizer(px.A - px.C) + PicQuantizer(px.C - px.B)))];
            ++ctx.Used;
            const int rBits = BitLength(std::uint64_t(ctx.Average / ctx.Used));
            std::int64_t epsilon = 0;
            if (rBits > 24 || !Bits.ReadGolombRice(rBits, true, epsilon))
                return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Corrupt;
            px.X = int((px.Predict(ctx.Predictor) + epsilon) & 0xFF);
            ctx.Average += std::abs(epsilon);
            if (ctx.Used == 128) {
                ctx.Used >>= 1;
                ctx.Average >>= 1;
            }
            // The next pixel in this context uses whichever predictor has erred least so far.
            int best = 0;
            bool halve = false;
            for (int i = 0; i < 4; ++i) {
                ctx.Errors[i] += DifBitWidth(px.X - px.Predict(i));
                if (ctx.Errors[i] < ctx.Errors[best])
                    best = i;
                halve = halve || ctx.Errors[i] > 0x7F;
            }
            ctx.Predictor = best;
            if (halve)
                for (int& e : ctx.Errors)
                    e >>= 1;
            FRow[std::size_t(col)] = std::uint8_t(px.Produce(col == 0 ? FRow[size - 1] : FRow[std::size_t(col - 1)]));
        }
    }
    FPrevious.swap(FRow);
    return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Ok;
}

TAceResult TAcePicture::Read(TAceBits& Bits, std::uint64_t Remaining, std::size_t Limit, std::vector<std::uint8_t>& Out,
                             bool& Switched, TAceMode& Next)
{
    Switched = false;
    std::uint64_t done = 0;
    while (done < Remaining && done < Limit) {
        if (Bits.Read(1) == 0) {
            AceReadMode(Bits, Next);
            Switched = true;
            break;
        }
        const TAceResult r = Row(Bits);
        if (r != TAceResult::Ok)
            return r;
        // A row past the end of the file is cut; nothing ever reads its rest.
        const std::size_t n = std::size_t(std::min<std::uint64_t>(std::uint64_t(FWidth), Remaining - done));
        Out.insert(Out.end(), FPrevious.begin(), FPrevious.begin() + std::ptrdiff_t(n));
        done += n;
    }
    return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Ok;
}
