#include "core/plxFileScan.h"

#include "core/plxHooks.h"
#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr DWORD NotContentIndexed = 0x2000;

bool AnyMemberMatches(DWORD a, TplxFileAttributes set)
{
    auto has = [set](TplxFileAttribute m) { return (set & AttrBit(m)) != 0; };
    return (has(fsEncrypted) && (a & 0x4000)) || (has(fsArchive) && (a & 0x20)) ||
           (has(fsZeroAttr) && (a == 0 || a == 0x80)) || (has(fsDirectory) && (a & 0x10)) ||
           (has(fsReadOnly) && (a & 0x01)) || (has(fsHidden) && (a & 0x02)) || (has(fsSysFile) && (a & 0x04)) ||
           (has(fsCompressed) && (a & 0x800)) || (has(fsReparsePoints) && (a & 0x400));
}

bool IsFolder(const WIN32_FIND_DATAA& d)
{
    return (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// FIFOs, sockets and devices read as "system" files: opening one could block or never end.
bool IsSpecialFile(const WIN32_FIND_DATAA& d)
{
    return !IsFolder(d) && (d.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) && !(d.dwFileAttributes & 0x20);
}

// Kernel file systems look like folders but hold no files worth keeping, and some never end.
bool IsPseudoFileSystem(const std::string& hostPath)
{
    for (const char* top : {"/proc", "/sys", "/dev"})
        if (win::IsUnderFolder(hostPath, top))
            return true;
    return false;
}

std::string FolderOf(const std::string& spec)
{
    return win::ExtractFilePath(spec);
}

std::string CompiledMaskText(const std::string& mask)
{
    return mask.empty() || mask == "*.*" ? "*" : mask;
}

bool IsPlainName(const std::string& mask)
{
    return !mask.empty() && mask.find_first_of("*?[") == std::string::npos;
}

// Whether mask a takes every name that mask b takes; two plain names only when they are the same.
bool MaskCovers(const std::string& a, const std::string& b)
{
    if (IsPlainName(a) && IsPlainName(b))
        return a == b;
    return MatchesMask(b, CompiledMaskText(a));
}

// Two folders that FileSpec names are one walk when they are one folder on the host, however
// each is written; twins that differ in case are two.
bool SameFolder(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    if (!win::SameText(a, b))
        return false;
    std::string hostA, hostB;
    return win::ToHostPath(a.empty() ? "." : a, hostA) && win::ToHostPath(b.empty() ? "." : b, hostB) && hostA == hostB;
}

}  // namespace

std::vector<TInternalMask> SplitMaskString(std::string_view Masks)
{
    std::vector<TInternalMask> out;
    std::size_t start = 0;
    while (start <= Masks.size()) {
        const std::size_t comma = std::min(Masks.find(',', start), Masks.size());
        std::string_view mask = Masks.substr(start, comma - start);
        while (!mask.empty() && mask.front() == ' ')
            mask.remove_prefix(1);
        while (!mask.empty() && mask.back() == ' ')
            mask.remove_suffix(1);
        if (!mask.empty())
            out.emplace_back(mask);
        start = comma + 1;
    }
    return out;
}

bool AttributesSelected(DWORD Attr, TplxFileAttributes Include, TplxFileAttributes Exclude)
{
    if (!(Attr & NotContentIndexed) && !AnyMemberMatches(Attr, Include))
        return false;
    return !AnyMemberMatches(Attr, Exclude);
}

// ---- TFilesList ----

int TFilesList::CompareText(const std::string& A, const std::string& B) const
{
    return CaseSensitive ? (A < B ? -1 : A > B) : win::CompareText(A, B);
}

int TFilesList::Compare(const TFileObject& A, const TFileObject& B) const
{
    auto order = [](auto a, auto b) { return a < b ? -1 : a > b; };
    switch (Key) {
    case soByName:
        return CompareText(A.FileName, B.FileName);
    case soByType:
        return CompareText(win::ExtractFileExt(A.FileName), win::ExtractFileExt(B.FileName));
    case soByPath:
        return CompareText(A.Dir, B.Dir);
    case soBySize:
        return order(A.Size(), B.Size());
    case soByTime:
        return order(A.DosDateTime, B.DosDateTime);
    case soUnsort:
        break;
    }
    return 0;
}

bool TFilesList::Find(const TFileObject& Item, int& Index) const
{
    int low = 0, high = Count();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (Compare(*Items[std::size_t(mid)], Item) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    Index = low;
    return low < Count() && Compare(*Items[std::size_t(low)], Item) == 0;
}

int TFilesList::Add(std::unique_ptr<TFileObject> Item)
{
    int index = Count();
    if (Key != soUnsort)
        Find(*Item, index);
    Items.insert(Items.begin() + index, std::move(Item));
    return index;
}

void TFilesList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        Items.erase(Items.begin() + Index);
}

void TFilesList::Clear()
{
    Items.clear();
}

void TFilesList::Sort()
{
    std::stable_sort(Items.begin(), Items.end(), [this](const auto& a, const auto& b) { return Compare(*a, *b) < 0; });
}

void TFilesList::SetSortKey(TplxSortOptions Value)
{
    if (Value == Key)
        return;
    Key = Value;
    if (Key != soUnsort)
        Sort();
}

// ---- TplxFileScan ----

TplxFileScan::TplxFileScan() = default;

void TplxFileScan::SetRootDir(const std::string& Value)
{
    FRootDir = AppendBackslash(Value);
}

void TplxFileScan::SetFileSpec(const std::vector<std::string>& Value)
{
    FFileSpec = Value;
    MaskString.clear();
}

void TplxFileScan::SetSorted(TplxSortOptions Value)
{
    Files.SetSortKey(Value);
    if (OnFinished && Files.Count() > 0)
        OnFinished(this, FFilesFound, FBytesFound);
}

void TplxFileScan::Scan()
{
    Files.Clear();
    FFilesFound = 0;
    FBytesFound = 0;
    *AbortPtr = false;
    FPlainNames.clear();
    if (!MaskString.empty()) {
        if (ScanOptions == soScanDrvs || (!FRootDir.empty() && DirExists(FRootDir)))
            ScanRoot(FRootDir, AttributeSetToWin(Attributes), SplitMaskString(MaskString));
    } else {
        ScanFileSpec();
    }
    if (OnFinished)
        OnFinished(this, FFilesFound, FBytesFound);
}

void TplxFileScan::ScanFileSpec()
{
    std::erase_if(FFileSpec, [](const std::string& s) { return win::Trim(s).empty(); });
    while (!FFileSpec.empty() && !*AbortPtr) {
        const std::string folder = FolderOf(FFileSpec.front());
        std::vector<std::string> masks{win::ExtractFileName(FFileSpec.front())};
        for (std::size_t i = 1; i < FFileSpec.size();) {
            if (!SameFolder(FolderOf(FFileSpec[i]), folder)) {
                ++i;
                continue;
            }
            const std::string part = win::ExtractFileName(FFileSpec[i]);
            FFileSpec.erase(FFileSpec.begin() + std::ptrdiff_t(i));
            // Keep the wider of two masks where one covers the other.
            if (std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MaskCovers(m, part); }))
                continue;
            auto covered =
                std::find_if(masks.begin(), masks.end(), [&](const std::string& m) { return MaskCovers(part, m); });
            if (covered != masks.end())
                *covered = part;
            else
                masks.push_back(part);
        }
        std::vector<TInternalMask> compiled;
        FPlainNames.clear();
        for (const std::string& m : masks) {
            compiled.emplace_back(CompiledMaskText(m));
            FPlainNames.push_back(IsPlainName(m) ? m : std::string());
        }
        SetRootDir(folder.empty() ? (FRootDir.empty() ? win::CurrentDirectory() : FRootDir) : folder);
        if (OnRootDirChange)
            OnRootDirChange(this, FRootDir);
        FFileSpec.erase(FFileSpec.begin());
        ScanRoot(FRootDir, AttributeSetToWin(Attributes), compiled);
    }
}

