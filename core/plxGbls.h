// File-name masks ("*", "?", "[set]", "[!set]") and the free helpers that the archive components
// share: paths and names, files and folders, attributes, dates, numbers, method texts and type sets.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Err_Msgs.h"
#include "core/plxConsts.h"
#include "platform/win/FileTypes.h"

// "'<mask>' is an invalid mask at (<position>)"; the position counts characters from 1.
class EInvalidMask : public win::Exception {
public:
    EInvalidMask(std::string_view mask, int position);
};

[[noreturn]] void InvalidMaskError(std::string_view Mask, int Position);

// A compiled mask. Letters compare without regard to case (Unicode case folding), and a name is
// matched character by character, not byte by byte.
class TInternalMask : public TObject {
public:
    static constexpr int MaxSkipToStates = 30;

    explicit TInternalMask(std::string_view Mask);  // raises EInvalidMask
    // A name without a dot matches as it is or, failing that, with a dot appended, so "*.*" and
    // "*." match it.
    bool Matches(std::string_view Name) const;
    bool EndsWithDot() const { return MaskEndsWithDot; }
    std::size_t StateCount() const { return States.size(); }

private:
    enum TKind : std::uint8_t { mkLiteral, mkAnyChar, mkSet };
    struct TRange {
        char32_t Low, High;  // case-folded
    };
    struct TState {
        bool SkipTo = false;  // one or more "*" stand before this state
        TKind Kind = mkLiteral;
        bool Negate = false;
        char32_t Literal = 0;   // case-folded
        std::uint32_t Set = 0;  // index into Sets
    };

    bool Fits(const TState& state, const std::u32string& name, std::size_t pos) const;
    bool MatchFolded(const std::u32string& name) const;
    std::size_t ParseSet(const std::u32string& mask, std::size_t pos, std::string_view text, TState& state);

    std::vector<TState> States;  // the last one matches the end of the name
    std::vector<std::vector<TRange>> Sets;
    bool MaskEndsWithDot = false;
    bool TakesAll = false;  // "*" alone: no name needs decoding to match
};

// One mask of a mask list; owns its compiled mask.
class TMultiMask : public TObject {
public:
    explicit TMultiMask(std::string_view Mask) : Compiled(std::make_unique<TInternalMask>(Mask)) {}
    TInternalMask& Mask() const { return *Compiled; }

private:
    std::unique_ptr<TInternalMask> Compiled;
};

// True for an empty mask; otherwise compiles Mask and matches Name.
bool MatchesMask(std::string_view Name, std::string_view Mask);

// Method text of deflate (bzip2 for ZIP methods 11 and 12) by the level bits of the ZIP flags.
std::string CompressMethodName(std::uint16_t Method, std::uint16_t Flags);

// Encryption method text; empty for emNone, "Unsupported" and "Unknown" otherwise.
std::string EncryptionMethodName(int Method);

// ---- Thin wrappers over the platform ----

bool FileCopy(const std::string& Source, const std::string& Target, bool FailIfExists);
std::string ChangeExt(const std::string& Name, const std::string& Ext);
int CompareNames(std::string_view A, std::string_view B);    // without case; 0 when equal
int CompareStrWrap(std::string_view A, std::string_view B);  // with case
bool MakeDir(const std::string& Dir);
bool FileDelete(const std::string& Name);
bool DirRemove(const std::string& Dir);
bool MoveFileWin(const std::string& Source, const std::string& Target);
std::string ExpandName(std::string_view Name);
std::string ExtractDir(std::string_view Name);
std::string ExtractExt(std::string_view Name);
std::string ExtractName(std::string_view Name);
std::string ExtractPath(std::string_view Name);
std::string ExtractDrive(std::string_view Name);
unsigned GetDriveKind(const std::string& Root);
std::string GetFullPath(std::string_view Name);  // empty when malformed
DWORD GetFileAttr(const std::string& Name);
bool SetFileAttr(const std::string& Name, DWORD Attr);
std::string GetCurDir();
bool ChangeDirOfFile(const std::string& FileName);
// The application's input dialog (core/plxHooks.h); False when cancelled.
bool InputQueryText(const std::string& Caption, const std::string& Prompt, std::string& Value);
// The folder dialog; the chosen folder becomes the current folder. False when cancelled or when the
// choice cannot be made current (Dir then stays as it was).
bool BrowseForDir(const std::string& Caption, std::string& Dir);
char LastChar(std::string_view Text);  // the last byte; #0 for an empty text
std::string UpCaseAscii(std::string_view Text);

// ---- Path and name rules (Windows form, "\" separators) ----

