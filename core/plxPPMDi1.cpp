#include "core/plxPPMDi1.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <vector>

#include "core/Endian.h"

// The model lives in one memory block and links its records by 32-bit offsets from the block's
// start, with the published record sizes (12-byte units, 6-byte states). Other coders run out of
// memory on exactly the same symbol only when the layout is the same, so restart and cut-off
// depend on it.

// The coder's per-symbol steps are small and run for every byte: inlined; the model's repairs are
// rare: kept out of the hot code.
#define PPMD_STEP inline __attribute__((always_inline))
#define PPMD_RARE __attribute__((noinline, cold))

namespace {

constexpr unsigned kMaxOrder = 16;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kUnitSize = 12;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);
constexpr unsigned kNumIndexes = 4 + 4 + 4 + 26;
constexpr std::uint32_t kEmptyNode = 0xFFFFFFFFu;
constexpr std::uint32_t kTop = 1u << 24;
constexpr std::uint32_t kBot = 1u << 15;
constexpr std::size_t kBufSize = 32768;
// Deeper than any suffix chain of a sound model; a chain that would pass it is treated as
// memory exhaustion instead of writing past the stack.
constexpr unsigned kStackSize = 64;

constexpr std::uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

struct __attribute__((may_alias)) State {
    std::uint8_t Symbol;
    std::uint8_t Freq;
    std::uint16_t SuccessorLow;
    std::uint16_t SuccessorHigh;

    std::uint32_t Successor() const { return SuccessorLow | (std::uint32_t(SuccessorHigh) << 16); }
    void SetSuccessor(std::uint32_t v)
    {
        SuccessorLow = std::uint16_t(v & 0xFFFF);
        SuccessorHigh = std::uint16_t(v >> 16);
    }
};
static_assert(sizeof(State) == 6);

struct __attribute__((may_alias)) Context {
    std::uint8_t NumStats;  // symbols - 1; 0 is a binary context holding its state inline
    std::uint8_t Flags;
    std::uint16_t SummFreq;
    std::uint32_t Stats;
    std::uint32_t Suffix;

    State* OneState() { return reinterpret_cast<State*>(&SummFreq); }
};
static_assert(sizeof(Context) == kUnitSize);

struct __attribute__((may_alias)) Node {
    std::uint32_t Stamp;
    std::uint32_t Next;
    std::uint32_t NU;
};
static_assert(sizeof(Node) == kUnitSize);

struct See {
    std::uint16_t Summ;
    std::uint8_t Shift;
    std::uint8_t Count;

    unsigned Mean()
    {
        unsigned r = Summ >> Shift;
        Summ = std::uint16_t(Summ - r);
        return r + (r == 0);
    }
    void Update()
    {
        if (Shift < kPeriodBits && --Count == 0) {
            Summ = std::uint16_t(Summ << 1);
            Count = std::uint8_t(3 << Shift++);
        }
    }
};

}  // namespace

// Blocks of the caller's byte source and sink, so that the range coder pays one call per block.
struct TPpmdInput {
    const TPpmdCallbacks* io = nullptr;
    std::uint8_t buf[kBufSize];
    std::size_t pos = 0, len = 0;
    std::uint64_t left = 0;  // coded bytes not yet fetched
    bool overrun = false;    // the coder wanted bytes beyond the coded data

    std::uint8_t Next()
    {
        if (pos == len && !Refill())
            return 0;
        return buf[pos++];
    }
    bool Refill()
    {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(left, kBufSize));
        const std::size_t got = want == 0 ? 0 : std::min(io->Read(buf, want), want);
        if (got == 0) {
            overrun = true;
            left = 0;
            return false;
        }
        pos = 0;
        len = got;
        left -= got;
        return true;
    }
};

struct TPpmdOutput {
    const TPpmdCallbacks* io = nullptr;
    std::uint8_t buf[kBufSize];
    std::size_t len = 0;

    void Put(std::uint8_t b)
    {
        buf[len++] = b;
        if (len == kBufSize)
            Flush();
    }
    void Flush()
    {
        if (len == 0)
            return;
        const std::size_t n = len;
        len = 0;
        io->Write(buf, n);
    }
};

class TPpmdModel {
public:
    TPpmdModel();
    ~TPpmdModel() { std::free(FBase); }
    // Gives the model size bytes, keeping the block it has when that is large enough; false when
    // no block could be had.
    bool SetSize(std::uint32_t size);

    void Init(unsigned maxOrder, unsigned restoreMethod);

    void EncoderInit()
    {
        FLow = 0;
        FRange = 0xFFFFFFFF;
    }
    void EncodeSymbol(int symbol, TPpmdOutput& out);
    void EncoderFlush(TPpmdOutput& out);

    void DecoderInit(TPpmdInput& in);
    int DecodeSymbol(TPpmdInput& in);  // byte, -1 end mark, -2 damaged

    bool StackOverflow() const { return FStackOverflow; }

private:
    // Offsets and pointers into the block.
    std::uint32_t Ref(const void* ptr) const { return std::uint32_t(static_cast<const std::uint8_t*>(ptr) - FBase); }
    std::uint8_t* Ptr(std::uint32_t ref) const { return FBase + ref; }
    Context* Ctx(std::uint32_t ref) const { return reinterpret_cast<Context*>(FBase + ref); }
    State* Stats(const Context* c) const { return reinterpret_cast<State*>(FBase + c->Stats); }
    Context* Suffix(const Context* c) const { return Ctx(c->Suffix); }
    Node* NodeAt(std::uint32_t ref) const { return reinterpret_cast<Node*>(FBase + ref); }
    static Node* NodePtr(void* p) { return static_cast<Node*>(p); }

    unsigned I2U(unsigned indx) const { return FIndx2Units[indx]; }
    unsigned U2I(unsigned nu) const { return FUnits2Indx[nu - 1]; }
    static std::uint32_t U2B(unsigned nu) { return std::uint32_t(nu) * kUnitSize; }

    // Sub-allocator.
    void InsertNode(void* node, unsigned indx);
    void* RemoveNode(unsigned indx);
    void SplitBlock(void* ptr, unsigned oldIndx, unsigned newIndx);
    void GlueFreeBlocks();
    void* AllocUnitsRare(unsigned indx);
    void* AllocUnits(unsigned indx);
    void* ShrinkUnits(void* oldPtr, unsigned oldNU, unsigned newNU);
    void FreeUnits(void* ptr, unsigned nu) { InsertNode(ptr, U2I(nu)); }
    void SpecialFreeUnit(void* ptr);
    void* MoveUnitsUp(void* oldPtr, unsigned nu);
    void ExpandTextArea();
    std::uint32_t UsedMemory() const;

