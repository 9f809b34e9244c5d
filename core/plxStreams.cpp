#include "core/plxStreams.h"

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "platform/win/Files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

EOSError::EOSError(DWORD code) : win::Exception("System Error.  Code: " + std::to_string(code) + "."), ErrorCode(code)
{}

// TStream

std::int64_t TStream::GetSize()
{
    const std::int64_t pos = Seek64(0, soCurrent);
    const std::int64_t size = Seek64(0, soEnd);
    Seek64(pos, soBeginning);
    return size;
}

std::int32_t TStream::Seek(std::int32_t Offset, std::uint16_t Origin)
{
    if (Origin > soEnd)
        return -1;
    const std::int64_t pos = Seek64(Offset, TSeekOrigin(Origin));
    return pos > std::numeric_limits<std::int32_t>::max() ? -1 : std::int32_t(pos);
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count)
{
    if (Count != 0 && Read(Buffer, Count) != Count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count)
{
    if (Count != 0 && Write(Buffer, Count) != Count)
        throw EWriteError("Stream write error");
}

// TStream32

void TStream32::DoProgress(std::int64_t Done, std::int64_t Total)
{
    if (OnProgress)
        OnProgress(this, Done, Total);
}

std::int64_t TStream32::CopyFrom(TStream* Source, std::int64_t Count)
{
    return CopyChunks(Source, Count, kCopyChunk, false);
}

std::int64_t TStream32::CopyChunks(TStream* Source, std::int64_t Count, std::int32_t Chunk, bool StopAtEnd)
{
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (Count <= 0)
        return 0;
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::int64_t>(Count, Chunk)));
    std::int64_t total = 0;
    while (Count > 0 && !Cancelled()) {
        ProcessMessages();
        if (Cancelled())
            break;
        const std::int32_t want = std::int32_t(std::min<std::int64_t>(Count, std::int64_t(buffer.size())));
        std::int32_t got = want;
        if (!StopAtEnd)
            Source->ReadBuffer(buffer.data(), want);
        else if ((got = Source->Read(buffer.data(), want)) <= 0)
            break;
        WriteBuffer(buffer.data(), got);
        Count -= got;
        total += got;
    }
    return total;
}

// THandleStream32

std::int64_t THandleStream32::GetSize()
{
    if (FBehind)
        return FBehind->Size;
    LARGE_INTEGER size{};
    if (!HandleValid() || !GetFileSizeEx(FHandle, &size))
        return 0;
    return size.QuadPart;
}

void THandleStream32::SetSize64(std::int64_t NewSize)
{
    DropReadAhead();
    FlushWrites();
    if (FBehind) {
        if (NewSize < 0 || !SeekHandle(NewSize) || !SetEndOfFile(FHandle))
            throw EOSError(GetLastError());
        FBehind->Start = FBehind->Position = FBehind->Size = NewSize;
        return;
    }
    if (Seek64(NewSize, soBeginning) != NewSize || !SetEndOfFile(FHandle))
        throw EOSError(GetLastError());
}

std::int32_t THandleStream32::Read(void* Buffer, std::int32_t Count)
{
    if (Count <= 0)
        return 0;
    // Bytes the read-ahead holds, with nobody told of reads: the readers of headers and small
    // members ask for these twice a member.
    if (FAhead && !OnReadProgress) {
        TReadAhead& a = *FAhead;
        const std::int64_t offset = a.Position - a.Start;
        if (offset >= 0 && offset + Count <= std::int64_t(a.Length)) {
            std::memcpy(Buffer, a.Bytes.get() + offset, std::size_t(Count));
            a.Position += Count;
            return Count;
        }
    }
    if (OnReadProgress) {
        LowerRemaining(Count);
    }
    std::int32_t got = 0;
    if (FAhead) {
        got = ReadAhead(Buffer, Count);
    } else if (FBehind) {
        FlushWrites();
        if (SeekHandle(FBehind->Position))
            got = ReadHandle(Buffer, Count);
        FBehind->Position += got;
        FBehind->Start = FBehind->Position;
    } else {
        got = ReadHandle(Buffer, Count);
    }
    if (OnReadProgress)
        OnReadProgress(this, Position(), GetSize());
    return got;
}

