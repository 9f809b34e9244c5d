// The ZIP writer: creates archives, adds to and deletes from existing ones (copying the kept
// entries byte for byte) and edits the archive and file comments.
//
// Each entry of the driver's list keeps, in its Header, the entry's 46-byte central header
// followed by its unpacked and packed sizes as two 64-bit values; in its SavedHeader the name
// bytes exactly as the directory will hold them; in Data the entry comment; and, for old
// entries, the central extra field as the list's extra block.
#pragma once

#include "core/ZipRecords.h"
#include "core/plxBase.h"
#include "core/plxStreams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The Zip64 end record, its locator and the classic end record, as written past 4 GiB or 65535 entries.
inline constexpr std::size_t kLargeEndSize = TZip64EndRecord::Size + TZip64Locator::Size + TEndRecord::Size;

// Where the end record of a set of volumes stands.
struct TZipEndPlacement {
    std::uint32_t DiskNumber = 0;
    std::uint32_t CentralDisk = 0;
    std::int64_t EntriesOnDisk = -1;  // -1: every entry
    std::int64_t EndOffset = -1;      // where the end records start on their volume; -1: after the directory
};

class TZipBase : public TCompBase {
public:
    explicit TZipBase(TObject* AOwner = nullptr);

    int LeaveSpaceOnFirstDisk = 0;
    // Spans onto any removable drive; otherwise only onto diskettes (1.2, 1.44 and 2.88 MB).
    bool SpanRemovable = false;
    // The spanning events (OnInsertDisk is the component's).
    TOnClearDisk OnClearDisk;
    TOnFileExists OnDiskSpanFileExists;
    TOnDiskError OnDiskWriteProtectErr;
    TOnDiskError OnDiskInDrvErr;

    // Spans the finished archive Finished over the disks of ArchiveFile's drive; false after a
    // report or a cancel.
    bool SpanArchive(const std::string& Finished);
    // Whether an archive written to Target is spanned over the disks of its removable drive.
    bool SpansTo(const std::string& Target) const;
    // The archive comment written after the end record. Left empty and unmodified, an update
    // keeps the old archive's comment.
    TMainCommentStream MainComment;

    int Compress() override;
    void SetArcType(TArcType Value) override;
    TArcType GetArcType(TStream32& Stream) override;

    // Hooks of the compress driver.
    std::string GetEntryName() override { return FReadName; }
    void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index) override;
    void UpdateEntryName(int Index, std::uint32_t Attr, TCompressHeaderObj& EntryList) override;
    void InitHeader() override;
    void FinishHeader(std::int64_t PackedSize) override;
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override;
    void WriteEndMarker(TStream32& Output) override;
    void DoEnd() override;
    bool ReadFirstHeader(TStream32& Stream) override;
    std::uint16_t GetHeadSize() override { return TCentralHeader::Size; }
    bool ReadHeaderAt(std::int64_t Position) override;
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList) override;
    int WriteLargeSizeExtra(TStream32& Output, TCompressFileInfo& Item, int Flag) override;
    void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList) override;
    void Finish(TCompressHeaderObj&) override {}
    std::uint16_t GetLocalHeadSize() override { return TLocalHeader::Size; }
    bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList) override;
    std::uint8_t* GetHeadPtr() override { return FHead; }
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override;
    std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item) override;
    bool ReadHeader() override;

    // Comment editing, outside a compress run.
    int ReadComments() override;
    std::string GetFileComment(int Index, std::string& Name, std::vector<std::uint8_t>& Comment) override;
    void SetFileComment(int Index, const std::vector<std::uint8_t>& Comment) override;
    bool CommentsModified() override;
    bool SaveComments(bool Save) override;

    // Name bytes and the UTF-8 flag for a stored name: OEM where every character survives,
    // else UTF-8 (flag bit 11), never a lossy replacement.
    std::string EncodeName(const std::string& StoredName, bool& Utf8) const;
    // The end record comes in its 46-byte form past 4 GiB or from 65535 list entries on.
    static bool NeedsLargeEnd(std::int64_t CentralOffset, std::uint64_t ListCount);