    // Model.
    void RestartModel();
    void RestoreModel(Context* c1);
    void Refresh(Context* ctx, unsigned oldNU, unsigned scale);
    std::uint32_t CutOff(Context* ctx, unsigned order);
    Context* CreateSuccessors(bool skip, State* s1, Context* c);
    Context* ReduceOrder(State* s1, Context* c);
    void UpdateModel();
    void Rescale();
    void NextContext();
    void Update1();
    void Update1_0();
    void UpdateBin();
    void Update2();
    See* MakeEscFreq(unsigned numMasked, std::uint32_t* escFreq);
    std::uint16_t* BinSumm();

    // Range coder.
    void EncNormalize(TPpmdOutput& out);
    void Encode(std::uint32_t start, std::uint32_t size, std::uint32_t total, TPpmdOutput& out);
    void Decode(std::uint32_t start, std::uint32_t size, TPpmdInput& in);

    std::uint8_t* FBase = nullptr;
    std::size_t FCapacity = 0;
    std::uint32_t FSize = 0;
    std::uint32_t FAlignOffset = 0;
    std::uint8_t *FLoUnit = nullptr, *FHiUnit = nullptr, *FText = nullptr, *FUnitsStart = nullptr;
    std::uint32_t FGlueCount = 0;

    Context *FMinContext = nullptr, *FMaxContext = nullptr;
    State* FFoundState = nullptr;
    unsigned FOrderFall = 0, FInitEsc = 0, FPrevSuccess = 0, FMaxOrder = 0, FRestoreMethod = 0;
    std::int32_t FRunLength = 0, FInitRL = 0;
    bool FStackOverflow = false;

    std::uint32_t FRange = 0, FCode = 0, FLow = 0;

    std::uint8_t FIndx2Units[kNumIndexes];
    std::uint8_t FUnits2Indx[128];
    std::uint32_t FFreeList[kNumIndexes] = {};
    std::uint32_t FStamps[kNumIndexes] = {};
    std::uint8_t FNs2BSIndx[256], FNs2Indx[260];
    See FDummySee{}, FSee[24][32] = {};
    std::uint16_t FBinSumm[25][64] = {};
    // The tables as a restart leaves them.
    State FFreshStates[256] = {};
    See FFreshSee[24][32] = {};
    std::uint16_t FFreshBinSumm[25][64];
};

TPpmdModel::TPpmdModel()
{
    unsigned k = 0;
    for (unsigned i = 0; i < kNumIndexes; i++) {
        unsigned step = (i >= 12 ? 4 : (i >> 2) + 1);
        do {
            FUnits2Indx[k++] = std::uint8_t(i);
        } while (--step);
        FIndx2Units[i] = std::uint8_t(k);
    }
    FNs2BSIndx[0] = 0 << 1;
    FNs2BSIndx[1] = 1 << 1;
    std::memset(FNs2BSIndx + 2, 2 << 1, 9);
    std::memset(FNs2BSIndx + 11, 3 << 1, 256 - 11);
    unsigned i = 0;
    for (; i < 5; i++)
        FNs2Indx[i] = std::uint8_t(i);
    for (unsigned m = i, run = 1; i < 260; i++) {
        FNs2Indx[i] = std::uint8_t(m);
        if (--run == 0)
            run = (++m) - 4;
    }
    for (unsigned sym = 0; sym < 256; sym++) {
        State& st = FFreshStates[sym];
        st.Symbol = std::uint8_t(sym);
        st.Freq = 1;
        st.SetSuccessor(0);
    }
    for (unsigned at = 0, m = 0; m < 25; m++) {
        while (FNs2Indx[at] == m)
            at++;
        for (unsigned j = 0; j < 8; j++) {
            auto val = std::uint16_t(kBinScale - kInitBinEsc[j] / (at + 1));
            for (unsigned r = 0; r < 64; r += 8)
                FFreshBinSumm[m][j + r] = val;
        }
    }
    for (unsigned at = 0, m = 0; m < 24; m++) {
        while (FNs2Indx[at + 3] == m + 3)
            at++;
        for (unsigned j = 0; j < 32; j++) {
            See& se = FFreshSee[m][j];
            se.Shift = kPeriodBits - 4;
            se.Summ = std::uint16_t((2 * at + 5) << se.Shift);
            se.Count = 7;
        }
    }
}

bool TPpmdModel::SetSize(std::uint32_t size)
{
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    const std::uint32_t alignOffset = 4 - (size & 3);
    const std::size_t bytes = (std::size_t(alignOffset) + size + kHugePage - 1) & ~(kHugePage - 1);
    // Members coded one after another often ask for different sizes: a new block would fault in
    // its pages again for each. A much larger one is let go, so that memory follows the work.
    if (!FBase || bytes > FCapacity || FCapacity / 4 > bytes) {
        std::free(FBase);
        FBase = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, bytes));
        FCapacity = FBase ? bytes : 0;
        if (!FBase)
            return false;
        // The model's walks jump all over the block: in 2 MB pages they miss the TLB far less.
        madvise(FBase, bytes, MADV_HUGEPAGE);
    }
    FAlignOffset = alignOffset;
    FSize = size;
    return true;
}

// ---- sub-allocator ----

PPMD_STEP void TPpmdModel::InsertNode(void* node, unsigned indx)
{
    Node* n = NodePtr(node);
    n->Stamp = kEmptyNode;
    n->Next = FFreeList[indx];
    n->NU = I2U(indx);
    FFreeList[indx] = Ref(node);
    FStamps[indx]++;
}

PPMD_STEP void* TPpmdModel::RemoveNode(unsigned indx)
{
    Node* node = NodeAt(FFreeList[indx]);
    FFreeList[indx] = node->Next;
    FStamps[indx]--;
    return node;
}

PPMD_RARE void TPpmdModel::SplitBlock(void* ptr, unsigned oldIndx, unsigned newIndx)
{
    unsigned nu = I2U(oldIndx) - I2U(newIndx);
    std::uint8_t* p = static_cast<std::uint8_t*>(ptr) + U2B(I2U(newIndx));
    unsigned i = U2I(nu);
    if (I2U(i) != nu) {
        unsigned k = I2U(--i);
        InsertNode(p + U2B(k), nu - k - 1);
    }
    InsertNode(p, i);
}

PPMD_RARE void TPpmdModel::GlueFreeBlocks()
{
    std::uint32_t head = 0;
    std::uint32_t* prev = &head;
    FGlueCount = 1 << 13;
    std::memset(FStamps, 0, sizeof(FStamps));

    // The order-0 context always holds the top unit, so only the gap at loUnit needs a guard.
    if (FLoUnit != FHiUnit)
        NodePtr(FLoUnit)->Stamp = 0;

    for (unsigned i = 0; i < kNumIndexes; i++) {
        std::uint32_t next = FFreeList[i];
        FFreeList[i] = 0;
        while (next != 0) {
            Node* node = NodeAt(next);
            if (node->NU != 0) {
                *prev = next;
                prev = &node->Next;
                Node* node2;
                while ((node2 = node + node->NU)->Stamp == kEmptyNode) {
                    node->NU += node2->NU;
                    node2->NU = 0;
                }
            }
            next = node->Next;
        }
    }
    *prev = 0;

    while (head != 0) {
        Node* node = NodeAt(head);
        head = node->Next;
        unsigned nu = node->NU;
        if (nu == 0)
            continue;
        for (; nu > 128; nu -= 128, node += 128)
            InsertNode(node, kNumIndexes - 1);
        unsigned i = U2I(nu);
        if (I2U(i) != nu) {
            unsigned k = I2U(--i);
            InsertNode(node + k, nu - k - 1);
        }
        InsertNode(node, i);
    }
}

