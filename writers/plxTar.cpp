#include "writers/plxTar.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/AsciiRuns.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Time.h"
#include "readers/plxUnTar.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

constexpr std::int32_t kCopyBlock = 65536;
// A DOS date is local time; DateTimeToUnix takes local time.
std::int64_t UnixOfDos(std::uint32_t Dos)
{
    return DateTimeToUnix(DosDateTimeToDateTime(Dos));
}

std::uint32_t DosOfUnix(std::int64_t Time)
{
    return FileTimeToDosTime(win::UnixTimeToFileTime(std::max<std::int64_t>(Time, 0)));
}

std::string StoredToListName(const std::string& Name)
{
    std::string n = Name;
    std::replace(n.begin(), n.end(), '/', '\\');
    return n;
}

bool LastWriteTime(const std::string& Path, std::int64_t& Time)
{
    WIN32_FIND_DATAA data{};
    const std::string probe = RemoveBackslash(Path);
    HANDLE h = FindFirstFileA(probe.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    Time = win::FileTimeToUnixTime(data.ftLastWriteTime);
    return true;
}

// An old entry written with a new header keeps its owner, mode and time.
void TakeOwnerAndMode(TTarWriteEntry& Entry, const TTarEntry& Old)
{
    Entry.KeepTimeBefore1970 = true;
    Entry.Uid = std::uint32_t(std::clamp<std::int64_t>(Old.Uid, 0, 07777777));
    Entry.Gid = std::uint32_t(std::clamp<std::int64_t>(Old.Gid, 0, 07777777));
    Entry.UName = Old.UName;
    Entry.GName = Old.GName;
    Entry.Mode = Old.Mode;
}

TReadAt ReadAtOf(TStream32& Stream)
{
    return [&Stream](std::int64_t at, void* buffer, std::int64_t count) -> std::int64_t {
        Stream.SetPosition(at);
        return Stream.Read(buffer, std::int32_t(count));
    };
}

// A read of a source file: a failed read counts as its end, which the size check then reports.
std::int32_t ReadSource(win::ReadOnceFile& Input, void* Buffer, std::int32_t Count)
{
    DWORD got = 0;
    return Input.Read(Buffer, DWORD(Count), got) ? std::int32_t(got) : 0;
}

// Padding source for the copies; never written to.
const std::uint8_t kZeros[kCopyBlock] = {};

}  // namespace

// --- TTar ---

TTar::TTar(TObject* AOwner) : TCompBase(AOwner)
{
    FClassDefaultExt = ".TAR";
    SetDefaultExt("");
    FArcType = atTar;
    CompressMethod.Restrict({cmTar}, cmTar);
}

void TTar::SetArcType(TArcType)
{
    FArcType = OwnArcType();
    AddDefaultExt();
}

TTarWriteEntry TTar::NewEntry(const std::string& StoredName, bool Directory, std::int64_t Size,
                              std::int64_t MTime) const
{
    TTarWriteEntry e;
    FillEntry(e, StoredName, Directory, Size, MTime);
    return e;
}

void TTar::FillEntry(TTarWriteEntry& e, const std::string& StoredName, bool Directory, std::int64_t Size,
                     std::int64_t MTime) const
{
    // Names stay UTF-8, as the tools of this platform read and write them.
    e.Name.assign(StoredName);
    win::ReplaceByte(e.Name.data(), e.Name.size(), '\\', '/');
    e.Directory = Directory;
    e.Size = Directory ? 0 : Size;
    e.MTime = MTime;
    e.Mode = 0;
    e.Uid = UnixUID & 0xFF;
    e.Gid = UnixGID & 0xFF;
    // The same owner for every entry: copied only when it changed.
    const auto keepFirst32 = [](std::string& to, const std::string& from) {
        if (from.compare(0, 32, to) != 0)
            to.assign(from, 0, 32);
    };
    keepFirst32(e.UName, UnixUName);
    keepFirst32(e.GName, UnixGName);
}