void TplxFileScan::ScanRoot(const std::string& Dir, DWORD, const std::vector<TInternalMask>& Masks)
{
    if (ScanOptions == soScanDrvs)
        ScanDrives(Masks);
    else
        WalkFolder(AppendBackslash(Dir), Masks);
}

void TplxFileScan::ScanDrives(const std::vector<TInternalMask>& Masks)
{
    const DWORD drives = GetLogicalDrives();
    ScanningDrives = true;
    for (int i = 0; i < 26 && !*AbortPtr; ++i) {
        if (!(drives & (1u << i)))
            continue;
        const char letter = char('A' + i);
        const std::string root = std::string(1, letter) + ":\\";
        const UINT type = GetDriveTypeA(root.c_str());
        const auto drive = win::FindDrive(letter);
        if (type < DRIVE_FIXED || type > DRIVE_RAMDISK || !drive || IsPseudoFileSystem(drive->root))
            continue;
        WalkFolder(root, Masks);
    }
    ScanningDrives = false;
}

bool TplxFileScan::ShouldEnter(const std::string& Dir, const WIN32_FIND_DATAA& Data) const
{
    if (!RecurseDirs || !IsFolder(Data))
        return false;
    // A linked folder may lead back up the tree: never followed.
    if (Data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return false;
    if ((Data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && !IncludeHiddenDirs)
        return false;
    if (ScanningDrives) {
        std::string host;
        if (!win::ToHostPath(Dir + Data.cFileName, host) || IsPseudoFileSystem(host))
            return false;
    }
    return true;
}

void TplxFileScan::WalkFolder(const std::string& Dir, const std::vector<TInternalMask>& Masks)
{
    if (RecurseDirs && OnRecurseDir)
        OnRecurseDir(this, Dir);
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA((Dir + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (*AbortPtr)
            break;
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
            continue;
        TestEntry(Dir, data, Masks);
        if (ShouldEnter(Dir, data))
            WalkFolder(Dir + data.cFileName + "\\", Masks);
        ProcessMessages();
    } while (FindNextFileA(search, &data));
    FindClose(search);
}

void TplxFileScan::TestEntry(const std::string& Dir, const WIN32_FIND_DATAA& Data,
                             const std::vector<TInternalMask>& Masks)
{
    if (IsSpecialFile(Data))
        return;
    // A link left out only for being a link is told, never dropped in silence: a linked folder
    // that the walk would have entered, a linked file that a mask takes.
    const DWORD link = Data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (link && OnLinkPassedOver && !ScanningDrives) {
        bool told = false;
        if (IsFolder(Data)) {
            told = RecurseDirs && (!(Data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) || IncludeHiddenDirs);
        } else if (!AttributesSelected(Data.dwFileAttributes, Attributes, AttributesEx) &&
                   AttributesSelected(Data.dwFileAttributes & ~link, Attributes, AttributesEx)) {
            for (std::size_t i = 0; i < Masks.size() && !told; ++i)
                told = MaskTakes(Masks, i, Dir, Data.cFileName);
        }
        if (told)
            OnLinkPassedOver(this, Dir + Data.cFileName);
    }
    if (!AttributesSelected(Data.dwFileAttributes, Attributes, AttributesEx))
        return;
    if (IsFolder(Data)) {
        if (UpdateList)
            AddFile(UserParam, Dir, Data);
        return;
    }
    bool taken = false;
    for (std::size_t i = 0; i < Masks.size() && !taken; ++i)
        taken = MaskTakes(Masks, i, Dir, Data.cFileName);
    if (!taken)
        return;
    const std::int64_t size = std::int64_t((std::uint64_t(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow);
    if (UpdateList && !AddFile(UserParam, Dir, Data))
        return;
    ++FFilesFound;
    FBytesFound += size;
    if (UpdateList && OnScanFile)
        OnScanFile(this, Data.cFileName, FFilesFound, FBytesFound);
}

bool TplxFileScan::MaskTakes(const std::vector<TInternalMask>& Masks, std::size_t Index, const std::string& Dir,
                             const std::string& Name) const
{
    if (!Masks[Index].Matches(Name))
        return false;
    const std::string plain = Index < FPlainNames.size() ? FPlainNames[Index] : std::string();
    if (plain.empty() || plain == Name)
        return true;
    std::string host;
    struct stat st {};
    const bool exactHere = win::ToHostPath(Dir + plain, host) && host.size() > plain.size() &&
                           host.compare(host.size() - plain.size(), plain.size(), plain) == 0 &&
                           host[host.size() - plain.size() - 1] == '/' && lstat(host.c_str(), &st) == 0;
    return !exactHere;
}

bool TplxFileScan::AddFile(void*, const std::string& Dir, const WIN32_FIND_DATAA& FindData)
{
    auto item = std::make_unique<TFileObject>();
    if (!IsFolder(FindData))
        item->FileName = FindData.cFileName;
    item->Dir = Dir;
    item->SizeLow = FindData.nFileSizeLow;
    item->SizeHigh = FindData.nFileSizeHigh;
    item->Attributes = FindData.dwFileAttributes;
    item->DosDateTime = FileTimeToDosTime(FindData.ftLastWriteTime);
    Files.Add(std::move(item));
    return true;
}
