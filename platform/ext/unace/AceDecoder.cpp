#include "platform/ext/unace/AceDecoder.h"

#include "core/Endian.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int kMaxCodeWidth = 11;
constexpr int kNumMainCodes = 284;
constexpr int kNumLenCodes = 255;
constexpr int kTypeCode = 283;
constexpr int kWidthWidthBits = 3;
constexpr std::size_t kWindow = std::size_t(1) << 22;
constexpr std::size_t kFlush = 1 << 16;

// Sorts widths into descending order exactly as the format's compressor did: ties keep the
// order this quicksort leaves them in, and the codes depend on it.
void SortWidths(std::vector<int>& Keys, std::vector<int>& Values, int Left, int Right)
{
    int l = Left, r = Right;
    const int m = Keys[std::size_t(Right)];
    for (;;) {
        while (l < Right && Keys[std::size_t(l)] > m)
            ++l;
        while (r > Left && Keys[std::size_t(r)] < m)
            --r;
        if (l <= r) {
            std::swap(Keys[std::size_t(l)], Keys[std::size_t(r)]);
            std::swap(Values[std::size_t(l)], Values[std::size_t(r)]);
            ++l;
            --r;
        }
        if (l >= r)
            break;
    }
    auto order = [&](int a, int b) {
        if (Keys[std::size_t(a)] < Keys[std::size_t(b)]) {
            std::swap(Keys[std::size_t(a)], Keys[std::size_t(b)]);
            std::swap(Values[std::size_t(a)], Values[std::size_t(b)]);
        }
    };
    if (Left < r) {
        if (Left < r - 1)
            SortWidths(Keys, Values, Left, r);
        else
            order(Left, r);
    }
    if (Right > l) {
        if (l < Right - 1)
            SortWidths(Keys, Values, l, Right);
        else
            order(l, Right);
    }
}

bool IsSound(int Mode)
{
    return Mode >= kAceModeSound8 && Mode <= kAceModeSound32B;
}

}  // namespace

TAceDecoder::TAceDecoder() : FWindow(kWindow)
{}

namespace {

bool MakeTree(std::vector<std::uint8_t> Widths, int MaxWidth, TAceTree& Tree)
{
    const int n = int(Widths.size());
    if (n == 0)
        return false;
    std::vector<int> symbols(static_cast<std::size_t>(n));
    std::vector<int> widths(Widths.begin(), Widths.end());
    for (int i = 0; i < n; ++i)
        symbols[std::size_t(i)] = i;
    SortWidths(widths, symbols, 0, n - 1);
    int used = 0;
    while (used < n && widths[std::size_t(used)] != 0)
        ++used;
    if (used < 2) {
        Widths[std::size_t(symbols[0])] = 1;
        used = std::max(used, 1);
    }
    Tree.Codes.clear();
    const std::size_t maxCodes = std::size_t(1) << MaxWidth;
    for (int k = used - 1; k >= 0; --k) {
        const int w = widths[std::size_t(k)];
        if (w > MaxWidth)
            return false;
        Tree.Codes.insert(Tree.Codes.end(), std::size_t(1) << (MaxWidth - w), std::uint16_t(symbols[std::size_t(k)]));
        if (Tree.Codes.size() > maxCodes)
            return false;
    }
    Tree.Widths = std::move(Widths);
    Tree.MaxWidth = MaxWidth;
    return true;
}

}  // namespace

bool AceReadSymbol(TAceBits& Bits, const TAceTree& Tree, int& Symbol)
{
    const std::uint32_t code = Bits.Peek(Tree.MaxWidth);
    if (code >= Tree.Codes.size())
        return false;
    Symbol = Tree.Codes[code];
    Bits.Skip(Tree.Widths[std::size_t(Symbol)]);
    return true;
}

