// The compress side of the archive engine: one run of "put these files into that archive".
// TCompressClass scans the inputs, reads the old archive's entries through the writer's hooks,
// decides what becomes of each entry, writes the result into a temporary output and puts that
// in place of the archive only when the whole run succeeded. Writers derive from TCompBase and
// override the per-entry and per-archive hooks.
#pragma once

#include "core/ByteIO.h"
#include "core/Err_Msgs.h"
#include "core/HeaderObj.h"
#include "core/ZipCommon.h"
#include "core/plxCrypt.h"
#include "core/plxFileScan.h"
#include "platform/win/FileTypes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class TStream32;
class TPpmdCodec;
class TDeflateAhead;
class TWholeDeflater;

// Date, sizes and attributes of one entry, as the writers keep them in their header records.
struct TCompressEntryInfo {
    std::int64_t UnpackedSize = 0;
    std::int64_t PackedSize = 0;
    std::uint32_t DosDateTime = 0;
    std::uint32_t Attributes = 0;
};

class TCompressClass : public TZipCommon {
public:
    explicit TCompressClass(TObject* AOwner = nullptr);
    ~TCompressClass() override;

    // Options.
    TSwitch Switch = swAdd;
    bool StoreEmptySubDirs = false;
    TRelativeDir RelativeDir = byItem;
    bool VerifyBeforeDelete = false;
    bool EncryptHeaders = false;
    std::string DefaultDir;
    bool Loading = false;  // being loaded from a form resource: no default extension yet
    // Threads that deflate members ahead of the writer: 0 one per core, 1 none (all on the caller's).
    int CompressThreads = 0;
    const std::string& DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const std::string& Value);
    void SetArchiveFile(const std::string& Name) override;
    void AddDefaultExt();
    std::uint16_t GetDeflateFlags(std::uint16_t Flags) const;

    // Events.
    TOnCreateDirectory OnCreateDirectory;
    TOnNonWriteableArchive OnNonWriteableArchive;
    TOnReplaceFile OnReplaceFile;
    TOnRenameDupeFile OnRenameDupeFile;
    TOnScanFileEvent OnFileScanStatus;
    TOnRecurseDir OnRecurseDir;

    // Run state, reset by every run.
    bool ArchiveIsNew = true;
    std::int32_t AddedCount = 0;
    std::int32_t DeletedCount = 0;
    bool FilesFound = false;
    bool ArchiveWritten = false;
    std::string BaseDir;
    std::vector<std::string> MovedFiles;
    // Each moved file's stored name as it was written, one for each of MovedFiles: computed again at the end,
    // a name relative to its own folder (byItem) would take the last folder's base instead.
    std::vector<std::string> MovedStoredNames;
    std::uint16_t HeadSize = 0;
    TCompressFileInfo* CurrentItem = nullptr;
    TKeyTriple SavedDataKeys{};

    // The public run: entries written from disk (swDelete: entries deleted); 0 when cancelled or
    // failed. The archive on disk changes only when the run succeeded.
    virtual int Compress();
    // Whether a run can write Method: one of the writer's set that its coders here produce.
    virtual bool MethodAvailable(TCompressMethod Method) const { return CompressMethod.Allows(Method); }
    // Reports 25326 when the method last asked for cannot be written; a run then writes nothing.
    bool RefuseUnavailableMethod();

    // Hooks of the writers, with the behaviour of a writer that has none of its own.
    virtual void ProcessArchive(TCompressHeaderObj& EntryList);
    virtual std::string GetEntryName() { return {}; }
    virtual void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index);
    virtual void UpdateEntryName(int Index, std::uint32_t Attr, TCompressHeaderObj& EntryList);
    virtual void InitHeader() {}
    virtual void FinishHeader(std::int64_t PackedSize);
    virtual void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info);
    virtual void WriteEndMarker(TStream32& Output);
    virtual void DoEnd() {}
    virtual bool ReadFirstHeader(TStream32& Stream);
    // The size of the writer's header record; GetHeadPtr addresses at least that many bytes.
    virtual std::uint16_t GetHeadSize();
    virtual std::uint8_t* GetHeadPtr();
    virtual bool ReadHeaderAt(std::int64_t Position);
    virtual void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList);
    virtual int WriteLargeSizeExtra(TStream32& Output, TCompressFileInfo& Item, int Flag);
    virtual bool CompressEntry(TStream32& Output, int Index, TCompressHeaderObj& EntryList);
    // Input null: a folder entry.
    virtual bool CompressStream(TStream32* Input, TStream32& Output, TCompressHeaderObj& EntryList, int Index);
    virtual void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList);
    virtual bool SaveComments(bool Save);
    virtual bool CommentsModified() { return false; }
    virtual void Finish(TCompressHeaderObj& EntryList);
    virtual void CompressFiles(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList);
    virtual std::string GetFileComment(int Index, std::string& Name, std::vector<std::uint8_t>& Comment);
    // Size of the header written in front of each entry's name; 0: the head size.
    virtual std::uint16_t GetLocalHeadSize() { return 0; }
    virtual int ReadComments();
    virtual bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList);
    virtual void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info);
    // Every byte of a kept entry (header, name, extra, data), read at its offset.
    virtual std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item);
    virtual bool ReadHeader() { return false; }
    virtual void SetFileComment(int Index, const std::vector<std::uint8_t>& Comment);

    // Stored name of a path by StoredDirNames, into FileName.
    bool SetEntryName(const std::string& Path) override;

    // Entry compression services.
    // Rewrites the current entry's data stored, from its encryption header on.
    bool StoreFallback(TStream32* Input, TStream32& Output);
    bool StoreStream(TStream32* Input, int CrcWidth, TStream32& Output);
    void WriteFileName(TStream32& Output);
    bool WriteDirEntry(TStream32& Output, TCompressHeaderObj& EntryList, int Index);
    // The stored name as written: "/" separators, OEM where it survives the round trip.
    std::string EncodedFileName() const;

