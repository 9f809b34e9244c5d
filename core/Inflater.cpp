#include "core/Inflater.h"

#include "core/Endian.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

enum : std::uint8_t {
    kLiteral = 0x00,
    kBase = 0x20,     // length or distance: val is the base, low bits the extra-bit count
    kLink = 0x40,     // sub-table: val is its offset, low bits its index width
    kEnd = 0x60,      // end of block
    kInvalid = 0x80,  // a code no symbol owns
};
constexpr std::uint8_t kKindMask = 0xE0;
constexpr std::uint8_t kCountMask = 0x1F;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                         49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                         2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                         7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class TableKind { Precode, LitLen, Dist };

InflateCode SymbolEntry(TableKind kind, bool deflate64, unsigned sym, unsigned len)
{
    const auto bits = static_cast<std::uint8_t>(len);
    switch (kind) {
    case TableKind::Precode:
        return {kLiteral, bits, static_cast<std::uint16_t>(sym)};
    case TableKind::LitLen:
        if (sym < 256)
            return {kLiteral, bits, static_cast<std::uint16_t>(sym)};
        if (sym == 256)
            return {kEnd, bits, 0};
        if (sym == 285 && deflate64)
            return {static_cast<std::uint8_t>(kBase | 16), bits, 3};
        if (sym < 286)
            return {static_cast<std::uint8_t>(kBase | kLengthExtra[sym - 257]), bits, kLengthBase[sym - 257]};
        return {kInvalid, bits, 0};
    case TableKind::Dist:
        if (sym < 30 || (deflate64 && sym < 32))
            return {static_cast<std::uint8_t>(kBase | kDistExtra[sym]), bits, kDistBase[sym]};
        return {kInvalid, bits, 0};
    }
    return {kInvalid, bits, 0};
}

// Every dynamic block builds its tables, and a loop per bit cost a third of the building.
constexpr auto kReversedBytes = [] {
    std::array<std::uint8_t, 256> r{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned i = 0; i < 8; ++i)
            if (b & (1u << i))
                r[b] |= static_cast<std::uint8_t>(0x80u >> i);
    return r;
}();

unsigned ReverseBits(unsigned code, unsigned len)
{
    const unsigned r16 = (unsigned{kReversedBytes[code & 0xFF]} << 8) | kReversedBytes[(code >> 8) & 0xFF];
    return r16 >> (16 - len);
}

