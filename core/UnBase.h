// The extract driver: the base of every extractor. It owns a run (open the archive, reset, choose
// the output folder, call the format's ProcessArchive, end with the run's events whatever
// happened) and gives the format the per-entry services: naming, the start-of-entry event,
// overwrite rules, output creation, the password search, the CRC check and closing the output
// with its date and attributes.
#pragma once

#include "core/DiskManager.h"
#include "core/HeaderObj.h"
#include "core/ZipCommon.h"
#include "core/plxCrypt.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TStream32;

// The process-wide seed keys as a caller had them, taken before a temporary extractor is
// created and put back into effect afterwards, so the extractor deciphers with the caller's keys.
struct TSeedKeySnapshot {
    TKeyTriple Data{};
    TKeyTriple Header{};

    static TSeedKeySnapshot Take();
    void Restore() const;
};

class TDecompressClass : public TZipCommon {
public:
    explicit TDecompressClass(TObject* AOwner = nullptr);
    ~TDecompressClass() override;

    // Options.
    bool CreateStoredDirs = false;
    bool RestoreFileAttr = true;
    // Every file is written beside its target and renamed into place once checked, new names too:
    // a run that is killed never leaves a file half written under its name (one more rename each).
    bool WriteBesideTargets = false;
    TCpuType CpuType = cptAuto;

    // Hides the base's event of the same name: the extract side offers a new name instead of a date.
    TUnBase_OnFileExists OnFileExists;
    // Called with the archive stream right after it is opened.
    std::function<void(TStream32& Stream)> OnArchiveStreamCreated;

    // Public operations: the number of entries processed, 0 when the archive cannot be opened.
    int Extract();
    int TestArchive();
    int ExtractForRun();
    // The same run for any operation code (the caller's stream, its buffer, the list targets).
    int RunOperation(std::uint8_t Code);

    // The format's part.
    // Archive is null for the types whose external library opens the archive itself.
    virtual void ProcessArchive(TStream32* Archive);
    // The current password against the entry's encryption header (CryptHeader); base: False.
    virtual bool CheckPassword();
    // Width 16 checks the running CRC-16, any other the running CRC-32.
    virtual bool CheckCrc(int Width, std::uint32_t StoredCrc);
    // Asked by OpenOutStream before it creates or truncates anything: whether the current entry's
    // method and encryption can be decoded. A format that answers False reports why itself.
    virtual bool CanDecodeEntry() { return true; }

    // Per-entry services, in the order a format calls them.
    // Records the name as stored; file operations map it below ExtractDir by the format's
    // NameRules, the others keep it as read. False (reported) when the name may not be written:
    // formats never check names themselves.
    bool NameEntry(const std::string& Stored);
    bool SetEntryName(const std::string& Stored) override;
    bool PrepareOutput(bool IsDirectory);
    bool AcquirePassword();
    // File operations create a Target that does not exist under its own name, exclusively (a file
    // that takes the name first is never written into), and write one that replaces an existing
    // file beside it; CloseOutFile gives the output the entry's date and attributes, and only a
    // CheckCrc that passes keeps it (the one beside is then renamed over Target). Anything else (a
    // failed check, a cancel, an error, the next entry, the end of the run) removes the output
    // and leaves Target as it was.
    bool OpenOutStream(std::unique_ptr<TStream32>& Stream, const std::string& Target);
    bool IsArchiveRead(const std::string& Target) const;
    // PrepareOutput (unless Prepared) and OpenOutStream for a plain file entry (FileName): false
    // when it is not written (the archive itself as target, or no output; reported).
    bool OpenPlainOutput(std::unique_ptr<TStream32>& Stream, bool Prepared = false);
    // OpenPlainOutput for a format whose every entry can be decoded (no method or cipher can refuse
    // it): a free target is made by its lookup, with no second call for the name.
    bool OpenDecodableOutput(std::unique_ptr<TStream32>& Stream);
    // Creates a stored folder below the extraction folder (CreateStoredDirs); false after a report.
    // A DosDate other than 0 is given to the folder at the end of the run, when nothing more is
    // written into it. A UnixTime (seconds since 1970, UTC), where the format stores one, is given
    // instead, exactly (the DosDate is then not read): a DOS date holds nothing before 1980 and only
    // even seconds.
    bool MakeStoredDir(const std::string& Dir, std::uint32_t DosDate = 0, std::optional<std::int64_t> UnixTime = {});
    void CloseOutFile(std::unique_ptr<TStream32>& Stream, const std::string& Target, std::uint32_t Attributes,
                      std::uint32_t DosDate, std::optional<std::int64_t> UnixTime = {});
    // A hard link to a file this run wrote becomes one on disk too (FileName, prepared); false:
    // copy the data instead.
    bool LinkToWritten(const std::string& Existing);
    // The last write time an output gets (UTC); empty when its DOS date is not a valid one.
    std::optional<FILETIME> EntryFileTime(std::uint32_t DosDate, std::optional<std::int64_t> UnixTime);
    // Removes the current entry's unfinished output, if any; Target stays as it was. Inline: every
    // member passes here three times, nearly always with nothing to remove.
    void DiscardOutput()
    {
        if (!FPending.Temp.empty())
            DiscardPending();
    }
    // While the answer lives, names below the extraction folder are taken exactly as given: a
    // member never lands in, replaces or removes a file whose name differs only in case. Every
    // service above holds one; a format that touches its targets itself takes one too.
    // Inline: a test or a listing takes one four times a member, with no folder.
    win::ExactNamesBelow ExactOutputNames()
    {
        return win::ExactNamesBelow(IsFileOutput() ? ExactOutputFolder() : nullptr);
    }
    // No password fitted: OnBadPassword may cancel the run.
    void DoBadPassword();
    // Reports ECode for the current entry and ends it as failed.
    void FailEntry(int ECode);
    // What a decoder answers for a failure that the output hook has already reported.
    static constexpr int kFailureReported = -1;
    // Ends an entry whose data went through a decoder: Failure 0 checks the CRC of the given
    // width; a message number (reported here) or kFailureReported fails the entry, and nothing of
    // its output takes the target's place.
    void FinishDecodedEntry(int Failure, int CrcWidth, std::uint32_t StoredCrc);

