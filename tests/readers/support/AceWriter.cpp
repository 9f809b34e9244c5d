#include "readers/support/AceWriter.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <queue>
#include <utility>

namespace {

constexpr int kMaxWidth = 11;
constexpr int kMainCodes = 284;
constexpr int kLenCodes = 255;

// Bits most significant first into 32-bit little-endian words.
class TBitWriter {
public:
    void Put(std::uint32_t Value, int Bits)
    {
        for (int i = Bits - 1; i >= 0; --i) {
            FWord = FWord << 1 | ((Value >> i) & 1);
            if (++FFill == 32)
                Flush();
        }
    }
    std::vector<std::uint8_t> Finish()
    {
        if (FFill > 0) {
            FWord <<= 32 - FFill;
            Flush();
        }
        Put(0, 32);  // room for the reader's look-ahead
        return FOut;
    }

private:
    void Flush()
    {
        for (int i = 0; i < 4; ++i)
            FOut.push_back(std::uint8_t(FWord >> (8 * i)));
        FWord = 0;
        FFill = 0;
    }
    std::vector<std::uint8_t> FOut;
    std::uint32_t FWord = 0;
    int FFill = 0;
};

// The format's own ordering of widths (descending, ties as its quicksort leaves them): the
// reader assigns codes in this order, so the writer must too.
void Sort(std::vector<int>& K, std::vector<int>& V, int L, int R)
{
    int l = L, r = R;
    const int m = K[std::size_t(R)];
    for (;;) {
        while (K[std::size_t(l)] > m)
            ++l;
        while (K[std::size_t(r)] < m)
            --r;
        if (l <= r) {
            std::swap(K[std::size_t(l)], K[std::size_t(r)]);
            std::swap(V[std::size_t(l)], V[std::size_t(r)]);
            ++l;
            --r;
        }
        if (l >= r)
            break;
    }
    auto fix = [&](int a, int b) {
        if (K[std::size_t(a)] < K[std::size_t(b)]) {
            std::swap(K[std::size_t(a)], K[std::size_t(b)]);
            std::swap(V[std::size_t(a)], V[std::size_t(b)]);
        }
    };
    if (L < r) {
        if (L < r - 1)
            Sort(K, V, L, r);
        else
            fix(L, r);
    }
    if (R > l) {
        if (l < R - 1)
            Sort(K, V, l, R);
        else
            fix(l, R);
    }
}

struct TCode {
    std::uint32_t Bits = 0;
    int Width = 0;
};

// Codes as the reader derives them from the widths as sent (at least two non-zero): the order
// of ties depends on how many were sent.
std::vector<TCode> CodesOf(const std::vector<int>& Widths, int MaxWidth, std::size_t Sent)
{
    const std::size_t sent = Sent;
    std::vector<int> keys(Widths.begin(), Widths.begin() + std::ptrdiff_t(sent)), symbols(sent);
    for (std::size_t i = 0; i < symbols.size(); ++i)
        symbols[i] = int(i);
    Sort(keys, symbols, 0, int(keys.size()) - 1);
    std::vector<TCode> codes(Widths.size());
    std::uint32_t next = 0;
    for (int k = int(keys.size()) - 1; k >= 0; --k) {
        if (keys[std::size_t(k)] == 0)
            continue;
        const int w = keys[std::size_t(k)];
        codes[std::size_t(symbols[std::size_t(k)])] = {next >> (MaxWidth - w), w};
        next += 1u << (MaxWidth - w);
    }
    return codes;
}

// Huffman widths of at most MaxWidth bits (a fixed width when the tree grows deeper); at least
// two symbols get a code.
std::vector<int> WidthsOf(std::vector<std::uint64_t> Freq, int MaxWidth)
{
    int used = int(std::count_if(Freq.begin(), Freq.end(), [](std::uint64_t f) { return f > 0; }));
    for (std::size_t i = 0; used < 2; ++i)
        if (Freq[i] == 0) {
            Freq[i] = 1;
            ++used;
        }
    using TNode = std::pair<std::uint64_t, int>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<>> heap;
    std::vector<int> parent(Freq.size() * 2, -1);
    int nodes = int(Freq.size());
    for (std::size_t i = 0; i < Freq.size(); ++i)
        if (Freq[i] > 0)
            heap.push({Freq[i], int(i)});
    while (heap.size() > 1) {
        const TNode a = heap.top();
        heap.pop();
        const TNode b = heap.top();
        heap.pop();
        parent[std::size_t(a.second)] = parent[std::size_t(b.second)] = nodes;
        heap.push({a.first + b.first, nodes++});
    }
    std::vector<int> widths(Freq.size(), 0);
    int deepest = 0;
    for (std::size_t i = 0; i < Freq.size(); ++i) {
        if (Freq[i] == 0)
            continue;
        for (int p = parent[i]; p != -1; p = parent[std::size_t(p)])
            ++widths[i];
        deepest = std::max(deepest, widths[i]);
    }
    if (deepest > MaxWidth) {
        int fixed = 1;
        while ((1 << fixed) < used)
            ++fixed;
        for (std::size_t i = 0; i < Freq.size(); ++i)
            widths[i] = Freq[i] > 0 ? fixed : 0;
    }
    return widths;
}

// The number of widths sent: trailing zeros are left out.
std::size_t SentWidths(const std::vector<int>& Widths)
{
    std::size_t count = Widths.size();
    while (count > 1 && Widths[count - 1] == 0)
        --count;
    return count;
}

// Widths as the reader takes them: cumulative differences modulo upper, lower 0, no zero runs.
void PutTree(TBitWriter& Out, const std::vector<int>& Widths)
{
    const int count = int(SentWidths(Widths));
    const int upper = *std::max_element(Widths.begin(), Widths.end()) + 1;
    Out.Put(std::uint32_t(count - 1), 9);
    Out.Put(0, 4);
    Out.Put(std::uint32_t(upper), 4);
    std::vector<int> deltas(static_cast<std::size_t>(count));
    std::vector<std::uint64_t> freq(static_cast<std::size_t>(upper + 1), 0);
    for (int i = 0; i < count; ++i) {
        deltas[std::size_t(i)] =
            ((Widths[std::size_t(i)] - (i ? Widths[std::size_t(i - 1)] : 0)) % upper + upper) % upper;
        ++freq[std::size_t(deltas[std::size_t(i)])];
    }
    const std::vector<int> widthWidths = WidthsOf(freq, 7);
    for (int w : widthWidths)
        Out.Put(std::uint32_t(w), 3);
    const std::vector<TCode> codes = CodesOf(widthWidths, 7, widthWidths.size());
    for (int d : deltas)
        Out.Put(codes[std::size_t(d)].Bits, codes[std::size_t(d)].Width);
}

// One step of a Huffman-coded stream: codes of the block's trees and raw bits, in order; a block
// counts its steps.
struct TPart {
    int Tree = -1;  // -1: raw bits
    std::uint32_t Value = 0;
    int Width = 0;
};
using TStep = std::vector<TPart>;

// Steps in blocks of at most BlockSymbols, each block with its trees (Codes symbols each).
void PutBlocks(TBitWriter& Out, const std::vector<TStep>& Steps, const std::vector<int>& Codes, int MaxWidth,
               int BlockSymbols)
{
    for (std::size_t start = 0; start < Steps.size(); start += std::size_t(BlockSymbols)) {
        const std::size_t end = std::min(Steps.size(), start + std::size_t(BlockSymbols));
        std::vector<std::vector<std::uint64_t>> freq;
        for (int n : Codes)
            freq.emplace_back(std::size_t(n), 0);
        for (std::size_t k = start; k < end; ++k)
            for (const TPart& p : Steps[k])
                if (p.Tree >= 0)
                    ++freq[std::size_t(p.Tree)][p.Value];
        std::vector<std::vector<TCode>> codes;
        for (const auto& f : freq) {
            const std::vector<int> widths = WidthsOf(f, MaxWidth);
            PutTree(Out, widths);
            codes.push_back(CodesOf(widths, MaxWidth, SentWidths(widths)));
        }
        Out.Put(std::uint32_t(end - start), 15);
        for (std::size_t k = start; k < end; ++k)
            for (const TPart& p : Steps[k]) {
                if (p.Tree >= 0)
                    Out.Put(codes[std::size_t(p.Tree)][p.Value].Bits, codes[std::size_t(p.Tree)][p.Value].Width);
                else
                    Out.Put(p.Value, p.Width);
            }
    }
}

// The instruction that switches the blocked method to Block's mode.
TStep ModeBits(const TAceTestBlock& Block)
{
    return {{-1, std::uint32_t(Block.Mode), 8}};
}

// LZ77 steps; History (the last four distances) carries over between stretches of one member.
std::vector<TStep> Parse(const std::vector<std::uint8_t>& Data, std::uint32_t (&history)[4])
{
    std::vector<TStep> out;
    std::map<std::uint32_t, std::vector<std::size_t>> seen;
    std::size_t i = 0;
    while (i < Data.size()) {
        std::size_t bestLen = 0, bestDist = 0;
        if (i + 3 <= Data.size()) {
            const std::uint32_t key = Data[i] | Data[i + 1] << 8 | Data[i + 2] << 16;
            auto& positions = seen[key];
            for (auto it = positions.rbegin(); it != positions.rend() && it - positions.rbegin() < 16; ++it) {
                const std::size_t dist = i - *it;
                if (dist > 65536)
                    break;
                std::size_t len = 0;
                while (i + len < Data.size() && len < 257 && Data[*it + len] == Data[i + len])
                    ++len;
                if (len > bestLen) {
                    bestLen = len;
                    bestDist = dist;
                }
            }
            positions.push_back(i);
        }
        const std::uint32_t d = std::uint32_t(bestDist - 1);
        int repeat = -1;
        for (int k = 0; k < 4 && bestLen > 0; ++k)
            if (history[3 - k] == d)
                repeat = k;
        const std::size_t base = repeat >= 0 ? (repeat > 1 ? 3 : 2) : (d <= 255 ? 2 : d <= 8191 ? 3 : 4);
        if (bestLen < base || bestLen < 3) {
            out.push_back({{0, Data[i], 0}});
            ++i;
            continue;
        }
        const std::size_t len = std::min<std::size_t>(bestLen, base + kLenCodes - 1);
        if (repeat >= 0) {
            out.push_back({{0, std::uint32_t(256 + repeat), 0}, {1, std::uint32_t(len - base), 0}});
            std::rotate(history + 3 - repeat, history + 4 - repeat, history + 4);
        } else {
            int bits = 0;
            while (bits < 32 && (d >> bits) != 0)
                ++bits;
            TStep step{{0, std::uint32_t(260 + bits), 0}};
            if (bits >= 2)
                step.push_back({-1, d & ((1u << (bits - 1)) - 1), bits - 1});
            step.push_back({1, std::uint32_t(len - base), 0});
            out.push_back(step);
            std::rotate(history, history + 1, history + 4);
            history[3] = d;
        }
        i += len;
    }
    return out;
}

void PutLz77(TBitWriter& Out, const std::vector<std::uint8_t>& Data, int BlockSymbols, std::uint32_t (&History)[4],
             const TAceTestBlock* SwitchTo)
{
    std::vector<TStep> steps = Parse(Data, History);
    if (SwitchTo) {
        steps.push_back({{0, 283, 0}});
        const TStep mode = ModeBits(*SwitchTo);
        steps.back().insert(steps.back().end(), mode.begin(), mode.end());
    }
    PutBlocks(Out, steps, {kMainCodes, kLenCodes}, kMaxWidth, BlockSymbols);
}

// --- sound: the samples' differences from an adaptive per-channel prediction ---

int Schar(int v)
{
    return std::int8_t(std::uint8_t(v));
}
int BitLength(std::uint64_t v)
{
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

struct TSoundChannel {
    int PredDifCount[2] = {}, LastPredDifCount[2] = {}, DifCount[4] = {}, Coeff[4] = {}, Dif[9] = {};
    unsigned ByteCount = 0;
    int LastSample = 0;
    int AdaptCount = 0, AdaptUse = 0;

    static int Quantize(int v)
    {
        const int k = v & 0xFF;
        return BitLength(std::uint64_t(k <= 128 ? k : 256 - k));
    }
    int Predicted() const
    {
        int sum = 8 * LastSample;
        for (int i = 0; i < 4; ++i)
            sum += Coeff[i] * DifCount[i];
        return (sum >> 3) & 0xFF;
    }
    int Predict() const { return PredDifCount[0] > PredDifCount[1] ? LastSample : Predicted(); }
    void Adjust(int Sample)
    {
        ++ByteCount;
        const int predDif = Schar(Predicted() - Sample) * 8;
        for (int i = 0; i < 4; ++i) {
            Dif[2 * i] += std::abs(predDif - DifCount[i]);
            Dif[2 * i + 1] += std::abs(predDif + DifCount[i]);
        }
        Dif[8] += std::abs(predDif);
        const int lastDelta = Schar(Sample - LastSample);
        PredDifCount[0] += Quantize(predDif / 8);
        PredDifCount[1] += Quantize(LastSample - Sample);
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
                int& c = Coeff[minPos / 2];
                if (minPos % 2 == 0 && c >= -16)
                    --c;
                else if (minPos % 2 == 1 && c <= 16)
                    ++c;
            }
            if ((ByteCount & 0xFF) == 0)
                for (int i = 0; i < 2; ++i) {
                    PredDifCount[i] -= LastPredDifCount[i];
                    LastPredDifCount[i] = PredDifCount[i];
                }
        }
        DifCount[3] = DifCount[2];
        DifCount[2] = DifCount[1];
        DifCount[1] = lastDelta - DifCount[0];
        DifCount[0] = lastDelta;
    }
};