PPMD_RARE void* TPpmdModel::AllocUnitsRare(unsigned indx)
{
    if (FGlueCount == 0) {
        GlueFreeBlocks();
        if (FFreeList[indx] != 0)
            return RemoveNode(indx);
    }
    unsigned i = indx;
    do {
        if (++i == kNumIndexes) {
            std::uint32_t numBytes = U2B(I2U(indx));
            FGlueCount--;
            if (std::uint32_t(FUnitsStart - FText) > numBytes) {
                FUnitsStart -= numBytes;
                return FUnitsStart;
            }
            return nullptr;
        }
    } while (FFreeList[i] == 0);
    void* retVal = RemoveNode(i);
    SplitBlock(retVal, i, indx);
    return retVal;
}

PPMD_STEP void* TPpmdModel::AllocUnits(unsigned indx)
{
    if (FFreeList[indx] != 0)
        return RemoveNode(indx);
    std::uint32_t numBytes = U2B(I2U(indx));
    if (numBytes <= std::uint32_t(FHiUnit - FLoUnit)) {
        void* retVal = FLoUnit;
        FLoUnit += numBytes;
        return retVal;
    }
    return AllocUnitsRare(indx);
}

PPMD_RARE void* TPpmdModel::ShrinkUnits(void* oldPtr, unsigned oldNU, unsigned newNU)
{
    unsigned i0 = U2I(oldNU);
    unsigned i1 = U2I(newNU);
    if (i0 == i1)
        return oldPtr;
    if (FFreeList[i1] != 0) {
        void* ptr = RemoveNode(i1);
        std::memmove(ptr, oldPtr, U2B(newNU));
        InsertNode(oldPtr, i0);
        return ptr;
    }
    SplitBlock(oldPtr, i0, i1);
    return oldPtr;
}

PPMD_RARE void TPpmdModel::SpecialFreeUnit(void* ptr)
{
    if (static_cast<std::uint8_t*>(ptr) != FUnitsStart)
        InsertNode(ptr, 0);
    else
        FUnitsStart += kUnitSize;
}

PPMD_RARE void* TPpmdModel::MoveUnitsUp(void* oldPtr, unsigned nu)
{
    unsigned indx = U2I(nu);
    if (static_cast<std::uint8_t*>(oldPtr) > FUnitsStart + 16 * 1024 || Ref(oldPtr) > FFreeList[indx])
        return oldPtr;
    void* ptr = RemoveNode(indx);
    std::memmove(ptr, oldPtr, U2B(nu));
    if (static_cast<std::uint8_t*>(oldPtr) != FUnitsStart)
        InsertNode(oldPtr, indx);
    else
        FUnitsStart += U2B(I2U(indx));
    return ptr;
}

PPMD_RARE void TPpmdModel::ExpandTextArea()
{
    std::uint32_t count[kNumIndexes] = {};
    if (FLoUnit != FHiUnit)
        NodePtr(FLoUnit)->Stamp = 0;
    {
        Node* node = NodePtr(FUnitsStart);
        for (; node->Stamp == kEmptyNode; node += node->NU) {
            node->Stamp = 0;
            count[U2I(node->NU)]++;
        }
        FUnitsStart = reinterpret_cast<std::uint8_t*>(node);
    }
    for (unsigned i = 0; i < kNumIndexes; i++) {
        std::uint32_t* next = &FFreeList[i];
        while (count[i] != 0) {
            Node* node = NodeAt(*next);
            while (node->Stamp == 0) {
                *next = node->Next;
                node = NodeAt(*next);
                FStamps[i]--;
                if (--count[i] == 0)
                    break;
            }
            next = &node->Next;
        }
    }
}

std::uint32_t TPpmdModel::UsedMemory() const
{
    std::uint32_t v = 0;
    for (unsigned i = 0; i < kNumIndexes; i++)
        v += FStamps[i] * I2U(i);
    return FSize - std::uint32_t(FHiUnit - FLoUnit) - std::uint32_t(FUnitsStart - FText) - U2B(v);
}

// ---- model ----

void TPpmdModel::Init(unsigned maxOrder, unsigned restoreMethod)
{
    FMaxOrder = maxOrder;
    FRestoreMethod = restoreMethod;
    FStackOverflow = false;
    RestartModel();
    FDummySee.Shift = kPeriodBits;
    FDummySee.Summ = 0;
    FDummySee.Count = 64;
}

PPMD_RARE void TPpmdModel::RestartModel()
{
    std::memset(FFreeList, 0, sizeof(FFreeList));
    std::memset(FStamps, 0, sizeof(FStamps));
    FText = FBase + FAlignOffset;
    FHiUnit = FText + FSize;
    FLoUnit = FUnitsStart = FHiUnit - FSize / 8 / kUnitSize * 7 * kUnitSize;
    FGlueCount = 0;

    FOrderFall = FMaxOrder;
    FRunLength = FInitRL = -std::int32_t(FMaxOrder < 12 ? FMaxOrder : 12) - 1;
    FPrevSuccess = 0;

    FHiUnit -= kUnitSize;
    FMinContext = FMaxContext = reinterpret_cast<Context*>(FHiUnit);
    FMinContext->Suffix = 0;
    FMinContext->NumStats = 255;
    FMinContext->Flags = 0;
    FMinContext->SummFreq = 256 + 1;
    FFoundState = reinterpret_cast<State*>(FLoUnit);
    FLoUnit += U2B(256 / 2);
    FMinContext->Stats = Ref(FFoundState);
    // A restart comes with every member: copy the fresh tables rather than compute them again.
    std::memcpy(FFoundState, FFreshStates, sizeof(FFreshStates));
    std::memcpy(FBinSumm, FFreshBinSumm, sizeof(FBinSumm));
    std::memcpy(FSee, FFreshSee, sizeof(FSee));
}