// Builds a root table of 2^root entries plus sub-tables for longer codes. Refuses over-subscribed
// codes and incomplete ones, except a lone code of length one (and an empty code) outside the
// precode, which standard encoders emit for blocks with one or no distance.
bool BuildTable(TableKind kind, bool deflate64, const std::uint8_t* lens, unsigned n, unsigned root, InflateCode* table,
                std::size_t capacity)
{
    // Two tallies, so that runs of one length do not wait on the store before.
    unsigned count[16] = {}, countOdd[16] = {};
    unsigned k = 0;
    for (; k + 1 < n; k += 2) {
        ++count[lens[k]];
        ++countOdd[lens[k + 1]];
    }
    if (k < n)
        ++count[lens[k]];
    for (unsigned len = 0; len < 16; ++len)
        count[len] += countOdd[len];
    unsigned maxLen = 15;
    while (maxLen > 0 && count[maxLen] == 0)
        --maxLen;
    const std::size_t rootSize = std::size_t{1} << root;
    if (maxLen == 0) {
        if (kind == TableKind::Precode)
            return false;
        std::fill(table, table + rootSize, InflateCode{kInvalid, 1, 0});
        return true;
    }
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = (left << 1) - static_cast<int>(count[len]);
        if (left < 0)
            return false;
    }
    if (left > 0) {
        if (kind == TableKind::Precode || maxLen != 1)
            return false;
        std::fill(table, table + rootSize, InflateCode{kInvalid, 1, 0});
    }

    unsigned offs[16] = {};
    for (unsigned len = 1; len < 15; ++len)
        offs[len + 1] = offs[len] + count[len];
    std::uint16_t sorted[288];
    for (unsigned s = 0; s < n; ++s)
        if (lens[s] != 0)
            sorted[offs[lens[s]]++] = static_cast<std::uint16_t>(s);
    const unsigned used = n - count[0];

    unsigned nextCode[16] = {};
    unsigned code = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        code = (code + (len > 1 ? count[len - 1] : 0)) << 1;
        nextCode[len] = code;
    }

    unsigned remaining[16];
    std::copy(count, count + 16, remaining);
    std::size_t next = rootSize;
    std::size_t subBase = 0;
    unsigned subBits = 0;
    unsigned currentLow = ~0u;
    unsigned i = 0;
    // Codes up to the root width: the first 2^len entries are final once every code of that
    // length is in, and doubling them fills the rest (strided stores cost a quarter of the build).
    for (unsigned len = 1; len <= root; ++len) {
        for (; i < used && lens[sorted[i]] == len; ++i) {
            const unsigned sym = sorted[i];
            table[ReverseBits(nextCode[len]++, len)] = SymbolEntry(kind, deflate64, sym, len);
            --remaining[len];
        }
        if (len < root)
            std::memcpy(table + (std::size_t{1} << len), table, (std::size_t{1} << len) * sizeof(InflateCode));
    }
    for (; i < used; ++i) {
        const unsigned sym = sorted[i];
        const unsigned len = lens[sym];
        const unsigned rev = ReverseBits(nextCode[len]++, len);
        const InflateCode entry = SymbolEntry(kind, deflate64, sym, len);
        const unsigned low = rev & static_cast<unsigned>(rootSize - 1);
        if (low != currentLow) {
            // Size the sub-table so that the codes sharing this prefix fill it.
            currentLow = low;
            unsigned curr = len - root;
            int room = 1 << curr;
            while (curr + root < maxLen) {
                room -= static_cast<int>(remaining[curr + root]);
                if (room <= 0)
                    break;
                ++curr;
                room <<= 1;
            }
            if (next + (std::size_t{1} << curr) > capacity)
                return false;
            subBase = next;
            subBits = curr;
            next += std::size_t{1} << curr;
            table[low] = {static_cast<std::uint8_t>(kLink | curr), static_cast<std::uint8_t>(root),
                          static_cast<std::uint16_t>(subBase)};
        }
        for (std::size_t j = rev >> root; j < (std::size_t{1} << subBits); j += std::size_t{1} << (len - root))
            table[subBase + j] = entry;
        --remaining[len];
    }
    return true;
}

struct FixedTables {
    InflateCode lit[Inflater::kLitEnough];
    InflateCode dist[Inflater::kDistEnough];

    explicit FixedTables(bool deflate64)
    {
        std::uint8_t lens[288];
        std::fill(lens, lens + 144, 8);
        std::fill(lens + 144, lens + 256, 9);
        std::fill(lens + 256, lens + 280, 7);
        std::fill(lens + 280, lens + 288, 8);
        BuildTable(TableKind::LitLen, deflate64, lens, 288, Inflater::kLitRoot, lit, Inflater::kLitEnough);
        std::fill(lens, lens + 32, 5);
        BuildTable(TableKind::Dist, deflate64, lens, 32, Inflater::kDistRoot, dist, Inflater::kDistEnough);
    }
};

const FixedTables& Fixed(bool deflate64)
{
    static const FixedTables deflate(false);
    static const FixedTables deflate64Tables(true);
    return deflate64 ? deflate64Tables : deflate;
}

std::uint32_t UpdateAdler32(std::uint32_t adler, const std::uint8_t* p, std::size_t n)
{
    constexpr std::uint32_t kBase = 65521;
    constexpr std::size_t kBlock = 5552;  // largest run whose sums cannot overflow 32 bits
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (n > 0) {
        const std::size_t chunk = std::min(n, kBlock);
        for (std::size_t i = 0; i < chunk; ++i) {
            a += p[i];
            b += a;
        }
        a %= kBase;
        b %= kBase;
        p += chunk;
        n -= chunk;
    }
    return (b << 16) | a;
}

