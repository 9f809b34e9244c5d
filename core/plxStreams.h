// Streams through which every archive is read and written: 64-bit positions, a cancel flag that
// copies poll, a progress hook, and file, memory and main-comment streams.
#pragma once

#include "core/plxConsts.h"
#include "platform/win/FileTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Seek origins, as the class library numbers them.
enum TSeekOrigin : std::uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// File open modes (the class library's fm* words).
constexpr std::uint16_t fmCreate = 0xFFFF;
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareCompat = 0x0000;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyRead = 0x0030;
constexpr std::uint16_t fmShareDenyNone = 0x0040;

class EStreamError : public win::Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class ERangeError : public win::Exception {
public:
    ERangeError() : win::Exception("Range check error") {}
};
// An operating-system failure with the system's text.
class EOSError : public win::Exception {
public:
    explicit EOSError(DWORD code);
    DWORD ErrorCode;
};

// The class library's stream, reduced to what the engine uses.
class TStream : public TObject {
public:
    virtual std::int64_t GetSize();
    virtual void SetSize(std::int32_t NewSize) = 0;
    virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
    virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
    // Answers the new position, -1 when the stream cannot seek there.
    virtual std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin);
    virtual std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) = 0;

    std::int64_t Size() { return GetSize(); }
    std::int64_t Position() { return Seek64(0, soCurrent); }
    void SetPosition(std::int64_t Pos) { Seek64(Pos, soBeginning); }

    // Whole transfers: a short count raises EReadError / EWriteError.
    void ReadBuffer(void* Buffer, std::int32_t Count);
    void WriteBuffer(const void* Buffer, std::int32_t Count);
};

// Progress of a stream: Done bytes of Total (Total 0 when unknown).
using TStreamProgress = std::function<void(TObject* Sender, std::int64_t Done, std::int64_t Total)>;

class TStream32 : public TStream {
public:
    static constexpr std::int32_t kCopyChunk = 0x20000;

    void SetSize(std::int32_t NewSize) override { SetSize64(NewSize); }
    virtual void SetSize64(std::int64_t NewSize) = 0;
    // Count 0 copies the whole source from its start. Stops between chunks when the cancel flag
    // is set; answers the bytes copied.
    virtual std::int64_t CopyFrom(TStream* Source, std::int64_t Count);

    TStreamProgress OnProgress;      // fired by DoProgress
    TStreamProgress OnReadProgress;  // fired by handle reads
    bool* CancelPointer = nullptr;   // unset: never cancelled
    std::int64_t* Remaining = nullptr;

    bool Cancelled() const { return CancelPointer && *CancelPointer; }

    // Room for the next Count bytes in a buffer of the stream's own, for a writer that reads them
    // straight into it and then calls WroteInPlace with how many it put there (no more than
    // Count); null where the stream offers none, and the caller writes as usual.
    virtual std::uint8_t* PlaceForWrite(std::int32_t /*Count*/) { return nullptr; }
    virtual void WroteInPlace(std::int32_t /*Count*/) {}

protected:
    virtual void DoProgress(std::int64_t Done, std::int64_t Total);
    // Count 0 copies the whole source from its start; chunks of at most Chunk bytes, messages pumped
    // before each, stopped once cancelled. A short read raises EReadError, or with StopAtEnd ends
    // the copy after what was read. Answers the bytes copied.
    std::int64_t CopyChunks(TStream* Source, std::int64_t Count, std::int32_t Chunk, bool StopAtEnd);
    void LowerRemaining(std::int64_t Count)
    {
        if (Remaining)
            *Remaining -= Count;
    }
};

class THandleStream32 : public TStream32 {
public:
    explicit THandleStream32(HANDLE AHandle) : FHandle(AHandle) {}

    HANDLE Handle() const { return FHandle; }
    bool HandleValid() const { return FHandle != INVALID_HANDLE_VALUE; }

    std::int64_t GetSize() override;
    void SetSize64(std::int64_t NewSize) override;
    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;
    // A place in the write-behind window (written out first when Count does not fit); null
    // without a window or for a Count as large as it. A write error raises EWriteError.
    std::uint8_t* PlaceForWrite(std::int32_t Count) override;
    void WroteInPlace(std::int32_t Count) override;