PPMD_RARE void TPpmdModel::Refresh(Context* ctx, unsigned oldNU, unsigned scale)
{
    unsigned i = ctx->NumStats;
    auto* s = static_cast<State*>(ShrinkUnits(Stats(ctx), oldNU, (i + 2) >> 1));
    ctx->Stats = Ref(s);
    unsigned flags = (ctx->Flags & (0x10 + 0x04 * scale)) + 0x08 * (s->Symbol >= 0x40);
    unsigned escFreq = ctx->SummFreq - s->Freq;
    unsigned sumFreq = (s->Freq = std::uint8_t((s->Freq + scale) >> scale));
    do {
        escFreq -= (++s)->Freq;
        sumFreq += (s->Freq = std::uint8_t((s->Freq + scale) >> scale));
        flags |= 0x08 * (s->Symbol >= 0x40);
    } while (--i);
    ctx->SummFreq = std::uint16_t(sumFreq + ((escFreq + scale) >> scale));
    ctx->Flags = std::uint8_t(flags);
}

PPMD_RARE std::uint32_t TPpmdModel::CutOff(Context* ctx, unsigned order)
{
    if (ctx->NumStats == 0) {
        State* s = ctx->OneState();
        if (Ptr(s->Successor()) >= FUnitsStart) {
            if (order < FMaxOrder)
                s->SetSuccessor(CutOff(Ctx(s->Successor()), order + 1));
            else
                s->SetSuccessor(0);
            if (s->Successor() || order <= 9)
                return Ref(ctx);
        }
        SpecialFreeUnit(ctx);
        return 0;
    }

    unsigned tmp = (unsigned(ctx->NumStats) + 2) >> 1;
    ctx->Stats = Ref(MoveUnitsUp(Stats(ctx), tmp));

    int i = ctx->NumStats;
    for (State* s = Stats(ctx) + i; s >= Stats(ctx); s--) {
        if (Ptr(s->Successor()) < FUnitsStart) {
            State* s2 = Stats(ctx) + (i--);
            s->SetSuccessor(0);
            std::swap(*s, *s2);
        } else if (order < FMaxOrder) {
            s->SetSuccessor(CutOff(Ctx(s->Successor()), order + 1));
        } else {
            s->SetSuccessor(0);
        }
    }

    if (i != ctx->NumStats && order) {
        ctx->NumStats = std::uint8_t(i);
        State* s = Stats(ctx);
        if (i < 0) {
            FreeUnits(s, tmp);
            SpecialFreeUnit(ctx);
            return 0;
        }
        if (i == 0) {
            ctx->Flags = std::uint8_t((ctx->Flags & 0x10) + 0x08 * (s->Symbol >= 0x40));
            *ctx->OneState() = *s;
            FreeUnits(s, tmp);
            ctx->OneState()->Freq = std::uint8_t((unsigned(ctx->OneState()->Freq) + 11) >> 3);
        } else {
            Refresh(ctx, tmp, ctx->SummFreq > 16 * i);
        }
    }
    return Ref(ctx);
}

PPMD_RARE void TPpmdModel::RestoreModel(Context* c1)
{
    FText = FBase + FAlignOffset;
    Context* c = FMaxContext;
    // Take back the symbol that was being added to the contexts above c1.
    for (; c != c1; c = Suffix(c)) {
        if (--(c->NumStats) == 0) {
            State* s = Stats(c);
            c->Flags = std::uint8_t((c->Flags & 0x10) + 0x08 * (s->Symbol >= 0x40));
            *c->OneState() = *s;
            SpecialFreeUnit(s);
            c->OneState()->Freq = std::uint8_t((c->OneState()->Freq + 11) >> 3);
        } else {
            Refresh(c, (c->NumStats + 3) >> 1, 0);
        }
    }
    for (; c != FMinContext; c = Suffix(c)) {
        if (!c->NumStats)
            c->OneState()->Freq = std::uint8_t(c->OneState()->Freq - (c->OneState()->Freq >> 1));
        else if ((c->SummFreq += 4) > 128 + 4 * c->NumStats)
            Refresh(c, (c->NumStats + 2) >> 1, 1);
    }

    if (FRestoreMethod == 0 || UsedMemory() < (FSize >> 1)) {
        RestartModel();
    } else {
        while (FMaxContext->Suffix)
            FMaxContext = Suffix(FMaxContext);
        do {
            CutOff(FMaxContext, 0);
            ExpandTextArea();
        } while (UsedMemory() > 3 * (FSize >> 2));
        FGlueCount = 0;
        FOrderFall = FMaxOrder;
    }
}

Context* TPpmdModel::CreateSuccessors(bool skip, State* s1, Context* c)
{
    std::uint32_t upBranch = FFoundState->Successor();
    // The text byte is far back and rarely cached: fetch it while the suffixes are walked.
    const std::uint8_t upSymbol = *Ptr(upBranch);
    State* ps[kStackSize];
    unsigned numPs = 0;
    if (!skip)
        ps[numPs++] = FFoundState;

    while (c->Suffix) {
        State* s;
        c = Suffix(c);
        if (s1) {
            s = s1;
            s1 = nullptr;
        } else if (c->NumStats != 0) {
            for (s = Stats(c); s->Symbol != FFoundState->Symbol; s++) {
            }
            if (s->Freq < kMaxFreq - 9) {
                s->Freq++;
                c->SummFreq++;
            }
        } else {
            s = c->OneState();
            s->Freq = std::uint8_t(s->Freq + (!Suffix(c)->NumStats & (s->Freq < 24)));
        }
        std::uint32_t successor = s->Successor();
        if (successor != upBranch) {
            c = Ctx(successor);
            if (numPs == 0)
                return c;
            break;
        }
        if (numPs == kStackSize) {
            FStackOverflow = true;
            return nullptr;
        }
        ps[numPs++] = s;
    }

    State upState;
    upState.Symbol = upSymbol;
    upState.SetSuccessor(upBranch + 1);
    auto flags = std::uint8_t(0x10 * (FFoundState->Symbol >= 0x40) + 0x08 * (upState.Symbol >= 0x40));

    if (c->NumStats == 0) {
        upState.Freq = c->OneState()->Freq;
    } else {
        State* s;
        for (s = Stats(c); s->Symbol != upState.Symbol; s++) {
        }
        std::uint32_t cf = s->Freq - 1u;
        std::uint32_t s0 = c->SummFreq - c->NumStats - cf;
        if (s0 == 0)  // cannot happen in a sound model; keeps the division defined
            s0 = 1;
        upState.Freq = std::uint8_t(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((cf + 2 * s0 - 3) / s0)));
    }

    do {
        Context* c1;
        if (FHiUnit != FLoUnit) {
            FHiUnit -= kUnitSize;
            c1 = reinterpret_cast<Context*>(FHiUnit);
        } else if (FFreeList[0] != 0) {
            c1 = static_cast<Context*>(RemoveNode(0));
        } else {
            c1 = static_cast<Context*>(AllocUnitsRare(0));
            if (!c1)
                return nullptr;
        }
        c1->NumStats = 0;
        c1->Flags = flags;
        *c1->OneState() = upState;
        c1->Suffix = Ref(c);
        ps[--numPs]->SetSuccessor(Ref(c1));
        c = c1;
    } while (numPs != 0);
    return c;
}

