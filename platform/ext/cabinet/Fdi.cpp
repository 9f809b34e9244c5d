// The decompressor half: libmspack's cabinet reader does the decoding (stored, MSZIP, LZX,
// Quantum); every byte it reads or writes goes through the caller's file callbacks, so the caller
// decides where the cabinet starts and where the output goes.
#include "platform/ext/cabinet/CabLayout.h"
#include "platform/ext/cabinet/Cabinet.h"

#include <mspack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <list>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct TFdi;

// An open file as libmspack sees it: a caller's handle, or the output of the file being copied.
struct TFdiFile {
    TFdi* Owner;
    CAB_INT_PTR Handle;
    bool Output;
    CAB_LONG Position;  // for tell() without a round trip on outputs
};

// What the header says that libmspack does not tell: whether the first folder began in an
// earlier cabinet and whether the last one goes on into the next.
struct TSpan {
    bool FromPrevious = false;
    bool ToNext = false;
};

// mspack_system comes first so libmspack's self pointer leads back to the context.
struct TFdi {
    mspack_system System{};
    PFNALLOC Alloc;
    PFNFREE Free;
    PFNOPEN Open;
    PFNREAD Read;
    PFNWRITE Write;
    PFNCLOSE Close;
    PFNSEEK Seek;
    ERF* Error;
    mscab_decompressor* Decompressor = nullptr;
    CAB_INT_PTR OutputHandle = 0;  // the target of the extraction in progress
    bool WriteFailed = false;
    // The first cabinet of the last copy, kept open for the next copy of the same cabinet: a
    // caller that counts before it extracts reads the same headers twice. It serves one copy;
    // any other call drops it. libmspack reopens the cabinet by this name while it decodes.
    mscabd_cabinet* Kept = nullptr;
    TSpan KeptSpan;
    std::string OpenName;
};

void DropKept(TFdi& fdi)
{
    if (fdi.Kept)
        fdi.Decompressor->close(fdi.Decompressor, fdi.Kept);
    fdi.Kept = nullptr;
}

// libmspack hands this name back to open() when it wants the output file.
constexpr char kOutputName[] = "\x01"
                               "fdi-output";

TFdi* Self(mspack_system* s)
{
    return reinterpret_cast<TFdi*>(s);
}

mspack_file* SysOpen(mspack_system* s, const char* name, int mode)
{
    TFdi* fdi = Self(s);
    if (std::strcmp(name, kOutputName) == 0) {
        if (mode != MSPACK_SYS_OPEN_WRITE)
            return nullptr;
        return reinterpret_cast<mspack_file*>(new (std::nothrow) TFdiFile{fdi, fdi->OutputHandle, true, 0});
    }
    if (mode != MSPACK_SYS_OPEN_READ)
        return nullptr;
    std::string copy = name;
    const CAB_INT_PTR h = fdi->Open(copy.data(), CAB_O_RDONLY | CAB_O_BINARY, 0);
    if (h == -1 || h == 0)
        return nullptr;
    auto* file = new (std::nothrow) TFdiFile{fdi, h, false, 0};
    if (!file)
        fdi->Close(h);
    return reinterpret_cast<mspack_file*>(file);
}

TFdiFile* FileOf(mspack_file* f)
{
    return reinterpret_cast<TFdiFile*>(f);
}

void SysClose(mspack_file* f)
{
    TFdiFile* file = FileOf(f);
    if (!file)
        return;
    if (!file->Output)
        file->Owner->Close(file->Handle);  // outputs belong to the caller, who closes them on notice
    delete file;
}

int SysRead(mspack_file* f, void* buffer, int bytes)
{
    TFdiFile* file = FileOf(f);
    if (file->Output || bytes < 0)
        return -1;
    const CAB_UINT got = file->Owner->Read(file->Handle, buffer, CAB_UINT(bytes));
    if (got == CAB_UINT(-1) || got > CAB_UINT(bytes))
        return -1;
    return int(got);
}

int SysWrite(mspack_file* f, void* buffer, int bytes)
{
    TFdiFile* file = FileOf(f);
    if (!file->Output || bytes < 0)
        return -1;
    const CAB_UINT put = file->Owner->Write(file->Handle, buffer, CAB_UINT(bytes));
    if (put != CAB_UINT(bytes)) {
        file->Owner->WriteFailed = true;
        return -1;
    }
    file->Position += bytes;
    return bytes;
}

