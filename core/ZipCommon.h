// The base of every archive component: shared configuration, the entry being processed, events,
// error reporting and cancellation, volume names, and the data hooks through which codecs move
// bytes without knowing the component.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/Crc.h"
#include "core/DiskManager.h"
#include "core/Err_Msgs.h"
#include "core/HeaderObj.h"
#include "core/OutputNames.h"
#include "core/TempStreams.h"
#include "core/plxConsts.h"
#include "core/plxCrypt.h"

namespace win {
struct HostPathState;
}

// Raised instead of an error once the operation is cancelled: the report has gone out as
// "User canceled", and the drivers swallow it silently.
class ECancel : public win::Exception {
public:
    ECancel() : win::Exception("User canceled") {}
};

// Elapsed time of an operation, excluding time spent in the user's dialogs.
class TZipTimer : public TObject {
public:
    void Start();
    void Stop();
    void Pause();
    void Resume();
    float Elapsed() const { return ElapsedSeconds; }

private:
    std::uint32_t StartTick = 0;  // 0 = stopped
    std::uint32_t PauseMark = 0;
    float ElapsedSeconds = 0;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnTmpFileProgress = TOnProgress;
using TOnPasswordAccepted = std::function<void(TObject* Sender, bool& Accept)>;
using TOnBadPassword = std::function<void(TObject* Sender, const std::string& StoredName, bool& Cancel)>;

// Data hooks as the codecs see them.
using TReadArchiveProc =
    std::function<std::int32_t(TStream32* Stream, void* Buffer, std::int32_t Count, bool Encrypted, int CrcWidth)>;
using TWriteBlockProc = std::function<std::int32_t(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count,
                                                   int CrcWidth, bool Encrypt)>;
using TProgressProc = std::function<void(std::uint8_t ByFile, std::uint8_t ByArchive)>;
using TSkippedMemberProc = std::function<void(std::int64_t PackedSize)>;

// Operation codes: where output goes and what the driver does.
enum TOperationCode : std::uint8_t {
    opExtract = 0,
    opListTarget = 1,
    opCallerStream = 2,
    opListTarget2 = 3,
    opCallerBuffer = 4,
    opTest = 7,
    opAppend = 8,
    opTestQuiet = 9,
    opExtractForRun = 10
};

// Kinds of data handed to the write hooks.
constexpr int kKindHeader = 0;
constexpr int kKindFileData = 1;

// A compressor's method. Setting a method outside the set the component can produce leaves the
// method as it was and is remembered as refused, so that the next run fails with a number
// instead of writing another method than the one asked for; each writer's constructor names its
// set, other components take any method.
class TCompressMethodSetting {
public:
    TCompressMethodSetting& operator=(TCompressMethod Method)
    {
        FRefused = !Allows(Method);
        if (FRefused)
            FRefusedValue = Method;
        else
            FValue = Method;
        return *this;
    }
    TCompressMethodSetting& operator=(const TCompressMethodSetting& Other) { return *this = TCompressMethod(Other); }
    operator TCompressMethod() const { return FValue; }
    bool Allows(TCompressMethod Method) const { return Method < 32 && ((FAllowed >> Method) & 1u) != 0; }
    // The method last asked for: the refused one when the last request was refused.
    TCompressMethod Requested() const { return FRefused ? FRefusedValue : FValue; }
    // The writer's constructor: the methods it can produce and the one it starts with.
    void Restrict(std::initializer_list<TCompressMethod> Allowed, TCompressMethod Initial)
    {
        FAllowed = 0;
        for (TCompressMethod m : Allowed)
            FAllowed |= 1u << m;
        FValue = Initial;
        FRefused = false;
    }

private:
    std::uint32_t FAllowed = ~0u;
    TCompressMethod FValue = cmDeflate;
    TCompressMethod FRefusedValue = cmDeflate;
    bool FRefused = false;
};

// OnGetZipFirstDisk, OnGetZipLastDisk and OnGetZipNextDisk are the ones of TSpanDiskReaderOwner, so that
// the spanned-set reader fires the events the host assigned.
class TZipCommon : public TObject, public TSpanDiskReaderOwner {
public:
    explicit TZipCommon(TObject* AOwner = nullptr);
    ~TZipCommon() override;
    TZipCommon(const TZipCommon&) = delete;
    TZipCommon& operator=(const TZipCommon&) = delete;

    TObject* Owner = nullptr;