inline std::uint64_t LowBits(std::uint64_t v, unsigned n)
{
    return v & ((std::uint64_t{1} << n) - 1);
}

// What the fast loop needs for a turn without checks: three 8-byte refills, and the longest match
// with the slack of its 16-byte copies. It is entered with one refill more, so that it makes at
// least one turn.
constexpr std::ptrdiff_t kFastIn = 24;
constexpr std::ptrdiff_t kFastOut = 258 + 16;

}  // namespace

struct Inflater::Cursor {
    const std::uint8_t* in;
    const std::uint8_t* inEnd;
    std::uint8_t* out;
    std::uint8_t* outBegin;
    std::uint8_t* outEnd;
    std::uint64_t bitbuf;
    unsigned bitcnt;
};

Inflater::Inflater(int windowBits, bool deflate64, bool zlibWrapper)
    : FDeflate64(deflate64),
      FWrap(zlibWrapper),
      FWsize(std::size_t{1} << windowBits),
      FWindow(std::make_unique_for_overwrite<std::uint8_t[]>(FWsize))
{
    Reset();
}

void Inflater::Reset()
{
    FMode = FWrap ? Mode::Header : Mode::Type;
    FLast = false;
    FBitBuf = 0;
    FBitCount = 0;
    FWhave = 0;
    FWnext = 0;
    FStoredLeft = 0;
    FLength = 0;
    FDistance = 0;
    FAdler = 1;
    FTotalIn = 0;
    FTotalOut = 0;
}

void Inflater::UpdateWindow(const std::uint8_t* begin, const std::uint8_t* end)
{
    std::size_t n = static_cast<std::size_t>(end - begin);
    if (n >= FWsize) {
        std::memcpy(FWindow.get(), end - FWsize, FWsize);
        FWnext = 0;
        FWhave = FWsize;
        return;
    }
    const std::size_t first = std::min(n, FWsize - FWnext);
    std::memcpy(FWindow.get() + FWnext, begin, first);
    std::memcpy(FWindow.get(), begin + first, n - first);
    FWnext = (FWnext + n) & (FWsize - 1);
    FWhave = std::min(FWsize, FWhave + n);
}

// Copies the pending match (FLength, FDistance) as far as the output room allows; true when done.
bool Inflater::CopyMatch(Cursor& c)
{
    std::size_t n = std::min(FLength, static_cast<std::size_t>(c.outEnd - c.out));
    FLength -= n;
    const std::size_t produced = static_cast<std::size_t>(c.out - c.outBegin);
    if (FDistance > produced) {
        std::size_t back = FDistance - produced;
        std::size_t pos = (FWnext - back) & (FWsize - 1);
        std::size_t fromWindow = std::min(back, n);
        n -= fromWindow;
        while (fromWindow > 0) {
            const std::size_t chunk = std::min(fromWindow, FWsize - pos);
            std::memcpy(c.out, FWindow.get() + pos, chunk);
            c.out += chunk;
            pos = (pos + chunk) & (FWsize - 1);
            fromWindow -= chunk;
        }
        if (n == 0)
            return FLength == 0;
    }
    const std::uint8_t* src = c.out - FDistance;
    if (FDistance >= n) {
        std::memcpy(c.out, src, n);
        c.out += n;
    } else {
        for (; n > 0; --n)
            *c.out++ = *src++;
    }
    return FLength == 0;
}