int SysSeek(mspack_file* f, off_t offset, int mode)
{
    TFdiFile* file = FileOf(f);
    if (file->Output || offset < INT32_MIN || offset > INT32_MAX)
        return -1;
    const int origin = mode == MSPACK_SYS_SEEK_CUR ? 1 : mode == MSPACK_SYS_SEEK_END ? 2 : 0;
    const CAB_LONG at = file->Owner->Seek(file->Handle, CAB_LONG(offset), origin);
    return at < 0 ? -1 : 0;
}

off_t SysTell(mspack_file* f)
{
    TFdiFile* file = FileOf(f);
    if (file->Output)
        return file->Position;
    return file->Owner->Seek(file->Handle, 0, 1);
}

void SysMessage(mspack_file*, const char*, ...)
{}  // the caller reports through the error record

// libmspack hands copies of the system record to its decoders, so the memory calls cannot find
// the context: they use the C allocator, as the callers' own allocate and free do.
void* SysAlloc(mspack_system*, size_t bytes)
{
    return std::malloc(bytes ? bytes : 1);
}

void SysFree(void* p)
{
    std::free(p);
}

void SysCopy(void* src, void* dest, size_t bytes)
{
    std::memmove(dest, src, bytes);
}

void SetError(TFdi& fdi, FDIERROR code)
{
    if (fdi.Error) {
        fdi.Error->erfOper = code;
        fdi.Error->erfType = 0;
        fdi.Error->fError = code != FDIERROR_NONE;
    }
}

FDIERROR FromMspack(int err)
{
    switch (err) {
    case MSPACK_ERR_OPEN:
        return FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_SIGNATURE:
        return FDIERROR_NOT_A_CABINET;
    case MSPACK_ERR_NOMEMORY:
        return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_WRITE:
        return FDIERROR_TARGET_FILE;
    default:
        return FDIERROR_CORRUPT_CABINET;
    }
}

bool ReadAt(TFdi& fdi, CAB_INT_PTR h, CAB_LONG at, void* buffer, CAB_UINT count)
{
    return fdi.Seek(h, at, 0) == at && fdi.Read(h, buffer, count) == count;
}

TSpan ReadSpan(TFdi& fdi, const std::string& path)
{
    TSpan span;
    std::string name = path;
    const CAB_INT_PTR h = fdi.Open(name.data(), CAB_O_RDONLY | CAB_O_BINARY, 0);
    if (h == -1 || h == 0)
        return span;
    std::uint8_t head[kCabHeaderSize];
    if (ReadAt(fdi, h, 0, head, sizeof head)) {
        const TCabHeaderFields f = DecodeCabHeader(head);
        // The records, as far as the file goes (in 64 bits: a damaged offset may not fit a CAB_LONG).
        const std::int64_t end = fdi.Seek(h, 0, 2);
        const std::size_t there =
            end > std::int64_t(f.FilesOffset) ? std::size_t(end - std::int64_t(f.FilesOffset)) : 0;
        std::vector<std::uint8_t> files(std::min(std::size_t(f.FileCount) * kCabFileRecordMax, there));
        const CAB_UINT got = files.empty() ? 0
                                           : (fdi.Seek(h, CAB_LONG(f.FilesOffset), 0) == CAB_LONG(f.FilesOffset)
                                                  ? fdi.Read(h, files.data(), CAB_UINT(files.size()))
                                                  : 0);
        files.resize(got == CAB_UINT(-1) ? 0 : got);
        WalkCabFileRecords(files, f.FileCount, [&](std::uint16_t folder) {
            span.FromPrevious = span.FromPrevious || folder == kCabFolderFromPrev || folder == kCabFolderPrevAndNext;
            span.ToNext = span.ToNext || folder == kCabFolderToNext || folder == kCabFolderPrevAndNext;
        });
    }
    fdi.Close(h);
    return span;
}

std::uint16_t DosDate(const mscabd_file& f)
{
    return std::uint16_t(((f.date_y - 1980) << 9) | ((f.date_m & 15) << 5) | (f.date_d & 31));
}

std::uint16_t DosTime(const mscabd_file& f)
{
    return std::uint16_t(((f.time_h & 31) << 11) | ((f.time_m & 63) << 5) | ((f.time_s & 63) >> 1));
}

