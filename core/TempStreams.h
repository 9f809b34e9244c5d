// Temporary outputs that hold a new archive while it is written and, when closed, put it in place
// of the target archive through the owning component's callbacks.
#pragma once

#include "core/Err_Msgs.h"
#include "core/plxStreams.h"

#include <functional>
#include <string>

// What a temporary stream needs of its owning component; bound by the component at construction.
struct TTempStreamOwner {
    TObject* Sender = nullptr;
    bool* Cancel = nullptr;             // the operation's cancel flag
    std::int64_t* Remaining = nullptr;  // the component's bytes-remaining counter
    // Empty: MoveTempArchive below.
    std::function<void(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName)>
        MoveTempFile;
    TTmpFileMoveBegin DoTmpFileMoveBegin;
    std::function<void(TObject* Sender)> DoTmpFileMoveEnd;
    TStreamProgress DoTmpFileProgress;
    std::function<std::int64_t()> ArchiveSize;  // empty: the temporary output's size
    std::function<void(int ECode, const std::string& ExtendedMsg)> ReportError;
};

// The name a memory output hands to MoveTempFile.
inline const std::string kMemoryTempName = "NoName";

// Puts the finished output in place of Target in one rename, so the old archive stays whole until
// the new one is complete: the file TempName is renamed over Target (SameDrive) or copied to a new
// file beside Target first; a memory output (TempName "NoName") is written beside Target from
// Stream. Raises E_RAISE (E_OPENFILE, E_CREATEFILE, E_DISKFULL, E_WRITEFILE, E_UPDATEARCHIVE) leaving Target and
// TempName as they were; a cancelled copy replaces nothing.
void MoveTempArchive(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName,
                     const TTempStreamOwner& Owner);

class TTempFileStream : public TFileStream32 {
public:
    // Mode fmCreate: a new exclusive file "plx*.tmp" in TempDir that will become FileName.
    // Any other mode opens FileName itself, which is then not temporary.
    TTempFileStream(const TTempStreamOwner& Owner, std::uint16_t Mode, const std::string& FileName,
                    const std::string& TempDir);
    ~TTempFileStream() override;

    // Replaces the target unless cancelled and removes the temporary file. A failed replacement
    // is reported through the owner, keeps the old archive and the temporary file, and raises.
    void Close();
    // Stops at the first empty read; answers the bytes copied.
    std::int64_t CopyFrom(TStream* Source, std::int64_t Count) override;

    bool Temporary() const { return FTemporary; }
    const std::string& TargetName() const { return FTargetName; }
    const std::string& OpenedName() const { return FFileName; }

private:
    TTempStreamOwner FOwner;
    std::uint16_t FMode;
    bool FTemporary;
    std::string FTargetName;
    bool FClosed = false;
};

class TTempMemStream : public TMemoryStream32 {
public:
    TTempMemStream(const TTempStreamOwner& Owner, std::uint16_t Mode, const std::string& FileName);
    ~TTempMemStream() override;

    void Close();
    std::int64_t CopyFrom(TStream* Source, std::int64_t Count) override;

    bool Temporary() const { return FTemporary; }
    const std::string& TargetName() const { return FTargetName; }

private:
    TTempStreamOwner FOwner;
    std::uint16_t FMode;
    bool FTemporary;
    std::string FTargetName;
    bool FClosed = false;
};