struct TSoundState {
    int Mode = -1;
    std::vector<TSoundChannel> Channels;
};

constexpr int kSoundChannels[4] = {1, 2, 3, 3};
constexpr int kSoundChannelOf[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};

// Each sample as a value (difference from the prediction, sign in the low bit); zero values may
// go as runs (code n: n + 1 zeros) that a plain value in the channel's third model must follow.
void PutSound(TBitWriter& Out, const std::vector<std::uint8_t>& Data, int Mode, int BlockSymbols, TSoundState& State,
              const TAceTestBlock* SwitchTo)
{
    const int m = Mode - 3;
    if (State.Mode != Mode) {
        State.Mode = Mode;
        State.Channels.assign(std::size_t(kSoundChannels[m]), TSoundChannel{});
    }
    std::vector<int> values(Data.size()), channelOf(Data.size());
    for (std::size_t i = 0; i < Data.size(); ++i) {
        TSoundChannel& ch = State.Channels[std::size_t(kSoundChannelOf[m][i % 4])];
        const int delta = (Data[i] - ch.Predict()) & 0xFF;
        values[i] = delta < 128 ? 2 * delta : 2 * (255 - delta) + 1;
        channelOf[i] = kSoundChannelOf[m][i % 4];
        ch.Adjust(Schar(Data[i]));
    }
    std::vector<TStep> steps;
    std::vector<int> zerosLeft(State.Channels.size(), 0);
    std::vector<bool> afterRun(State.Channels.size(), false);
    for (std::size_t i = 0; i < Data.size(); ++i) {
        const int c = channelOf[i];
        TSoundChannel& ch = State.Channels[std::size_t(c)];
        if (zerosLeft[std::size_t(c)] > 0) {
            --zerosLeft[std::size_t(c)];
            continue;
        }
        if (afterRun[std::size_t(c)]) {
            steps.push_back({{3 * c + 2, std::uint32_t(values[i]), 0}});
            afterRun[std::size_t(c)] = false;
            continue;
        }
        // A run of zeros of this channel, when a value of the channel follows in the stretch.
        int run = 0;
        std::size_t j = i;
        while (j < Data.size() && run < 32 && values[j] == 0) {
            ++run;
            j += 1;
            while (j < Data.size() && channelOf[j] != c)
                ++j;
        }
        if (run >= 2 && j < Data.size()) {
            steps.push_back({{3 * c + ch.AdaptUse, std::uint32_t(run - 1), 0}});
            zerosLeft[std::size_t(c)] = run - 1;
            afterRun[std::size_t(c)] = true;
            continue;
        }
        steps.push_back({{3 * c + ch.AdaptUse, std::uint32_t(values[i] + 32), 0}});
        ch.AdaptCount = (ch.AdaptCount * 7 >> 3) + values[i];
        ch.AdaptUse = ch.AdaptCount > 40 ? 1 : 0;
    }
    if (SwitchTo) {
        const int c = kSoundChannelOf[m][Data.size() % 4];
        TStep step{{3 * c + State.Channels[std::size_t(c)].AdaptUse, 288, 0}};
        const TStep mode = ModeBits(*SwitchTo);
        step.insert(step.end(), mode.begin(), mode.end());
        steps.push_back(step);
    }
    PutBlocks(Out, steps, std::vector<int>(State.Channels.size() * 3, 289), 10, BlockSymbols);
}

