// The compressor half: files are cut into 32 KiB blocks of one folder, stored or MSZIP ("CK" and
// a raw deflate stream that may refer to the block before it), kept in a temporary file until the
// cabinet is written. A size limit ends a cabinet between blocks; the folder and the files that
// run on continue in the next cabinet, which starts a folder of its own once they end.
#include "platform/ext/cabinet/CabLayout.h"
#include "platform/ext/cabinet/Cabinet.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kFolderDataLimit = 0x7FFF8000;  // uncompressed bytes a folder may hold
constexpr std::size_t kMaxFilesPerCabinet = 0xFFFF;
// With the history kept from block to block, level 4 already packs smaller than other MSZIP
// writers at zlib's default, at their speed.
constexpr int kDeflateLevel = 4;
constexpr std::size_t kNameSlack = 2 * CAB_NAME_MAX;  // room kept for the next cabinet's names

struct TFolderRecord {
    std::uint32_t DataOffset = 0;  // in the cabinet's data file
    std::uint16_t Blocks = 0;
    std::uint16_t Type = 0;
};

struct TFileRecord {
    std::string Name;
    std::uint32_t Size = 0;
    std::uint32_t Offset = 0;  // in the folder's uncompressed stream
    std::uint16_t Folder = 0;  // index in this cabinet, or a continuation code
    std::uint16_t Date = 0, Time = 0, Attribs = 0;
};

struct TFciError {
    FCIERROR Code;
    int System;
};

class TFci {
public:
    ERF* Error = nullptr;
    PFNFCIFILEPLACED Placed = nullptr;
    PFNFCIALLOC Alloc = nullptr;
    PFNFCIFREE Free = nullptr;
    PFNFCIOPEN Open = nullptr;
    PFNFCIREAD Read = nullptr;
    PFNFCIWRITE Write = nullptr;
    PFNFCICLOSE Close = nullptr;
    PFNFCISEEK Seek = nullptr;
    PFNFCIDELETE Delete = nullptr;
    PFNFCIGETTEMPFILE TempFile = nullptr;
    CCAB Cab{};
    void* User = nullptr;

    ~TFci();
    bool Start();
    void AddFile(const char* Source, const char* Name, bool Execute, PFNFCIGETOPENINFO OpenInfo, std::uint16_t Type);
    void FlushFolder();
    void FlushCabinet(bool GetNext);
    void SetCallbacks(PFNFCIGETNEXTCABINET Next, PFNFCISTATUS Status)
    {
        FNext = Next;
        FStatus = Status;
    }
    void Fail(const TFciError& E)
    {
        if (Error)
            *Error = {E.Code, E.System, 1};
    }

private:
    PFNFCIGETNEXTCABINET FNext = nullptr;
    PFNFCISTATUS FStatus = nullptr;
    z_stream FZip{};
    bool FZipReady = false;

    // The cabinet being filled.
    std::vector<TFolderRecord> FFolders;
    std::vector<TFileRecord> FFiles;
    std::string FPrevCab, FPrevDisk;
    CAB_INT_PTR FData = -1;
    std::string FDataName;
    std::uint32_t FDataSize = 0;

    // The folder being filled.
    bool FFolderOpen = false;
    bool FFolderContinued = false;  // begun in an earlier cabinet
    std::uint16_t FType = 0;
    std::uint32_t FFolderBytes = 0;  // uncompressed bytes taken so far
    std::uint32_t FEmitted = 0;      // of which in written blocks
    bool FFreshFolder = false;       // the deflate stream starts anew with the next block
    std::vector<std::uint8_t> FPending, FBlock;

    void OpenFolder(std::uint16_t Type);
    void Take(const std::uint8_t* Data, std::size_t Count);
    void EmitBlock(const std::uint8_t* Data, std::uint32_t Count);
    // One data block, or one part of a block cut at the end of a cabinet (Count 0).
    void WritePart(const std::uint8_t* Data, std::uint32_t Packed, std::uint32_t Count);
    void Emitted(std::uint32_t Packed, std::uint32_t Count);
    void Compress(const std::uint8_t* Data, std::uint32_t Count);
    void SplitCabinet();
    void WriteCabinet(const CCAB* Next);
    void EnsureDataFile();
    void DropDataFile();
    std::size_t HeaderBytes(bool WithNext) const;
    std::uint32_t EstimatedSize() const;
    void WriteAll(CAB_INT_PTR H, const void* Data, std::uint32_t Count);
    bool NextCabinet(CCAB& Next);
};