protected:
    // An entry of the old archive joins the list to be copied; under swDelete, one that FileSpec
    // names is left out instead.
    void AddOldEntry(TCompressHeaderObj& EntryList, TCompressFileInfo& Record, const std::string& Name);
    // After the old entries are read for a delete: the entries left out only because a name
    // matched them without regard to case are kept when another entry carries that name exactly.
    void KeepCaseTwins(TCompressHeaderObj& EntryList);
    // The archive's folder exists or is made (a bare name takes the current folder); false after
    // a report when it cannot be made. FArchiveFile gets its folder.
    bool EnsureArchiveFolder();
    bool PrepareRun();
    void ReadArchive();
    bool CheckArchiveWriteable(const std::string& Name);
    void ScanFiles(TCompressHeaderObj& EntryList, TStream32* OldArchive, TStream32& Output);
    bool ScanFileFound(const std::string& Dir, const WIN32_FIND_DATAA& FindData, TCompressHeaderObj& EntryList);
    // Whether the walk leaves a file out before it is listed: the archive itself, a skipped extension.
    bool PassedOverByScan(const std::string& Path, const char* Name) const;
    // Gives a walk what this run walks: the masks, attributes, root and folders.
    void PrepareScan(TplxFileScan& Scan) const;
    // The bytes a walk of the masks would list, found by a walk that keeps no names and tells
    // nothing: the whole run's progress needs its total before the first entry is written.
    std::int64_t CountScanBytes();
    void AddScannedFile(const std::string& Path, const WIN32_FIND_DATAA& FindData, TCompressHeaderObj& EntryList);
    // A writer whose entries need nothing of the others (no directory written at the end) may
    // write each file as the walk finds it, so that a tree of any size costs the same memory.
    virtual bool WritesEntriesAlone() const { return false; }
    // Whether a scanned file's record starts as a copy of the writer's header block (GetHeadPtr);
    // a writer that keeps all it needs through StoreFileInfo answers false.
    virtual bool ListsHeadCopy() const { return true; }
    // Whether this run writes while it walks: nothing here needs the whole list first.
    bool WritesWhileScanning(const TStream32* OldArchive) const;
    // While walking: writes the listed entries that the workers no longer need ahead (all of them
    // when Drain), and hands written ones to RetireEntries before they leave the list.
    void WriteWalkedEntries(TStream32& Output, TCompressHeaderObj& EntryList, bool Drain);
    // The first Count entries of the list, written, are about to leave it: a writer keeps what
    // its ending needs of them.
    virtual void RetireEntries(TCompressHeaderObj& EntryList, std::uint32_t Count)
    {
        (void)EntryList;
        (void)Count;
    }
    // How many entries left the front of the list while walking: an entry's number in the run
    // is FListBase plus its index.
    std::uint32_t FListBase = 0;
    std::uint32_t FWalkNext = 0;  // the first listed entry not yet written while walking
    // The find record of the file the walk listed just now, while its entry (Index) is written as
    // the walk goes: its times need no second look at the file. Null for any other entry.
    const WIN32_FIND_DATAA* WalkedFindData(std::uint32_t Index) const
    {
        return FWalkedData && Index == FWalkedIndex ? FWalkedData : nullptr;
    }
    const WIN32_FIND_DATAA* FWalkedData = nullptr;
    std::uint32_t FWalkedIndex = 0;
    // Whether the entries written as the walk goes need the DOS time of each file listed; a writer
    // that takes each file's time from the walk itself (WalkedFindData) answers false.
    virtual bool WalkedEntriesNeedDosTime() const { return true; }
    bool FWritingWhileWalking = false;
    // One entry of the list: compressed, copied or left out by its action.
    void CompressListedEntry(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList,
                             std::uint32_t Index, int MaxDeleted);
    bool AskReplace(TCompressHeaderObj& EntryList, int Index, const std::string& Path, const TCompressEntryInfo& Old,
                    const TCompressEntryInfo& New);
    bool AskRenameDupe(TCompressHeaderObj& EntryList, int Index);
    virtual void CopyKeptEntry(TStream32* OldArchive, TStream32& Output, TCompressFileInfo& Item);
    void DeleteMovedFiles(TCompressHeaderObj& EntryList);
    virtual bool CheckFreeSpace(std::int64_t OutputSize, bool CopyNeeded);
    // Puts the finished temporary output in place of Target. A writer that lays it out otherwise
    // (split volumes, spanned disks) answers false after its own report, and nothing is replaced.
    virtual bool PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive,
                                 const std::string& TempName, const TTempStreamOwner& Owner);
    bool IsExcluded(const std::string& StoredName, const std::string& Path);
    // A symbolic link the scan passed over (never followed or stored): 26800 with its target.
    void ReportLinkPassedOver(const std::string& Path);
    bool IsOwnArchive(const std::string& Path) const;
    // A name IsOwnArchive compares every scanned file with, and its plain last name, found once
    // for the run rather than once per file.
    struct TOwnName {
        std::string Path;
        std::string LastName;
    };
    mutable TOwnName FOwnArchive, FOwnTemp;
    // Reports an exception that ended a run unless it was reported when raised.
    void ReportFailure(const std::exception& Failure);
    void DoError(const std::string& FileName, const std::string& ExtendedMsg, int ECode,
                 const std::string& VolumeID) override;

    // Entry data by method; false when the coder could not finish.
    bool DeflateData(TStream32& Input, TStream32& Output);
    bool Bzip2Data(TStream32& Input, TStream32& Output);
    bool PpmdData(TStream32& Input, TStream32& Output);
    // The data of a method that the writer codes itself (after the encryption header, with
    // Encrypted and DataCipher set up); base: E_UNSUPPORTEDMETHOD, unsupported.
    virtual bool OwnMethodData(TCompressMethod Method, TStream32& Input, TStream32& Output);
    // Reads the whole input into Sink with the running CRC and progress; false when cancelled.
    // An input that cannot be read to its size raises EReadError.
    bool PumpInput(TStream32& Input, const TByteSink& Sink);
    // Done bytes read with CRC register Register: checks the count and takes or checks the CRC.
    void SettleEntryCrc(std::int64_t Done, std::uint32_t Register);
    std::int64_t FInputSize = 0;

    std::string FDefaultExt;
    std::string FClassDefaultExt;  // what an empty DefaultExt brings back; set by each writer
    std::string FTempOutputName;   // the temporary output while a run writes it
    std::string FCurrentSource;    // disk path of the entry being compressed
    bool FWritingEntry = false;    // a failure now is one of FCurrentSource's data
    std::string FNameBuffer;       // where SetEntryName builds a stored name
    std::string FScanPath;         // where ScanFileFound builds a scanned file's path
    std::uint32_t FNewestDosTime = 0;
    std::uint32_t FCurrentAttr = 0;
    std::int64_t FDataStart = 0;   // where the current entry's encryption header or data begins
    std::string FCryptHeader;      // the 12 bytes in front of the current entry's data
    std::uint32_t FEntryCrc = 0;   // the current entry's CRC-32 (final value)
    bool FCrcFromPrePass = false;  // an enciphered entry's CRC came from the pass before its data
    bool FDiscardOutput = false;   // the temporary output must not replace the archive
    bool FReplaced = false;        // this run's output has replaced the archive
    int FLastReportedCode = 0;
    std::unique_ptr<TPpmdCodec> FPpmd;
    std::unique_ptr<TWholeDeflater> FWholeDeflater;

    // Members deflated ahead by workers, for writers whose entries stand alone (see DeflatesAhead).
    virtual bool DeflatesAhead() const { return false; }
    void FillAhead(TCompressHeaderObj& EntryList, std::uint32_t From);
    // Workers for this run's entries when the writer and the cores allow them.
    void StartAhead();
    // The progress and cancel checks of reading the input, for a member a worker has read and packed.
    bool ReplayInput(std::uint32_t Register);
    std::unique_ptr<TDeflateAhead> FAhead;
    // Both by the entry's number in the run (see FListBase).
    std::uint32_t FAheadNext = 0;   // the first entry FillAhead has not looked at
    std::uint32_t FEntryIndex = 0;  // the entry CompressStream is writing

    // An old entry this run's file replaces, by the index of the entry that replaces it: a refresh
    // rewrites the old item in place, so its former record is kept.
    struct TReplacedEntry {
        std::uint32_t OldIndex = 0;
        TCompressFileInfo Record;
        std::string Name;
        std::uint16_t Value = 0;
    };
    std::map<std::uint32_t, TReplacedEntry> FReplacedEntries;
    std::set<std::string> FScannedSources;  // host paths already taken in this run
    // Entries that a file of this run has matched or added: a name that matches an entry only
    // without regard to case takes one that no file names exactly, and only once.
    std::set<std::uint32_t> FClaimedEntries;
    // The list's entries by exact name, and the old archive's by folded name, while a scan that
    // keeps the whole list looks files up in it: searching the list for each file made adding many
    // files to an archive cost the square of their number. Indexes ascend; a renamed entry stays
    // under its old name too, so a hit is checked against the list.
    using TNameIndex = std::unordered_map<std::string, std::vector<std::uint32_t>>;
    TNameIndex FEntriesByName, FOldEntriesByFold;
    bool FNamesIndexed = false;
    void IndexEntryNames(const TCompressHeaderObj& EntryList);
    void IndexEntryName(const std::string& Name, std::uint32_t Index);
    // The entry a scanned file (Path, stored as FileName) updates, or -1 for a new one.
    int EntryOfScannedFile(const TCompressHeaderObj& EntryList, const std::string& Path) const;
    // A replacement that failed gives the archive its old entry back.
    void KeepReplacedEntry(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList,
                           std::uint32_t Index);
};

// The class every writer derives from.
class TCompBase : public TCompressClass {
public:
    using TCompressClass::TCompressClass;
};