std::int32_t THandleStream32::ReadHandle(void* Buffer, std::int32_t Count)
{
    DWORD got = 0;
    if (!HandleValid() || !ReadFile(FHandle, Buffer, DWORD(Count), &got, nullptr))
        got = 0;
    return std::int32_t(got);
}

bool THandleStream32::SeekHandle(std::int64_t Position)
{
    LARGE_INTEGER distance{};
    distance.QuadPart = Position;
    return HandleValid() && SetFilePointerEx(FHandle, distance, nullptr, FILE_BEGIN);
}

void THandleStream32::StartReadAhead(std::int32_t WindowSize, std::int64_t At)
{
    FBehind.reset();
    FAhead = std::make_unique<TReadAhead>();
    FAhead->Capacity = std::size_t(WindowSize);
    FAhead->Start = FAhead->Position = std::max<std::int64_t>(At, 0);
    FAhead->HandleAt = At;
}

// Puts the handle where the stream is and forgets the window (before a write or a resize).
void THandleStream32::DropReadAhead()
{
    if (!FAhead)
        return;
    const std::int64_t at = FAhead->Position;
    const bool moved = FAhead->HandleAt != at;
    FAhead.reset();
    if (moved)
        Seek64(at, soBeginning);
}

std::int32_t THandleStream32::ReadAhead(void* Buffer, std::int32_t Count)
{
    TReadAhead& a = *FAhead;
    auto* out = static_cast<std::uint8_t*>(Buffer);
    std::int32_t done = 0;
    while (done < Count) {
        const std::int64_t offset = a.Position - a.Start;
        if (offset >= 0 && offset < std::int64_t(a.Length)) {
            const auto n = std::int32_t(std::min<std::int64_t>(Count - done, std::int64_t(a.Length) - offset));
            std::memcpy(out + done, a.Bytes.get() + offset, std::size_t(n));
            done += n;
            a.Position += n;
            continue;
        }
        if (a.HandleAt != a.Position) {
            a.HandleAt = -1;
            if (!SeekHandle(a.Position))
                break;
            a.HandleAt = a.Position;
        }
        const std::int32_t rest = Count - done;
        if (std::size_t(rest) >= a.Capacity) {  // big reads go straight to the caller
            const std::int32_t got = ReadHandle(out + done, rest);
            a.Position += got;
            a.HandleAt = a.Position;
            done += got;
            break;
        }
        if (!a.Bytes)
            a.Bytes.reset(new std::uint8_t[a.Capacity]);  // no clearing: only what is read is used
        a.Start = a.Position;
        const std::int32_t got = ReadHandle(a.Bytes.get(), std::int32_t(a.Capacity));
        a.Length = std::size_t(got);
        a.HandleAt = a.Start + got;
        if (got == 0)
            break;
    }
    return done;
}

void THandleStream32::EnableWriteBehind(std::int32_t WindowSize)
{
    if (!HandleValid() || WindowSize <= 0 || FBehind)
        return;
    DropReadAhead();
    const std::int64_t at = Seek64(0, soCurrent);
    const std::int64_t size = GetSize();
    if (at < 0)
        return;
    FBehind = std::make_unique<TWriteBehind>();
    FBehind->Bytes.reset(new std::uint8_t[std::size_t(WindowSize)]);
    FBehind->Capacity = std::size_t(WindowSize);
    FBehind->Start = FBehind->Position = at;
    FBehind->Size = std::max(size, at);
}

void THandleStream32::FlushWrites()
{
    if (!FBehind || FBehind->Length == 0)
        return;
    TWriteBehind& w = *FBehind;
    const auto length = std::int32_t(w.Length);
    w.Length = 0;  // written or lost: a failure ends the operation either way
    if (!SeekHandle(w.Start) || WriteHandle(w.Bytes.get(), length) != length)
        throw EWriteError("Stream write error");
    w.Start = w.Position;
}

std::int32_t THandleStream32::WriteHandle(const void* Buffer, std::int32_t Count)
{
    DWORD put = 0;
    if (!WriteFile(FHandle, Buffer, DWORD(Count), &put, nullptr))
        return 0;
    return std::int32_t(put);
}