    // Back to plain reads: a file read once from start to end gains nothing from the window.
    void DisableReadAhead() { DropReadAhead(); }
    // Writes gather in a window and seeks, positions and sizes are kept here, so that thousands of
    // small entries and the header fixes behind them cost a write per window, not a seek and a
    // write per field. Only for a handle nobody else uses while it is open; FlushWrites before the
    // file is closed or handed on by name (a write error raises EWriteError there).
    void EnableWriteBehind(std::int32_t WindowSize = 262144);
    void FlushWrites();

protected:
    HANDLE FHandle;
    // Drops unwritten bytes: the file is given up.
    void DiscardWrites() { FBehind.reset(); }
    void StartReadAhead(std::int32_t WindowSize, std::int64_t At);

private:
    struct TReadAhead {
        std::unique_ptr<std::uint8_t[]> Bytes;
        std::size_t Length = 0;  // valid bytes of Bytes
        std::size_t Capacity = 0;
        std::int64_t Start = 0;      // file offset of Bytes[0]
        std::int64_t Position = 0;   // the stream's position, which the handle's may differ from
        std::int64_t HandleAt = -1;  // the handle's position as the last read left it; -1 unknown
    };
    struct TWriteBehind {
        std::unique_ptr<std::uint8_t[]> Bytes;
        std::size_t Length = 0;  // unwritten bytes of Bytes
        std::size_t Capacity = 0;
        std::int64_t Start = 0;     // file offset of Bytes[0]
        std::int64_t Position = 0;  // the stream's position
        std::int64_t Size = 0;      // the file's size with the unwritten bytes
    };
    std::unique_ptr<TReadAhead> FAhead;
    std::unique_ptr<TWriteBehind> FBehind;
    std::int32_t ReadAhead(void* Buffer, std::int32_t Count);
    std::int32_t ReadHandle(void* Buffer, std::int32_t Count);
    std::int32_t WriteHandle(const void* Buffer, std::int32_t Count);
    std::int32_t WriteBehind(const void* Buffer, std::int32_t Count);
    bool SeekHandle(std::int64_t Position);
    void DropReadAhead();
};

// Never raises on open: a file that cannot be opened or created leaves the handle invalid.
class TFileStream32 : public THandleStream32 {
public:
    // A file opened only for reading reads ahead in a window unless ReadAhead is false (a file
    // read once from start to end gains nothing from it).
    TFileStream32(const std::string& FileName, std::uint16_t Mode, bool ReadAhead = true);
    // Takes over a handle already open on FileName (closed with the stream).
    TFileStream32(HANDLE Opened, const std::string& FileName) : THandleStream32(Opened), FFileName(FileName) {}
    ~TFileStream32() override;
    TFileStream32(const TFileStream32&) = delete;
    TFileStream32& operator=(const TFileStream32&) = delete;

    const std::string& FileName() const { return FFileName; }

protected:
    void CloseFile();
    std::string FFileName;
};

// Memory block with 32-bit size and position; 64-bit requests outside that range raise
// ERangeError rather than wrap.
class TCustomMemoryStream32 : public TStream32 {
public:
    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override;
    std::int64_t GetSize() override { return FSize; }

    void* Memory() const { return FMemory; }

protected:
    void SetPointer(void* Ptr, std::int32_t Size)
    {
        FMemory = static_cast<std::uint8_t*>(Ptr);
        FSize = Size;
    }
    std::uint8_t* FMemory = nullptr;
    std::int32_t FSize = 0;
    std::int32_t FPosition = 0;
};

class TMemoryStream32 : public TCustomMemoryStream32 {
public:
    static constexpr std::int32_t kGrowStep = 8192;

    TMemoryStream32() = default;
    ~TMemoryStream32() override;
    TMemoryStream32(const TMemoryStream32&) = delete;
    TMemoryStream32& operator=(const TMemoryStream32&) = delete;

    void Clear();
    void SetSize64(std::int64_t NewSize) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    virtual void LoadFromStream(TStream* Source);
    virtual void LoadFromFile(const std::string& FileName);
    std::int32_t Capacity() const { return FCapacity; }

protected:
    // Answers the block for the capacity asked (rounded up to kGrowStep); 0 frees it.
    virtual void* Realloc(std::int32_t& NewCapacity);
    void SetCapacity(std::int32_t NewCapacity);
    std::int32_t FCapacity = 0;
};

// The archive's main comment, held in memory with where it came from.
class TMainCommentStream : public TMemoryStream32 {
public:
    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    void LoadFromStream(TStream*) override {}
    void LoadFromFile(const std::string&) override {}

    void LoadComment(const std::string& ArchiveName, TStream* Source, std::int64_t Count);
    // Copies the whole comment into Buffer (room for Size() bytes) and answers its Length.
    void GetComment(char* Buffer, std::uint16_t& Length);
    bool SetComment(const char* Text, std::uint16_t Length);
    bool CommentChanged(const char* Text, std::uint16_t Length);

    bool Modified = false;
    std::string ArchiveFile;
    std::int64_t CommentOffset = -1;  // -1 when no comment position is known
};

// Texts inside archive headers; each ends at its first NUL byte, and a short read gives what was
// there. ReadStringAt reads at most 256 bytes at Pos and moves Pos past the text and its NUL.
void ReadStringAt(TStream& Stream, std::int64_t& Pos, std::string& Text);
// Count bytes (at most 511) at the current position.
void ReadFixedString(TStream& Stream, std::int32_t Count, std::string& Text);
// Count bytes at Pos; Pos moves by Count whatever the text holds.
void ReadStringAtPos(TStream& Stream, std::int64_t& Pos, std::uint16_t Count, std::string& Text);