// The hot path: runs while at least kFastIn input bytes and kFastOut output bytes remain, so that
// three 8-byte refills and the longest Deflate match (plus word-copy slack) need no checks.
// The next literal/length entry is looked up as soon as the bits below it are known, before the
// refill or the match copy, so that the table's latency overlaps that work.
int Inflater::FastLoop(Cursor& c)
{
    constexpr std::uint64_t kLitMask = (1u << kLitRoot) - 1;
    constexpr std::uint64_t kDistMask = (1u << kDistRoot) - 1;

    const std::uint8_t* in = c.in;
    const std::uint8_t* const entryIn = c.in;
    const std::uint8_t* const inEnd = c.inEnd;
    std::uint8_t* out = c.out;
    std::uint8_t* const outBegin = c.outBegin;
    std::uint8_t* const outEnd = c.outEnd;
    std::uint64_t bitbuf = c.bitbuf;
    unsigned bitcnt = c.bitcnt;
    const InflateCode* const lit = FLit;
    const InflateCode* const dist = FDist;
    int status = kInflateOk;

    // Tops the buffer up to 56..63 bits. All 64 bits are then input: those above bitcnt are the
    // bytes the next refill reads again, so a lookup may peek at them until 64 - bitcnt bits of
    // the refill's have been dropped.
    auto refill = [&] {
        bitbuf |= GetLE64(in) << bitcnt;
        in += (63 - bitcnt) >> 3;
        bitcnt |= 56;
    };
    auto drop = [&](unsigned n) {
        bitbuf >>= n;
        bitcnt -= n;
    };

    refill();
    InflateCode e = lit[bitbuf & kLitMask];
    while (inEnd - in >= kFastIn && outEnd - out >= kFastOut) {
        // e stays right: a refill only adds bits above the ones it was looked up by.
        refill();
        if (e.op == kLiteral) {
            // Root entries are at most kLitRoot bits: three fit in the 56 a refill leaves.
            drop(e.bits);
            *out++ = static_cast<std::uint8_t>(e.val);
            e = lit[bitbuf & kLitMask];
            if (e.op == kLiteral) {
                drop(e.bits);
                *out++ = static_cast<std::uint8_t>(e.val);
                e = lit[bitbuf & kLitMask];
                if (e.op == kLiteral) {
                    drop(e.bits);
                    *out++ = static_cast<std::uint8_t>(e.val);
                    e = lit[bitbuf & kLitMask];
                    continue;
                }
            }
        }
        // At least 34 bits are left here, enough for a sub-table code and its length's extra bits.
        if ((e.op & kKindMask) == kLink) {
            e = lit[e.val + ((bitbuf >> kLitRoot) & ((1u << (e.op & kCountMask)) - 1))];
            if (e.op == kLiteral) {
                drop(e.bits);
                *out++ = static_cast<std::uint8_t>(e.val);
                e = lit[bitbuf & kLitMask];
                continue;
            }
        }
        drop(e.bits);
        if ((e.op & kKindMask) != kBase) {
            if ((e.op & kKindMask) == kEnd) {
                FMode = Mode::Type;
            } else {
                FMode = Mode::Bad;
                status = kInflateDataError;
            }
            break;
        }
        unsigned extra = e.op & kCountMask;
        const std::size_t length = e.val + LowBits(bitbuf, extra);
        drop(extra);

        if (bitcnt < 29)
            refill();
        e = dist[bitbuf & kDistMask];
        if ((e.op & kKindMask) == kLink)
            e = dist[e.val + ((bitbuf >> kDistRoot) & ((1u << (e.op & kCountMask)) - 1))];
        drop(e.bits);
        if ((e.op & kKindMask) != kBase) {
            FMode = Mode::Bad;
            status = kInflateDataError;
            break;
        }
        extra = e.op & kCountMask;
        const std::size_t distance = e.val + LowBits(bitbuf, extra);
        drop(extra);
        refill();
        e = lit[bitbuf & kLitMask];

        const std::size_t produced = static_cast<std::size_t>(out - outBegin);
        if (distance > FWsize || distance > produced + FWhave) {
            FMode = Mode::Bad;
            status = kInflateDataError;
            break;
        }
        if (distance > produced || length + 16 > static_cast<std::size_t>(outEnd - out)) {
            FLength = length;
            FDistance = distance;
            Cursor sub{in, inEnd, out, outBegin, outEnd, 0, 0};
            const bool done = CopyMatch(sub);
            out = sub.out;
            if (!done) {
                FMode = Mode::Match;
                break;
            }
            continue;
        }
        const std::uint8_t* src = out - distance;
        std::uint8_t* const end = out + length;
        if (distance >= 8) {
            // Two words a turn: matches of text are mostly shorter than 16 bytes.
            do {
                std::memcpy(out, src, 8);
                std::memcpy(out + 8, src + 8, 8);
                out += 16;
                src += 16;
            } while (out < end);
        } else if (distance == 1) {
            std::memset(out, *src, length);
        } else {
            do {
                *out++ = *src++;
            } while (out < end);
        }
        out = end;
    }

    // Give back the whole bytes loaded ahead; the bits above bitcnt must be zero from here on.
    const unsigned giveBack = std::min<unsigned>(bitcnt >> 3, static_cast<unsigned>(in - entryIn));
    in -= giveBack;
    bitcnt -= giveBack * 8;
    bitbuf = LowBits(bitbuf, bitcnt);

    c.in = in;
    c.out = out;
    c.bitbuf = bitbuf;
    c.bitcnt = bitcnt;
    return status;
}