namespace {

// What the list keeps of an entry until it is written: size, DOS time and type, short enough to
// stay inside the record's own string (no allocation, not a whole header block). The time is kept
// as the scan and the comparison with the files read it, never converted back and forth.
constexpr std::size_t kKeptSize = 13;

void KeepEntryInfo(TCompressFileInfo& Item, std::int64_t Size, std::uint32_t DosTime, char Type)
{
    // Written in place: a copy of a 13-byte array stalled on its own just-written bytes.
    Item.SavedHeader.resize(kKeptSize);
    auto* kept = reinterpret_cast<std::uint8_t*>(Item.SavedHeader.data());
    PutLE64(kept, std::uint64_t(Size));
    PutLE32(kept + 8, DosTime);
    kept[12] = std::uint8_t(Type);
}

}  // namespace

void TTar::StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info)
{
    const bool dir = (Info.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    KeepEntryInfo(Item, dir ? 0 : Info.UnpackedSize, Info.DosDateTime, dir ? '5' : '0');
}

void TTar::ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info)
{
    Info = {};
    if (Item.SavedHeader.size() != kKeptSize)
        return;
    const auto* kept = reinterpret_cast<const std::uint8_t*>(Item.SavedHeader.data());
    Info.UnpackedSize = std::int64_t(GetLE64(kept));
    Info.PackedSize = Info.UnpackedSize;
    Info.DosDateTime = GetLE32(kept + 8);
    Info.Attributes = kept[12] == '5' ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

void TTar::CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList)
{
    FOldEntries.clear();
    FOldNames.clear();
    FKeptAsTheyWere.clear();
    TTarReader reader(ReadAtOf(OldArchive), OldArchive.Size());
    TTarEntry entry;
    for (;;) {
        const TTarReadStatus status = reader.Next(entry);
        if (status == TTarReadStatus::End)
            break;
        // A damaged archive is never rewritten with some of its entries silently gone.
        if (status != TTarReadStatus::Entry)
            RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
        TCompressFileInfo record;
        record.Action = eaCopy;
        record.Offset = entry.HeaderOffset;
        KeepEntryInfo(record, entry.Size, DosOfUnix(entry.MTime), entry.IsDirectory() ? '5' : entry.TypeFlag);
        FOldEntries[entry.HeaderOffset] = entry;
        // Known by the name a listing shows ("./a" is "a"): the name a delete or an update gives.
        const std::string shown = TarEntryName(entry);
        AddOldEntry(EntryList, record, StoredToListName(shown.empty() ? entry.Name : shown));
    }
}

std::int64_t TTar::GetEntryLength(TStream32&, TStream32&, TCompressFileInfo& Item)
{
    const auto found = FOldEntries.find(Item.Offset);
    return found == FOldEntries.end() ? -1 : found->second.NextOffset - found->second.HeaderOffset;
}

void TTar::CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    const auto found = FOldEntries.find(item.Offset);
    if (found == FOldEntries.end())
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
    const TTarEntry& old = found->second;
    // A hard link renamed becomes its file under the new name, as no link record is written here.
    if (const TTarEntry* file = old.IsHardLink() ? LinkedFile(old) : nullptr) {
        WriteLinkAsFile(Output, OldArchive, item, ToUnixSeparators(EntryList.Name(std::uint32_t(Index))), old, *file);
        return;
    }
    Output.Seek64(0, soEnd);
    item.Offset = Output.Position();
    if (!old.IsFile() && !old.IsDirectory()) {
        // Other links, sparse files and devices keep their own records under the new name.
        std::int64_t rest = 0;
        if (!RenameTarHeaders(ReadAtOf(OldArchive), old, ToUnixSeparators(EntryList.Name(std::uint32_t(Index))), FHeaders, rest))
            RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
        Output.WriteBuffer(FHeaders.data(), std::int32_t(FHeaders.size()));
        // A link or a device has nothing after its header (and a count of 0 would copy it all).
        const std::int64_t after = old.NextOffset - rest;
        OldArchive.SetPosition(rest);
        if (after > 0 && Output.CopyFrom(&OldArchive, after) != after)
            RaiseWriteError(FArchiveFile);
        return;
    }
    // New headers: a new checksum, and an "L" record when the new name needs one.
    TTarWriteEntry e = NewEntry(EntryList.Name(std::uint32_t(Index)), old.IsDirectory(), old.Size, old.MTime);
    TakeOwnerAndMode(e, old);
    const auto headers = EncodeTarHeaders(e);
    Output.WriteBuffer(headers.data(), std::int32_t(headers.size()));
    if (e.Directory)
        return;
    const std::int64_t stored = old.Size + TarDataPadding(old.Size);
    OldArchive.SetPosition(old.DataOffset);
    if (Output.CopyFrom(&OldArchive, stored) != stored)
        RaiseWriteError(FArchiveFile);
}