PPMD_RARE Context* TPpmdModel::ReduceOrder(State* s1, Context* c)
{
    State* s = nullptr;
    Context* c1 = c;
    std::uint32_t upBranch = Ref(FText);
    FFoundState->SetSuccessor(upBranch);
    FOrderFall++;

    for (;;) {
        if (s1) {
            c = Suffix(c);
            s = s1;
            s1 = nullptr;
        } else {
            if (!c->Suffix)
                return c;
            c = Suffix(c);
            if (c->NumStats) {
                for (s = Stats(c); s->Symbol != FFoundState->Symbol; s++) {
                }
                if (s->Freq < kMaxFreq - 9) {
                    s->Freq += 2;
                    c->SummFreq += 2;
                }
            } else {
                s = c->OneState();
                s->Freq = std::uint8_t(s->Freq + (s->Freq < 32));
            }
        }
        if (s->Successor())
            break;
        s->SetSuccessor(upBranch);
        FOrderFall++;
    }

    if (s->Successor() <= upBranch) {
        State* s2 = FFoundState;
        FFoundState = s;
        Context* successor = CreateSuccessors(false, nullptr, c);
        s->SetSuccessor(successor ? Ref(successor) : 0);
        FFoundState = s2;
    }
    if (FOrderFall == 1 && c1 == FMaxContext) {
        FFoundState->SetSuccessor(s->Successor());
        FText--;
    }
    if (s->Successor() == 0)
        return nullptr;
    return Ctx(s->Successor());
}

void TPpmdModel::UpdateModel()
{
    std::uint32_t fSuccessor = FFoundState->Successor();
    unsigned fFreq = FFoundState->Freq;
    std::uint8_t fSymbol = FFoundState->Symbol;
    State* s = nullptr;

    if (FFoundState->Freq < kMaxFreq / 4 && FMinContext->Suffix != 0) {
        Context* c = Suffix(FMinContext);
        if (c->NumStats == 0) {
            s = c->OneState();
            if (s->Freq < 32)
                s->Freq++;
        } else {
            s = Stats(c);
            if (s->Symbol != FFoundState->Symbol) {
                do {
                    s++;
                } while (s->Symbol != FFoundState->Symbol);
                if (s[0].Freq >= s[-1].Freq) {
                    std::swap(s[0], s[-1]);
                    s--;
                }
            }
            if (s->Freq < kMaxFreq - 9) {
                s->Freq += 2;
                c->SummFreq += 2;
            }
        }
    }

    Context* c = FMaxContext;
    if (FOrderFall == 0 && fSuccessor) {
        Context* cs = CreateSuccessors(true, s, FMinContext);
        if (!cs) {
            FFoundState->SetSuccessor(0);
            RestoreModel(c);
        } else {
            FFoundState->SetSuccessor(Ref(cs));
            FMaxContext = cs;
        }
        return;
    }

    *FText++ = fSymbol;
    std::uint32_t successor = Ref(FText);
    if (FText >= FUnitsStart) {
        RestoreModel(c);
        return;
    }

    if (!fSuccessor) {
        Context* cs = ReduceOrder(s, FMinContext);
        if (!cs) {
            RestoreModel(c);
            return;
        }
        fSuccessor = Ref(cs);
    } else if (Ptr(fSuccessor) < FUnitsStart) {
        Context* cs = CreateSuccessors(false, s, FMinContext);
        if (!cs) {
            RestoreModel(c);
            return;
        }
        fSuccessor = Ref(cs);
    }

    if (--FOrderFall == 0) {
        successor = fSuccessor;
        FText -= (FMaxContext != FMinContext);
    }

    unsigned ns = FMinContext->NumStats;
    unsigned s0 = FMinContext->SummFreq - ns - fFreq;
    auto flag = std::uint8_t(0x08 * (fSymbol >= 0x40));

    for (; c != FMinContext; c = Suffix(c)) {
        unsigned ns1 = c->NumStats;
        if (ns1 != 0) {
            if ((ns1 & 1) != 0) {
                // The states fill their units; grow the block by one.
                unsigned oldNU = (ns1 + 1) >> 1;
                unsigned i = U2I(oldNU);
                if (i != U2I(oldNU + 1)) {
                    void* ptr = AllocUnits(i + 1);
                    if (!ptr) {
                        RestoreModel(c);
                        return;
                    }
                    void* oldPtr = Stats(c);
                    std::memcpy(ptr, oldPtr, U2B(oldNU));
                    InsertNode(oldPtr, i);
                    c->Stats = Ref(ptr);
                }
            }
            c->SummFreq = std::uint16_t(c->SummFreq + (3 * ns1 + 1 < ns));
        } else {
            auto* s2 = static_cast<State*>(AllocUnits(0));
            if (!s2) {
                RestoreModel(c);
                return;
            }
            *s2 = *c->OneState();
            c->Stats = Ref(s2);
            if (s2->Freq < kMaxFreq / 4 - 1)
                s2->Freq = std::uint8_t(s2->Freq << 1);
            else
                s2->Freq = kMaxFreq - 4;
            c->SummFreq = std::uint16_t(s2->Freq + FInitEsc + (ns > 2));
        }
        std::uint32_t cf = 2 * fFreq * (c->SummFreq + 6u);
        std::uint32_t sf = s0 + c->SummFreq;
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            c->SummFreq += 4;
        } else {
            cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
            c->SummFreq = std::uint16_t(c->SummFreq + cf);
        }
        State* s2 = Stats(c) + ns1 + 1;
        s2->SetSuccessor(successor);
        s2->Symbol = fSymbol;
        s2->Freq = std::uint8_t(cf);
        c->Flags |= flag;
        c->NumStats = std::uint8_t(ns1 + 1);
    }
    FMaxContext = FMinContext = Ctx(fSuccessor);
}

