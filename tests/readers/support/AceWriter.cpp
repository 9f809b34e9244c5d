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
        while (K[std::size_t(l)] > m) ++l;
        while (K[std::size_t(r)] < m) --r;
        if (l <= r) {
            std::swap(K[std::size_t(l)], K[std::size_t(r)]);
            std::swap(V[std::size_t(l)], V[std::size_t(r)]);
            ++l;
            --r;
        }
        if (l >= r) break;
    }
    auto fix = [&](int a, int b) {
        if (K[std::size_t(a)] < K[std::size_t(b)]) {
            std::swap(K[std::size_t(a)], K[std::size_t(b)]);
            std::swap(V[std::size_t(a)], V[std::size_t(b)]);
        }
    };
    if (L < r) { if (L < r - 1) Sort(K, V, L, r); else fix(L, r); }
    if (R > l) { if (l < R - 1) Sort(K, V, l, R); else fix(l, R); }
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
        deltas[std::size_t(i)] = ((Widths[std::size_t(i)] - (i ? Widths[std::size_t(i - 1)] : 0)) % upper + upper) % upper;
        ++freq[std::size_t(deltas[std::size_t(i)])];
    }
    const std::vector<int> widthWidths = WidthsOf(freq, 7);
    for (int w : widthWidths)
        Out.Put(std::uint32_t(w), 3);
    const std::vector<TCode> codes = CodesOf(widthWidths, 7, widthWidths.size());
    for (int d : deltas)
        Out.Put(codes[std::size_t(d)].Bits, codes[std::size_t(d)].Width);
}

struct TSymbol {
    int Main;
    int Len = -1;
    std::uint32_t Extra = 0;
    int ExtraBits = 0;
};

std::vector<TSymbol> Parse(const std::vector<std::uint8_t>& Data)
{
    std::vector<TSymbol> out;
    std::uint32_t history[4] = {};
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
            out.push_back({Data[i]});
            ++i;
            continue;
        }
        const std::size_t len = std::min<std::size_t>(bestLen, base + kLenCodes - 1);
        if (repeat >= 0) {
            out.push_back({256 + repeat, int(len - base)});
            std::rotate(history + 3 - repeat, history + 4 - repeat, history + 4);
        } else {
            int bits = 0;
            while (bits < 32 && (d >> bits) != 0)
                ++bits;
            TSymbol s{260 + bits, int(len - base)};
            if (bits >= 2) {
                s.Extra = d & ((1u << (bits - 1)) - 1);
                s.ExtraBits = bits - 1;
            }
            out.push_back(s);
            std::rotate(history, history + 1, history + 4);
            history[3] = d;
        }
        i += len;
    }
    return out;
}

std::vector<std::uint8_t> CompressLz77(const std::vector<std::uint8_t>& Data, int BlockSymbols)
{
    TBitWriter out;
    const std::vector<TSymbol> symbols = Parse(Data);
    for (std::size_t start = 0; start < symbols.size(); start += std::size_t(BlockSymbols)) {
        const std::size_t end = std::min(symbols.size(), start + std::size_t(BlockSymbols));
        std::vector<std::uint64_t> mainFreq(kMainCodes, 0), lenFreq(kLenCodes, 0);
        for (std::size_t k = start; k < end; ++k) {
            ++mainFreq[std::size_t(symbols[k].Main)];
            if (symbols[k].Len >= 0)
                ++lenFreq[std::size_t(symbols[k].Len)];
        }
        const std::vector<int> mainWidths = WidthsOf(mainFreq, kMaxWidth), lenWidths = WidthsOf(lenFreq, kMaxWidth);
        PutTree(out, mainWidths);
        PutTree(out, lenWidths);
        out.Put(std::uint32_t(end - start), 15);
        const auto mainCodes = CodesOf(mainWidths, kMaxWidth, SentWidths(mainWidths));
        const auto lenCodes = CodesOf(lenWidths, kMaxWidth, SentWidths(lenWidths));
        for (std::size_t k = start; k < end; ++k) {
            const TSymbol& s = symbols[k];
            out.Put(mainCodes[std::size_t(s.Main)].Bits, mainCodes[std::size_t(s.Main)].Width);
            if (s.Main >= 260)
                out.Put(s.Extra, s.ExtraBits);
            if (s.Len >= 0)
                out.Put(lenCodes[std::size_t(s.Len)].Bits, lenCodes[std::size_t(s.Len)].Width);
        }
    }
    return out.Finish();
}

void Put16(std::vector<std::uint8_t>& B, std::uint32_t V) { B.insert(B.end(), {std::uint8_t(V), std::uint8_t(V >> 8)}); }
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

}  // namespace

std::vector<std::uint8_t> WriteAce10Archive(const std::vector<TAceTestMember>& Members, int BlockSymbols)
{
    std::vector<std::uint8_t> archive, head = {0};
    Put16(head, 0);
    for (char c : std::string("**ACE**"))
        head.push_back(std::uint8_t(c));
    head.insert(head.end(), {10, 10, 2, 0});
    Put32(head, 0x5A210000);  // 2025-01-01
    head.insert(head.end(), 8, 0);
    PutHeader(archive, head);
    for (const TAceTestMember& m : Members) {
        const bool compress = m.Compress && !m.Data.empty();
        const std::vector<std::uint8_t> packed = compress ? CompressLz77(m.Data, BlockSymbols) : m.Data;
        head = {1};
        Put16(head, 1);
        Put32(head, std::uint32_t(packed.size()));
        Put32(head, std::uint32_t(m.Data.size()));
        Put32(head, 0x5A210000);
        Put32(head, 0x20);
        Put32(head, AceCrc(m.Data.data(), m.Data.size()));
        head.push_back(compress ? 1 : 0);
        head.push_back(compress ? 2 : 0);
        Put16(head, 6);  // a 64 KiB dictionary
        Put16(head, 0);
        Put16(head, std::uint32_t(m.Name.size()));
        head.insert(head.end(), m.Name.begin(), m.Name.end());
        PutHeader(archive, head);
        archive.insert(archive.end(), packed.begin(), packed.end());
    }
    return archive;
}
