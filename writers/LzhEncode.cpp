#include "writers/LzhEncode.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <queue>

namespace {

constexpr std::int32_t kHalf = 1 << 16;  // the window slides by this much
constexpr std::int32_t kMinLookahead = 256 + 3 + 1;
constexpr int kHashBits = 15;
constexpr int kChain = 256;                      // candidates tried per position
constexpr int kGoodLength = 32;                  // a match this long cuts the search to a quarter
constexpr int kMaxLazy = 256;                    // no lazy search after a match this long
constexpr std::int32_t kTooFar = 4096;           // a 3-byte match further back costs more than its literals
constexpr std::size_t kBlockBytes = 32768 - 24;  // the block buffer as the format's writers count it
constexpr std::size_t kOutBlock = 32768;
constexpr int kMaxCodeLength = 16;
constexpr int kPreCodeCountBits = 5;
constexpr int kLiteralCountBits = 9;

inline std::uint32_t Hash3(const std::uint8_t* p)
{
    return ((std::uint32_t(p[0]) << 10) ^ (std::uint32_t(p[1]) << 5) ^ p[2]) & ((1u << kHashBits) - 1);
}

inline int BitLength(std::uint32_t v)
{
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

}  // namespace

bool TLzhEncoder::LzhInit(int DictionaryBits, int PositionBits)
{
    if (DictionaryBits < 10 || DictionaryBits > kMaxDictionaryBits || PositionBits < 4 || PositionBits > 5)
        return false;
    FDictBits = DictionaryBits;
    FDictSize = std::int32_t(1) << DictionaryBits;
    FPositionCodes = DictionaryBits + 1;
    FPositionBits = PositionBits;
    return true;
}

// --- match finder ---

std::int32_t TLzhEncoder::FillWindow(const TByteSource& Source)
{
    std::int32_t shifted = 0;
    if (FStart >= 2 * kHalf - kMinLookahead) {
        shifted = kHalf;
        std::memmove(FWindow.data(), FWindow.data() + kHalf, std::size_t(kHalf));
        FStart -= kHalf;
        const auto shift = [](std::int32_t x) { return x >= kHalf ? x - kHalf : -1; };
        for (auto& h : FHead)
            h = shift(h);
        for (std::int32_t i = 0; i < kHalf; ++i)
            FPrev[std::size_t(i)] = shift(FPrev[std::size_t(i + kHalf)]);
    }
    while (!FEof && FLookahead < kMinLookahead) {
        const std::int32_t end = FStart + FLookahead;
        if (end >= 2 * kHalf)
            break;
        const std::size_t got = Source(FWindow.data() + end, std::size_t(2 * kHalf - end));
        if (got == 0)
            FEof = true;
        FLookahead += std::int32_t(got);
        FResult.InputSize += got;
    }
    return shifted;
}

void TLzhEncoder::InsertHash(std::int32_t Pos)
{
    std::int32_t& head = FHead[Hash3(&FWindow[std::size_t(Pos)])];
    FPrev[std::size_t(Pos)] = head;
    head = Pos;
}

int TLzhEncoder::LongestMatch(std::int32_t Pos, std::int32_t Head, int PrevLength, std::int32_t& MatchPos) const
{
    const std::uint8_t* const w = FWindow.data();
    const std::uint8_t* const scan = w + Pos;
    const int maxLength = std::min(kMaxMatch, int(FLookahead));
    int best = std::max(PrevLength, kMinMatch - 1);
    if (best >= maxLength)
        return best;
    int chain = PrevLength >= kGoodLength ? kChain / 4 : kChain;
    const std::int32_t limit = Pos - FDictSize;
    for (std::int32_t cur = Head; cur >= 0 && cur >= limit && chain-- > 0; cur = FPrev[std::size_t(cur)]) {
        const std::uint8_t* match = w + cur;
        if (match[best] != scan[best] || match[0] != scan[0] || match[1] != scan[1])
            continue;
        int len = 2;
        while (len < maxLength && match[len] == scan[len])
            ++len;
        if (len > best) {
            best = len;
            MatchPos = cur;
            if (len >= maxLength)
                break;
        }
    }
    return best;
}

// --- block coder ---

void TLzhEncoder::PutLiteral(int Byte)
{
    if (FBlockBytes >= kBlockBytes)
        SendBlock();
    if (FSymbols.size() % 8 == 0)
        ++FBlockBytes;  // the flag byte before every 8 symbols
    FSymbols.push_back(std::uint16_t(Byte));
    ++FLiteralFreq[std::size_t(Byte)];
    FBlockBytes += 1;
}

void TLzhEncoder::PutMatch(int Length, std::uint32_t DistanceValue)
{
    if (FBlockBytes >= kBlockBytes)
        SendBlock();
    if (FSymbols.size() % 8 == 0)
        ++FBlockBytes;
    const int symbol = Length + 253;
    FSymbols.push_back(std::uint16_t(symbol));
    FDistances.push_back(std::uint16_t(DistanceValue));
    ++FLiteralFreq[std::size_t(symbol)];
    ++FPositionFreq[std::size_t(BitLength(DistanceValue))];
    FBlockBytes += 3;
}

void TLzhEncoder::MakeCode(const std::vector<std::uint32_t>& Freq, TCode& Code) const
{
    const int n = int(Freq.size());
    Code.Length.assign(std::size_t(n), 0);
    Code.Code.assign(std::size_t(n), 0);
    Code.Single = -1;
    std::vector<int> used;
    for (int i = 0; i < n; ++i)
        if (Freq[std::size_t(i)] != 0)
            used.push_back(i);
    if (used.size() < 2) {
        Code.Single = used.empty() ? 0 : used[0];
        return;
    }
    // Huffman tree: leaves 0..n-1, inner nodes from n on; ties go to the lower node.
    using TItem = std::pair<std::uint64_t, int>;
    std::priority_queue<TItem, std::vector<TItem>, std::greater<TItem>> heap;
    std::vector<int> parent(std::size_t(2 * n), -1);
    std::vector<int> order;  // leaves as they leave the heap: the rarest first
    for (int s : used)
        heap.push({Freq[std::size_t(s)], s});
    int next = n;
    while (heap.size() > 1) {
        const TItem a = heap.top();
        heap.pop();
        const TItem b = heap.top();
        heap.pop();
        for (const TItem& t : {a, b}) {
            parent[std::size_t(t.second)] = next;
            if (t.second < n)
                order.push_back(t.second);
        }
        heap.push({a.first + b.first, next++});
    }
    const int root = next - 1;
    std::vector<int> depth(std::size_t(next), 0);
    for (int node = root - 1; node >= 0; --node)
        if (parent[std::size_t(node)] >= 0)
            depth[std::size_t(node)] = depth[std::size_t(parent[std::size_t(node)])] + 1;
    int counts[kMaxCodeLength + 2] = {};
    for (int s : used)
        ++counts[std::min(depth[std::size_t(s)], kMaxCodeLength)];
    // Depths cut to 16 overfill the code space: move codes down until it is exactly full.
    std::uint32_t kraft = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len)
        kraft += std::uint32_t(counts[len]) << (kMaxCodeLength - len);
    while (kraft > (1u << kMaxCodeLength)) {
        --counts[kMaxCodeLength];
        for (int len = kMaxCodeLength - 1; len > 0; --len) {
            if (counts[len]) {
                --counts[len];
                counts[len + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The rarest symbols take the longest codes.
    std::size_t k = 0;
    for (int len = kMaxCodeLength; len >= 1; --len)
        for (int c = 0; c < counts[len]; ++c)
            Code.Length[std::size_t(order[k++])] = std::uint8_t(len);
    std::uint32_t start[kMaxCodeLength + 2] = {};
    for (int len = 1; len <= kMaxCodeLength; ++len)
        start[len + 1] = (start[len] + std::uint32_t(counts[len])) << 1;
    for (int s = 0; s < n; ++s)
        if (Code.Length[std::size_t(s)])
            Code.Code[std::size_t(s)] = std::uint16_t(start[Code.Length[std::size_t(s)]]++);
}

void TLzhEncoder::CountPreCodeFreq(std::vector<std::uint32_t>& Freq) const
{
    Freq.assign(NT, 0);
    int n = NC;
    while (n > 0 && FLiteral.Length[std::size_t(n - 1)] == 0)
        --n;
    for (int i = 0; i < n;) {
        const int k = FLiteral.Length[std::size_t(i++)];
        if (k != 0) {
            ++Freq[std::size_t(k + 2)];
            continue;
        }
        int run = 1;
        while (i < n && FLiteral.Length[std::size_t(i)] == 0)
            ++i, ++run;
        if (run <= 2) {
            Freq[0] += std::uint32_t(run);
        } else if (run <= 18) {
            ++Freq[1];
        } else if (run == 19) {
            ++Freq[0];
            ++Freq[1];
        } else {
            ++Freq[2];
        }
    }
}

void TLzhEncoder::WriteLengthList(const TCode& Code, int CountBits, int Special)
{
    int n = int(Code.Length.size());
    while (n > 0 && Code.Length[std::size_t(n - 1)] == 0)
        --n;
    PutBits(CountBits, std::uint32_t(n));
    for (int i = 0; i < n;) {
        const int k = Code.Length[std::size_t(i++)];
        if (k <= 6)
            PutBits(3, std::uint32_t(k));
        else
            PutBits(k - 3, (1u << (k - 3)) - 2);
        if (i == Special) {
            while (i < 6 && Code.Length[std::size_t(i)] == 0)
                ++i;
            PutBits(2, std::uint32_t(i - 3));
        }
    }
}

void TLzhEncoder::WriteLiteralLengths()
{
    int n = NC;
    while (n > 0 && FLiteral.Length[std::size_t(n - 1)] == 0)
        --n;
    PutBits(kLiteralCountBits, std::uint32_t(n));
    for (int i = 0; i < n;) {
        const int k = FLiteral.Length[std::size_t(i++)];
        if (k != 0) {
            PutCode(FPreCode, k + 2);
            continue;
        }
        int run = 1;
        while (i < n && FLiteral.Length[std::size_t(i)] == 0)
            ++i, ++run;
        if (run <= 2) {
            for (int r = 0; r < run; ++r)
                PutCode(FPreCode, 0);
        } else if (run <= 18) {
            PutCode(FPreCode, 1);
            PutBits(4, std::uint32_t(run - 3));
        } else if (run == 19) {
            PutCode(FPreCode, 0);
            PutCode(FPreCode, 1);
            PutBits(4, 15);
        } else {
            PutCode(FPreCode, 2);
            PutBits(kLiteralCountBits, std::uint32_t(run - 20));
        }
    }
}

void TLzhEncoder::SendBlock()
{
    if (FSymbols.empty())
        return;
    MakeCode(FLiteralFreq, FLiteral);
    PutBits(16, std::uint32_t(FSymbols.size()));
    if (FLiteral.Single < 0) {
        std::vector<std::uint32_t> preFreq;
        CountPreCodeFreq(preFreq);
        MakeCode(preFreq, FPreCode);
        if (FPreCode.Single < 0) {
            WriteLengthList(FPreCode, kPreCodeCountBits, 3);
        } else {
            PutBits(kPreCodeCountBits, 0);
            PutBits(kPreCodeCountBits, std::uint32_t(FPreCode.Single));
        }
        WriteLiteralLengths();
    } else {
        PutBits(kPreCodeCountBits, 0);
        PutBits(kPreCodeCountBits, 0);
        PutBits(kLiteralCountBits, 0);
        PutBits(kLiteralCountBits, std::uint32_t(FLiteral.Single));
    }
    MakeCode(FPositionFreq, FPosition);
    if (FPosition.Single < 0) {
        WriteLengthList(FPosition, FPositionBits, -1);
    } else {
        PutBits(FPositionBits, 0);
        PutBits(FPositionBits, std::uint32_t(FPosition.Single));
    }
    std::size_t match = 0;
    for (const std::uint16_t symbol : FSymbols) {
        PutCode(FLiteral, symbol);
        if (symbol < 256)
            continue;
        const std::uint32_t d = FDistances[match++];
        const int p = BitLength(d);
        PutCode(FPosition, p);
        if (p > 1)
            PutBits(p - 1, d & ((1u << (p - 1)) - 1));
        if (FOut.size() >= kOutBlock)
            FlushBytes(false);
    }
    FlushBytes(false);
    FSymbols.clear();
    FDistances.clear();
    FBlockBytes = 0;
    std::fill(FLiteralFreq.begin(), FLiteralFreq.end(), 0);
    std::fill(FPositionFreq.begin(), FPositionFreq.end(), 0);
}

void TLzhEncoder::PutBits(int Count, std::uint32_t Value)
{
    if (Count == 0)
        return;
    FBitBuffer = (FBitBuffer << Count) | (Value & ((1u << Count) - 1));
    FBitCount += Count;
    while (FBitCount >= 8) {
        FBitCount -= 8;
        FOut.push_back(std::uint8_t(FBitBuffer >> FBitCount));
    }
    FBitBuffer &= (std::uint64_t(1) << FBitCount) - 1;
}

void TLzhEncoder::FlushBytes(bool All)
{
    if (FResult.Unpackable)
        return;
    if (FResult.InputSize > 0 && FResult.PackedSize + FOut.size() >= FResult.InputSize) {
        FResult.Unpackable = true;  // storing is smaller; nothing more goes out
        FOut.clear();
        return;
    }
    if (!FOut.empty() && (All || FOut.size() >= kOutBlock)) {
        (*FSink)(FOut.data(), FOut.size());
        FResult.PackedSize += FOut.size();
        FOut.clear();
    }
}

TLzhEncodeResult TLzhEncoder::LzhEncode(const TByteSource& Source, const TByteSink& Sink)
{
    FResult = {};
    FSink = &Sink;
    FWindow.assign(std::size_t(2 * kHalf + kMaxMatch + 8), 0);
    FHead.assign(std::size_t(1) << kHashBits, -1);
    FPrev.assign(std::size_t(2 * kHalf), -1);
    FStart = FLookahead = 0;
    FEof = false;
    FSymbols.clear();
    FDistances.clear();
    FBlockBytes = 0;
    FLiteralFreq.assign(NC, 0);
    FPositionFreq.assign(std::size_t(FPositionCodes), 0);
    FOut.clear();
    FBitBuffer = 0;
    FBitCount = 0;

    int matchLength = kMinMatch - 1;
    std::int32_t matchPos = 0;
    bool pending = false;  // a literal waits at FStart - 1 for the lazy decision
    while (!FResult.Unpackable) {
        if (FLookahead < kMinLookahead) {
            matchPos -= FillWindow(Source);
            if (FLookahead == 0)
                break;
        }
        std::int32_t head = -1;
        if (FLookahead >= kMinMatch) {
            head = FHead[Hash3(&FWindow[std::size_t(FStart)])];
            InsertHash(FStart);
        }
        const int prevLength = matchLength;
        const std::int32_t prevMatch = matchPos;
        matchLength = kMinMatch - 1;
        if (head >= 0 && prevLength < kMaxLazy && FStart - head <= FDictSize) {
            matchLength = LongestMatch(FStart, head, prevLength, matchPos);
            if (matchLength == kMinMatch && FStart - matchPos > kTooFar)
                matchLength = kMinMatch - 1;
        }
        if (prevLength >= kMinMatch && matchLength <= prevLength) {
            const std::int32_t maxInsert = FStart + FLookahead - kMinMatch;
            PutMatch(prevLength, std::uint32_t(FStart - 1 - prevMatch - 1));
            FLookahead -= prevLength - 1;
            for (int n = prevLength - 2; n > 0; --n)
                if (++FStart <= maxInsert)
                    InsertHash(FStart);
            pending = false;
            matchLength = kMinMatch - 1;
            ++FStart;
        } else {
            if (pending)
                PutLiteral(FWindow[std::size_t(FStart - 1)]);
            pending = true;
            ++FStart;
            --FLookahead;
        }
    }
    if (!FResult.Unpackable) {
        if (pending)
            PutLiteral(FWindow[std::size_t(FStart - 1)]);
        SendBlock();
        if (FBitCount > 0)
            PutBits(8 - FBitCount, 0);
        FlushBytes(true);
    }
    FSink = nullptr;
    return FResult;
}