std::int32_t THandleStream32::WriteBehind(const void* Buffer, std::int32_t Count)
{
    TWriteBehind& w = *FBehind;
    const std::int64_t offset = w.Position - w.Start;
    const bool joins = offset >= 0 && offset <= std::int64_t(w.Length);
    if (!joins || offset + Count > std::int64_t(w.Capacity)) {
        try {
            FlushWrites();
        } catch (const EWriteError&) {
            return 0;
        }
        w.Start = w.Position;
    }
    std::int32_t put = Count;
    if (std::size_t(Count) >= w.Capacity) {  // big writes go straight to the file
        put = SeekHandle(w.Position) ? WriteHandle(Buffer, Count) : 0;
        w.Start = w.Position + put;
    } else {
        const std::size_t at = std::size_t(w.Position - w.Start);
        std::memcpy(w.Bytes.get() + at, Buffer, std::size_t(Count));
        w.Length = std::max(w.Length, at + std::size_t(Count));
    }
    w.Position += put;
    w.Size = std::max(w.Size, w.Position);
    return put;
}

std::uint8_t* THandleStream32::PlaceForWrite(std::int32_t Count)
{
    DropReadAhead();
    if (!FBehind || Count <= 0 || std::size_t(Count) >= FBehind->Capacity)
        return nullptr;
    TWriteBehind& w = *FBehind;
    const std::int64_t offset = w.Position - w.Start;
    if (offset < 0 || offset > std::int64_t(w.Length) || offset + Count > std::int64_t(w.Capacity)) {
        FlushWrites();
        w.Start = w.Position;
    }
    return w.Bytes.get() + (w.Position - w.Start);
}

void THandleStream32::WroteInPlace(std::int32_t Count)
{
    if (!FBehind || Count <= 0)
        return;
    TWriteBehind& w = *FBehind;
    const std::size_t at = std::size_t(w.Position - w.Start);
    w.Length = std::max(w.Length, at + std::size_t(Count));
    w.Position += Count;
    w.Size = std::max(w.Size, w.Position);
}

std::int32_t THandleStream32::Write(const void* Buffer, std::int32_t Count)
{
    DropReadAhead();
    if (Count <= 0 || !HandleValid())
        return 0;
    if (FBehind)
        return WriteBehind(Buffer, Count);
    return WriteHandle(Buffer, Count);
}

std::int32_t THandleStream32::Seek(std::int32_t Offset, std::uint16_t Origin)
{
    if (FAhead || FBehind) {
        if (Origin > soEnd)
            return -1;
        const std::int64_t pos = Seek64(Offset, TSeekOrigin(Origin));
        return pos < 0 || pos > 0x7FFFFFFF ? -1 : std::int32_t(pos);
    }
    if (!HandleValid())
        return -1;
    const DWORD pos = SetFilePointer(FHandle, Offset, nullptr, Origin);
    return pos == INVALID_SET_FILE_POINTER ? -1 : std::int32_t(pos);
}

std::int64_t THandleStream32::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    if (FBehind) {
        std::int64_t base = 0;
        switch (Origin) {
        case soBeginning:
            base = 0;
            break;
        case soCurrent:
            base = FBehind->Position;
            break;
        case soEnd:
            base = FBehind->Size;
            break;
        default:
            return -1;
        }
        const std::int64_t pos = base + Offset;
        if (pos < 0)
            return -1;
        return FBehind->Position = pos;
    }
    if (FAhead && Origin != soEnd) {
        const std::int64_t pos = Origin == soBeginning ? Offset : FAhead->Position + Offset;
        if (pos < 0)
            return -1;
        return FAhead->Position = pos;
    }
    LARGE_INTEGER distance{};
    LARGE_INTEGER pos{};
    distance.QuadPart = Offset;
    if (!HandleValid() || !SetFilePointerEx(FHandle, distance, &pos, Origin))
        return -1;
    if (FAhead)
        FAhead->Position = FAhead->HandleAt = pos.QuadPart;
    return pos.QuadPart;
}

// TFileStream32

namespace {

DWORD AccessOf(std::uint16_t mode)
{
    switch (mode & 3) {
    case fmOpenRead:
        return GENERIC_READ;
    case fmOpenWrite:
        return GENERIC_WRITE;
    default:
        return GENERIC_READ | GENERIC_WRITE;
    }
}

DWORD SharingOf(std::uint16_t mode)
{
    switch ((mode & 0xF0) >> 4) {
    case 2:
        return FILE_SHARE_READ;
    case 3:
        return FILE_SHARE_WRITE;
    case 4:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
        return 0;
    }
}

}  // namespace