TFci::~TFci()
{
    DropDataFile();
    if (FZipReady)
        deflateEnd(&FZip);
}

bool TFci::Start()
{
    if (deflateInit2(&FZip, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    FZipReady = true;
    FPending.reserve(kCabBlockSize);
    return true;
}

void TFci::WriteAll(CAB_INT_PTR H, const void* Data, std::uint32_t Count)
{
    int err = 0;
    if (Count > 0 && Write(H, const_cast<void*>(Data), Count, &err, User) != Count)
        throw TFciError{FCIERR_CAB_FILE, err};
}

void TFci::EnsureDataFile()
{
    if (FData != -1)
        return;
    char name[CAB_NAME_MAX] = {};
    if (!TempFile(name, sizeof name, User))
        throw TFciError{FCIERR_TEMP_FILE, 0};
    int err = 0;
    FData = Open(name, CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY, 0600, &err, User);
    if (FData == -1)
        throw TFciError{FCIERR_TEMP_FILE, err};
    FDataName = name;
    FDataSize = 0;
}

void TFci::DropDataFile()
{
    if (FData == -1)
        return;
    int err = 0;
    Close(FData, &err, User);
    Delete(FDataName.data(), &err, User);
    FData = -1;
    FDataName.clear();
    FDataSize = 0;
}

void TFci::OpenFolder(std::uint16_t Type)
{
    FFolders.push_back({FDataSize, 0, Type});
    FFolderOpen = true;
    FFolderContinued = false;
    FType = Type;
    FFolderBytes = FEmitted = 0;
    FPending.clear();
    FFreshFolder = true;
}

void TFci::AddFile(const char* Source, const char* Name, bool Execute, PFNFCIGETOPENINFO OpenInfo, std::uint16_t Type)
{
    const std::uint16_t method = Type & tcompMASK_TYPE;
    if (method != tcompTYPE_NONE && method != tcompTYPE_MSZIP)
        throw TFciError{FCIERR_BAD_COMPR_TYPE, 0};
    const std::size_t nameLength = std::strlen(Name);
    if (nameLength == 0 || nameLength >= CAB_NAME_MAX)
        throw TFciError{FCIERR_CAB_FORMAT_LIMIT, 0};
    std::uint16_t date = 0, time = 0, attribs = 0;
    int err = 0;
    std::string source = Source;
    const CAB_INT_PTR in = OpenInfo(source.data(), &date, &time, &attribs, &err, User);
    if (in == -1)
        throw TFciError{FCIERR_OPEN_SRC, err};
    struct TCloser {
        TFci& F;
        CAB_INT_PTR H;
        ~TCloser()
        {
            int e = 0;
            F.Close(H, &e, F.User);
        }
    } closer{*this, in};
    const CAB_LONG size = Seek(in, 0, 2, &err, User);
    if (size < 0 || Seek(in, 0, 0, &err, User) != 0)
        throw TFciError{FCIERR_READ_SRC, err};
    if (std::uint32_t(size) > kFolderDataLimit)
        throw TFciError{FCIERR_CAB_FORMAT_LIMIT, 0};
    // A continued folder ends with the files that ran on; a new file starts a folder of its own.
    if (FFolderOpen && (FFolderContinued || FType != Type || FFolderBytes > Cab.cbFolderThresh ||
                        kFolderDataLimit - FFolderBytes < std::uint32_t(size)))
        FlushFolder();
    if (FFiles.size() >= kMaxFilesPerCabinet)
        throw TFciError{FCIERR_CAB_FORMAT_LIMIT, 0};
    if (!FFolderOpen)
        OpenFolder(Type);
    TFileRecord file;
    file.Name.assign(Name, nameLength);
    file.Size = std::uint32_t(size);
    file.Offset = FFolderBytes;
    file.Folder = std::uint16_t(FFolders.size() - 1);
    file.Date = date;
    file.Time = time;
    file.Attribs = std::uint16_t((attribs & (0x27 | CAB_A_EXEC | CAB_A_NAME_IS_UTF)) | (Execute ? CAB_A_EXEC : 0));
    FFiles.push_back(std::move(file));
    FFolderBytes += std::uint32_t(size);

    std::vector<std::uint8_t> buffer(65536);
    std::uint32_t left = std::uint32_t(size);
    while (left > 0) {
        const CAB_UINT want = CAB_UINT(std::min<std::size_t>(left, buffer.size()));
        const CAB_UINT got = Read(in, buffer.data(), want, &err, User);
        if (got == CAB_UINT(-1) || got == 0 || got > want)
            throw TFciError{err == -1 ? FCIERR_USER_ABORT : FCIERR_READ_SRC, err};
        Take(buffer.data(), got);
        left -= got;
    }
}

void TFci::Take(const std::uint8_t* Data, std::size_t Count)
{
    while (Count > 0) {
        const std::size_t n = std::min<std::size_t>(Count, kCabBlockSize - FPending.size());
        FPending.insert(FPending.end(), Data, Data + n);
        Data += n;
        Count -= n;
        if (FPending.size() == kCabBlockSize) {
            EmitBlock(FPending.data(), kCabBlockSize);
            FPending.clear();
        }
    }
}

void TFci::Compress(const std::uint8_t* Data, std::uint32_t Count)
{
    if ((FType & tcompMASK_TYPE) == tcompTYPE_NONE) {
        FBlock.assign(Data, Data + Count);
        return;
    }
    // One deflate stream per folder, flushed to a byte boundary at each block's end and closed
    // there by an empty final block: each block is whole, and the next one may still refer back
    // into the 32 KiB before it, which the reader keeps as its window.
    if (FFreshFolder) {
        deflateReset(&FZip);
        FFreshFolder = false;
    }
    FBlock.resize(2 + deflateBound(&FZip, Count) + 16);
    FBlock[0] = 'C';
    FBlock[1] = 'K';
    FZip.next_in = const_cast<Bytef*>(Data);
    FZip.avail_in = Count;
    FZip.next_out = FBlock.data() + 2;
    FZip.avail_out = uInt(FBlock.size() - 2);
    if (deflate(&FZip, Z_SYNC_FLUSH) != Z_OK || FZip.avail_in != 0 || FZip.avail_out == 0)
        throw TFciError{FCIERR_MCI_FAIL, 0};
    FBlock.resize(FBlock.size() - FZip.avail_out);
    FBlock.push_back(0x03);  // final fixed-code block holding only its end code
    FBlock.push_back(0x00);
}

void TFci::WritePart(const std::uint8_t* Data, std::uint32_t Packed, std::uint32_t Count)
{
    EnsureDataFile();
    std::uint8_t head[kCabDataHeaderSize];
    PutLE16(head + 4, std::uint16_t(Packed));
    PutLE16(head + 6, std::uint16_t(Count));
    PutLE32(head, CabChecksum(head + 4, 4, CabChecksum(Data, Packed, 0)));
    WriteAll(FData, head, sizeof head);
    WriteAll(FData, Data, Packed);
    FDataSize += std::uint32_t(sizeof head) + Packed;
    ++FFolders.back().Blocks;
}

void TFci::EmitBlock(const std::uint8_t* Data, std::uint32_t Count)
{
    Compress(Data, Count);
    const auto packed = std::uint32_t(FBlock.size());
    const std::int64_t room = std::int64_t(Cab.cb) - EstimatedSize() - std::int64_t(kCabDataHeaderSize);
    // A cabinet holds at least one block, whatever its limit.
    if (FDataSize > 0 && room < std::int64_t(packed)) {
        if (FFolders.back().Blocks == 0) {
            SplitCabinet();  // the folder moves over whole
        } else if (packed >= 2) {
            // A folder that runs on ends its cabinet with the first part of a block, which
            // announces no output; the block's rest opens the next cabinet.
            const auto first = std::uint32_t(std::clamp<std::int64_t>(room, 1, packed - 1));
            WritePart(FBlock.data(), first, 0);
            SplitCabinet();
            WritePart(FBlock.data() + first, packed - first, Count);
            Emitted(packed, Count);
            return;
        }
    }
    WritePart(FBlock.data(), packed, Count);
    Emitted(packed, Count);
}

void TFci::Emitted(std::uint32_t Packed, std::uint32_t Count)
{
    FEmitted += Count;
    if (FStatus && FStatus(0, Packed, Count, User) == -1)
        throw TFciError{FCIERR_USER_ABORT, 0};
}

void TFci::FlushFolder()
{
    if (!FFolderOpen)
        return;
    if (!FPending.empty())
        EmitBlock(FPending.data(), std::uint32_t(FPending.size()));
    FPending.clear();
    FFolderOpen = false;
    FFolderContinued = false;
    if (FStatus && FStatus(1, FFolderBytes, FFolderBytes, User) == -1)
        throw TFciError{FCIERR_USER_ABORT, 0};
}

std::size_t TFci::HeaderBytes(bool WithNext) const
{
    std::size_t n = kCabHeaderSize;
    if (!FPrevCab.empty() || Cab.iCab > 0)
        n += FPrevCab.size() + 1 + FPrevDisk.size() + 1;
    if (WithNext)
        n += kNameSlack;
    n += FFolders.size() * kCabFolderSize;
    for (const TFileRecord& f : FFiles)
        n += kCabFileFixedSize + f.Name.size() + 1;
    return n;
}

std::uint32_t TFci::EstimatedSize() const
{
    return std::uint32_t(std::min<std::size_t>(HeaderBytes(true) + FDataSize, 0xFFFFFFFFu));
}

bool TFci::NextCabinet(CCAB& Next)
{
    Next = Cab;
    ++Next.iCab;
    return FNext && FNext(&Next, EstimatedSize(), User);
}

void TFci::SplitCabinet()
{
    CCAB next{};
    if (!NextCabinet(next))
        throw TFciError{FCIERR_USER_ABORT, 0};
    const auto folder = std::uint16_t(FFolders.size() - 1);
    // A folder with no block here yet moves over whole, its files with it.
    const bool moveWhole = FFolders.back().Blocks == 0;
    std::vector<TFileRecord> kept, running;
    for (TFileRecord& f : FFiles) {
        const bool inFolder = f.Folder == folder || (folder == 0 && f.Folder == kCabFolderFromPrev);
        if (!inFolder || std::uint64_t(f.Offset) + f.Size <= FEmitted) {
            kept.push_back(std::move(f));
            continue;
        }
        if (moveWhole) {
            f.Folder = 0;
            running.push_back(std::move(f));
            continue;
        }
        // Not wholly in the written blocks: listed in both cabinets, continued.
        running.push_back(f);
        running.back().Folder = kCabFolderFromPrev;
        f.Folder = f.Folder == kCabFolderFromPrev ? kCabFolderPrevAndNext : kCabFolderToNext;
        kept.push_back(std::move(f));
    }
    FFiles = std::move(kept);
    if (moveWhole)
        FFolders.pop_back();
    WriteCabinet(&next);
    FPrevCab = Cab.szCab;
    FPrevDisk = Cab.szDisk;
    Cab = next;
    FFolders.assign(1, TFolderRecord{0, 0, FType});
    FFiles = std::move(running);
    FFolderContinued = !moveWhole;
}

void TFci::WriteCabinet(const CCAB* Next)
{
    const bool hasPrev = !FPrevCab.empty() || Cab.iCab > 0;
    std::vector<std::uint8_t> head(kCabHeaderSize);
    const auto putName = [&head](const std::string& s) {
        head.insert(head.end(), s.begin(), s.end());
        head.push_back(0);
    };
    if (hasPrev) {
        putName(FPrevCab);
        putName(FPrevDisk);
    }
    if (Next) {
        putName(Next->szCab);
        putName(Next->szDisk);
    }
    const std::size_t foldersAt = head.size();
    head.resize(foldersAt + FFolders.size() * kCabFolderSize);
    const std::size_t filesAt = head.size();
    for (const TFileRecord& f : FFiles) {
        std::uint8_t r[kCabFileFixedSize];
        PutLE32(r, f.Size);
        PutLE32(r + 4, f.Offset);
        PutLE16(r + 8, f.Folder);
        PutLE16(r + 10, f.Date);
        PutLE16(r + 12, f.Time);
        PutLE16(r + 14, f.Attribs);
        head.insert(head.end(), r, r + sizeof r);
        putName(f.Name);
    }
    const auto dataAt = std::uint32_t(head.size());
    for (std::size_t i = 0; i < FFolders.size(); ++i) {
        std::uint8_t* r = &head[foldersAt + i * kCabFolderSize];
        PutLE32(r, dataAt + FFolders[i].DataOffset);
        PutLE16(r + 4, FFolders[i].Blocks);
        PutLE16(r + 6, FFolders[i].Type);
    }
    const std::uint64_t total = std::uint64_t(dataAt) + FDataSize;
    if (total > 0x7FFFFFFF)
        throw TFciError{FCIERR_CAB_FORMAT_LIMIT, 0};
    PutLE32(&head[0], kCabSignature);
    PutLE32(&head[8], std::uint32_t(total));
    PutLE32(&head[16], std::uint32_t(filesAt));
    head[24] = 3;
    head[25] = 1;
    PutLE16(&head[26], std::uint16_t(FFolders.size()));
    PutLE16(&head[28], std::uint16_t(FFiles.size()));
    PutLE16(&head[30], std::uint16_t((hasPrev ? kCabFlagPrevious : 0) | (Next ? kCabFlagNext : 0)));
    PutLE16(&head[32], Cab.setID);
    PutLE16(&head[34], std::uint16_t(Cab.iCab));

    std::string path = std::string(Cab.szCabPath) + Cab.szCab;
    int err = 0;
    const CAB_INT_PTR out = Open(path.data(), CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY, 0600, &err, User);
    if (out == -1)
        throw TFciError{FCIERR_CAB_FILE, err};
    try {
        WriteAll(out, head.data(), std::uint32_t(head.size()));
        if (FData != -1) {
            if (Seek(FData, 0, 0, &err, User) != 0)
                throw TFciError{FCIERR_TEMP_FILE, err};
            std::vector<std::uint8_t> buffer(65536);
            for (std::uint32_t left = FDataSize; left > 0;) {
                const CAB_UINT want = CAB_UINT(std::min<std::size_t>(left, buffer.size()));
                if (Read(FData, buffer.data(), want, &err, User) != want)
                    throw TFciError{FCIERR_TEMP_FILE, err};
                WriteAll(out, buffer.data(), want);
                left -= want;
            }
        }
    } catch (...) {
        Close(out, &err, User);
        throw;
    }
    if (Close(out, &err, User) != 0)
        throw TFciError{FCIERR_CAB_FILE, err};
    for (TFileRecord& f : FFiles) {
        const bool continued = f.Folder == kCabFolderFromPrev || f.Folder == kCabFolderPrevAndNext;
        if (Placed)
            Placed(&Cab, f.Name.data(), CAB_LONG(f.Size), continued, User);
    }
    if (FStatus)
        FStatus(2, EstimatedSize(), std::uint32_t(total), User);
    DropDataFile();
}

void TFci::FlushCabinet(bool GetNext)
{
    FlushFolder();
    if (FFiles.empty())
        return;  // nothing was added: no cabinet
    CCAB next{};
    if (GetNext && !NextCabinet(next))
        throw TFciError{FCIERR_USER_ABORT, 0};
    WriteCabinet(GetNext ? &next : nullptr);
    FFolders.clear();
    FFiles.clear();
    if (GetNext) {
        FPrevCab = Cab.szCab;
        FPrevDisk = Cab.szDisk;
        Cab = next;
    }
}

template <class TStep>
CAB_BOOL Guarded(TFci* F, TStep Step)
{
    if (!F)
        return 0;
    try {
        Step(*F);
    } catch (const TFciError& e) {
        F->Fail(e);
        return 0;
    } catch (const std::bad_alloc&) {
        F->Fail({FCIERR_ALLOC_FAIL, 0});
        return 0;
    }
    if (F->Error)
        *F->Error = {FCIERR_NONE, 0, 0};
    return 1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HFCI FCICreate(ERF* Error, PFNFCIFILEPLACED Placed, PFNFCIALLOC Alloc,
                                                      PFNFCIFREE Free, PFNFCIOPEN Open, PFNFCIREAD Read,
                                                      PFNFCIWRITE Write, PFNFCICLOSE Close, PFNFCISEEK Seek,
                                                      PFNFCIDELETE Delete, PFNFCIGETTEMPFILE TempFile, CCAB* Cab,
                                                      void* User)
{
    const auto fail = [Error](FCIERROR code) -> HFCI {
        if (Error)
            *Error = {code, 0, 1};
        return nullptr;
    };
    if (!Alloc || !Free || !Open || !Read || !Write || !Close || !Seek || !Delete || !TempFile || !Cab)
        return fail(FCIERR_ALLOC_FAIL);
    // Reserved areas are not written by this library.
    if (Cab->cbReserveCFHeader || Cab->cbReserveCFFolder || Cab->cbReserveCFData)
        return fail(FCIERR_CAB_FORMAT_LIMIT);
    auto* f = new (std::nothrow) TFci;
    if (!f)
        return fail(FCIERR_ALLOC_FAIL);
    f->Error = Error;
    f->Placed = Placed;
    f->Alloc = Alloc;
    f->Free = Free;
    f->Open = Open;
    f->Read = Read;
    f->Write = Write;
    f->Close = Close;
    f->Seek = Seek;
    f->Delete = Delete;
    f->TempFile = TempFile;
    f->Cab = *Cab;
    f->Cab.szCab[CAB_NAME_MAX - 1] = f->Cab.szCabPath[CAB_NAME_MAX - 1] = f->Cab.szDisk[CAB_NAME_MAX - 1] = 0;
    f->User = User;
    if (!f->Start()) {
        delete f;
        return fail(FCIERR_ALLOC_FAIL);
    }
    if (Error)
        *Error = {FCIERR_NONE, 0, 0};
    return f;
}

__attribute__((visibility("default"))) CAB_BOOL FCIAddFile(HFCI Context, char* Source, char* Name, CAB_BOOL Execute,
                                                           PFNFCIGETNEXTCABINET Next, PFNFCISTATUS Status,
                                                           PFNFCIGETOPENINFO OpenInfo, CAB_USHORT Type)
{
    if (!Source || !Name || !OpenInfo)
        return 0;
    return Guarded(static_cast<TFci*>(Context), [&](TFci& f) {
        f.SetCallbacks(Next, Status);
        f.AddFile(Source, Name, Execute != 0, OpenInfo, Type);
    });
}

__attribute__((visibility("default"))) CAB_BOOL FCIFlushFolder(HFCI Context, PFNFCIGETNEXTCABINET Next,
                                                               PFNFCISTATUS Status)
{
    return Guarded(static_cast<TFci*>(Context), [&](TFci& f) {
        f.SetCallbacks(Next, Status);
        f.FlushFolder();
    });
}

__attribute__((visibility("default"))) CAB_BOOL FCIFlushCabinet(HFCI Context, CAB_BOOL GetNext,
                                                                PFNFCIGETNEXTCABINET Next, PFNFCISTATUS Status)
{
    return Guarded(static_cast<TFci*>(Context), [&](TFci& f) {
        f.SetCallbacks(Next, Status);
        f.FlushCabinet(GetNext != 0);
    });
}

__attribute__((visibility("default"))) CAB_BOOL FCIDestroy(HFCI Context)
{
    auto* f = static_cast<TFci*>(Context);
    if (!f)
        return 0;
    delete f;
    return 1;
}

}  // extern "C"