bool AceReadTree(TAceBits& Bits, int MaxWidth, int NumCodes, TAceTree& Tree)
{
    const int numWidths = std::min<int>(int(Bits.Read(9)) + 1, NumCodes + 1);
    const int lower = int(Bits.Read(4));
    const int upper = int(Bits.Read(4));
    std::vector<std::uint8_t> widthWidths(std::size_t(upper + 1));
    for (auto& w : widthWidths)
        w = std::uint8_t(Bits.Read(kWidthWidthBits));
    TAceTree widthTree;
    if (!MakeTree(widthWidths, (1 << kWidthWidthBits) - 1, widthTree))
        return false;
    std::vector<std::uint8_t> widths;
    while (int(widths.size()) < numWidths) {
        int symbol = 0;
        if (!AceReadSymbol(Bits, widthTree, symbol) || Bits.Overrun())
            return false;
        if (symbol < upper) {
            widths.push_back(std::uint8_t(symbol));
        } else {
            const int zeros = std::min(int(Bits.Read(4)) + 4, numWidths - int(widths.size()));
            widths.insert(widths.end(), std::size_t(zeros), 0);
        }
    }
    if (upper > 0)
        for (std::size_t i = 1; i < widths.size(); ++i)
            widths[i] = std::uint8_t((widths[i] + widths[i - 1]) % upper);
    for (auto& w : widths)
        if (w > 0)
            w = std::uint8_t(w + lower);
    return MakeTree(std::move(widths), MaxWidth, Tree);
}

void AceReadMode(TAceBits& Bits, TAceMode& Mode)
{
    Mode = {};
    Mode.Mode = int(Bits.Read(8));
    if (Mode.Mode == kAceModeDelta) {
        Mode.DeltaDist = int(Bits.Read(8));
        Mode.DeltaLen = int(Bits.Read(17));
    } else if (Mode.Mode == kAceModeExe) {
        Mode.ExeMode = int(Bits.Read(8));
    }
}

void TAceDecoder::Put(std::uint8_t Byte)
{
    FWindow[std::size_t(FProduced & (kWindow - 1))] = Byte;
    ++FProduced;
}

template <class TEmit>
TAceResult TAceDecoder::Lz77(TBits& Bits, std::uint64_t Want, bool& ModeChange, TMode& Next, TEmit Emit)
{
    ModeChange = false;
    std::uint64_t have = 0;
    while (have < Want) {
        if (FSymbolsLeft == 0) {
            if (!AceReadTree(Bits, kMaxCodeWidth, kNumMainCodes, FMain) ||
                !AceReadTree(Bits, kMaxCodeWidth, kNumLenCodes, FLen))
                return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Corrupt;
            FSymbolsLeft = int(Bits.Read(15));
        }
        --FSymbolsLeft;  // a block announced as empty keeps its trees for good, as the format's reader does
        int symbol = 0;
        if (!AceReadSymbol(Bits, FMain, symbol))
            return TAceResult::Corrupt;
        if (symbol <= 255) {
            if (Bits.Overrun())
                return TAceResult::Truncated;
            Put(std::uint8_t(symbol));
            Emit(std::uint8_t(symbol));
            ++have;
            continue;
        }
        if (symbol == kTypeCode) {
            AceReadMode(Bits, Next);
            ModeChange = true;
            break;
        }
        if (symbol > kTypeCode)
            return TAceResult::Corrupt;
        int length = 0;
        std::uint32_t distance = 0;
        if (symbol <= 259) {
            if (!AceReadSymbol(Bits, FLen, length))
                return TAceResult::Corrupt;
            const int back = symbol & 3;
            // The history keeps the last four distances; the one used moves to the newest place.
            distance = FHistory[3 - back];
            std::rotate(FHistory + 3 - back, FHistory + 4 - back, FHistory + 4);
            FHistory[3] = distance;
            length += back > 1 ? 3 : 2;
        } else {
            distance = Bits.ReadKnownWidth(symbol - 260);
            if (!AceReadSymbol(Bits, FLen, length))
                return TAceResult::Corrupt;
            std::rotate(FHistory, FHistory + 1, FHistory + 4);
            FHistory[3] = distance;
            length += distance <= 255 ? 2 : distance <= 8191 ? 3 : 4;
        }
        if (Bits.Overrun())
            return TAceResult::Truncated;
        const std::uint64_t from = std::uint64_t(distance) + 1;
        if (have + std::uint64_t(length) > Want || from > FProduced || from > kWindow)
            return TAceResult::Corrupt;
        for (int i = 0; i < length; ++i) {
            const std::uint8_t b = FWindow[std::size_t((FProduced - from) & (kWindow - 1))];
            Put(b);
            Emit(b);
        }
        have += std::uint64_t(length);
    }
    return Bits.Overrun() ? TAceResult::Truncated : TAceResult::Ok;
}