std::string AppendBackslash(std::string_view Path);
std::string RemoveBackslash(std::string_view Path);
std::string JoinPath(std::string_view Dir, std::string_view Name);
// The same into Out, whose buffer a caller joining one path per file keeps.
void JoinPathInto(std::string& Out, std::string_view Dir, std::string_view Name);
bool IsUncPath(std::string_view Path);
std::string ToUnixSeparators(std::string_view Path);
std::string ToDosSeparators(std::string_view Path);
// "/" and a stray 0xFF byte (an 8-bit separator) become "\"; blanks and control characters are
// trimmed from both ends. Names are UTF-8, whose multi-byte sequences never hold "/".
std::string NormalizeEntryPath(std::string_view Name);
std::string QuoteIfSpaced(std::string_view Path);
std::string TrimPathComponents(std::string_view Path);
void SplitAtSeparator(std::string& Text, std::string_view Separator, std::string& Head);
void SplitDelimited(std::string_view Text, std::vector<std::string>& List);  // "," and ";"
void SplitQuotedList(std::string_view Text, std::vector<std::string>& List);
// Copies up to CR, LF, NUL, '"' or End, at most 255 bytes. Pos becomes End unless the limit was hit.
void ReadTokenFromBuffer(const char* Buffer, std::size_t End, std::size_t& Pos, std::string& Token);
bool FolderMatchesSpec(std::string_view Path, std::string_view MaskPath, std::string& Matched, bool KeepPartial);

// ---- Files and folders ----

bool DirExists(const std::string& Path);
bool IsFile(const std::string& Path);
bool FileExistsAttr(const std::string& Path, DWORD& Attr);
bool IsPlainFile(const std::string& Path);
bool CreateDirPath(const std::string& Dir);
bool ForceDirs(const std::string& Dir);  // raises win::Exception (E_CANNOTCREATEDIR) for an empty name
bool DeleteFileEx(const std::string& Path, TDeleteOptions Mode);
bool DeleteFilesInDir(const std::string& Dir, std::string_view Mask);
bool DeleteDirFiles(const std::string& Dir);
// Links inside the tree are removed as links; what they point at is never touched.
bool DeleteDirTree(const std::string& Dir);
void RemoveEmptyDirs(const std::string& Dir);
bool IsDirTreeEmpty(const std::string& Dir);
bool IsDirWritable(const std::string& Dir);
std::string MakeTempFileName(const std::string& Dir);  // empty on failure
std::string GetTempDir();
std::string GetShortName(const std::string& Path);
std::string GetDisplayPath(const std::string& Path);  // raises win::EConvertError when malformed

// ---- Attributes ----

DWORD AttributeSetToWin(TplxFileAttributes Set);
DWORD FilterFileAttr(DWORD Attr);

// ---- Dates and times ----

std::uint32_t FileTimeToDosTime(const FILETIME& FileTime);  // local time, date in the high word
std::uint32_t SwapWords(std::uint32_t Value);
bool CheckedEncodeDate(int Year, int Month, int Day, TDateTime& Date);
TDateTime SafeEncodeDate(int Year, int Month, int Day);  // 1980-01-01 00:01 when invalid
// 0 reads as 1980-01-01 00:01:00. Fields out of range are clamped (hour 23, minute 59, second
// 58), never raised: one bad stamp must not end a listing.
TDateTime DosDateTimeToDateTime(std::uint32_t Dos);
bool IsLeapYearW(int Year);
TDateTime IncMonthEx(TDateTime Date, int Months);
// The zone's rules are read once; tests that change TZ read them again.
void ReloadTimeZoneInformation();
bool IsDaylightTime(TDateTime Date);
TDateTime LocalToUtc(TDateTime Date);
TDateTime UtcToLocal(TDateTime Date);
// Seconds since 1970-01-01 UTC; 64-bit, negative before 1970.
std::int64_t DateTimeToUnix(TDateTime Date);
// 0 gives 1980-01-01 00:01. Callers pass 32-bit fields zero-extended when the format stores them
// unsigned, so stamps after 2038 read right.
TDateTime UnixToDateTime(std::int64_t Seconds);

// ---- Numbers ----

// Octal digits after leading blanks, up to the first NUL or blank; other characters are skipped.
// A value beyond 64 bits gives UINT64_MAX and sets *Overflow.
std::uint64_t OctalToInt(std::string_view Text, bool* Overflow = nullptr);
// Field[0..Width) := Pad, last byte NUL (NulEnd) or blank, digits right-aligned before it.
// False, with the field left padded, when the value has more digits than fit.
bool IntToOctalField(std::uint64_t Value, int Width, bool NulEnd, char Pad, char* Field);
int Percent32(std::int32_t Part, std::int32_t Total);
int Percent64(std::int64_t Part, std::int64_t Total);
int RatioPercent64(std::int64_t Unpacked, std::int64_t Packed);
int RatioPercentFloat(double Unpacked, double Packed);

// ---- Archive types, volumes, extensions, magic numbers ----

bool IsArchiveType(TArcType t);
bool IsZipOrJarType(TArcType t);
bool IsZipFamilyType(TArcType t);
bool IsZipCipherType(TArcType t);
bool IsEncryptableType(TArcType t);
bool IsWritableType(TArcType t);
bool IsTestableType(TArcType t);
bool IsCheckableType(TArcType t);

// Raises win::EConvertError for a digit run that does not fit an int.
void NextVolumeName(std::string_view Name, TArcType ArcType, char& Letter, int& Number);
void LoadArchiveExtensions(std::vector<std::string>& List);
bool IsAltEndRecordSig(std::uint32_t Value);
bool IsBZip2Header(const std::uint8_t* Buffer);  // 10 bytes
bool IsCompressedStreamMagic(std::uint16_t Word);
bool IsHeaderStateEmpty(THeaderTypeState State);
int ClampZipCmntBufSize(int Value);  // 2000 to 32767
constexpr std::uint16_t ZeroHeaderExtra(std::uint16_t)
{
    return 0;
}