bool Inflater::BuildDynamicTables()
{
    if (FLens[256] == 0)
        return false;
    if (!BuildTable(TableKind::LitLen, FDeflate64, FLens, FNlen, kLitRoot, FLitTable, kLitEnough))
        return false;
    if (!BuildTable(TableKind::Dist, FDeflate64, FLens + FNlen, FNdist, kDistRoot, FDistTable, kDistEnough))
        return false;
    FLit = FLitTable;
    FDist = FDistTable;
    return true;
}

int Inflater::Decode(const std::uint8_t*& next, std::size_t& avail, std::uint8_t*& dest, std::size_t& room, bool finish)
{
    Cursor c{next, next + avail, dest, dest, dest + room, FBitBuf, FBitCount};
    int result = kInflateOk;

    // Slow-path helpers: pull single bytes only as far as the current item needs them, so that a
    // pause never holds bytes that belong after the stream.
    auto pullByte = [&]() -> bool {
        if (c.in == c.inEnd)
            return false;
        c.bitbuf |= std::uint64_t{*c.in++} << c.bitcnt;
        c.bitcnt += 8;
        return true;
    };
    auto need = [&](unsigned n) -> bool {
        while (c.bitcnt < n)
            if (!pullByte())
                return false;
        return true;
    };
    auto bits = [&](unsigned n) { return static_cast<unsigned>(LowBits(c.bitbuf, n)); };
    auto drop = [&](unsigned n) {
        c.bitbuf >>= n;
        c.bitcnt -= n;
    };
    // A length or distance: the code's base plus its extra bits; false when the input ends first.
    auto takeBase = [&](const InflateCode& e, std::size_t& value) -> bool {
        const unsigned extra = e.op & kCountMask;
        if (!need(e.bits + extra))
            return false;
        drop(e.bits);
        value = e.val + bits(extra);
        drop(extra);
        return true;
    };
    // Finds the entry of the next code; false when the input ends first.
    auto lookup = [&](const InflateCode* table, unsigned root, InflateCode& e) -> bool {
        for (;;) {
            e = table[bits(root)];
            if ((e.op & kKindMask) == kLink) {
                if (c.bitcnt >= root) {
                    const InflateCode sub = table[e.val + ((c.bitbuf >> root) & ((1u << (e.op & kCountMask)) - 1))];
                    if (sub.bits <= c.bitcnt) {
                        e = sub;
                        return true;
                    }
                }
            } else if (e.bits <= c.bitcnt) {
                return true;
            }
            if (!pullByte())
                return false;
        }
    };

    for (;;) {
        switch (FMode) {
        case Mode::Header: {
            if (!need(16))
                goto pause;
            const unsigned cmf = bits(8), flg = (c.bitbuf >> 8) & 0xFF;
            if ((cmf & 0x0F) != 8 || (cmf >> 4) + 8 > static_cast<unsigned>(__builtin_ctzll(FWsize)) ||
                (cmf * 256 + flg) % 31 != 0)
                goto bad;
            drop(16);
            FAdler = 1;
            FMode = (flg & 0x20) ? Mode::DictId : Mode::Type;
            break;
        }
        case Mode::DictId:
            if (!need(32))
                goto pause;
            drop(32);
            FMode = Mode::NeedDict;
            result = kInflateNeedDict;
            goto leave;
        case Mode::NeedDict:
            result = kInflateStreamError;
            goto leave;
        case Mode::Type: {
            if (FLast) {
                FMode = FWrap ? Mode::Check : Mode::Done;
                break;
            }
            if (!need(3))
                goto pause;
            FLast = bits(1) != 0;
            const unsigned type = bits(3) >> 1;
            drop(3);
            if (type == 0) {
                FMode = Mode::Stored;
            } else if (type == 1) {
                FLit = Fixed(FDeflate64).lit;
                FDist = Fixed(FDeflate64).dist;
                FMode = Mode::Len;
            } else if (type == 2) {
                FMode = Mode::TableHeader;
            } else {
                goto bad;
            }
            break;
        }
        case Mode::Stored: {
            drop(c.bitcnt & 7);
            if (!need(32))
                goto pause;
            const unsigned len = bits(16), nlen = (c.bitbuf >> 16) & 0xFFFF;
            if (len != (~nlen & 0xFFFF))
                goto bad;
            drop(32);
            FStoredLeft = len;
            FMode = Mode::StoredCopy;
            break;
        }
        case Mode::StoredCopy: {
            if (FStoredLeft == 0) {
                FMode = Mode::Type;
                break;
            }
            const std::size_t n = std::min({std::size_t{FStoredLeft}, static_cast<std::size_t>(c.inEnd - c.in),
                                            static_cast<std::size_t>(c.outEnd - c.out)});
            if (n == 0)
                goto pause;
            std::memcpy(c.out, c.in, n);
            c.in += n;
            c.out += n;
            FStoredLeft -= static_cast<std::uint32_t>(n);
            break;
        }
        case Mode::TableHeader:
            if (!need(14))
                goto pause;
            FNlen = bits(5) + 257;
            FNdist = ((c.bitbuf >> 5) & 0x1F) + 1;
            FNcode = ((c.bitbuf >> 10) & 0x0F) + 4;
            drop(14);
            if (FNlen > 286 || FNdist > (FDeflate64 ? 32u : 30u))
                goto bad;
            FHave = 0;
            FMode = Mode::CodeLensLens;
            [[fallthrough]];
        case Mode::CodeLensLens:
            while (FHave < FNcode) {
                if (!need(3))
                    goto pause;
                FLens[kCodeLengthOrder[FHave++]] = static_cast<std::uint8_t>(bits(3));
                drop(3);
            }
            while (FHave < 19)
                FLens[kCodeLengthOrder[FHave++]] = 0;
            if (!BuildTable(TableKind::Precode, false, FLens, 19, kPreRoot, FPreTable, kPreEnough))
                goto bad;
            FHave = 0;
            FMode = Mode::CodeLens;
            [[fallthrough]];
        case Mode::CodeLens:
            while (FHave < FNlen + FNdist) {
                InflateCode e;
                if (!lookup(FPreTable, kPreRoot, e))
                    goto pause;
                if ((e.op & kKindMask) != kLiteral)
                    goto bad;
                const unsigned sym = e.val;
                if (sym < 16) {
                    drop(e.bits);
                    FLens[FHave++] = static_cast<std::uint8_t>(sym);
                    continue;
                }
                const unsigned extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
                if (!need(e.bits + extra))
                    goto pause;
                drop(e.bits);
                std::uint8_t value = 0;
                unsigned copy;
                if (sym == 16) {
                    if (FHave == 0)
                        goto bad;
                    value = FLens[FHave - 1];
                    copy = 3 + bits(2);
                } else if (sym == 17) {
                    copy = 3 + bits(3);
                } else {
                    copy = 11 + bits(7);
                }
                drop(extra);
                if (FHave + copy > FNlen + FNdist)
                    goto bad;
                std::fill(FLens + FHave, FLens + FHave + copy, value);
                FHave += copy;
            }
            if (!BuildDynamicTables())
                goto bad;
            FMode = Mode::Len;
            [[fallthrough]];
        case Mode::Len: {
            if (c.inEnd - c.in >= kFastIn + 8 && c.outEnd - c.out >= kFastOut) {
                if (FastLoop(c) != kInflateOk)
                    goto bad;
                break;
            }
            InflateCode e;
            if (!lookup(FLit, kLitRoot, e))
                goto pause;
            const std::uint8_t kind = e.op & kKindMask;
            if (kind == kLiteral) {
                if (c.out == c.outEnd)
                    goto pause;
                drop(e.bits);
                *c.out++ = static_cast<std::uint8_t>(e.val);
                break;
            }
            if (kind == kEnd) {
                drop(e.bits);
                FMode = Mode::Type;
                break;
            }
            if (kind != kBase)
                goto bad;
            if (!takeBase(e, FLength))
                goto pause;
            FMode = Mode::Dist;
        }
            [[fallthrough]];
        case Mode::Dist: {
            InflateCode e;
            if (!lookup(FDist, kDistRoot, e))
                goto pause;
            if ((e.op & kKindMask) != kBase)
                goto bad;
            if (!takeBase(e, FDistance))
                goto pause;
            if (FDistance > FWsize || FDistance > FWhave + static_cast<std::size_t>(c.out - c.outBegin))
                goto bad;
            FMode = Mode::Match;
        }
            [[fallthrough]];
        case Mode::Match:
            if (!CopyMatch(c))
                goto pause;
            FMode = Mode::Len;
            break;
        case Mode::Check: {
            drop(c.bitcnt & 7);
            if (!need(32))
                goto pause;
            FAdler = UpdateAdler32(FAdler, c.outBegin, static_cast<std::size_t>(c.out - c.outBegin));
            c.outBegin = c.out;  // the check now covers everything written so far
            const std::uint32_t stored = (bits(8) << 24) | (((c.bitbuf >> 8) & 0xFF) << 16) |
                                         (((c.bitbuf >> 16) & 0xFF) << 8) | ((c.bitbuf >> 24) & 0xFF);
            if (stored != FAdler)
                goto bad;
            drop(32);
            FMode = Mode::Done;
            break;
        }
        case Mode::Done:
            result = kInflateStreamEnd;
            goto leave;
        case Mode::Bad:
            result = kInflateDataError;
            goto leave;
        }
    }

bad:
    FMode = Mode::Bad;
    result = kInflateDataError;
    goto leave;
pause:
    if (finish || (c.in == next && c.out == dest))
        result = kInflateBufError;
leave:
    if (FMode == Mode::Done) {
        // Bytes read ahead of the stream's end go back to the caller; the bits of the last
        // byte are dropped.
        const unsigned giveBack = std::min<unsigned>(c.bitcnt >> 3, static_cast<unsigned>(c.in - next));
        c.in -= giveBack;
        c.bitbuf = 0;
        c.bitcnt = 0;
    }
    // The history must cover this call's output, including what Check already summed.
    UpdateWindow(dest, c.out);
    if (FWrap && FMode != Mode::Done)
        FAdler = UpdateAdler32(FAdler, c.outBegin, static_cast<std::size_t>(c.out - c.outBegin));
    FBitBuf = c.bitbuf;
    FBitCount = c.bitcnt;
    FTotalIn += static_cast<std::uint64_t>(c.in - next);
    FTotalOut += static_cast<std::uint64_t>(c.out - dest);
    avail -= static_cast<std::size_t>(c.in - next);
    room -= static_cast<std::size_t>(c.out - dest);
    next = c.in;
    dest = c.out;
    return result;
}

