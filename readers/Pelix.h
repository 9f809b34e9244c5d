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
#include "readers/PelixWalker.h"

using TOnReadFile = std::function<void(TObject* Sender, const std::string& FileName)>;

class TCustomPelix : public TZipCommon {
public:
    using TZipCommon::TZipCommon;
    TOnTotals OnTotals;
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
    friend class TPelixWalk;

    void RunListing();
    void PrepareListing();
    void Walk();
    void FillEntry(const TPelixEntry& Entry);
    void FireRead(int Filenum, std::int64_t Offset);
    void ListEntry(TPelixEntry& Entry);
    void ListWhole(TPelixEntry& Entry);
    void AddTotals(std::int64_t Unpacked, std::int64_t Packed);
    void EndWalk() { FDone = true; }

    std::int64_t ReadAt(std::int64_t Pos, void* Buffer, std::int64_t Count);

    // The spanned-set reader's view of the component.
    std::string SpanArchiveFile() const override { return FArchiveFile; }
    void RedetectArchive() override;
    TArcType SpanArcType() const override { return FArcType; }
    THeaderTypeState SpanHeaderState() const override { return HeaderTypeState; }
    void CloseArchiveStream() override { FStream.reset(); }
    bool OpenArchiveStream() override;
    TDiskManager& SpanDiskManager() override { return DiskManager(); }

    bool FBusy = false;
    std::unique_ptr<TFileStream32> FStream;
    std::unique_ptr<TPelixWalker> FWalker;
    std::array<std::uint8_t, kHeaderBufferSize> FHeader{};
    std::int32_t FHeaderSize = 0;
    std::int64_t FCurrentOffset = 0;
    std::int64_t FTurnStart = 0;
    bool FDone = false;
    int FStreamGeneration = 0;  // a new volume restarts the offsets
    std::int64_t FEndOfHeaders = 0;
    std::string FComment;  // at most kCommentBufferSize - 1 bytes
};