// --- picture: each pixel's error against the predictor its context has found best ---

void PutGolombRice(TBitWriter& Out, std::uint64_t Value, int RBits)
{
    if (RBits > 0)
        Out.Put(std::uint32_t(Value & ((1u << RBits) - 1)), RBits);
    for (std::uint64_t n = Value >> RBits; n > 0; --n)
        Out.Put(1, 1);
    Out.Put(0, 1);
}

struct TPicContext {
    int Used = 0, Average = 4, Predictor = 0, Errors[4] = {};
};

struct TPicState {
    int Width = 0, Planes = 0;
    std::vector<TPicContext> First, Others;
    std::vector<int> Previous;
};

int PicQuantize(int d)
{
    const int a = std::abs(d);
    const int q = a == 0 ? 0 : a <= 2 ? 1 : a <= 6 ? 2 : a <= 20 ? 3 : 4;
    return d < 0 ? -q : q;
}

void PutPicture(TBitWriter& Out, const std::vector<std::uint8_t>& Data, const TAceTestBlock& Block, bool Changed,
                TPicState& State, const TAceTestBlock* SwitchTo)
{
    if (Changed) {
        State.Width = Block.Width;
        State.Planes = Block.Planes;
        State.First.assign(365, TPicContext{});
        State.Others.assign(365, TPicContext{});
        State.Previous.assign(std::size_t(State.Width + State.Planes), 0);
        PutGolombRice(Out, std::uint64_t(State.Width), 12);
        PutGolombRice(Out, std::uint64_t(State.Planes), 2);
    }
    const int w = State.Width, planes = State.Planes;
    for (std::size_t start = 0, rowNumber = 0; start < Data.size(); start += std::size_t(w), ++rowNumber) {
        Out.Put(1, 1);
        std::vector<int> row(std::size_t(w + planes), 0);
        for (int col = 0; col < w && start + std::size_t(col) < Data.size(); ++col)
            row[std::size_t(col)] = Data[start + std::size_t(col)];
        for (int plane = 0; plane < planes; ++plane) {
            auto& model = plane == 0 ? State.First : State.Others;
            const int kind = plane == 0 ? 0 : int((rowNumber + std::size_t(plane)) % 3);
            if (plane > 0)
                Out.Put(std::uint32_t(kind), 2);
            const auto scaled = [kind](int ref) { return kind == 1 ? ref : ref * 11 >> 4; };
            const auto toCoded = [&](int value, int ref) {
                return kind == 0 ? value : (128 + value - scaled(ref)) & 0xFF;
            };
            const int prevRef = State.Previous[plane == 0 ? State.Previous.size() - 1 : std::size_t(plane - 1)];
            int a = kind ? 128 : 0, b = a, c = a, x = a;
            int d = toCoded(State.Previous[std::size_t(plane)], prevRef);
            for (int col = plane; col < w; col += planes) {
                c = a;
                a = d;
                b = x;
                d = toCoded(State.Previous[std::size_t(col + planes)], State.Previous[std::size_t(col + planes - 1)]);
                TPicContext& ctx =
                    model[std::size_t(std::abs(81 * PicQuantize(d - a) + 9 * PicQuantize(a - c) + PicQuantize(c - b)))];
                const auto predict = [&](int p) {
                    return p == 0 ? a : p == 1 ? b : p == 2 ? (a + b) >> 1 : (a + b - c) & 0xFF;
                };
                ++ctx.Used;
                const int rBits = BitLength(std::uint64_t(ctx.Average / ctx.Used));
                const int ref = col == 0 ? 0 : row[std::size_t(col - 1)];
                x = toCoded(row[std::size_t(col)], ref);
                const int epsilon = Schar(x - predict(ctx.Predictor));
                PutGolombRice(Out, std::uint64_t(epsilon >= 0 ? 2 * epsilon : -2 * epsilon - 1), rBits);
                ctx.Average += std::abs(epsilon);
                if (ctx.Used == 128) {
                    ctx.Used /= 2;
                    ctx.Average /= 2;
                }
                int best = 0;
                bool halve = false;
                for (int i = 0; i < 4; ++i) {
                    const int e = (x - predict(i)) & 0xFF;
                    ctx.Errors[i] += BitLength(std::uint64_t(e < 128 ? 2 * e : 511 - 2 * e));
                    if (ctx.Errors[i] < ctx.Errors[best])
                        best = i;
                    halve = halve || ctx.Errors[i] > 0x7F;
                }
                ctx.Predictor = best;
                if (halve)
                    for (int& e : ctx.Errors)
                        e /= 2;
            }
        }
        State.Previous = row;
    }
    if (SwitchTo) {
        Out.Put(0, 1);
        const TStep mode = ModeBits(*SwitchTo);
        Out.Put(mode[0].Value, mode[0].Width);
    }
}