    // Archive.
    TArcType ArcType() const { return FArcType; }
    virtual void SetArcType(TArcType Value);
    const std::string& ArchiveFile() const { return FArchiveFile; }
    virtual void SetArchiveFile(const std::string& Name);
    std::int64_t ArchiveSize = 0;
    std::int64_t ArchiveOffset = -1;
    std::int32_t VolumeCounter = 0;
    std::uint32_t StubSize = 0;
    THeaderTypeState HeaderTypeState = 0;
    char VolumeLetter = 0;  // ACE "C", ARJ "a", JAR "j"; 0 for the others

    // Options.
    bool AsciiTranslation = false;
    TplxFileAttributes Attributes = DefaultAttributes;
    TplxFileAttributes AttributesEx = DefaultAttributesEx;
    bool ConfirmOverwrites = false;
    TCompressMethodSetting CompressMethod;
    TDateAttribute DateAttribute = daFileDate;
    TDeflateType DeflateType = dtDeflateN;
    TDeleteOptions DeleteOptions = doAllowUndo;
    std::vector<std::string> SkipNames;  // lower-case extensions with their dot
    bool IncludeHiddenDirs = false;
    const std::vector<std::string>& FileSpec() const { return FFileSpec; }
    void SetFileSpec(const std::vector<std::string>& Value);
    // FileSpec holds whole entry names, not masks: "*", "?" and ";" in a name are plain characters.
    bool ExactFileSpec = false;
    const std::vector<std::string>& ExcludeSpec() const { return FExcludeSpec; }
    void SetExcludeSpec(const std::vector<std::string>& Value) { FExcludeSpec = Value; }
    const std::string& ExtractDir() const { return FExtractDir; }
    void SetExtractDir(const std::string& Value);

    // Keys and passwords.
    TSeedKeys SeedDataKeys{kDataKeySet};
    TSeedKeys SeedHeaderKeys{kHeaderKeySet};
    int PasswordAttempts = 3;
    std::vector<std::string> Passwords;
    bool RecurseDirs = true;
    bool ShowEmptyDirs = false;
    TStoredDirNames StoredDirNames = sdRelative;
    bool UseStoredDirs = true;
    std::string TempDir();
    void SetTempDir(const std::string& Value);
    TEncryptionMethod EncryptionMethod() const { return FEncryptionMethod; }
    virtual void SetEncryptionMethod(TEncryptionMethod Value) { FEncryptionMethod = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value);
    void SetPasswords(const std::vector<std::string>& Value) { Passwords = Value; }
    TOverwriteMode OverwriteMode = omOverwrite;
    TStreamType StreamType = stFile;
    std::vector<std::string> StoreFilesOfType;
    bool TranslateOemChar = false;

    // Events.
    TOnActivate OnActivate;
    TOnBegin OnBegin;
    TOnCorruptZipHeader OnCorruptZipHeader;
    TOnActivate OnDeactivate;
    TOnDeleteFile OnDeleteFile;
    TOnElapsedTime OnElapsedTime;
    TOnEnd OnEnd;
    TOnError OnError;
    TOnExcludeFile OnExcludeFile;
    TOnFileExists OnFileExists;
    TOnInsertDisk OnInsertDisk;
    TOnLimitedUser OnLimitedUser;
    TOnNestedTarFile OnNestedTarFile;
    TOnNextVolume OnNextVolume;
    TOnProgress OnProgress;
    TOnRenameFile OnRenameFile;
    TOnRead OnRead;
    TNotifyEvent OnReadBegin;
    TOnRemoveTempfile OnRemoveTempfile;
    TNotifyEvent OnReadEnd;
    TOnTmpFileProgress OnTmpFileProgress;
    TTmpFileMoveBegin OnTmpFileMoveBegin;
    TNotifyEvent OnTmpFileMoveEnd;
    TOnGetPassword OnGetPassword;
    TOnPasswordAccepted OnPasswordAccepted;
    TOnBadPassword OnBadPassword;

    // Method pointers bound by the constructor; a component running another points these (and
    // the cancel pointer) at itself.
    TWriteBlockProc WriteArchiveProc;
    TWriteBlockProc WriteOutputProc;
    TReadArchiveProc ReadArchiveProc;
    TProgressProc ProgressProc;
    TSkippedMemberProc SkippedMemberProc;