int Inflater::DecodeAll(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, bool deflate64,
                        std::size_t* consumed)
{
    Inflater inflater(deflate64 ? 16 : 15, deflate64, false);
    out.assign(std::max<std::size_t>(size * 3, 4096), 0);
    std::size_t produced = 0;
    const std::uint8_t* next = data;
    std::size_t avail = size;
    int rc;
    for (;;) {
        std::uint8_t* dest = out.data() + produced;
        std::size_t room = out.size() - produced;
        rc = inflater.Decode(next, avail, dest, room, true);
        produced = static_cast<std::size_t>(dest - out.data());
        if (rc != kInflateBufError || room != 0)
            break;
        out.resize(out.size() * 2);
    }
    out.resize(produced);
    if (consumed)
        *consumed = static_cast<std::size_t>(next - data);
    return rc;
}

// ---- stream record interface ----

namespace {

void* HeapAlloc(void*, unsigned items, unsigned size)
{
    return std::calloc(items, size);
}
void HeapFree(void*, void* address)
{
    std::free(address);
}

}  // namespace

int InflateInit2(TInflateRecord* rec, int windowBits, int recordSize, bool deflate64)
{
    if (recordSize != kInflateRecordSize)
        return kInflateRecordError;
    if (!rec)
        return kInflateStreamError;
    if (!rec->Alloc)
        rec->Alloc = HeapAlloc;
    if (!rec->Free)
        rec->Free = HeapFree;
    rec->State = nullptr;
    const bool raw = windowBits < 0;
    int wbits = raw ? -windowBits : windowBits;
    if (deflate64)
        ++wbits;
    if (wbits < (deflate64 ? 9 : 8) || wbits > (deflate64 ? 16 : 15))
        return kInflateStreamError;
    void* memory = rec->Alloc(rec->Opaque, 1, sizeof(Inflater));
    if (!memory)
        return kInflateMemError;
    try {
        rec->State = new (memory) Inflater(wbits, deflate64, !raw);
    } catch (const std::bad_alloc&) {
        rec->Free(rec->Opaque, memory);
        return kInflateMemError;
    }
    return InflateReset(rec);
}