const TTarEntry* TTar::LinkedFile(const TTarEntry& Link)
{
    if (FOldNames.empty())
        for (const auto& [offset, entry] : FOldEntries)
            FOldNames[entry.Name].push_back(offset);
    const auto named = FOldNames.find(Link.LinkName);
    if (named == FOldNames.end())
        return nullptr;
    const auto after = std::lower_bound(named->second.begin(), named->second.end(), Link.HeaderOffset);
    if (after == named->second.begin())
        return nullptr;
    const TTarEntry& file = FOldEntries.at(*std::prev(after));
    return file.IsFile() ? &file : nullptr;
}

void TTar::CopyKeptEntry(TStream32* OldArchive, TStream32& Output, TCompressFileInfo& Item)
{
    const auto found = OldArchive ? FOldEntries.find(Item.Offset) : FOldEntries.end();
    if (found == FOldEntries.end()) {
        TCompBase::CopyKeptEntry(OldArchive, Output, Item);
        return;
    }
    const TTarEntry& old = found->second;
    const TTarEntry* file = old.IsHardLink() ? LinkedFile(old) : nullptr;
    // A hard link whose file this run deleted, renamed or replaced would name nothing, or other
    // data: it takes the file's data and becomes the file.
    if (file == nullptr || FKeptAsTheyWere.count(file->HeaderOffset) != 0) {
        FKeptAsTheyWere.insert(old.HeaderOffset);
        TCompBase::CopyKeptEntry(OldArchive, Output, Item);
        return;
    }
    WriteLinkAsFile(Output, *OldArchive, Item, old.Name, old, *file);
}

void TTar::WriteLinkAsFile(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item, const std::string& Name,
                           const TTarEntry& Link, const TTarEntry& File)
{
    TTarWriteEntry e;
    e.Name = Name;
    e.Size = File.Size;
    e.MTime = Link.MTime;
    TakeOwnerAndMode(e, Link);
    Output.Seek64(0, soEnd);
    Item.Offset = Output.Position();
    const auto headers = EncodeTarHeaders(e);
    Output.WriteBuffer(headers.data(), std::int32_t(headers.size()));
    const std::int64_t stored = File.Size + TarDataPadding(File.Size);
    OldArchive.SetPosition(File.DataOffset);
    if (Output.CopyFrom(&OldArchive, stored) != stored)
        RaiseWriteError(FArchiveFile);
}

bool TTar::CopyFileData(win::ReadOnceFile& Input, TStream32& Output, std::int64_t Size, bool& Changed)
{
    // A small file is read straight into the output's own buffer and padded there: no copy of its
    // bytes, one step for data and padding. The byte asked beyond its size shows whether it grew;
    // the header already holds Size, so whatever the file did the archive stays aligned.
    const std::int64_t stored = Size + TarDataPadding(Size);
    if (stored < kCopyBlock) {
        if (std::uint8_t* place = Output.PlaceForWrite(std::int32_t(stored + 1))) {
            if (Size > 0 && GetCancel())
                return false;
            const std::int32_t got = ReadSource(Input, place, std::int32_t(Size + 1));
            const std::int64_t used = std::min<std::int64_t>(got, Size);
            std::memset(place + used, 0, std::size_t(stored - used));
            Output.WroteInPlace(std::int32_t(stored));
            if (used > 0) {
                BytesToRead -= used;
                DoProgress(used, Size, UnpackedTotal);
                ProcessMessages();
            }
            Changed = got != Size;
            return true;
        }
    }
    if (FCopyBlock.empty())
        FCopyBlock.resize(kCopyBlock);  // once per writer, not per file
    std::vector<std::uint8_t>& block = FCopyBlock;
    std::int64_t done = 0;
    bool atEnd = false;
    bool grew = false;
    while (done < Size) {
        if (GetCancel())
            return false;
        // A byte more than is left: a short read then shows the end, with no read to look for it.
        const std::int64_t left = Size - done;
        const auto want = std::int32_t(std::min<std::int64_t>(left + 1, kCopyBlock));
        const std::int32_t got = ReadSource(Input, block.data(), want);
        if (got <= 0) {
            atEnd = true;
            break;
        }
        const auto used = std::int32_t(std::min<std::int64_t>(got, left));
        Output.WriteBuffer(block.data(), used);
        done += used;
        BytesToRead -= used;
        DoProgress(done, Size, UnpackedTotal);
        ProcessMessages();
        grew = got > left;
        atEnd = got < want;
        if (grew || atEnd)
            break;
    }
    std::uint8_t probe;
    Changed = grew || done < Size || (!atEnd && ReadSource(Input, &probe, 1) > 0);
    // The header already holds Size: the archive stays aligned whatever the file did.
    std::int64_t pad = (Size - done) + TarDataPadding(Size);
    while (pad > 0) {
        const auto n = std::int32_t(std::min<std::int64_t>(pad, kCopyBlock));
        Output.WriteBuffer(kZeros, n);
        pad -= n;
    }
    return true;
}