std::string Text(const char* s)
{
    return s ? s : "";
}

// Copies a caller-editable name back; the buffers hold CAB_NAME_MAX bytes.
void PutName(char* buffer, const std::string& text)
{
    const std::size_t n = std::min<std::size_t>(text.size(), CAB_NAME_MAX - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

// One FDICopy: the files whose folder begins in the named cabinet, following the set as far as
// their folders go.
class TCopyRun {
public:
    TCopyRun(TFdi& Fdi, PFNFDINOTIFY Notify, void* User) : F(Fdi), FNotify(Notify), FUser(User) {}

    CAB_BOOL Run(const std::string& Name, const std::string& Path);

private:
    TFdi& F;
    PFNFDINOTIFY FNotify;
    void* FUser;
    std::list<std::string> FNames;  // of the cabinets joined to the first

    CAB_INT_PTR Send(FDINOTIFICATIONTYPE Type, FDINOTIFICATION& N)
    {
        N.pv = FUser;
        return FNotify(Type, &N);
    }
    CAB_BOOL Fail(FDIERROR Code)
    {
        SetError(F, Code);
        return 0;
    }
    FDIERROR AppendFollowing(mscabd_cabinet* Cab, std::string Path, bool ToNext);
    // Join: opens the following cabinets before the data is read, when the file runs on into them.
    FDIERROR CopyFile(mscabd_file& File, std::uint16_t FolderIndex, const std::function<FDIERROR()>* Join);

    std::string FName;  // the notified file's name, a buffer kept from file to file
};

FDIERROR TCopyRun::AppendFollowing(mscabd_cabinet* Cab, std::string Path, bool ToNext)
{
    mscab_decompressor* d = F.Decompressor;
    // Bounded: a set cannot have more cabinets than the index field counts.
    for (int guard = 0; ToNext && (Cab->flags & MSCAB_HDR_NEXTCAB) && guard < 0xFFFF; ++guard) {
        char name[CAB_NAME_MAX], disk[CAB_NAME_MAX], path[CAB_NAME_MAX];
        PutName(name, Text(Cab->nextname));
        PutName(disk, Text(Cab->nextinfo));
        PutName(path, Path);
        FDINOTIFICATION n{};
        n.psz1 = name;
        n.psz2 = disk;
        n.psz3 = path;
        n.setID = Cab->set_id;
        n.iCabinet = std::uint16_t(Cab->set_index + 1);
        if (Send(fdintNEXT_CABINET, n) == -1)
            return FDIERROR_USER_ABORT;
        Path = path;
        // A set that comes back to a cabinet it holds is not a set.
        if (std::find(FNames.begin(), FNames.end(), Path + name) != FNames.end())
            return FDIERROR_WRONG_CABINET;
        // libmspack keeps the name it was given to reopen the cabinet while it decodes.
        const std::string& full = FNames.emplace_back(Path + name);
        mscabd_cabinet* next = d->open(d, full.c_str());
        if (!next)
            return d->last_error(d) == MSPACK_ERR_SIGNATURE ? FDIERROR_NOT_A_CABINET : FDIERROR_CABINET_NOT_FOUND;
        if (next->set_id != Cab->set_id || d->append(d, Cab, next) != MSPACK_ERR_OK) {
            d->close(d, next);
            return FDIERROR_WRONG_CABINET;
        }
        ToNext = ReadSpan(F, full).ToNext;
        Cab = next;
    }
    return FDIERROR_NONE;
}

FDIERROR TCopyRun::CopyFile(mscabd_file& File, std::uint16_t FolderIndex, const std::function<FDIERROR()>* Join)
{
    FName = Text(File.filename);
    FDINOTIFICATION n{};
    n.psz1 = FName.data();
    n.cb = CAB_LONG(File.length);
    n.date = DosDate(File);
    n.time = DosTime(File);
    n.attribs = std::uint16_t(File.attribs);
    n.iFolder = FolderIndex;
    const CAB_INT_PTR target = Send(fdintCOPY_FILE, n);
    if (target == -1)
        return FDIERROR_USER_ABORT;
    if (target == 0)
        return FDIERROR_NONE;
    if (Join) {
        if (const FDIERROR joined = (*Join)(); joined != FDIERROR_NONE)
            return joined;
    }
    F.OutputHandle = target;
    F.WriteFailed = false;
    const int err = F.Decompressor->extract(F.Decompressor, &File, kOutputName);
    if (err != MSPACK_ERR_OK)
        return F.WriteFailed ? FDIERROR_TARGET_FILE : FromMspack(err);
    FDINOTIFICATION c{};
    c.psz1 = FName.data();
    c.hf = target;
    c.date = n.date;
    c.time = n.time;
    c.attribs = n.attribs;
    c.cb = (File.attribs & CAB_A_EXEC) ? 1 : 0;
    return Send(fdintCLOSE_FILE_INFO, c) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
}

CAB_BOOL TCopyRun::Run(const std::string& Name, const std::string& Path)
{
    mscab_decompressor* d = F.Decompressor;
    const std::string full = Path + Name;
    mscabd_cabinet* cab = F.Kept && F.OpenName == full ? std::exchange(F.Kept, nullptr) : nullptr;
    const bool reused = cab != nullptr;
    TSpan span = F.KeptSpan;
    if (!reused) {
        DropKept(F);
        F.OpenName = full;
        cab = d->open(d, F.OpenName.c_str());
        if (!cab)
            return Fail(FromMspack(d->last_error(d)));
        span = ReadSpan(F, full);
    }
    FNames.push_back(full);

    FDINOTIFICATION info{};
    std::string next = Text(cab->nextname), disk = Text(cab->nextinfo), path = Path;
    info.psz1 = next.data();
    info.psz2 = disk.data();
    info.psz3 = path.data();
    info.setID = cab->set_id;
    info.iCabinet = cab->set_index;
    FDIERROR error = Send(fdintCABINET_INFO, info) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;

    // This cabinet's folders in order; files of a folder begun in an earlier cabinet are partial
    // here. A file's folder is looked up once per run of files in the same folder.
    std::unordered_map<const mscabd_folder*, std::uint16_t> folderIndex;
    std::uint16_t folderCount = 0;
    for (const mscabd_folder* f = cab->folders; f; f = f->next)
        folderIndex.emplace(f, folderCount++);
    const mscabd_folder* inherited = span.FromPrevious ? cab->folders : nullptr;
    const auto own = [&](const mscabd_folder* folder) { return folder != inherited && folderIndex.count(folder) != 0; };
    const mscabd_folder* runsOn = nullptr;
    if (span.ToNext)
        for (const mscabd_folder* f = cab->folders; f; f = f->next)
            runsOn = f;
    std::vector<mscabd_file*> files;
    for (mscabd_file* f = cab->files; f; f = f->next)
        files.push_back(f);
    for (mscabd_file* f : files) {
        if (error != FDIERROR_NONE || own(f->folder))
            continue;
        std::string name = Text(f->filename), prev = Text(cab->prevname), prevDisk = Text(cab->previnfo);
        FDINOTIFICATION p{};
        p.psz1 = name.data();
        p.psz2 = prev.data();
        p.psz3 = prevDisk.data();
        if (Send(fdintPARTIAL_FILE, p) == -1)
            error = FDIERROR_USER_ABORT;
    }
    // The following cabinets are opened only when a file that runs on into them is wanted.
    bool joined = false;
    const std::function<FDIERROR()> join = [&]() -> FDIERROR {
        if (joined)
            return FDIERROR_NONE;
        joined = true;
        return AppendFollowing(cab, Path, true);
    };
    const mscabd_folder* lastFolder = nullptr;
    std::uint16_t lastIndex = 0;
    const auto indexOf = [&](const mscabd_folder* folder) {
        if (folder != lastFolder) {
            const auto found = folderIndex.find(folder);
            lastFolder = folder;
            lastIndex = found == folderIndex.end() ? folderCount : found->second;
        }
        return lastIndex;
    };
    for (mscabd_file* f : files) {
        if (error == FDIERROR_NONE && own(f->folder))
            error = CopyFile(*f, indexOf(f->folder), f->folder == runsOn ? &join : nullptr);
    }
    // Files that begin in the following cabinet inside a folder begun here.
    if (joined && error == FDIERROR_NONE) {
        const std::unordered_set<const mscabd_file*> seen(files.begin(), files.end());
        for (mscabd_file* f = cab->files; f && error == FDIERROR_NONE; f = f->next)
            if (!seen.count(f) && own(f->folder))
                error = CopyFile(*f, indexOf(f->folder), nullptr);
    }
    // A cabinet joined to the next one is no longer this cabinet alone.
    if (!reused && !joined && error == FDIERROR_NONE) {
        F.Kept = cab;
        F.KeptSpan = span;
    } else {
        d->close(d, cab);
    }
    if (error != FDIERROR_NONE)
        return Fail(error);
    SetError(F, FDIERROR_NONE);
    return 1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HFDI FDICreate(PFNALLOC Alloc, PFNFREE Free, PFNOPEN Open, PFNREAD Read,
                                                      PFNWRITE Write, PFNCLOSE Close, PFNSEEK Seek, int /*CpuType*/,
                                                      ERF* Error)
{
    if (!Alloc || !Free || !Open || !Read || !Write || !Close || !Seek) {
        if (Error)
            *Error = {FDIERROR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    auto* fdi = new (std::nothrow) TFdi{};
    if (!fdi) {
        if (Error)
            *Error = {FDIERROR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    fdi->Alloc = Alloc;
    fdi->Free = Free;
    fdi->Open = Open;
    fdi->Read = Read;
    fdi->Write = Write;
    fdi->Close = Close;
    fdi->Seek = Seek;
    fdi->Error = Error;
    mspack_system& s = fdi->System;
    s.open = SysOpen;
    s.close = SysClose;
    s.read = SysRead;
    s.write = SysWrite;
    s.seek = SysSeek;
    s.tell = SysTell;
    s.message = SysMessage;
    s.alloc = SysAlloc;
    s.free = SysFree;
    s.copy = SysCopy;
    fdi->Decompressor = mspack_create_cab_decompressor(&s);
    if (!fdi->Decompressor) {
        delete fdi;
        if (Error)
            *Error = {FDIERROR_ALLOC_FAIL, 0, 1};
        return nullptr;
    }
    SetError(*fdi, FDIERROR_NONE);
    return fdi;
}

__attribute__((visibility("default"))) CAB_BOOL FDIIsCabinet(HFDI Context, CAB_INT_PTR File, FDICABINETINFO* Info)
{
    auto* fdi = static_cast<TFdi*>(Context);
    if (!fdi || !Info)
        return 0;
    DropKept(*fdi);  // a new cabinet to look at: the caller's next copy starts afresh
    std::uint8_t head[kCabHeaderSize];
    if (fdi->Read(File, head, sizeof head) != sizeof head) {
        SetError(*fdi, FDIERROR_NOT_A_CABINET);
        return 0;
    }
    const TCabHeaderFields f = DecodeCabHeader(head);
    if (f.Signature != kCabSignature) {
        SetError(*fdi, FDIERROR_NOT_A_CABINET);
        return 0;
    }
    if (f.VersionMajor != 1) {
        SetError(*fdi, FDIERROR_UNKNOWN_CABINET_VERSION);
        return 0;
    }
    *Info = {CAB_LONG(f.Size),
             f.FolderCount,
             f.FileCount,
             f.SetId,
             f.Index,
             (f.Flags & kCabFlagReserve) != 0,
             (f.Flags & kCabFlagPrevious) != 0,
             (f.Flags & kCabFlagNext) != 0};
    SetError(*fdi, FDIERROR_NONE);
    return 1;
}

__attribute__((visibility("default"))) CAB_BOOL FDICopy(HFDI Context, char* Cabinet, char* CabPath, int /*Flags*/,
                                                        PFNFDINOTIFY Notify, PFNFDIDECRYPT /*Decrypt*/, void* User)
{
    auto* fdi = static_cast<TFdi*>(Context);
    if (!fdi || !Cabinet || !Notify)
        return 0;
    TCopyRun run(*fdi, Notify, User);
    return run.Run(Cabinet, CabPath ? CabPath : "");
}

__attribute__((visibility("default"))) CAB_BOOL FDIDestroy(HFDI Context)
{
    auto* fdi = static_cast<TFdi*>(Context);
    if (!fdi)
        return 0;
    DropKept(*fdi);
    mspack_destroy_cab_decompressor(fdi->Decompressor);
    delete fdi;
    return 1;
}

}  // extern "C"