int InflateReset(TInflateRecord* rec)
{
    if (!rec || !rec->State)
        return kInflateStreamError;
    rec->TotalIn = 0;
    rec->TotalOut = 0;
    rec->State->Reset();
    rec->Adler = rec->State->Adler();
    return kInflateOk;
}

int Inflate(TInflateRecord* rec, int flush)
{
    if (!rec || !rec->State || (!rec->NextIn && rec->AvailIn) || !rec->NextOut)
        return kInflateStreamError;
    const std::uint8_t* next = rec->NextIn;
    std::size_t avail = rec->AvailIn;
    std::uint8_t* out = rec->NextOut;
    std::size_t room = rec->AvailOut;
    const int rc = rec->State->Decode(next, avail, out, room, flush == kInflateFinish);
    rec->TotalIn += static_cast<std::uint64_t>(next - rec->NextIn);
    rec->TotalOut += static_cast<std::uint64_t>(out - rec->NextOut);
    rec->NextIn = next;
    rec->AvailIn = static_cast<std::uint32_t>(avail);
    rec->NextOut = out;
    rec->AvailOut = static_cast<std::uint32_t>(room);
    rec->Adler = rec->State->Adler();
    return rc;
}

int InflateEnd(TInflateRecord* rec)
{
    if (!rec || !rec->State || !rec->Free)
        return kInflateStreamError;
    rec->State->~Inflater();
    rec->Free(rec->Opaque, rec->State);
    rec->State = nullptr;
    return kInflateOk;
}