void TTar::CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    Ok = false;
    // The list's own name and the writer's strings, assigned in place: no copies per entry.
    const std::string& path = EntryList.Name(std::uint32_t(Index));
    // The time the walk listed just now, and its check of the name against the archive's own.
    const WIN32_FIND_DATAA* walked = WalkedFindData(std::uint32_t(Index));
    if (!walked && IsOwnArchive(path))
        return;
    const bool folder = !path.empty() && (path.back() == '\\' || path.back() == '/');
    FCurrentSource = path;
    FileName = path;
    BaseDir.assign(path, 0, std::min<std::size_t>(EntryList.Value(std::uint32_t(Index)), path.size()));
    if (!DoBegin(FileName, FileNumber, &EntryList))
        return;
    const std::int64_t size = folder ? 0 : UnpackedSize;
    // Read once from start to end, outside the handle table.
    win::ReadOnceFile input;
    if (!folder && !input.Open(path.c_str())) {
        DoError(path, "", E_OPENFILE, FArchiveFile);
        return;
    }
    std::int64_t mtime = 0;
    FILETIME written{};
    // The time the walk listed, else the open file's own: no second lookup of its name.
    if (walked)
        mtime = win::FileTimeToUnixTime(walked->ftLastWriteTime);
    const bool timed = DateAttribute != daSysDate &&
                       (walked || (folder ? LastWriteTime(path, mtime) : input.LastWriteTime(written)));
    if (timed && !walked && !folder)
        mtime = win::FileTimeToUnixTime(written);
    if (!timed)
        mtime = std::int64_t(::time(nullptr));
    else if (DateAttribute == daMaxFileDate && FNewestDosTime != 0)
        mtime = UnixOfDos(FNewestDosTime);
    Output.Seek64(0, soEnd);
    EntryList.GetItem(std::uint32_t(Index)).Offset = Output.Size();
    // The entry and its header blocks reuse the writer's buffers from file to file.
    FillEntry(FEntry, FileName, folder, size, mtime);
    EncodeTarHeaders(FEntry, FHeaders);
    Output.WriteBuffer(FHeaders.data(), std::int32_t(FHeaders.size()));
    if (!folder) {
        bool changed = false;
        if (!CopyFileData(input, Output, size, changed))
            return;
        if (changed) {
            DoError(path, "the file changed while it was read", E_READFILE, FArchiveFile);
            FChangedWhileRead.insert(path);
        }
    }
    Ok = !GetCancel();
    if (OnEnd)
        OnEnd(this, FileName, Ok);
}

bool TTar::WriteEnding(TStream32*, TStream32& Output, TCompressHeaderObj&)
{
    if (GetCancel())
        return false;
    Output.Seek64(0, soEnd);
    const std::vector<std::uint8_t> zeros(std::size_t(TarEndingSize(Output.Size())), 0);
    if (!zeros.empty())
        Output.WriteBuffer(zeros.data(), std::int32_t(zeros.size()));
    return true;
}

