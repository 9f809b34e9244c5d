#include "readers/Pelix.h"

#include <algorithm>
#include <cstring>

#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxRegister.h"
#include "platform/win/Files.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"

TPelix::TPelix(TObject* AOwner) : TCustomPelix(AOwner)
{
    RecurseDirs = true;
    SetFileSpec({"*.*"});
    LoadArchiveExtensions(ArchiveExts);
}

TPelix::~TPelix() = default;

bool TPelix::SetEntryName(const std::string& StoredName)
{
    FileName = StoredName;
    return true;
}

std::string TPelix::Comment() const { return FComment; }

bool TPelix::Activate()
{
    if (FBusy)
        return false;
    FBusy = true;
    bool result = false;
    try {
        result = [this] {
            *CancelPtr = false;
            VolumeName = FArchiveFile;
            FProgress = 0;
            if (FArchiveFile.empty() || !win::FileExists(FArchiveFile))
                RaiseError(FArchiveFile, "", "", E_FILENOTFOUND);
            if (!OnRead) {
                DoError(FArchiveFile, "OnRead", E_REQUIREDEVENT, "");
                return false;
            }
            // For a ZIP, detection's archive offset is its directory; the stub tells an SFX.
            if (FArcType == atZip && StubSize == 0) {
                const auto report = [this](const std::string& f, const std::string& x, const std::string& v, int e) {
                    DoError(f, x, e, v);
                };
                if (!FDiskManager.GetDiskInfo(FArchiveFile, {}, {}, report, this, CancelPtr))
                    return false;
                if (FDiskManager.DriveType == DRIVE_REMOVABLE)
                    FArcType = atZipDS;
            }
            RunListing();
            return true;
        }();
    } catch (const std::exception&) {
        result = false;
    }
    FStream.reset();
    FComment.clear();
    FBusy = false;
    return result;
}

void TPelix::RunListing()
{
    FStream = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    if (!FStream->HandleValid()) {
        FStream.reset();
        DoError(FArchiveFile, "", E_OPENFILE, VolumeName);
        return;
    }
    struct TFinally {
        TPelix& P;
        ~TFinally()
        {
            P.Timer().Stop();
            P.FStream.reset();
            if (P.OnTotals) {
                P.Ratio = RatioPercent64(P.UnpackedTotal, P.PackedTotal);
                P.OnTotals(&P, P.UnpackedTotal, P.PackedTotal, P.Ratio, P.FileCount);
            }
            if (P.OnDeactivate)
                P.OnDeactivate(&P);
            if (P.OnElapsedTime)
                P.OnElapsedTime(&P, P.Timer().Elapsed());
        }
    } finish{*this};
    if (OnActivate)
        OnActivate(this);
    if (OnElapsedTime)
        Timer().Start();
    PrepareListing();
    Walk();
}