    void DoError(const std::string& FileName, const std::string& ExtendedMsg, int ECode,
                 const std::string& VolumeID) override;

    // What a component that runs this one as its temporary extractor (the integrity test,
    // extract-and-run) hands to it: archive and detection, selection, passwords, options, the
    // cancel flag, and the caller's seed keys as taken before this extractor was created. Event
    // handlers are the caller's to bind, as each relays different ones.
    void CopySettingsFrom(const TZipCommon& From, const TSeedKeySnapshot& SavedKeys);

    // Run state a format reads and sets. The archive stream is TZipCommon::ArchiveStream, which a
    // spanned-set reader closes and reopens as disks change.
    std::string StoredName;  // the current entry's name as stored
    // The current entry's own number in the run, from 1 (NameEntry counts the entries). The file
    // count (FileCount, the run's answer) counts only the entries written, or passed in a test.
    int EntryNumber = 0;
    // Set when OpenOutStream declined the entry on purpose (undecodable, refused password, unsafe
    // target; reported where needed): the format skips it quietly. Clear after a failed open.
    bool SkipEntry = false;
    bool PasswordRefused = false;            // no password fitted the current entry
    bool NoDecrypt = false;                  // a format's run-wide "decode no more encrypted entries"
    std::uint8_t CryptHeader[24] = {};       // the entry's 12-byte header in the second half (cipher layout)
    TUnBaseHeaderObj* HeaderList = nullptr;  // the record target of operations 1 and 3

protected:
    // What the format's stored names mean, set once by its constructor (core/OutputNames.h).
    TStoredNameRules NameRules;

    bool OpenArchive();
    void ResetCounters();
    int Execute();

private:
    // A file operation's output until its check has passed.
    struct TPendingOutput {
        std::string Temp;  // beside Target, created exclusively; Target itself when Fresh
        std::string Target;
        bool Closed = false;
        bool TargetExisted = false;  // when the output was opened
        // Created under Target's own name (TargetHost): the commit has nothing to do, a failure
        // removes the file that was made, and nothing else.
        bool Fresh = false;
        HANDLE Held = INVALID_HANDLE_VALUE;  // the fresh file, open until it is kept or removed
        std::string TargetHost;
    };
    // What the host holds at the current entry's target, found once for the entry's steps.
    struct TResolvedTarget {
        std::string Target;
        std::string Host;
        win::HostPathState State;
        // Looked up in FFolders' open folder Folder (below FBaseHost): no link on the way to it.
        bool InFolder = false;
        std::string Folder;
        std::size_t Leaf = 0;  // where the last name starts in Host
        // Made by the lookup itself (OpenDecodableOutput): the new file, until the output takes it.
        HANDLE Reserved = INVALID_HANDLE_VALUE;
    };

    bool OpenTempOutput(std::unique_ptr<TStream32>& Stream, const std::string& Target, bool TargetExists);
    bool OpenFreshOutput(std::unique_ptr<TStream32>& Stream, TResolvedTarget&& Resolved);
    void RefuseTakenTarget(const std::string& Target);
    bool CommitOutput();
    void ReportUnexpected(const std::string& ExtendedMsg, int ECode);
    bool ResolveExistingTarget(std::string& Target);
    // Whether Target's name is free in a folder that exists (by the one lookup of this entry).
    bool TargetIsFree(const std::string& Target);
    // Found is new but for its Target.
    bool ResolveInFolder(TResolvedTarget& Found);
    // Forgets the entry's lookup; a file the lookup made goes with it.
    void DropResolved();
    bool FindBaseHost(const std::string& Base);
    bool CheckFreeTarget(const std::string& Target);
    bool TakeHostName(const std::string& Chosen, std::string& Target);
    bool TryCandidate(const std::uint8_t* Header);
    bool OfferAccepted();
    bool AskForPasswords(const std::uint8_t* Header);

    void RestoreFolderTimes();
    // The parsed extraction folder, kept while its text stays the same.
    const win::WinPath* ExactOutputFolder();

    bool FNameRefused = false;  // the refusal of the current name has been reported
    std::string FHostFolder;    // the folder of a name the host chose for the entry, else empty
    std::optional<TResolvedTarget> FResolved;
    // The target that did not exist when the overwrite rules let the entry through: a file found
    // there later is someone else's and is never replaced.
    std::string FFreeTarget;
    TClaimedTargets FClaimed;            // the run's targets and the names that led there
    std::string FBaseFolder, FBaseHost;  // the last extraction folder checked, and its host path
    win::HostFolderBelow FFolders;       // the folder of the last new file, held open below FBaseHost
    bool FRetryingTarget = false;        // found again after its folder went
    bool FCreateWhenFree = false;        // the lookup makes a free target (OpenDecodableOutput)
    std::string FExactFolderText;        // the extraction folder of FExactFolder
    std::optional<win::WinPath> FExactFolder;
    int FLastReported = 0;  // the number of the last report, so a raised error goes out once
    TPendingOutput FPending;
    struct TFolderTime {
        std::string Folder;
        std::uint32_t DosDate;
        std::optional<std::int64_t> UnixTime;
    };
    std::vector<TFolderTime> FFolderTimes;

    void DiscardPending();
};

// The published base of the extractors.
class TUnBase : public TDecompressClass {
public:
    using TDecompressClass::TDecompressClass;
};