PPMD_RARE void TPpmdModel::Rescale()
{
    State* stats = Stats(FMinContext);
    State* s = FFoundState;
    // The found symbol moves to the front.
    if (s != stats) {
        State tmp = *s;
        do
            s[0] = s[-1];
        while (--s != stats);
        *s = tmp;
    }
    unsigned escFreq = FMinContext->SummFreq - s->Freq;
    s->Freq += 4;
    unsigned adder = (FOrderFall != 0);
    s->Freq = std::uint8_t((s->Freq + adder) >> 1);
    unsigned sumFreq = s->Freq;

    unsigned i = FMinContext->NumStats;
    do {
        escFreq -= (++s)->Freq;
        s->Freq = std::uint8_t((s->Freq + adder) >> 1);
        sumFreq += s->Freq;
        if (s[0].Freq > s[-1].Freq) {
            State* s1 = s;
            State tmp = *s1;
            do
                s1[0] = s1[-1];
            while (--s1 != stats && tmp.Freq > s1[-1].Freq);
            *s1 = tmp;
        }
    } while (--i);

    if (s->Freq == 0) {
        unsigned numStats = FMinContext->NumStats;
        do {
            i++;
        } while ((--s)->Freq == 0);
        escFreq += i;
        FMinContext->NumStats = std::uint8_t(FMinContext->NumStats - i);
        if (FMinContext->NumStats == 0) {
            State tmp = *stats;
            tmp.Freq = std::uint8_t((2 * tmp.Freq + escFreq - 1) / escFreq);
            if (tmp.Freq > kMaxFreq / 3)
                tmp.Freq = kMaxFreq / 3;
            InsertNode(stats, U2I((numStats + 2) >> 1));
            FMinContext->Flags = std::uint8_t((FMinContext->Flags & 0x10) + 0x08 * (tmp.Symbol >= 0x40));
            *(FFoundState = FMinContext->OneState()) = tmp;
            return;
        }
        unsigned n0 = (numStats + 2) >> 1;
        unsigned n1 = (FMinContext->NumStats + 2) >> 1;
        if (n0 != n1)
            FMinContext->Stats = Ref(ShrinkUnits(stats, n0, n1));
        FMinContext->Flags &= ~0x08;
        s = Stats(FMinContext);
        FMinContext->Flags |= 0x08 * (s->Symbol >= 0x40);
        i = FMinContext->NumStats;
        do {
            FMinContext->Flags |= 0x08 * ((++s)->Symbol >= 0x40);
        } while (--i);
    }
    FMinContext->SummFreq = std::uint16_t(sumFreq + escFreq - (escFreq >> 1));
    FMinContext->Flags |= 0x04;
    FFoundState = Stats(FMinContext);
}

PPMD_STEP void TPpmdModel::NextContext()
{
    Context* c = Ctx(FFoundState->Successor());
    if (FOrderFall == 0 && reinterpret_cast<std::uint8_t*>(c) >= FUnitsStart) {
        FMinContext = FMaxContext = c;
    } else {
        UpdateModel();
        FMinContext = FMaxContext;
    }
}

PPMD_STEP void TPpmdModel::Update1()
{
    State* s = FFoundState;
    s->Freq += 4;
    FMinContext->SummFreq += 4;
    if (s[0].Freq > s[-1].Freq) {
        std::swap(s[0], s[-1]);
        FFoundState = --s;
        if (s->Freq > kMaxFreq)
            Rescale();
    }
    NextContext();
}

PPMD_STEP void TPpmdModel::Update1_0()
{
    FPrevSuccess = (2u * FFoundState->Freq >= FMinContext->SummFreq);
    FRunLength += std::int32_t(FPrevSuccess);
    FMinContext->SummFreq += 4;
    if ((FFoundState->Freq += 4) > kMaxFreq)
        Rescale();
    NextContext();
}

PPMD_STEP void TPpmdModel::UpdateBin()
{
    FFoundState->Freq = std::uint8_t(FFoundState->Freq + (FFoundState->Freq < 196));
    FPrevSuccess = 1;
    FRunLength = std::int32_t(std::uint32_t(FRunLength) + 1);
    NextContext();
}

PPMD_STEP void TPpmdModel::Update2()
{
    FMinContext->SummFreq += 4;
    if ((FFoundState->Freq += 4) > kMaxFreq)
        Rescale();
    FRunLength = FInitRL;
    UpdateModel();
    FMinContext = FMaxContext;
}

PPMD_STEP See* TPpmdModel::MakeEscFreq(unsigned numMasked, std::uint32_t* escFreq)
{
    Context* mc = FMinContext;
    if (mc->NumStats == 0xFF) {
        *escFreq = 1;
        return &FDummySee;
    }
    unsigned ns = mc->NumStats;
    See* see = FSee[FNs2Indx[ns + 2] - 3] + (mc->SummFreq > 11 * (ns + 1)) +
               2 * (2 * ns < unsigned(Suffix(mc)->NumStats) + numMasked) + mc->Flags;
    *escFreq = see->Mean();
    return see;
}

PPMD_STEP std::uint16_t* TPpmdModel::BinSumm()
{
    return &FBinSumm[FNs2Indx[FMinContext->OneState()->Freq - 1]][FNs2BSIndx[Suffix(FMinContext)->NumStats] +
                                                                  FPrevSuccess + FMinContext->Flags +
                                                                  ((FRunLength >> 26) & 0x20)];
}

// ---- range coder ----

PPMD_STEP void TPpmdModel::EncNormalize(TPpmdOutput& out)
{
    for (;;) {
        if ((FLow ^ (FLow + FRange)) >= kTop) {
            if (FRange >= kBot)
                break;
            FRange = (0 - FLow) & (kBot - 1);
        }
        out.Put(std::uint8_t(FLow >> 24));
        FRange <<= 8;
        FLow <<= 8;
    }
}

PPMD_STEP void TPpmdModel::Encode(std::uint32_t start, std::uint32_t size, std::uint32_t total, TPpmdOutput& out)
{
    FLow += start * (FRange /= total);
    FRange *= size;
    EncNormalize(out);
}

void TPpmdModel::EncoderFlush(TPpmdOutput& out)
{
    for (unsigned i = 0; i < 4; i++, FLow <<= 8)
        out.Put(std::uint8_t(FLow >> 24));
}

void TPpmdModel::DecoderInit(TPpmdInput& in)
{
    FLow = 0;
    FRange = 0xFFFFFFFF;
    FCode = 0;
    for (unsigned i = 0; i < 4; i++)
        FCode = (FCode << 8) | in.Next();
}

PPMD_STEP void TPpmdModel::Decode(std::uint32_t start, std::uint32_t size, TPpmdInput& in)
{
    start *= FRange;
    FLow += start;
    FCode -= start;
    FRange *= size;
    for (;;) {
        if ((FLow ^ (FLow + FRange)) >= kTop) {
            if (FRange >= kBot)
                break;
            FRange = (0 - FLow) & (kBot - 1);
        }
        FCode = (FCode << 8) | in.Next();
        FRange <<= 8;
        FLow <<= 8;
    }
}

// ---- symbols ----

namespace {

// After an escape, every symbol of the context just left is masked: s is its last state and n its
// symbol count less one.
void MaskContextSymbols(std::uint8_t (&open)[256], const State* s, unsigned n)
{
    std::memset(open, 0xFF, sizeof(open));
    open[s->Symbol] = 0;
    do {
        open[(--s)->Symbol] = 0;
    } while (--n);
}

// A state's symbol (low byte) and frequency (high byte) in one load: the masked sums below run
// over whole contexts, up to 256 states, and are bound by their loads.
PPMD_STEP unsigned SymbolFreq(const State* s)
{
    return GetLE16(&s->Symbol);
}

// Frequencies of the n states from s whose symbols are still open; two sums so that the additions
// do not wait on each other.
PPMD_STEP std::uint32_t OpenFreqSum(const State* s, unsigned n, const std::uint8_t (&open)[256])
{
    std::uint32_t a = 0, b = 0;
    for (; n >= 2; n -= 2, s += 2) {
        const unsigned v0 = SymbolFreq(s), v1 = SymbolFreq(s + 1);
        a += (v0 >> 8) & open[v0 & 0xFF];
        b += (v1 >> 8) & open[v1 & 0xFF];
    }
    if (n != 0) {
        const unsigned v = SymbolFreq(s);
        a += (v >> 8) & open[v & 0xFF];
    }
    return a + b;
}

}  // namespace