template <class TMedia>
TAceResult TAceDecoder::Media(TMedia& Decoder, TBits& Bits, std::uint64_t Remaining, bool& Switched, TMode& Next,
                              const std::function<bool(const std::uint8_t*, std::size_t)>& Emit)
{
    std::vector<std::uint8_t> out;
    for (;;) {
        out.clear();
        const TAceResult r = Decoder.Read(Bits, Remaining, kFlush, out, Switched, Next);
        for (std::uint8_t b : out)
            Put(b);
        if (!Emit(out.data(), out.size()))
            return TAceResult::Corrupt;
        Remaining -= out.size();
        if (r != TAceResult::Ok || Switched || Remaining == 0)
            return r;
        if (out.empty())
            return TAceResult::Corrupt;  // the mode cannot make the rest of the file
    }
}

TAceResult TAceDecoder::Blocked(TBits& Bits, std::uint64_t Size, const TByteSink& Out)
{
    TMode mode;
    TMode pending;
    bool hasPending = false;
    std::vector<std::uint8_t> exeLeftover;
    std::uint8_t lastDelta = 0;
    std::uint64_t produced = 0;
    std::vector<std::uint8_t> out;
    auto emit = [&](const std::uint8_t* Data, std::size_t Count) {
        if (Count == 0)
            return true;
        if (produced + Count > Size)
            return false;
        Out(Data, Count);
        produced += Count;
        return true;
    };
    while (produced < Size) {
        if (hasPending) {
            if (pending.Mode > kAceModePic)
                return TAceResult::Corrupt;
            // Switching to the mode already in use keeps its state (and reads no geometry).
            const bool changed = pending.Mode != mode.Mode;
            mode = pending;
            hasPending = false;
            if (IsSound(mode.Mode)) {
                FSound.Start(mode.Mode, changed);
            } else if (mode.Mode == kAceModePic) {
                const TAceResult r = FPicture.Start(Bits, changed);
                if (r != TAceResult::Ok)
                    return r;
            }
        }
        bool change = false;
        TMode next;
        if (IsSound(mode.Mode) || mode.Mode == kAceModePic) {
            const TAceResult r = IsSound(mode.Mode) ? Media(FSound, Bits, Size - produced, change, next, emit)
                                                    : Media(FPicture, Bits, Size - produced, change, next, emit);
            if (r != TAceResult::Ok)
                return r;
            if (change) {
                pending = next;
                hasPending = true;
            }
            continue;
        }
        if (mode.Mode == kAceModeDelta) {
            // Planes of DeltaDist-strided bytes, each stored as differences.
            std::vector<std::uint8_t> delta;
            while (int(delta.size()) < mode.DeltaLen) {
                const TAceResult r = Lz77(Bits, std::uint64_t(mode.DeltaLen) - delta.size(), change, next,
                                          [&delta](std::uint8_t b) { delta.push_back(b); });
                if (r != TAceResult::Ok)
                    return r;
                if (change) {
                    if (hasPending)
                        return TAceResult::Corrupt;
                    pending = next;
                    hasPending = true;
                    if (delta.empty())
                        break;
                }
            }
            if (delta.empty() && hasPending)
                continue;
            if (mode.DeltaDist == 0 || int(delta.size()) != mode.DeltaLen || mode.DeltaLen / mode.DeltaDist == 0)
                return TAceResult::Corrupt;
            for (auto& b : delta) {
                b = std::uint8_t(b + lastDelta);
                lastDelta = b;
            }
            const int planeSize = mode.DeltaLen / mode.DeltaDist;
            out.clear();
            for (int pos = 0; pos < planeSize; ++pos)
                for (int plane = 0; plane < mode.DeltaLen; plane += planeSize) {
                    if (plane + pos >= int(delta.size()))
                        return TAceResult::Corrupt;
                    out.push_back(delta[std::size_t(plane + pos)]);
                }
            if (!emit(out.data(), out.size()))
                return TAceResult::Corrupt;
            continue;
        }
        // LZ77, plain or behind the executable filter, which rewrites the targets of E8 (call)
        // and E9 (jump) instructions relative to their position; it looks four bytes ahead.
        const bool exe = mode.Mode == kAceModeExe;
        const std::uint64_t chunkStart = produced;
        std::vector<std::uint8_t> chunk = std::move(exeLeftover);
        exeLeftover.clear();
        std::size_t base = 0;  // chunk index of chunk[0]
        std::size_t scan = 0;  // next chunk index the filter looks at
        bool overflow = false;
        auto filter = [&] {
            const std::size_t length = base + chunk.size();
            while (scan + 4 < length) {
                std::uint8_t* p = chunk.data() + (scan - base);
                const std::uint32_t pos = std::uint32_t(chunkStart + scan);
                if (p[0] == 0xE8 && mode.ExeMode != 0) {
                    PutLE32(p + 1, GetLE32(p + 1) - pos);
                    scan += 5;
                } else if (p[0] == 0xE8 || p[0] == 0xE9) {
                    PutLE16(p + 1, std::uint16_t(GetLE16(p + 1) - pos));
                    scan += 3;
                } else {
                    scan += 1;
                }
            }
        };
        auto flush = [&](std::size_t upTo) {  // emits chunk indexes below upTo
            const std::size_t n = std::min(upTo - base, chunk.size());
            overflow = overflow || !emit(chunk.data(), n);
            chunk.erase(chunk.begin(), chunk.begin() + std::ptrdiff_t(n));
            base += n;
        };
        if (exe)
            filter();
        const std::uint64_t want = Size - produced - std::min<std::uint64_t>(chunk.size(), Size - produced);
        TAceResult r = TAceResult::Ok;
        if (want > 0) {
            r = Lz77(Bits, want, change, next, [&](std::uint8_t b) {
                chunk.push_back(b);
                if (chunk.size() >= kFlush) {
                    if (exe) {
                        filter();
                        flush(scan);
                    } else {
                        flush(base + chunk.size());
                    }
                }
            });
        }
        if (r != TAceResult::Ok)
            return r;
        const std::size_t length = base + chunk.size();
        std::size_t keepFrom = length;
        if (exe) {
            filter();
            // At the end of a block an E8 or E9 past the first position the filter could not
            // finish waits for the next block.
            for (std::size_t i = scan + 1; i < length; ++i)
                if (chunk[i - base] == 0xE8 || chunk[i - base] == 0xE9) {
                    keepFrom = i;
                    break;
                }
        }
        flush(keepFrom);
        if (overflow)
            return TAceResult::Corrupt;
        exeLeftover = std::move(chunk);
        if (produced + exeLeftover.size() >= Size) {
            if (!emit(exeLeftover.data(), exeLeftover.size()))
                return TAceResult::Corrupt;
            exeLeftover.clear();
        }
        if (change) {
            pending = next;
            hasPending = true;
        } else if (want == 0 && exeLeftover.empty() && produced < Size) {
            return TAceResult::Corrupt;  // nothing more can come
        }
    }
    return TAceResult::Ok;
}

