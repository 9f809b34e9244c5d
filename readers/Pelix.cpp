#include "readers/Pelix.h"

#include <algorithm>
#include <cstring>

#include "core/Endian.h"
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

std::string TPelix::Comment() const
{
    return FComment;
}

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
                if (!DiskManager().GetDiskInfo(FArchiveFile, {}, {}, report, this, CancelPtr))
                    return false;
                if (DiskManager().DriveType == DRIVE_REMOVABLE)
                    FArcType = atZipDS;
            }
            RunListing();
            return true;
        }();
    } catch (const std::exception&) {
        result = false;
    }
    FStream.reset();
    FWalker.reset();
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
    FHeaderSize = 0;
    FCurrentOffset = std::max<std::int64_t>(ArchiveOffset, 0);
    VolumeCounter = 0;
    FWalker = MakePelixWalker(FArcType);
    if (FWalker) {
        TPelixWalk walk(*this);
        FWalker->Open(walk);
    }
}

void TPelix::Walk()
{
    TPelixWalk walk(*this);
    while (!GetCancel() && FStream && !FDone && FWalker && FHeaderSize > 0 &&
           FCurrentOffset + FHeaderSize <= ArchiveSize) {
        const std::int64_t turnStart = FCurrentOffset;
        const int generation = FStreamGeneration;
        FTurnStart = turnStart;
        std::fill_n(FHeader.begin(), FHeaderSize, 0);
        const std::int64_t got = ReadAt(turnStart, FHeader.data(), FHeaderSize);
        if (got < 1)
            break;
        FCurrentOffset += got;
        FComment.clear();
        ++EntryIndex;
        FWalker->Next(walk);
        if (FDone || FCurrentOffset >= FEndOfHeaders)
            --EntryIndex;
        // Hostile offsets must never send the walk back or keep it in place.
        if (!FDone && generation == FStreamGeneration && FCurrentOffset <= turnStart)
            break;
    }
    if (!GetCancel() && FStream && !FDone && FWalker && FHeaderSize > 0 && FCurrentOffset + FHeaderSize > ArchiveSize)
        FWalker->CutShort(walk);
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

void TPelix::ListWhole(TPelixEntry& Entry)
{
    SetEntryName(Entry.Name);
    if (OnReadFile)
        OnReadFile(this, FileName);
    ++FileCount;
    AddTotals(Entry.Unpacked, Entry.Packed);
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

// --- the walkers' view ---

std::int64_t TPelixWalk::Offset() const
{
    return FPelix.FCurrentOffset;
}
void TPelixWalk::MoveTo(std::int64_t Offset)
{
    FPelix.FCurrentOffset = Offset;
}
std::int64_t TPelixWalk::TurnStart() const
{
    return FPelix.FTurnStart;
}
void TPelixWalk::SetHeaderSize(std::int32_t Size)
{
    FPelix.FHeaderSize = std::clamp<std::int32_t>(Size, 0, TPelix::kHeaderBufferSize);
}
std::int64_t TPelixWalk::EndOfHeaders() const
{
    return FPelix.FEndOfHeaders;
}
void TPelixWalk::SetEndOfHeaders(std::int64_t Offset)
{
    FPelix.FEndOfHeaders = Offset;
}
void TPelixWalk::End()
{
    FPelix.EndWalk();
}
void TPelixWalk::NotAnEntry()
{
    --FPelix.EntryIndex;
}

std::uint8_t TPelixWalk::B(std::size_t At) const
{
    return At < std::size_t(FPelix.FHeaderSize) ? FPelix.FHeader[At] : 0;
}
std::uint16_t TPelixWalk::W(std::size_t At) const
{
    return At + 2 <= std::size_t(FPelix.FHeaderSize) ? GetLE16(&FPelix.FHeader[At])
                                                     : std::uint16_t(B(At) | B(At + 1) << 8);
}
std::uint32_t TPelixWalk::L(std::size_t At) const
{
    return At + 4 <= std::size_t(FPelix.FHeaderSize) ? GetLE32(&FPelix.FHeader[At])
                                                     : std::uint32_t(W(At) | std::uint32_t(W(At + 2)) << 16);
}
std::string TPelixWalk::Text(std::size_t At, std::size_t Max) const
{
    std::string text;
    for (std::size_t i = At; i < At + Max && B(i) != 0; ++i)
        text.push_back(char(B(i)));
    return text;
}

std::int64_t TPelixWalk::ReadAt(std::int64_t Pos, void* Buffer, std::int64_t Count) const
{
    return FPelix.ReadAt(Pos, Buffer, Count);
}

TReadAt TPelixWalk::Reader() const
{
    return [&P = FPelix](std::int64_t Pos, void* Buffer, std::int64_t Count) { return P.ReadAt(Pos, Buffer, Count); };
}

std::string TPelixWalk::ReadStringAt(std::int64_t& Pos, std::size_t Max) const
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

std::string TPelixWalk::ReadStringAtPos(std::int64_t& Pos, std::size_t Length) const
{
    std::string raw(Length, '\0');
    const std::int64_t got = ReadAt(Pos, raw.data(), std::int64_t(Length));
    raw.resize(std::size_t(got));
    Pos += got;
    return raw;
}

void TPelixWalk::ReadComment(std::int64_t Pos, std::int64_t Length)
{
    // The buffer holds kCommentBufferSize bytes with its terminator, whatever the header claims.
    Length = std::min<std::int64_t>(Length <= 0 ? 2500 : Length, TPelix::kCommentBufferSize - 1);
    std::string text = ReadStringAtPos(Pos, std::size_t(Length));
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    FPelix.FComment = std::move(text);
}

void TPelixWalk::SetComment(std::string Text)
{
    if (Text.size() > TPelix::kCommentBufferSize - 1)
        Text.resize(TPelix::kCommentBufferSize - 1);
    FPelix.FComment = std::move(Text);
}

TFileStream32* TPelixWalk::Stream() const
{
    return FPelix.FStream.get();
}
void TPelixWalk::CloseStream()
{
    FPelix.FStream.reset();
}

void TPelixWalk::SwitchStream(std::unique_ptr<TFileStream32> Stream)
{
    FPelix.FStream = std::move(Stream);
    FPelix.ArchiveSize = FPelix.FStream->Size();
    ++FPelix.FStreamGeneration;
}

void TPelixWalk::SetArcType(TArcType Type)
{
    FPelix.FArcType = Type;
}

void TPelixWalk::List(TPelixEntry& Entry)
{
    FPelix.ListEntry(Entry);
}
void TPelixWalk::ListWhole(TPelixEntry& Entry)
{
    FPelix.ListWhole(Entry);
}

void TPelixWalk::Fail(int Error)
{
    FPelix.DoError(FPelix.FArchiveFile, "", Error, FPelix.VolumeName);
}

std::string TPelixWalk::OemName(std::string_view Stored) const
{
    std::string out;
    OemToAnsiName(FPelix.FArcType, -1, out, Stored);
    return out;
}

TDateTime TPelixWalk::ArchiveFileDate() const
{
    const std::int32_t age = win::FileAge(FPelix.FArchiveFile);
    return age == -1 ? 29221 + 60.0 / 86400 : win::FileDateToDateTime(age);
}

std::uint32_t TPelixWalk::ArchiveFileAttributes() const
{
    const DWORD attr = GetFileAttributesA(FPelix.FArchiveFile.c_str());
    return attr == INVALID_FILE_ATTRIBUTES ? 0 : attr;
}