void TPpmdModel::EncodeSymbol(int symbol, TPpmdOutput& out)
{
    std::uint8_t open[256];  // 0xFF while the symbol may still be coded, 0 once masked
    if (FMinContext->NumStats != 0) {
        State* s = Stats(FMinContext);
        if (s->Symbol == symbol) {
            Encode(0, s->Freq, FMinContext->SummFreq, out);
            FFoundState = s;
            Update1_0();
            return;
        }
        FPrevSuccess = 0;
        std::uint32_t sum = s->Freq;
        unsigned i = FMinContext->NumStats;
        do {
            if ((++s)->Symbol == symbol) {
                Encode(sum, s->Freq, FMinContext->SummFreq, out);
                FFoundState = s;
                Update1();
                return;
            }
            sum += s->Freq;
        } while (--i);
        MaskContextSymbols(open, s, FMinContext->NumStats);
        Encode(sum, FMinContext->SummFreq - sum, FMinContext->SummFreq, out);
    } else {
        std::uint16_t* prob = BinSumm();
        State* s = FMinContext->OneState();
        if (s->Symbol == symbol) {
            FRange = (FRange >> 14) * *prob;
            EncNormalize(out);
            *prob = std::uint16_t(*prob + (1 << kIntBits) - ((*prob + 32) >> 7));
            FFoundState = s;
            UpdateBin();
            return;
        }
        FLow += *prob * (FRange >>= 14);
        FRange *= (1u << 14) - *prob;
        EncNormalize(out);
        *prob = std::uint16_t(*prob - ((*prob + 32) >> 7));
        FInitEsc = kExpEscape[*prob >> 10];
        std::memset(open, 0xFF, sizeof(open));
        open[s->Symbol] = 0;
        FPrevSuccess = 0;
    }
    for (;;) {
        unsigned numMasked = FMinContext->NumStats;
        do {
            FOrderFall++;
            if (!FMinContext->Suffix)
                return;  // the end mark has escaped below order 0
            FMinContext = Suffix(FMinContext);
        } while (FMinContext->NumStats == numMasked);

        std::uint32_t escFreq;
        See* see = MakeEscFreq(numMasked, &escFreq);
        State* s = Stats(FMinContext);
        std::uint32_t sum = 0;
        unsigned i = FMinContext->NumStats + 1;
        do {
            const unsigned v = SymbolFreq(s);
            const unsigned cur = v & 0xFF;
            if (int(cur) == symbol) {
                // The symbol itself is open: it would have been found in a masked context.
                Encode(sum, v >> 8, sum + OpenFreqSum(s, i, open) + escFreq, out);
                see->Update();
                FFoundState = s;
                Update2();
                return;
            }
            sum += (v >> 8) & open[cur];
            open[cur] = 0;
            s++;
        } while (--i);
        Encode(sum, escFreq, sum + escFreq, out);
        see->Summ = std::uint16_t(see->Summ + sum + escFreq);
    }
}

int TPpmdModel::DecodeSymbol(TPpmdInput& in)
{
    std::uint8_t open[256];  // 0xFF while the symbol may still be coded, 0 once masked
    if (FMinContext->NumStats != 0) {
        State* s = Stats(FMinContext);
        // count < freq is code < freq * range: the likeliest symbol needs no second division.
        FRange /= FMinContext->SummFreq;
        std::uint32_t hiCnt = s->Freq;
        if (FCode < std::uint64_t(hiCnt) * FRange) {
            Decode(0, s->Freq, in);
            FFoundState = s;
            std::uint8_t symbol = s->Symbol;
            Update1_0();
            return symbol;
        }
        FPrevSuccess = 0;
        const std::uint32_t count = FCode / FRange;
        unsigned i = FMinContext->NumStats;
        do {
            if ((hiCnt += (++s)->Freq) > count) {
                Decode(hiCnt - s->Freq, s->Freq, in);
                FFoundState = s;
                std::uint8_t symbol = s->Symbol;
                Update1();
                return symbol;
            }
        } while (--i);
        if (count >= FMinContext->SummFreq)
            return -2;
        Decode(hiCnt, FMinContext->SummFreq - hiCnt, in);
        MaskContextSymbols(open, s, FMinContext->NumStats);
    } else {
        std::uint16_t* prob = BinSumm();
        if (FCode < std::uint64_t(FRange >>= 14) * *prob) {
            Decode(0, *prob, in);
            *prob = std::uint16_t(*prob + (1 << kIntBits) - ((*prob + 32) >> 7));
            FFoundState = FMinContext->OneState();
            std::uint8_t symbol = FFoundState->Symbol;
            UpdateBin();
            return symbol;
        }
        Decode(*prob, (1u << 14) - *prob, in);
        *prob = std::uint16_t(*prob - ((*prob + 32) >> 7));
        FInitEsc = kExpEscape[*prob >> 10];
        std::memset(open, 0xFF, sizeof(open));
        open[FMinContext->OneState()->Symbol] = 0;
        FPrevSuccess = 0;
    }
    for (;;) {
        unsigned numMasked = FMinContext->NumStats;
        do {
            FOrderFall++;
            if (!FMinContext->Suffix)
                return -1;
            FMinContext = Suffix(FMinContext);
        } while (FMinContext->NumStats == numMasked);

        // Masked states add nothing, so whole-context sums need no list of the open ones.
        State* const stats = Stats(FMinContext);
        const unsigned total = FMinContext->NumStats + 1u;
        std::uint32_t hiCnt = 0, hiCnt1 = 0;
        unsigned n = 0, n1 = 0;
        unsigned j = 0;
        for (; j + 2 <= total; j += 2) {
            const unsigned v0 = SymbolFreq(stats + j), v1 = SymbolFreq(stats + j + 1);
            const unsigned m0 = open[v0 & 0xFF], m1 = open[v1 & 0xFF];
            hiCnt += (v0 >> 8) & m0;
            hiCnt1 += (v1 >> 8) & m1;
            n += m0;
            n1 += m1;
        }
        if (j != total) {
            const unsigned v = SymbolFreq(stats + j);
            const unsigned m = open[v & 0xFF];
            hiCnt += (v >> 8) & m;
            n += m;
        }
        hiCnt += hiCnt1;
        if (numMasked + 1u >= total || n + n1 != 0xFFu * (total - 1u - numMasked))
            return -2;  // cannot happen in a sound model

        std::uint32_t freqSum;
        See* see = MakeEscFreq(numMasked, &freqSum);
        freqSum += hiCnt;
        // An escape needs no division: only a symbol's position does.
        FRange /= freqSum;
        if (FCode < std::uint64_t(hiCnt) * FRange) {
            const std::uint32_t count = FCode / FRange;
            State* s = stats;
            unsigned v;
            for (hiCnt = 0;; s++) {
                v = SymbolFreq(s);
                if ((hiCnt += (v >> 8) & open[v & 0xFF]) > count)
                    break;
            }
            Decode(hiCnt - (v >> 8), v >> 8, in);
            see->Update();
            FFoundState = s;
            std::uint8_t symbol = s->Symbol;
            Update2();
            return symbol;
        }
        if (FCode >= std::uint64_t(freqSum) * FRange)
            return -2;
        Decode(hiCnt, freqSum - hiCnt, in);
        see->Summ = std::uint16_t(see->Summ + freqSum);
        for (unsigned k = 0; k < total; k++)
            open[stats[k].Symbol] = 0;
    }
}

