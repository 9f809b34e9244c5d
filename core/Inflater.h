#pragma once
// Deflate / Deflate64 decoder: one engine (Inflater) behind a plain streaming interface and the
// caller-owned stream record interface (InflateInit2 ... Inflate ... InflateEnd).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

enum : int {
    kInflateOk = 0,
    kInflateStreamEnd = 1,
    kInflateNeedDict = 2,
    kInflateStreamError = -2,
    kInflateDataError = -3,
    kInflateMemError = -4,
    kInflateBufError = -5,
    kInflateRecordError = -6,
};

inline constexpr int kInflateNoFlush = 0;
inline constexpr int kInflateFinish = 4;
inline constexpr int kInflateRecordSize = 74;

// One decoding table entry: op holds the kind (high 3 bits) and an extra-bit or sub-table-bit
// count (low 5 bits); bits is the full code length; val the literal, base or sub-table offset.
struct InflateCode {
    std::uint8_t op;
    std::uint8_t bits;
    std::uint16_t val;
};

class Inflater {
public:
    // windowBits 8..15 for Deflate, 9..16 for Deflate64; zlibWrapper reads the RFC 1950 framing.
    // Throws std::bad_alloc when the window cannot be allocated.
    Inflater(int windowBits, bool deflate64, bool zlibWrapper);

    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    void Reset();

    // Decodes from [next, next+avail) into [out, out+room) and advances all four. Returns
    // kInflateOk (paused for input or room), kInflateStreamEnd, kInflateNeedDict,
    // kInflateDataError, or kInflateBufError when nothing could be done or finish is set and
    // the stream did not end. At the end the input stands just after the stream's last byte.
    int Decode(const std::uint8_t*& next, std::size_t& avail, std::uint8_t*& out, std::size_t& room,
               bool finish = false);

    // Decodes a whole raw stream into out (replacing its content). consumed receives the size of
    // the compressed stream. Returns kInflateStreamEnd on success.
    static int DecodeAll(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
                         bool deflate64 = false, std::size_t* consumed = nullptr);

    std::uint64_t TotalIn() const { return FTotalIn; }
    std::uint64_t TotalOut() const { return FTotalOut; }
    std::uint32_t Adler() const { return FAdler; }
    bool Deflate64() const { return FDeflate64; }
    std::size_t WindowSize() const { return FWsize; }

    static constexpr unsigned kLitRoot = 11;
    static constexpr unsigned kDistRoot = 8;
    static constexpr unsigned kPreRoot = 7;
    // Largest tables complete codes can need with these root sizes (288/32/19 symbols, 15 bits).
    static constexpr std::size_t kLitEnough = 2342;
    static constexpr std::size_t kDistEnough = 402;
    static constexpr std::size_t kPreEnough = 128;

private:
    enum class Mode : std::uint8_t {
        Header,
        DictId,
        NeedDict,
        Type,
        Stored,
        StoredCopy,
        TableHeader,
        CodeLensLens,
        CodeLens,
        Len,
        Dist,
        Match,
        Check,
        Done,
        Bad
    };

    struct Cursor;
    int FastLoop(Cursor& c);
    bool CopyMatch(Cursor& c);
    void UpdateWindow(const std::uint8_t* begin, const std::uint8_t* end);
    bool BuildDynamicTables();

    bool FDeflate64;
    bool FWrap;
    std::size_t FWsize;
    // Not cleared: distances are held to what has been written (FWhave and the output), and a
    // fresh window for each small member cost more than decoding it.
    std::unique_ptr<std::uint8_t[]> FWindow;
    std::size_t FWhave = 0;
    std::size_t FWnext = 0;

    Mode FMode = Mode::Type;
    bool FLast = false;
    std::uint64_t FBitBuf = 0;
    unsigned FBitCount = 0;

    const InflateCode* FLit = nullptr;
    const InflateCode* FDist = nullptr;
    unsigned FNlen = 0, FNdist = 0, FNcode = 0, FHave = 0;
    std::uint32_t FStoredLeft = 0;
    std::size_t FLength = 0;
    std::size_t FDistance = 0;

    std::uint32_t FAdler = 1;
    std::uint64_t FTotalIn = 0;
    std::uint64_t FTotalOut = 0;

    std::uint8_t FLens[320] = {};
    InflateCode FLitTable[kLitEnough] = {};
    InflateCode FDistTable[kDistEnough] = {};
    InflateCode FPreTable[kPreEnough] = {};
};

using InflateAllocFunc = void* (*)(void* opaque, unsigned items, unsigned size);
using InflateFreeFunc = void (*)(void* opaque, void* address);

// The caller-owned stream record. Totals are 64-bit; Adler is the running Adler-32 of the output
// in wrapped mode. Failures are told by return codes only.
struct TInflateRecord {
    const std::uint8_t* NextIn = nullptr;
    std::uint32_t AvailIn = 0;
    std::uint64_t TotalIn = 0;
    std::uint8_t* NextOut = nullptr;
    std::uint32_t AvailOut = 0;
    std::uint64_t TotalOut = 0;
    Inflater* State = nullptr;
    InflateAllocFunc Alloc = nullptr;
    InflateFreeFunc Free = nullptr;
    void* Opaque = nullptr;
    std::uint32_t Adler = 0;
};

// windowBits < 0 selects raw Deflate; deflate64 is fixed for the life of the record.
int InflateInit2(TInflateRecord* rec, int windowBits, int recordSize, bool deflate64 = false);
int InflateReset(TInflateRecord* rec);
int Inflate(TInflateRecord* rec, int flush);
int InflateEnd(TInflateRecord* rec);