std::vector<std::uint8_t> CompressLz77(const std::vector<std::uint8_t>& Data, int BlockSymbols)
{
    TBitWriter out;
    std::uint32_t history[4] = {};
    PutLz77(out, Data, BlockSymbols, history, nullptr);
    return out.Finish();
}

// An ACE 2.0 blocked member: it starts in LZ77; each stretch ends with the switch to the next.
std::vector<std::uint8_t> CompressBlocked(const TAceTestMember& Member, int BlockSymbols)
{
    TBitWriter out;
    std::uint32_t history[4] = {};
    TSoundState sound;
    TPicState picture;
    int mode = 0;
    std::size_t at = 0;
    const auto& blocks = Member.Blocks;
    if (!blocks.empty() && blocks[0].Mode != 0)
        PutLz77(out, {}, BlockSymbols, history, &blocks[0]);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const TAceTestBlock& b = blocks[k];
        const std::vector<std::uint8_t> data(Member.Data.begin() + std::ptrdiff_t(at),
                                             Member.Data.begin() +
                                                 std::ptrdiff_t(std::min(Member.Data.size(), at + b.Size)));
        const TAceTestBlock* next = k + 1 < blocks.size() ? &blocks[k + 1] : nullptr;
        const bool changed = b.Mode != mode;
        if (b.Mode >= 3 && b.Mode <= 6) {
            if (changed)
                sound.Mode = -1;
            PutSound(out, data, b.Mode, BlockSymbols, sound, next);
        } else if (b.Mode == 7) {
            PutPicture(out, data, b, changed, picture, next);
        } else {
            PutLz77(out, data, BlockSymbols, history, next);
        }
        mode = b.Mode;
        at += b.Size;
    }
    return out.Finish();
}