TFileStream32::TFileStream32(const std::string& FileName, std::uint16_t Mode, bool ReadAhead)
    : THandleStream32(INVALID_HANDLE_VALUE), FFileName(FileName)
{
    if (Mode == fmCreate)
        FHandle = CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    else
        FHandle = CreateFileA(FileName.c_str(), AccessOf(Mode), SharingOf(Mode), nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ReadAhead && Mode != fmCreate && AccessOf(Mode) == GENERIC_READ && HandleValid())
        StartReadAhead(65536, 0);  // a new handle stands at the start
}

TFileStream32::~TFileStream32()
{
    CloseFile();
}

void TFileStream32::CloseFile()
{
    try {
        FlushWrites();
    } catch (const EWriteError&) {
        // Whoever needs the file whole flushes first and hears of the failure there.
    }
    DiscardWrites();
    if (HandleValid())
        CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
}

// TCustomMemoryStream32

std::int32_t TCustomMemoryStream32::Read(void* Buffer, std::int32_t Count)
{
    if (FPosition < 0 || Count <= 0 || FPosition >= FSize)
        return 0;
    const std::int32_t n = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FMemory + FPosition, std::size_t(n));
    FPosition += n;
    return n;
}

std::int64_t TCustomMemoryStream32::Seek64(std::int64_t Offset, TSeekOrigin Origin)
{
    std::int64_t base = 0;
    switch (Origin) {
    case soBeginning:
        base = 0;
        break;
    case soCurrent:
        base = FPosition;
        break;
    case soEnd:
        base = FSize;
        break;
    default:
        return -1;
    }
    // A 64-bit request must not wrap into some unrelated 32-bit position.
    if (Offset > std::numeric_limits<std::int32_t>::max() || Offset < std::numeric_limits<std::int32_t>::min())
        throw ERangeError();
    const std::int64_t pos = base + Offset;
    if (pos > std::numeric_limits<std::int32_t>::max())
        throw ERangeError();
    FPosition = std::int32_t(std::max<std::int64_t>(pos, std::numeric_limits<std::int32_t>::min()));
    return FPosition;
}

// TMemoryStream32

TMemoryStream32::~TMemoryStream32()
{
    // The own release, named: a derived Realloc is gone by now.
    std::int32_t none = 0;
    FMemory = static_cast<std::uint8_t*>(TMemoryStream32::Realloc(none));
}