void TTar::Finish(TCompressHeaderObj&)
{
    // A file that changed while it was read is not in the archive as it is now: keep it.
    MovedFiles.erase(std::remove_if(MovedFiles.begin(), MovedFiles.end(),
                                    [this](const std::string& p) { return FChangedWhileRead.count(p) > 0; }),
                     MovedFiles.end());
    FChangedWhileRead.clear();
    if (DeferMoves) {
        DeferredMoves.insert(DeferredMoves.end(), MovedFiles.begin(), MovedFiles.end());
        MovedFiles.clear();
    }
}

void TTar::DeleteDeferredMoves()
{
    const int total = int(DeferredMoves.size());
    for (int i = 0; i < total && !GetCancel(); ++i) {
        const std::string& path = DeferredMoves[std::size_t(i)];
        if (DeleteFileEx(path, DeleteOptions)) {
            if (OnDeleteFile)
                OnDeleteFile(this, path, i + 1, total);
        } else {
            DoError(path, "", E_DELETEFILES, FArchiveFile);
        }
    }
    DeferredMoves.clear();
}

// --- TCompressedTar: the TAR pass runs on a private copy in the temporary folder (holding the
// existing archive's entries), the compression pass writes beside it, and only a finished file
// replaces the target.

namespace {

// A folder of its own below Parent; "" when it cannot be made.
std::string MakeWorkDir(const std::string& Parent)
{
    // Only this user may look in: it holds the content of the archive being updated.
    const std::string name = win::CreateOwnedTempFolderIn(Parent, "tar");
    return name.empty() ? name : win::IncludeTrailingBackslash(name);
}

void RemoveWorkDir(const std::string& Dir)
{
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA((Dir + "*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != ".." && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA((Dir + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((Dir + name).c_str());
            }
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveDirectoryA(RemoveBackslash(Dir).c_str());
}

}  // namespace

// Shares what the host listens to with an internal writer.
void TCompressedTar::ShareEvents(TZipCommon& From, TZipCommon& To)
{
    To.CancelPtr = From.CancelPtr;
    To.OnError = From.OnError;
    To.OnProgress = From.OnProgress;
    To.DateAttribute = From.DateAttribute;
    To.SetTempDir(From.TempDir());
    To.StoredDirNames = sdNone;
    To.RecurseDirs = false;
}

int TCompressedTar::Compress()
{
    if (RefuseUnavailableMethod())
        return 0;
    if (FArchiveFile.empty()) {
        DoError(FArchiveFile, "ArchiveFile Property", E_INVALIDFILENAME, "");
        return 0;
    }
    SetCancel(false);
    if (!EnsureArchiveFolder())
        return 0;
    const std::string target = FArchiveFile;
    if (win::FileExists(target) && !CheckArchiveWriteable(target))
        return 0;
    const std::string work = MakeWorkDir(TempDir());
    if (work.empty()) {
        DoError(TempDir(), "", E_CREATEFILE, target);
        return 0;
    }
    const std::string tar = work + win::ChangeFileExt(win::ExtractFileName(target), ".tar");
    int result = 0;
    try {
        if (win::FileExists(target) && !DecompressExisting(target, tar)) {
            RemoveWorkDir(work);
            return 0;
        }
        // The compressed archive is no input of its own TAR.
        const std::vector<std::string> excluded = FExcludeSpec;
        if (Switch != swDelete)
            FExcludeSpec.push_back(target);
        DeferMoves = Switch == swMove;
        DeferredMoves.clear();
        FArchiveFile = tar;
        const int count = TTar::Compress();
        FArchiveFile = target;
        FExcludeSpec = excluded;
        DeferMoves = false;
        if (count > 0 && !GetCancel()) {
            const std::string packed = CompressTar(tar, work);
            if (!packed.empty() && !GetCancel()) {
                if (win::PutFileInPlace(packed, target)) {
                    result = count;
                    DeleteDeferredMoves();
                } else {
                    DoError(target, "", GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE, target);
                }
            }
        }
    } catch (const std::exception& e) {
        FArchiveFile = target;
        ReportFailure(e);
        result = 0;
    }
    FArchiveFile = target;
    DeferredMoves.clear();
    RemoveWorkDir(work);
    ArchiveWritten = win::FileExists(target);
    FileCount = result;
    return result;
}
