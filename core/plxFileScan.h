// The file scanner: walks a folder (or every local drive), matches names against masks, filters by
// attributes and collects the hits in a sorted list.
#pragma once

#include "core/plxConsts.h"
#include "core/plxGbls.h"
#include "platform/win/FileTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TOnFinishedEvent = std::function<void(TObject* Sender, int FilesCount, std::int64_t FilesSize)>;
using TOnRootDirChange = std::function<void(TObject* Sender, const std::string& Dir)>;

class TFileObject : public TObject {
public:
    std::string FileName;  // empty for a folder
    std::string Dir;
    std::uint32_t SizeLow = 0;
    std::uint32_t SizeHigh = 0;
    std::uint32_t Attributes = 0;
    std::uint32_t DosDateTime = 0;  // local time

    std::uint64_t Size() const { return (std::uint64_t(SizeHigh) << 32) | SizeLow; }
};

class TBaseFilesList : public TObject {
public:
    virtual int Add(std::unique_ptr<TFileObject> Item) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    virtual void Sort() = 0;
};

// Owns its objects. With a sort key every Add inserts in order, so the list never needs a final sort.
class TFilesList : public TBaseFilesList {
public:
    int Add(std::unique_ptr<TFileObject> Item) override;
    void Delete(int Index) override;
    void Clear() override;
    void Sort() override;
    // Sizes compare as unsigned 64-bit values and DOS stamps as unsigned 32-bit ones.
    virtual int Compare(const TFileObject& A, const TFileObject& B) const;
    // Index := the leftmost element not less than Item; answers whether an equal one exists.
    virtual bool Find(const TFileObject& Item, int& Index) const;

    TplxSortOptions SortKey() const { return Key; }
    void SetSortKey(TplxSortOptions Value);  // re-sorts when the key changes
    int Count() const { return int(Items.size()); }
    TFileObject& operator[](int Index) const { return *Items.at(std::size_t(Index)); }

    bool CaseSensitive = false;

private:
    int CompareText(const std::string& A, const std::string& B) const;

    std::vector<std::unique_ptr<TFileObject>> Items;
    TplxSortOptions Key = soUnsort;
};

class TplxFileScan : public TObject {
public:
    TplxFileScan();

    virtual void SetRootDir(const std::string& Value);  // keeps a trailing "\"
    // Clears the list and counters, walks, then fires OnFinished.
    virtual void Scan();
    virtual void Cancel() { *AbortPtr = true; }
    virtual void ScanRoot(const std::string& Dir, DWORD Win32Attributes, const std::vector<TInternalMask>& Masks);
    // The default adds a TFileObject for the entry; writers override it to take each file as found.
    virtual bool AddFile(void* Param, const std::string& Dir, const WIN32_FIND_DATAA& FindData);
    virtual ~TplxFileScan() = default;

    const std::string& RootDir() const { return FRootDir; }
    void SetFileSpec(const std::vector<std::string>& Value);
    std::vector<std::string>& FileSpec() { return FFileSpec; }
    TplxSortOptions Sorted() const { return Files.SortKey(); }
    void SetSorted(TplxSortOptions Value);
    TFilesList& FilesList() { return Files; }
    int FilesFound() const { return FFilesFound; }
    std::int64_t BytesFound() const { return FBytesFound; }
    bool Aborted() const { return *AbortPtr; }

    std::string MaskString = "*";  // comma-separated masks; empty: scan through FileSpec
    TplxFileAttributes Attributes = DefaultAttributes;
    TplxFileAttributes AttributesEx = DefaultAttributesEx;
    bool IncludeHiddenDirs = false;
    bool RecurseDirs = true;
    TfsScanOptions ScanOptions = soScanDir;
    bool UpdateList = true;
    bool* AbortPtr = &AbortFlag;  // a caller may point it at its own cancel flag
    void* UserParam = nullptr;    // handed to AddFile

    TOnScanFileEvent OnScanFile;
    TOnRecurseDir OnRecurseDir;
    TOnFinishedEvent OnFinished;
    TOnRootDirChange OnRootDirChange;
    // A symbolic link that the scan would have taken but passes over (links are never followed
    // or stored unless AttributesEx lets reparse points through): Path is the link's own path.
    std::function<void(TObject* Sender, const std::string& Path)> OnLinkPassedOver;

private:
    void ScanFileSpec();
    // Whether the mask at Index takes the file Name found in Dir: a plain name that a file in
    // Dir carries exactly takes that file only, not its twins that differ in case.
    bool MaskTakes(const std::vector<TInternalMask>& Masks, std::size_t Index, const std::string& Dir,
                   const std::string& Name) const;
    void WalkFolder(const std::string& Dir, const std::vector<TInternalMask>& Masks);
    void TestEntry(const std::string& Dir, const WIN32_FIND_DATAA& Data, const std::vector<TInternalMask>& Masks);
    bool ShouldEnter(const std::string& Dir, const WIN32_FIND_DATAA& Data) const;
    void ScanDrives(const std::vector<TInternalMask>& Masks);

    TFilesList Files;
    std::vector<std::string> FPlainNames;  // per mask of the walk: its text when it has no wildcard
    std::vector<std::string> FFileSpec;
    std::string FRootDir = "c:\\";
    int FFilesFound = 0;
    std::int64_t FBytesFound = 0;
    bool AbortFlag = false;
    bool ScanningDrives = false;
};

// Masks of a mask string: comma-separated, leading blanks skipped, trailing blanks trimmed.
std::vector<TInternalMask> SplitMaskString(std::string_view Masks);
// Whether an entry with attribute bits Attr passes the include set and is not dropped by the
// exclude set.
bool AttributesSelected(DWORD Attr, TplxFileAttributes Include, TplxFileAttributes Exclude);