    // Current entry.
    int FileNumber = 0;
    int FileCount = 0;
    int EntryIndex = 0;
    std::uint32_t Crc32 = 0;
    bool Encrypted = false;
    std::string FileName;
    std::int64_t HeaderOffset = 0;
    std::int64_t PackedSize = 0;
    std::vector<std::uint8_t> CommentBuffer;
    std::uint16_t InternalAttr = 0;
    std::uint32_t ExternalAttr = 0;
    TDateTime NewestDate = 0;
    std::uint16_t VersionNeeded = 0;
    int Ratio = 0;
    std::string MethodName;
    std::int64_t PackedTotal = 0;
    std::int64_t UnpackedTotal = 0;
    std::int64_t UnpackedSize = 0;
    std::string VolumeName;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t MethodNumber = 0;
    TDateTime DateTime = 0;
    bool Renamed = false;  // DoRenameFile accepted a new name (entry action 3 for the writer)

    // Extra-field results of the current entry.
    std::string ExtraUtf8Name;
    std::vector<std::uint8_t> CipherBlock;  // header and data of a 0x9901 or 0x0017 block
    std::uint16_t CipherBlockId = 0;
    std::uint64_t LargeSize = 0;

    // The cancel flag every loop polls; an outer component points an inner one's at its own.
    bool* CancelPtr;
    std::uint8_t OperationCode = opExtract;

    // Progress.
    std::uint8_t ByFile = 0;
    std::uint8_t ByArchive = 0;
    std::int64_t BytesToRead = 0;  // of the archive, still to be read

    // Output targets by operation code: 1 and 3 the in-memory lists, 2 the caller's stream, 4 the
    // caller's buffer (advanced by each write, never past its capacity).
    std::vector<std::uint8_t> ListTargets[2];
    TStream32* CallerStream = nullptr;
    std::uint8_t* CallerBuffer = nullptr;
    std::int64_t CallerBufferCapacity = 0;  // bytes still free at CallerBuffer

    // Per-operation state of the data hooks.
    TRunningCrc RunningCrc;
    TZipCipher DataCipher{kDataKeySet};
    TZipCipher HeaderCipher{kHeaderKeySet};
    int ArjPasswordPos = 1;
    bool DirectoryCheck = true;

    TZipTimer& Timer() { return *FTimer; }

    // Error reporting. Once cancelled, every number but E_ACCESSPERMISSIONS and E_REGISTRYPERMISSIONS goes out as
    // E_USERCANCEL and RaiseError throws the silent ECancel instead of its class, so that no caller runs on.
    virtual void DoError(const std::string& FileName, const std::string& ExtendedMsg, int ECode,
                         const std::string& VolumeID);
    template <class E = E_RAISE>
    [[noreturn]] void RaiseError(const std::string& Name, const std::string& ExtendedMsg, const std::string& VolumeID,
                                 int ECode)
    {
        ReportRaised(Name, ExtendedMsg, VolumeID, ECode);
        throw E(ECode);
    }
    // A failed write: 25160 where the disk (or a file-size limit) was full, else 25136.
    [[noreturn]] void RaiseWriteError(const std::string& Name);
    virtual bool GetCancel() const { return *CancelPtr; }
    virtual void SetCancel(bool Value);

    void DoProgress(std::int64_t Done, std::int64_t Total, std::int64_t ArchiveTotal);
    static std::uint8_t Percent(std::int64_t a, std::int64_t b);

    // Volumes.
    virtual std::string GetVolumeName(const std::string& Name, int N) const;
    bool ConfirmVolume(std::string& VolumeName, int N);
    std::string NumberedSplitName(const std::string& Name, int N) const;
    std::string NextSplitVolumeName(int& Counter, bool IsLast, int Total) const;
    static std::string NumberedVolumeName(const std::string& Name, int N, TNextVolumeName Mode, bool ShortNames);
    // Part N (1 on) of a text-encoded set whose first part is First, a name that no other part
    // of the set and never First itself takes: a numbered extension (name.001) goes on counting;
    // an extension with a digit among its first three characters, where the numbering by
    // extension would give one name to two parts (out.b64: part 4), gets ".001" on; any other
    // follows NumberedVolumeName (nvChangeExt: name.UUE, name.UU1, name.U12, name.123).
    static std::string TextPartName(const std::string& First, int N);
    bool OpenVolume(std::unique_ptr<TStream32>& Stream, std::string& VolumeName);
    virtual bool DoNextVolume(std::unique_ptr<TStream32>& Stream, int& VolumeNumber, int Total);
    bool OpenNextVolume(std::unique_ptr<TStream32>& Stream, int& VolumeNumber, int Total);