void Put16(std::vector<std::uint8_t>& B, std::uint32_t V)
{
    B.insert(B.end(), {std::uint8_t(V), std::uint8_t(V >> 8)});
}
void Put32(std::vector<std::uint8_t>& B, std::uint32_t V)
{
    Put16(B, V & 0xFFFF);
    Put16(B, V >> 16);
}

std::uint32_t AceCrc(const std::uint8_t* Data, std::size_t Size)
{
    return ~std::uint32_t(crc32(0, Data, uInt(Size)));
}

void PutHeader(std::vector<std::uint8_t>& Archive, const std::vector<std::uint8_t>& Head)
{
    Put16(Archive, AceCrc(Head.data(), Head.size()) & 0xFFFF);
    Put16(Archive, std::uint32_t(Head.size()));
    Archive.insert(Archive.end(), Head.begin(), Head.end());
}

struct TPacked {
    const TAceTestMember* Member;
    std::vector<std::uint8_t> Bytes;
    int CompType;
};

std::vector<std::uint8_t> MainHeader(const TAceTestOptions& Options, bool Blocked, int Volume)
{
    std::vector<std::uint8_t> archive, head = {0};
    Put16(head, (Blocked ? 0x100 : 0) | (Options.VolumeBytes ? 0x800 : 0) | (Options.Solid ? 0x8000 : 0));
    for (char c : std::string("**ACE**"))
        head.push_back(std::uint8_t(c));
    head.insert(head.end(),
                {std::uint8_t(Blocked ? 20 : 10), std::uint8_t(Blocked ? 20 : 10), 2, std::uint8_t(Volume)});
    Put32(head, 0x5A210000);  // 2025-01-01
    head.insert(head.end(), 8, 0);
    PutHeader(archive, head);
    return archive;
}