TAceResult TAceDecoder::Decode(int CompType, std::uint64_t Size, const TByteSource& In, const TByteSink& Out)
{
    if (CompType == kAceStored) {
        std::vector<std::uint8_t> block(kFlush);
        for (std::uint64_t left = Size; left > 0;) {
            const std::size_t got = In(block.data(), std::size_t(std::min<std::uint64_t>(left, block.size())));
            if (got == 0)
                return TAceResult::Truncated;
            for (std::size_t i = 0; i < got; ++i)
                Put(block[i]);
            Out(block.data(), got);
            left -= got;
        }
        return TAceResult::Ok;
    }
    if (CompType != kAceLz77 && CompType != kAceBlocked)
        return TAceResult::Unsupported;
    FSymbolsLeft = 0;
    std::fill(std::begin(FHistory), std::end(FHistory), 0u);
    TBits bits(In);
    if (CompType == kAceBlocked)
        return Size == 0 ? TAceResult::Ok : Blocked(bits, Size, Out);
    std::vector<std::uint8_t> out;
    bool change = false;
    TMode next;
    const TAceResult r = Lz77(bits, Size, change, next, [&](std::uint8_t b) {
        out.push_back(b);
        if (out.size() >= kFlush) {
            Out(out.data(), out.size());
            out.clear();
        }
    });
    if (r != TAceResult::Ok)
        return r;
    if (change)
        return TAceResult::Corrupt;  // ACE 1.0 has no modes
    if (!out.empty())
        Out(out.data(), out.size());
    return TAceResult::Ok;
}