    // Splitting, served by the splitters only.
    virtual TCustomSizeType GetCustomSizeType() const { return stBytes; }
    virtual void SetCustomSizeType(TCustomSizeType) {}
    virtual TPartType GetPartType() const { return ptNoSplit; }
    virtual void SetPartType(TPartType) {}
    virtual std::int64_t GetPartSize() const { return 65536; }
    virtual void SetPartSize(std::int64_t) {}
    virtual const std::vector<std::string>* GetSplitList() const { return nullptr; }
    virtual void SetSplitList(const std::vector<std::string>&) {}
    virtual std::string GetPartSizeText() const { return {}; }

    virtual void ClearSkipNames() { SkipNames.clear(); }
    virtual TArcType GetArcType(TStream32& Stream);
    bool SupportsComment() const { return FArcType == atZip; }

    // Removable media and spanned sets.
    TDiskManager& DiskManager() { return *FDiskManager; }
    // DoError as the disk classes call it.
    TDiskErrorReporter DiskErrorReporter();
    // Examines the drive of Path; problems go to the hooks, DoError and the cancel flag.
    bool CheckDrive(const std::string& Path, TOnDiskError DiskNotReady = {}, TOnDiskError WriteProtect = {});
    void InitDiskSpann(TSpanDiskReader& Span, TOnDiskError DiskNotReady = {}, TOnDiskError WriteProtect = {});

    // The archive being read, while an operation runs.
    std::unique_ptr<TStream32> ArchiveStream;

    std::string SpanArchiveFile() const override { return FArchiveFile; }
    void RedetectArchive() override;
    TArcType SpanArcType() const override { return FArcType; }
    THeaderTypeState SpanHeaderState() const override { return HeaderTypeState; }
    void CloseArchiveStream() override { ArchiveStream.reset(); }
    bool OpenArchiveStream() override;
    TDiskManager& SpanDiskManager() override { return *FDiskManager; }

    bool IsFileOutput() const { return OperationCode == opExtract || OperationCode == opExtractForRun; }
    bool FreeOutStream(std::unique_ptr<TStream32>& Stream);

    // File selection.
    bool MatchesFileSpec(const std::string& Name);
    bool MatchesStoredName(const std::string& Name, bool UseFolders);
    // Whether MatchesStoredName(Name, true) takes every name that is not empty ("*" or "*.*",
    // nothing excluded): a run answers it once instead of for each of its entries.
    bool TakesEveryStoredName() const;
    // The one meaning of an ExcludeSpec mask on every side: a mask with a folder part is matched
    // against the stored name from any of its folders on (its "*" spans folders, so "sub\*"
    // takes everything below every folder named sub), or against OtherPath (a disk path) whole;
    // a mask without one against the file part. A hit fires OnExcludeFile with ReportedName.
    bool ExcludedByMasks(const std::string& StoredName, const std::string& OtherPath, const std::string& ReportedName);

    // Data hooks.
    // Whether ReadArchiveProc and WriteOutputProc are still the ones the constructor set: a run
    // that finds them so at its start calls the operations they stand for directly, not through
    // the hooks for every block of every member.
    bool OwnDataHooks() const;
    virtual std::int32_t ReadArchiveBlock(TStream32* Stream, void* Buffer, std::int32_t Count, bool Encrypted,
                                          int CrcWidth);
    virtual std::int32_t WriteOutputBlock(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count,
                                          int CrcWidth, bool Encrypt);
    virtual std::int32_t WriteArchiveBlock(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count,
                                           int CrcWidth, bool Encrypt);
    void DecryptEntryBlock(bool Encrypted, void* Buffer, std::int32_t Count);
    // Starts a new entry's data: running CRC and ASCII line state.
    void StartEntryData();

