// The listing's walkers: each archive format walks its own headers with its own state behind one
// small interface, and the listing picks the walker from a table by archive type. The listing owns
// the cursor over the archive and turns what a walker decodes into the current-entry fields.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/ArcType.h"
#include "core/ByteIO.h"
#include "core/Err_Msgs.h"
#include "core/MethodName.h"

class TPelix;
class TFileStream32;

// One decoded header, as the fill step turns it into the current-entry fields.
struct TPelixEntry {
    std::string Name;  // program form: UTF-8, "\" separators
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
    std::int64_t Offset = 0;  // the reported header offset
    std::string VolumeName;   // empty: unchanged
};

// The listing as a walker sees it: bounded reads of the archive, the fixed header of the current
// turn, the cursor, and the sinks that list an entry or report a damaged archive.
class TPelixWalk {
public:
    explicit TPelixWalk(TPelix& Pelix) : FPelix(Pelix) {}

    // The component: its archive, options, events and counters.
    TPelix& Pelix() const { return FPelix; }

    // --- the cursor ---
    std::int64_t Offset() const;
    void MoveTo(std::int64_t Offset);
    // Where the current turn's header starts.
    std::int64_t TurnStart() const;
    // The bytes read at the start of every turn; 0 leaves nothing to walk.
    void SetHeaderSize(std::int32_t Size);
    // Headers end here, before the end of the archive.
    std::int64_t EndOfHeaders() const;
    void SetEndOfHeaders(std::int64_t Offset);
    void End();
    // This turn's header was no entry: the entry index stays.
    void NotAnEntry();

    // --- the fixed header of this turn (zero past what was read) ---
    std::uint8_t B(std::size_t At) const;
    std::uint16_t W(std::size_t At) const;
    std::uint32_t L(std::size_t At) const;
    // A name field of at most Max bytes, cut at its first zero byte.
    std::string Text(std::size_t At, std::size_t Max) const;

    // --- bounded reads of the archive ---
    std::int64_t ReadAt(std::int64_t Pos, void* Buffer, std::int64_t Count) const;
    TReadAt Reader() const;
    // A zero-terminated string of at most Max bytes from Pos; Pos moves past its terminator.
    std::string ReadStringAt(std::int64_t& Pos, std::size_t Max) const;
    // Length bytes from Pos (fewer at the end of the archive); Pos moves past them.
    std::string ReadStringAtPos(std::int64_t& Pos, std::size_t Length) const;
    // The current entry's comment (or the archive's while the walk reads it).
    void ReadComment(std::int64_t Pos, std::int64_t Length);
    void SetComment(std::string Text);

    // --- the archive stream ---
    TFileStream32* Stream() const;
    void CloseStream();
    // The next volume of a set: offsets start again in it.
    void SwitchStream(std::unique_ptr<TFileStream32> Stream);
    void SetArcType(TArcType Type);

    // --- the listing ---
    // Name conversion, selection, counting, totals and the fill step of one header.
    void List(TPelixEntry& Entry);
    // The one entry of a single-member file, listed whatever the file specification.
    void ListWhole(TPelixEntry& Entry);
    // The archive's headers are damaged.
    void Fail(int Error);
    // A stored OEM name in the program's form.
    std::string OemName(std::string_view Stored) const;
    TDateTime ArchiveFileDate() const;
    std::uint32_t ArchiveFileAttributes() const;

private:
    TPelix& FPelix;
};

class TPelixWalker {
public:
    virtual ~TPelixWalker() = default;
    // Places the cursor on the first header and sets the header size; a walker that lists the
    // whole archive at once does it here and leaves the header size at 0.
    virtual void Open(TPelixWalk& Walk) = 0;
    // One turn: the header at Walk.TurnStart(). Moves the cursor on, or ends the walk.
    virtual void Next(TPelixWalk& Walk) { Walk.End(); }
    // The walk reached the end of the archive, or bytes too few for the next fixed header, with
    // no end of its own: a format that can tell reports an archive cut short.
    virtual void CutShort(TPelixWalk&) {}
};

// The answer of a format's header reader: true for a header; its end marker ends the walk, and
// bytes that are no header are reported as a damaged header first.
inline bool HeaderFollows(TPelixWalk& Walk, THeaderStatus Status)
{
    if (Status == THeaderStatus::Header)
        return true;
    if (Status == THeaderStatus::Corrupt)
        Walk.Fail(E_BADFILEHEADER);
    Walk.End();
    return false;
}

// The walker of an archive type; null for a type that has none.
std::unique_ptr<TPelixWalker> MakePelixWalker(TArcType Type);

// The name a compressed file's member had: Name less an extension of Dropped, or with ".tar" for
// one of ToTar (any case); Name itself otherwise.
std::string PelixMemberName(const std::string& Name, std::initializer_list<const char*> Dropped,
                            std::initializer_list<const char*> ToTar);