void TMemoryStream32::Clear()
{
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void* TMemoryStream32::Realloc(std::int32_t& NewCapacity)
{
    if (NewCapacity > 0 && NewCapacity != FSize) {
        const std::int64_t rounded = (std::int64_t(NewCapacity) + kGrowStep - 1) / kGrowStep * kGrowStep;
        NewCapacity = std::int32_t(std::min<std::int64_t>(rounded, std::numeric_limits<std::int32_t>::max()));
    }
    if (NewCapacity == FCapacity)
        return FMemory;
    if (NewCapacity <= 0) {
        std::free(FMemory);
        NewCapacity = 0;
        return nullptr;
    }
    void* block = std::realloc(FMemory, std::size_t(NewCapacity));
    if (!block)
        throw EStreamError(std::string(LoadMessage(E_OUTOFMEMORYSTREAM)));
    return block;
}

void TMemoryStream32::SetCapacity(std::int32_t NewCapacity)
{
    FMemory = static_cast<std::uint8_t*>(Realloc(NewCapacity));
    FCapacity = NewCapacity;
}

void TMemoryStream32::SetSize64(std::int64_t NewSize)
{
    if (NewSize < 0 || NewSize > std::numeric_limits<std::int32_t>::max())
        throw ERangeError();
    const std::int32_t oldPosition = FPosition;
    SetCapacity(std::int32_t(NewSize));
    FSize = std::int32_t(NewSize);
    if (oldPosition > FSize)
        FPosition = FSize;
}

std::int32_t TMemoryStream32::Write(const void* Buffer, std::int32_t Count)
{
    if (FPosition < 0 || Count <= 0)
        return 0;
    const std::int64_t end = std::int64_t(FPosition) + Count;
    if (end > std::numeric_limits<std::int32_t>::max())
        return 0;
    if (end > FSize) {
        if (end > FCapacity)
            SetCapacity(std::int32_t(end));
        if (FPosition > FSize)  // a gap left by seeking past the end reads as zeros
            std::memset(FMemory + FSize, 0, std::size_t(FPosition - FSize));
        FSize = std::int32_t(end);
    }
    std::memcpy(FMemory + FPosition, Buffer, std::size_t(Count));
    FPosition = std::int32_t(end);
    return Count;
}

void TMemoryStream32::LoadFromStream(TStream* Source)
{
    Source->SetPosition(0);
    const std::int64_t size = Source->Size();
    SetSize64(size);
    if (size != 0)
        Source->ReadBuffer(FMemory, std::int32_t(size));
}

void TMemoryStream32::LoadFromFile(const std::string& FileName)
{
    TFileStream32 file(FileName, fmOpenRead | fmShareDenyWrite);
    if (file.HandleValid())
        LoadFromStream(&file);
}

// TMainCommentStream

std::int32_t TMainCommentStream::Read(void* Buffer, std::int32_t)
{
    FPosition = 0;
    const std::int32_t n = TMemoryStream32::Read(Buffer, FSize);
    FPosition = 0;
    return n;
}

std::int32_t TMainCommentStream::Write(const void* Buffer, std::int32_t Count)
{
    const std::int32_t n = TMemoryStream32::Write(Buffer, Count);
    if (n > 0)
        Modified = true;
    return n;
}

void TMainCommentStream::LoadComment(const std::string& ArchiveName, TStream* Source, std::int64_t Count)
{
    SetSize64(0);
    ArchiveFile = ArchiveName;
    CommentOffset = Source->Position();
    if (Count > 0)
        CopyFrom(Source, Count);
    Modified = false;
    FPosition = 0;
}

void TMainCommentStream::GetComment(char* Buffer, std::uint16_t& Length)
{
    Length = 0;
    if (FSize > 0) {
        std::memcpy(Buffer, FMemory, std::size_t(FSize));
        Length = std::uint16_t(std::min<std::int32_t>(FSize, 0xFFFF));
    }
    FPosition = 0;
}

bool TMainCommentStream::CommentChanged(const char* Text, std::uint16_t Length)
{
    if (FSize != Length)
        return true;
    return Length != 0 && std::memcmp(FMemory, Text, Length) != 0;
}

bool TMainCommentStream::SetComment(const char* Text, std::uint16_t Length)
{
    if (!Text)
        return false;
    if (!Modified && !CommentChanged(Text, Length))
        return false;
    SetSize64(0);
    bool done = true;
    if (Length == 0) {
        // Cut only where a comment was actually read from; without that offset a cut would
        // destroy the archive.
        if (CommentOffset >= 0 && !ArchiveFile.empty()) {
            TFileStream32 archive(ArchiveFile, fmOpenReadWrite | fmShareDenyNone);
            done = archive.HandleValid();
            if (done) {
                try {
                    archive.SetSize64(CommentOffset);
                } catch (const EOSError&) {
                    done = false;
                }
            }
        }
    } else {
        done = Write(Text, Length) == Length;
    }
    FPosition = 0;
    return done;
}

// Header texts

namespace {

void ReadText(TStream& Stream, std::int32_t Count, std::string& Text)
{
    std::vector<char> buffer(std::size_t(std::max<std::int32_t>(Count, 0)));
    const std::int32_t got = Count > 0 ? Stream.Read(buffer.data(), Count) : 0;
    const auto end = buffer.begin() + (got > 0 ? std::min(got, Count) : 0);
    Text.assign(buffer.begin(), std::find(buffer.begin(), end, '\0'));
}

}  // namespace

void ReadStringAt(TStream& Stream, std::int64_t& Pos, std::string& Text)
{
    Stream.Seek64(Pos, soBeginning);
    ReadText(Stream, 256, Text);
    Pos += std::int64_t(Text.size()) + 1;
}

void ReadFixedString(TStream& Stream, std::int32_t Count, std::string& Text)
{
    ReadText(Stream, std::min<std::int32_t>(Count, 511), Text);
}

void ReadStringAtPos(TStream& Stream, std::int64_t& Pos, std::uint16_t Count, std::string& Text)
{
    Stream.Seek64(Pos, soBeginning);
    ReadText(Stream, Count, Text);
    Pos += Count;
}