protected:
    // Every member stands alone: workers may deflate the next ones while one is written, and a
    // new archive is written while the tree is walked.
    bool DeflatesAhead() const override { return true; }
    bool WritesEntriesAlone() const override { return true; }
    // Entries written while walking leave the list; their directory records wait here, in the
    // blocks the directory is written in.
    void RetireEntries(TCompressHeaderObj& EntryList, std::uint32_t Count) override;
    std::vector<std::string> FRetiredDirectory;
    std::uint64_t FRetiredRecords = 0;
    std::uint64_t FRetiredSize = 0;
    void ClearRetired();
    bool CheckFreeSpace(std::int64_t OutputSize, bool CopyNeeded) override;
    bool PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName,
                         const TTempStreamOwner& Owner) override;

    TArcType FOwnType = atZip;
    // Local header of the entry being written (first 30 bytes); room for the driver's head size.
    std::uint8_t FHead[TCentralHeader::Size + 16] = {};
    std::uint64_t FCurPacked = 0;  // packed size of the entry being written, large-size block excluded
    bool FLargeBlock = false;      // the current entry carries the Zip64 sizes in its local header
    std::string FEntryExtra;       // the current entry's other extra blocks, local and central alike
    bool FExtraReady = false;      // FLargeBlock and FEntryExtra are decided for the current entry

    // The blocks that other tools need beside the stored name and data: the UTF-8 name of an OEM
    // name, and the NTFS times of a PPMd entry.
    std::string NewEntryExtra() const;
    void PrepareEntryExtra(const TCompressFileInfo* Item);
    std::int64_t LocalExtraSize() const;

    // The old archive as the last directory read found it.
    TZipEnding FOldEnding;
    std::vector<std::uint8_t> FOldComment;

    // Entries that carry a comment, by folded name; made by the first new entry of a run.
    std::unique_ptr<std::unordered_multimap<std::string, std::uint32_t>> FCommentedByName;
    static std::unique_ptr<std::unordered_multimap<std::string, std::uint32_t>>
    IndexCommentedEntries(TCompressHeaderObj& EntryList);

    // Comment editing state.
    std::unique_ptr<TCompressHeaderObj> FCommentList;
    bool FCommentsChanged = false;

    // swRead walk.
    std::vector<TZipEntry> FReadEntries;
    std::size_t FReadIndex = 0;
    std::string FReadName;

    // Reads the old directory into List; false when the file holds no ZIP directory or headers.
    bool ReadDirectory(TStream32& Archive, TCompressHeaderObj& List, bool MarkDeleted);
    void AddOldEntry(TCompressHeaderObj& List, const TZipEntry& Entry, std::int64_t Prefix, bool MarkDeleted);
    // Central directory, end record and comment for List, as bytes. Disks (when given) holds
    // each list entry's 0-based volume.
    std::string BuildDirectory(TCompressHeaderObj& List, std::int64_t CentralOffset, std::uint64_t& Written,
                               const std::vector<std::uint32_t>& Disks = {});
    // The same directory handed to Sink a block at a time, so that it is never held whole;
    // returns its size.
    std::uint64_t EmitDirectory(TCompressHeaderObj& List, std::uint64_t& Written,
                                const std::vector<std::uint32_t>& Disks,
                                const std::function<void(const std::string&)>& Sink,
                                std::uint32_t Count = UINT32_MAX);
    std::string BuildEnd(std::uint64_t Entries, std::uint64_t CentralSize, std::int64_t CentralOffset, bool Large,
                         const std::vector<std::uint8_t>& Comment, const TZipEndPlacement& Placement = {});
    std::vector<std::uint8_t> ArchiveComment() const;
    // Bytes of an old entry from its local header up to the end of its data (and descriptor).
    std::int64_t LocalEntryLength(TStream32& Archive, const TCompressFileInfo& Item, std::int64_t& DataStart);
    bool SaveTail(std::int64_t CutAt, const std::string& Tail);

public:
    // Lays the finished archive Source out over the volumes of Sink (a split set or spanned
    // disks): entries with their descriptors, the directory with each entry's volume and offset,
    // the end record and the archive comment. Marker puts the spanning marker first. False after
    // a report (or a cancel); the volumes written so far are the sink's to discard.
    bool CopyToVolumes(TStream32& Source, class TZipVolumeSink& Sink, bool Marker);
};

class TZip : public TZipBase {
public:
    using TZipBase::TZipBase;
};

// The central header bytes and 64-bit sizes kept in an entry's Header.
TCentralHeader ZipCentralOf(const TCompressFileInfo& Item);
std::uint64_t ZipUnpackedOf(const TCompressFileInfo& Item);
std::uint64_t ZipPackedOf(const TCompressFileInfo& Item);