void TPelix::PrepareListing()
{
    FileCount = 0;
    EntryIndex = 0;
    Crc32 = 0;
    DateTime = 29221 + 60.0 / 86400;
    ArchiveSize = FStream->Size();
    FEndOfHeaders = ArchiveSize;
    PackedSize = UnpackedSize = 0;
    Ratio = 0;
    MethodName.clear();
    PackedTotal = UnpackedTotal = 0;
    FDone = false;
    FStep = nullptr;
    FHeaderSize = 0;
    FCurrentOffset = std::max<std::int64_t>(ArchiveOffset, 0);
    FTarReader.reset();
    FArcDirs.clear();
    FZooFirst = true;
    FZipLocalReported = false;
    FCab = {};
    FCabChained = false;
    VolumeCounter = 0;

    switch (FArcType) {
    case atAce: case atAceExe: FHeaderSize = 35; FStep = &TPelix::ReadAce; PrepareAce(); break;
    case atArc: case atArcExe: case atPak: case atPakExe:
        FHeaderSize = 29; FStep = &TPelix::ReadArc; break;
    case atArj: case atArjExe: FHeaderSize = 4; FStep = &TPelix::ReadArj; PrepareArj(); break;
    case atBh: case atBhExe: FHeaderSize = 37; FStep = &TPelix::ReadBh; break;
    case atBz2: FHeaderSize = 10; FStep = &TPelix::ReadBz2; break;
    case atCab: case atCabExe: FHeaderSize = 16; FStep = &TPelix::ReadCab; PrepareCab(); break;
    case atGZip: FHeaderSize = 10; FStep = &TPelix::ReadGZip; break;
    case atHA: FHeaderSize = 18; FStep = &TPelix::ReadHa; FCurrentOffset = 3; break;
    case atLha: case atLhaExe: case atLzh: case atLzhExe:
        FHeaderSize = 22; FStep = &TPelix::ReadLha; PrepareLha(); break;
    case atMsGZ: FHeaderSize = 29; FStep = &TPelix::ReadMsGZ; PrepareMsGZ(); break;
    case atRar: case atRarExe: ListRar(); break;
    case atTar: FHeaderSize = 512; FStep = &TPelix::ReadTar; break;
    case atZoo: FHeaderSize = 58; FStep = &TPelix::ReadZoo; FCurrentOffset = 0; break;
    case atZip: case atZipExe: case atZipDS: case atZipMV: case atJar: case atJarExe: PrepareZip(); break;
    case atB64: case atUUE: ListEncodedText(); break;
    default: break;
    }
}

void TPelix::Walk()
{
    while (!GetCancel() && FStream && !FDone && FStep && FHeaderSize > 0 &&
           FCurrentOffset + FHeaderSize <= ArchiveSize) {
        const std::int64_t turnStart = FCurrentOffset;
        const int generation = FStreamGeneration;
        FTurnStart = turnStart;
        FHeader.fill(0);
        const std::int64_t got = ReadAt(turnStart, FHeader.data(), FHeaderSize);
        if (got < 1)
            break;
        FHeaderRead = std::int32_t(got);
        FCurrentOffset += got;
        ReadHeader();
        // Hostile offsets must never send the walk back or keep it in place.
        if (!FDone && generation == FStreamGeneration && FCurrentOffset <= turnStart)
            break;
    }
}

void TPelix::ReadHeader()
{
    FComment.clear();
    ++EntryIndex;
    (this->*FStep)();
    if (FDone || FCurrentOffset >= FEndOfHeaders)
        --EntryIndex;
}

void TPelix::ListEntry(TPelixEntry& Entry)
{
    SetEntryName(Entry.Name);
    if (OnReadFile)
        OnReadFile(this, FileName);
    const bool directory = Entry.Directory || FileName.empty() || FileName.back() == '\\';
    const bool selected = Entry.ZipCentral ? MatchesStoredName(FileName, RecurseDirs) : MatchesFileSpec(FileName);
    if (!selected)
        return;
    if (directory) {
        if (!ShowEmptyDirs)
            return;
        ++FileCount;
    } else {
        ++FileCount;
        AddTotals(Entry.Unpacked, Entry.Packed);
    }
    FillEntry(Entry);
}

void TPelix::AddTotals(std::int64_t Unpacked, std::int64_t Packed)
{
    UnpackedTotal += Unpacked;
    PackedTotal += Packed;
}

void TPelix::FillEntry(const TPelixEntry& Entry)
{
    ProcessMessages();
    if (GetCancel() || !OnRead || FArcType <= atUnknown)
        return;
    DateTime = Entry.Date;
    VersionMadeBy = Entry.VersionMadeBy;
    VersionNeeded = Entry.VersionNeeded;
    PackedSize = Entry.Packed;
    UnpackedSize = Entry.Unpacked;
    Crc32 = Entry.Crc;
    Encrypted = Entry.Encrypted;
    MethodNumber = Entry.Method;
    InternalAttr = Entry.InternalAttr;
    ExternalAttr = Entry.ExternalAttr;
    Ratio = Entry.RatioZero ? 0 : RatioPercent64(Entry.Unpacked, Entry.Packed);
    TMethodEntryFacts facts = Entry.Facts;
    facts.FileName = FileName;
    MethodName = Entry.NoMethodName ? std::string() : GetMethodName(FArcType, Entry.Method, Entry.MethodFlags, facts);
    HeaderOffset = Entry.Offset;
    CommentBuffer.assign(FComment.begin(), FComment.end());
    if (!Entry.VolumeName.empty())
        VolumeName = Entry.VolumeName;
    FileNumber = FileCount;
    FireRead(FileCount, Entry.Offset);
}