    // Per-entry services.
    void ReadExtraField(TStream32& Stream, int Length, bool Notify, int Kind);
    void ParseExtraField(const std::uint8_t* Data, std::size_t Length, bool Notify, int Kind,
                         std::int64_t Position = 0);
    virtual void NoteExtraField(int /*Which*/, int /*Size*/, std::int64_t /*Position*/) {}
    virtual TDateTime DosDateToDateTime(std::uint32_t DosDate);
    TDateTime ApplyDateAttribute(std::uint32_t DosDate);
    // Sets FileName to the entry's target path below ExtractDir; a name that would leave it is
    // refused (FileName empty, reported) and answers False.
    virtual bool SetEntryName(const std::string& StoredName);
    // The same by a format's rules for its stored names (core/OutputNames.h).
    bool MapEntryName(const std::string& Stored, const TStoredNameRules& Rules);
    virtual bool DoBegin(std::string& Name, int Count, const TCompressHeaderObj* Entries);
    void DoRenameFile(std::string& Name, const TCompressHeaderObj& Entries);
    bool CheckDirectory(std::string& Dir);
    // False, with a report, when a symbolic link stands at the target or on its way below
    // ExtractDir (or Root, a folder the host chose), or the target lies outside it, so that
    // output never goes through one.
    bool CheckOutputTarget(const std::string& Target, const std::string& Root = {});
    // The same check on host paths already found: the folder's (HostBase) and the target's, with
    // what the mapping saw of the target (Known).
    bool CheckHostTarget(const std::string& Target, std::string HostBase, const std::string& HostTarget,
                         const win::HostPathState& Known);
    std::int64_t CopyStoredMember(TStream32* Stream, TStream32* Output, const std::uint8_t* HeaderRecord,
                                  const std::string& Name, int CrcWidth);
    std::uint32_t StreamCrc32(TStream32& Stream, std::int64_t Count);
    static std::string DosAttrString(std::uint32_t Attr, char Fill);
    static std::string UnixAttrString(std::uint32_t Mode, char Fill);
    TEncryptionMethod GetEntryEncryptMethod() const;

    // Temporary-stream callbacks, bound into every temporary stream the component makes.
    TTempStreamOwner TempStreamOwner();
    // Sets the unpacked size and totals to the archive's size, so that the copy's progress counts
    // the right bytes, then replaces Target (MoveTempArchive).
    virtual void MoveTempFile(TStream32* Stream, const std::string& Target, bool SameDrive,
                              const std::string& TempName);
    virtual void DoTmpFileMoveBegin(TObject* Sender, const std::string& Archive, const std::string& TempFileName,
                                    bool& Cancel);
    virtual void DoTmpFileMoveEnd(TObject* Sender);
    virtual void DoTmpFileProgress(std::int64_t Done, std::int64_t Total);

protected:
    enum TVolumeRequest { vrNoEvent, vrMissing, vrFound };
    // Names the next split volume and asks for it until it exists; without OnNextVolume the missing
    // event is reported by name and the run cancelled (announced through SetCancel when asked).
    TVolumeRequest RequestNextVolume(std::unique_ptr<TStream32>& Stream, int VolumeNumber, int Total, int& Counter,
                                     bool AnnounceCancel);
    bool TakeVolume(std::unique_ptr<TFileStream32> File, std::unique_ptr<TStream32>& Stream, int& VolumeNumber,
                    int Counter);
    void ReportRaised(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                      int ECode);
    // Plain is the block as handed in; the CRC covers it, whatever translation or cipher did.
    std::int32_t WriteCore(TStream32* Target, const std::uint8_t* Buffer, int Kind, std::int32_t Count, int CrcWidth,
                           const std::uint8_t* Plain);
    std::int32_t Deliver(TStream32* Target, const std::uint8_t* Data, std::int32_t Count);
    bool IsZipCipherType() const;
    // The extraction folder with its trailing delimiter; valid until the folder or archive changes.
    const std::string& EffectiveExtractDir() const;
    std::int64_t BytesRemaining = 0;  // of the current member, for CopyStoredMember
    // Consecutive entries mostly share a stamp: the last conversion answers them.
    std::uint64_t FLastDosDate = ~std::uint64_t(0);
    TDateTime FLastDateTime = 0;

    TArcType FArcType = atNA;
    std::string FArchiveFile;
    std::vector<std::string> FFileSpec;
    // FileSpec's names with "/" as "\\", for ExactFileSpec: thousands of entries picked in a list
    // are each looked up, not compared with every name picked. Kept by SetFileSpec and
    // IndexExactNames.
    std::unordered_set<std::string> FExactNames;
    void IndexExactNames();
    std::vector<std::string> FExcludeSpec;
    std::string FExtractDir;
    mutable std::string FEffectiveExtractDir;  // EffectiveExtractDir's answer when FExtractDir needs a delimiter
    std::string FTempDir;
    std::string FPassword;
    TEncryptionMethod FEncryptionMethod = emNone;
    bool FCancel = false;
    bool PendingCR = false;  // the last byte written with ASCII translation was CR
    std::unique_ptr<TZipTimer> FTimer;
    std::unique_ptr<TDiskManager> FDiskManager;

public:
    std::int64_t& MemberBytesRemaining() { return BytesRemaining; }
};
