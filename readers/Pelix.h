// The archive listing component: walks the directory of an archive of any supported type header by
// header, fills the current-entry fields for every listed entry and fires OnRead, then OnTotals.
// Nothing is extracted.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/DiskManager.h"
#include "core/MethodName.h"
#include "core/ZipCommon.h"
#include "core/plxStreams.h"
#include "readers/TarFormat.h"

using TOnReadFile = std::function<void(TObject* Sender, const std::string& FileName)>;

class TCustomPelix : public TZipCommon {
public:
    using TZipCommon::TZipCommon;
    TOnTotals OnTotals;
};

// One decoded header, as the fill step turns it into the current-entry fields.
struct TPelixEntry {
    std::string Name;         // program form: UTF-8, "\" separators
    bool Directory = false;
    bool ZipCentral = false;  // selected by stored-name rules
    TDateTime Date = 0;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::int64_t Packed = 0;
    std::int64_t Unpacked = 0;
    std::uint32_t Crc = 0;
    bool Encrypted = false;
    std::uint16_t Method = 0;
    std::uint16_t MethodFlags = 0;
    TMethodEntryFacts Facts;
    bool NoMethodName = false;  // the method column stays empty
    std::uint16_t InternalAttr = 0;
    std::uint32_t ExternalAttr = 0;
    bool RatioZero = false;
    std::int64_t Offset = 0;    // the reported header offset
    std::string VolumeName;     // empty: unchanged
    std::string Comment;
};

class TPelix : public TCustomPelix {
public:
    static constexpr std::int32_t kHeaderBufferSize = 32768;
    static constexpr std::int32_t kCommentBufferSize = 32768;

    explicit TPelix(TObject* AOwner = nullptr);
    ~TPelix() override;

    // Lists ArchiveFile. False when a listing already runs, when OnRead is missing or when an
    // error ended the run.
    bool Activate();
    bool Busy() const { return FBusy; }

    // The stored name is the entry's name: a listing has no target folder.
    bool SetEntryName(const std::string& StoredName) override;

    TOnReadFile OnReadFile;
    int ZipCmntBufSize = 32000;
    std::vector<std::string> ArchiveExts;  // lower-case extensions of the archive types
    TMainCommentStream MainComment;
    // The comment of the current entry (ZIP, ZOO), or the archive comment while the walk reads it.
    std::string Comment() const;

private:
    using THeaderStep = void (TPelix::*)();

    void RunListing();
    void PrepareListing();
    void Walk();
    void ReadHeader();
    void FillEntry(const TPelixEntry& Entry);
    void FireRead(int Filenum, std::int64_t Offset);
    // Name conversion, OnReadFile, selection, counting, totals and the fill step of one header.
    void ListEntry(TPelixEntry& Entry);
    // A stored OEM name in the program's form.
    std::string OemName(std::string_view Stored) const;
    void AddTotals(std::int64_t Unpacked, std::int64_t Packed);
    void EndWalk() { FDone = true; }

    // Bounded reads at a position of the archive.
    std::int64_t ReadAt(std::int64_t Pos, void* Buffer, std::int64_t Count);
    // A zero-terminated string of at most Max bytes from Pos; Pos moves past its terminator.
    std::string ReadStringAt(std::int64_t& Pos, std::size_t Max);
    // Length bytes from Pos (fewer at the end of the archive); Pos moves past them.
    std::string ReadStringAtPos(std::int64_t& Pos, std::size_t Length);
    void ReadComment(std::int64_t Pos, std::int64_t Length);
    std::uint8_t B(std::size_t At) const { return At < FHeader.size() ? FHeader[At] : 0; }
    std::uint16_t W(std::size_t At) const { return std::uint16_t(B(At) | B(At + 1) << 8); }
    std::uint32_t L(std::size_t At) const { return std::uint32_t(W(At) | std::uint32_t(W(At + 2)) << 16); }
    TDateTime ArchiveFileDate() const;
    std::uint32_t ArchiveFileAttributes() const;

    // Per-format preparation and header steps.
    void PrepareZip();
    void PrepareArj();
    void PrepareAce();
    void PrepareLha();
    void PrepareCab();
    void PrepareMsGZ();
    void ListEncodedText();
    void ListRar();
    void ReadZipCentral();
    void ReadZipLocal();
    void ReadTar();
    void ReadGZip();
    void ReadBz2();
    void ReadLha();
    void ReadArj();
    void ReadArc();
    void ReadZoo();
    void ReadBh();
    void ReadHa();
    void ReadAce();
    void ReadCab();
    void ReadMsGZ();
    bool ReadCabHeader(std::int64_t Base);
    bool OpenNextCabinet();

    // The spanned-set reader's view of the component.
    std::string SpanArchiveFile() const override { return FArchiveFile; }
    void RedetectArchive() override;
    TArcType SpanArcType() const override { return FArcType; }
    THeaderTypeState SpanHeaderState() const override { return HeaderTypeState; }
    void CloseArchiveStream() override { FStream.reset(); }
    bool OpenArchiveStream() override;
    TDiskManager& SpanDiskManager() override { return FDiskManager; }

    bool FBusy = false;
    std::unique_ptr<TFileStream32> FStream;
    std::array<std::uint8_t, kHeaderBufferSize> FHeader{};
    std::int32_t FHeaderSize = 0;
    std::int32_t FHeaderRead = 0;  // bytes of the fixed header actually read this turn
    std::int64_t FCurrentOffset = 0;
    std::int64_t FTurnStart = 0;
    bool FDone = false;
    int FStreamGeneration = 0;  // a new volume restarts the offsets
    bool FCabChained = false;
    std::int64_t FEndOfHeaders = 0;
    THeaderStep FStep = nullptr;
    std::string FComment;  // at most kCommentBufferSize - 1 bytes
    std::int64_t FProgress = 0;
    TDiskManager FDiskManager;
    TDiskSpannObj FDiskSpann;

    // Per-format walk state.
    std::unique_ptr<TTarReader> FTarReader;
    std::uint8_t FAceCreator = 0;
    bool FArjVolume = false;
    std::uint32_t FZipLastDisk = 0;
    bool FZipLocalReported = false;
    std::int64_t FZipPrefix = 0;
    std::vector<std::string> FArcDirs;  // ARC folders entered by method 30
    std::int64_t FZooNext = 0;
    bool FZooFirst = true;
    struct TCabState {
        std::uint16_t Flags = 0;
        std::uint8_t VersionMinor = 0, VersionMajor = 0;
        std::uint16_t FolderCount = 0, FileCount = 0;
        std::uint32_t FilesOffset = 0;
        std::uint16_t FirstFolderType = 0;
        std::string NextCabinet;
        int FilesLeft = 0;
    } FCab;
};