void TPelix::FireRead(int Filenum, std::int64_t Offset)
{
    if (ExternalAttr & 0x10) {
        // A folder is shown by its path; one stored without a trailing separator keeps its name.
        if (!FileName.empty() && FileName.back() != '\\')
            FileName += '\\';
        FileName = win::ExtractFilePath(FileName);
    }
    if (OnReadBegin)
        OnReadBegin(this);
    OnRead(this, Offset, Filenum);
    if (OnReadEnd)
        OnReadEnd(this);
}

// --- bounded reads ---

std::int64_t TPelix::ReadAt(std::int64_t Pos, void* Buffer, std::int64_t Count)
{
    if (!FStream || Pos < 0 || Count <= 0 || Pos >= ArchiveSize)
        return 0;
    Count = std::min<std::int64_t>({Count, ArchiveSize - Pos, 0x7FFFFFFF});
    if (FStream->Seek64(Pos, soBeginning) != Pos)
        return 0;
    return std::max<std::int32_t>(FStream->Read(Buffer, std::int32_t(Count)), 0);
}

std::string TPelix::ReadStringAt(std::int64_t& Pos, std::size_t Max)
{
    std::string raw(Max + 1, '\0');
    const std::int64_t got = ReadAt(Pos, raw.data(), std::int64_t(raw.size()));
    raw.resize(std::size_t(got));
    const std::size_t end = raw.find('\0');
    if (end == std::string::npos) {
        Pos += std::int64_t(raw.size());
        return raw.substr(0, std::min(raw.size(), Max));
    }
    Pos += std::int64_t(end) + 1;
    raw.resize(end);
    return raw;
}

std::string TPelix::ReadStringAtPos(std::int64_t& Pos, std::size_t Length)
{
    std::string raw(Length, '\0');
    const std::int64_t got = ReadAt(Pos, raw.data(), std::int64_t(Length));
    raw.resize(std::size_t(got));
    Pos += got;
    return raw;
}

void TPelix::ReadComment(std::int64_t Pos, std::int64_t Length)
{
    // The buffer holds kCommentBufferSize bytes with its terminator, whatever the header claims.
    Length = std::min<std::int64_t>(Length <= 0 ? 2500 : Length, kCommentBufferSize - 1);
    std::string text = ReadStringAtPos(Pos, std::size_t(Length));
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    FComment = std::move(text);
}

std::string TPelix::OemName(std::string_view Stored) const
{
    std::string out;
    OemToAnsiName(FArcType, -1, out, Stored);
    return out;
}

TDateTime TPelix::ArchiveFileDate() const
{
    const std::int32_t age = win::FileAge(FArchiveFile);
    return age == -1 ? 29221 + 60.0 / 86400 : win::FileDateToDateTime(age);
}

std::uint32_t TPelix::ArchiveFileAttributes() const
{
    const DWORD attr = GetFileAttributesA(FArchiveFile.c_str());
    return attr == INVALID_FILE_ATTRIBUTES ? 0 : attr;
}

// --- the spanned-set reader's view ---

void TPelix::RedetectArchive()
{
    HeaderTypeState = 0;
    SetArchiveFile(FArchiveFile);
}

bool TPelix::OpenArchiveStream()
{
    FStream = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyNone);
    if (!FStream->HandleValid()) {
        FStream.reset();
        DoError(FArchiveFile, "", E_OPENFILE, VolumeName);
        return false;
    }
    ArchiveSize = FStream->Size();
    return true;
}