void PutFile(std::vector<std::uint8_t>& Volume, const TPacked& P, std::size_t From, std::size_t Count, bool More)
{
    const TAceTestMember& m = *P.Member;
    std::vector<std::uint8_t> head = {1};
    Put16(head, 1 | (From > 0 ? 0x1000 : 0) | (More ? 0x2000 : 0) | (m.Encrypt ? 0x4000 : 0));
    Put32(head, std::uint32_t(Count));
    Put32(head, std::uint32_t(m.Data.size()));
    Put32(head, 0x5A210000);
    Put32(head, 0x20);
    Put32(head, AceCrc(m.Data.data(), m.Data.size()));
    head.push_back(std::uint8_t(P.CompType));
    head.push_back(P.CompType ? 2 : 0);
    Put16(head, 6);  // a 64 KiB dictionary
    Put16(head, 0);
    Put16(head, std::uint32_t(m.Name.size()));
    head.insert(head.end(), m.Name.begin(), m.Name.end());
    PutHeader(Volume, head);
    Volume.insert(Volume.end(), P.Bytes.begin() + std::ptrdiff_t(From), P.Bytes.begin() + std::ptrdiff_t(From + Count));
}

}  // namespace

std::vector<std::vector<std::uint8_t>> WriteAceVolumes(const std::vector<TAceTestMember>& Members,
                                                       const TAceTestOptions& Options)
{
    std::vector<TPacked> packed;
    bool blocked = false;
    for (const TAceTestMember& m : Members) {
        TPacked p{&m, m.Data, 0};
        if (m.Compress && !m.Data.empty()) {
            p.CompType = m.Blocks.empty() ? 1 : 2;
            p.Bytes = m.Blocks.empty() ? CompressLz77(m.Data, Options.BlockSymbols)
                                       : CompressBlocked(m, Options.BlockSymbols);
        }
        blocked = blocked || p.CompType == 2;
        if (m.Encrypt) {
            p.Bytes.resize((p.Bytes.size() + 7) / 8 * 8, 0);
            p.Bytes = Options.Encipher(p.Bytes);
        }
        packed.push_back(std::move(p));
    }
    std::vector<std::vector<std::uint8_t>> volumes{MainHeader(Options, blocked, 0)};
    std::size_t room = Options.VolumeBytes;
    for (const TPacked& p : packed) {
        std::size_t from = 0;
        do {
            if (Options.VolumeBytes && room == 0) {
                volumes.push_back(MainHeader(Options, blocked, int(volumes.size())));
                room = Options.VolumeBytes;
            }
            const std::size_t count = Options.VolumeBytes ? std::min(room, p.Bytes.size() - from) : p.Bytes.size();
            const bool more = from + count < p.Bytes.size();
            PutFile(volumes.back(), p, from, count, more);
            from += count;
            if (Options.VolumeBytes)
                room -= count;
        } while (from < p.Bytes.size());
    }
    return volumes;
}

std::vector<std::uint8_t> WriteAce10Archive(const std::vector<TAceTestMember>& Members, int BlockSymbols)
{
    TAceTestOptions options;
    options.BlockSymbols = BlockSymbols;
    return WriteAceVolumes(Members, options).front();
}