// ---- parameter word ----

std::uint16_t TPpmdParams::Word() const
{
    return std::uint16_t(((Order - 1) & 0xF) | (((MemoryMB - 1) & 0xFF) << 4) | ((Restoration & 0xF) << 12));
}

TPpmdParams TPpmdParams::FromWord(std::uint16_t word)
{
    TPpmdParams p;
    p.Order = (word & 0xF) + 1u;
    p.MemoryMB = ((word >> 4) & 0xFF) + 1u;
    p.Restoration = word >> 12;
    return p;
}

bool TPpmdParams::Supported() const
{
    // Order 1 would continue a model left from an earlier run, which a coder cannot share with
    // other programs; restoration methods above 1 are not written by any ZIP tool.
    return Order >= 2 && Order <= kMaxOrder && MemoryMB >= 1 && MemoryMB <= 256 && Restoration <= 1;
}

// ---- codec ----

TPpmdCodec::TPpmdCodec() = default;
TPpmdCodec::~TPpmdCodec() = default;

TCodecStatus TPpmdCodec::PrepareModel(const TPpmdParams& params)
{
    if (!params.Supported())
        return TCodecStatus::UnsupportedMethod;
    if (!FModel) {
        FModel.reset(new (std::nothrow) TPpmdModel);
        if (!FModel)
            return TCodecStatus::OutOfMemory;
    }
    if (!FModel->SetSize(std::uint32_t(params.MemoryMB) << 20))
        return TCodecStatus::OutOfMemory;
    FModel->Init(params.Order, params.Restoration);
    return TCodecStatus::Ok;
}

namespace {
bool Canceled(const TPpmdCallbacks& io)
{
    return io.Cancel && *io.Cancel;
}
}  // namespace

TCodecStatus TPpmdCodec::PPMdCompress(const TPpmdCallbacks& io, std::uint64_t sizeHint, const TPpmdParams& params,
                                      std::uint64_t* bytesIn)
{
    if (bytesIn)
        *bytesIn = 0;
    if (const TCodecStatus rc = PrepareModel(params); rc != TCodecStatus::Ok)
        return rc;
    // Buffers left unfilled: a small member must not pay for clearing them.
    std::unique_ptr<TPpmdOutput> out(new TPpmdOutput);
    auto in = std::make_unique_for_overwrite<std::uint8_t[]>(kBufSize);
    out->io = &io;
    std::uint8_t word[2];
    PutLE16(word, params.Word());
    out->Put(word[0]);
    out->Put(word[1]);

    TPpmdModel& m = *FModel;
    m.EncoderInit();
    std::uint64_t done = 0;
    for (;;) {
        if (Canceled(io))
            return TCodecStatus::Canceled;
        const std::size_t got = std::min(io.Read(in.get(), kBufSize), kBufSize);
        if (got == 0)
            break;
        for (std::size_t i = 0; i < got; i++) {
            m.EncodeSymbol(in[i], *out);
            if (Canceled(io))
                return TCodecStatus::Canceled;
        }
        done += got;
        if (io.Progress)
            io.Progress(done, std::max(done, sizeHint));
    }
    m.EncodeSymbol(-1, *out);
    m.EncoderFlush(*out);
    out->Flush();
    if (bytesIn)
        *bytesIn = done;
    return TCodecStatus::Ok;
}

TCodecStatus TPpmdCodec::PPMdDecompress(const TPpmdCallbacks& io, std::uint64_t packedSize, std::uint64_t unpackedSize,
                                        std::uint64_t* bytesOut)
{
    if (bytesOut)
        *bytesOut = 0;
    std::unique_ptr<TPpmdInput> in(new TPpmdInput);
    in->io = &io;
    in->left = packedSize;
    const std::uint8_t word[2] = {in->Next(), in->Next()};
    if (in->overrun)
        return TCodecStatus::DataError;
    if (const TCodecStatus rc = PrepareModel(TPpmdParams::FromWord(GetLE16(word))); rc != TCodecStatus::Ok)
        return rc;

    std::unique_ptr<TPpmdOutput> out(new TPpmdOutput);
    out->io = &io;
    TPpmdModel& m = *FModel;
    m.DecoderInit(*in);
    std::uint64_t done = 0;
    TCodecStatus rc = TCodecStatus::Ok;
    while (done != unpackedSize) {
        if (Canceled(io)) {
            rc = TCodecStatus::Canceled;
            break;
        }
        int sym = m.DecodeSymbol(*in);
        if (sym < 0 || in->overrun || m.StackOverflow()) {
            // An end mark is fine only when no size was given.
            if (!(sym == -1 && unpackedSize == kPpmdUnknownSize && !in->overrun))
                rc = TCodecStatus::DataError;
            break;
        }
        out->Put(std::uint8_t(sym));
        done++;
        if (out->len == 0 && io.Progress)
            io.Progress(done, unpackedSize == kPpmdUnknownSize ? done : unpackedSize);
    }
    out->Flush();
    if (rc == TCodecStatus::Ok && io.Progress)
        io.Progress(done, done);
    if (bytesOut)
        *bytesOut = done;
    return rc;
}

TPpmdCallbacks MemoryPpmdCallbacks(const std::vector<std::uint8_t>& In, std::size_t& Pos,
                                   std::vector<std::uint8_t>& Out)
{
    TPpmdCallbacks io;
    io.Read = [&In, &Pos](std::uint8_t* buf, std::size_t n) {
        const std::size_t k = std::min(n, In.size() - Pos);
        if (k != 0)
            std::memcpy(buf, In.data() + Pos, k);
        Pos += k;
        return k;
    };
    io.Write = [&Out](const std::uint8_t* buf, std::size_t n) { Out.insert(Out.end(), buf, buf + n); };
    return io;
}
