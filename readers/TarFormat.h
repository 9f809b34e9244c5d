// TAR entries as real archivers write them, read and written in one layout.
//
// Reading takes every common form: old GNU (long names and link names in "L"/"K" records,
// base-256 numbers), POSIX ustar (the name prefix field), and pax ("x" records for one entry, "g"
// records for all later ones; path, linkpath, size, mtime, uid, gid, uname, gname). Names are kept
// whole and as stored ("/" separators, no code-page conversion); the extract driver decides whether
// one may be written (core/OutputNames.h) before anything is.
//
// Writing makes the old GNU form: an "L" record before a name over 100 bytes, octal numbers, and
// base-256 for a size of 8 GiB or more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteIO.h"
#include "core/TarHeader.h"

// Longest "L"/"K" name or pax record block accepted; anything longer is taken as corruption.
constexpr std::int64_t TarMaxMetaSize = 1 << 20;

enum class TTarReadStatus : std::uint8_t {
    Entry,     // one entry read
    End,       // end blocks, or the archive ends at a header boundary
    Corrupt,   // a header fails the checksum or holds impossible values
    Truncated  // the archive ends inside a header, a record or an entry's data
};

// One stretch of a sparse file's data: Size bytes at Offset of the file.
struct TTarSparseChunk {
    std::int64_t Offset = 0;
    std::int64_t Size = 0;
};

// A sparse member's data, as the four forms of GNU tar describe it: the old GNU type "S" (map in
// the header and its extension blocks) and the pax forms 0.0 (GNU.sparse.offset/numbytes
// records), 0.1 (GNU.sparse.map) and 1.0 (the map in front of the data).
struct TTarSparse {
    bool Valid = false;      // a map that is ordered, inside RealSize and adds up to the data
    bool MapInData = false;  // pax 1.0, while reading
    bool Broken = false;     // a map record that could not be read
    std::int64_t RealSize = 0;
    std::vector<TTarSparseChunk> Map;  // the stored data holds these stretches one after another
};

struct TTarEntry {
    std::string Name;      // whole name as stored, "/" separators; may be empty
    std::string LinkName;  // target of a symbolic or hard link
    char TypeFlag = '0';
    std::uint32_t Mode = 0;
    std::int64_t Size = 0;   // data bytes after the header (before padding)
    std::int64_t MTime = 0;  // Unix time, may be negative
    std::int64_t Uid = 0;
    std::int64_t Gid = 0;
    std::string UName;
    std::string GName;
    std::int64_t HeaderOffset = 0;  // first block of the entry, its "L"/"K"/"x" records included
    std::int64_t DataOffset = 0;
    std::int64_t NextOffset = 0;  // the following entry's first block
    std::uint32_t Checksum = 0;   // of the entry's own header
    bool Sparse = false;          // a sparse file: its stored data is compacted, see SparseData
    TTarSparse SparseData;

    // NUL, "0" and "7" (contiguous) hold file data; an old-style "0" whose name ends in "/" is a
    // directory. A sparse member is neither.
    bool IsDirectory() const;
    bool IsFile() const;
    bool IsSymlink() const { return TypeFlag == '2'; }
    bool IsHardLink() const { return TypeFlag == '1'; }
};

// Walks the entries of one archive. Every call moves forward; after End, Corrupt or Truncated
// the walk stays there.
class TTarReader {
public:
    // ArchiveSize bounds every offset; pass the real size of the archive.
    TTarReader(TReadAt Read, std::int64_t ArchiveSize);

    TTarReadStatus Next(TTarEntry& Entry);
    std::int64_t Offset() const { return FOffset; }
    // After End: whether an end block said so, rather than the archive's last byte.
    bool EndMarked() const { return FEndMarked; }

private:
    struct TPaxValues;
    TTarReadStatus ReadBlock(std::int64_t at, std::uint8_t* block) const;
    TTarReadStatus ReadMeta(std::int64_t at, std::int64_t size, std::string& text) const;
    TTarReadStatus Fail(TTarReadStatus status);
    TTarReadStatus ReadOldGnuSparse(const std::uint8_t* header, TTarEntry& entry, std::int64_t& data);
    void ReadSparseMapInData(TTarEntry& entry) const;

    TReadAt FRead;
    std::int64_t FArchiveSize;
    std::int64_t FOffset = 0;
    bool FFinished = false;
    bool FPaddingCut = false;  // the last entry's padding ran past the end
    bool FEndMarked = false;
    TTarReadStatus FLastStatus = TTarReadStatus::End;
    std::vector<std::pair<std::string, std::string>> FGlobals;  // pax "g" records in force
};

// Adds the pax records ("<len> <key>=<value>\n") to Values, a later record replacing an earlier
// one of the same key; false when a record is malformed. Of the keys, the reader uses path,
// linkpath, size, mtime, uid, gid, uname and gname.
bool ParsePaxRecords(const std::string& Records, std::vector<std::pair<std::string, std::string>>& Values);
// The same records in their order, a repeated key kept each time (the sparse 0.0 map repeats its keys).
bool ParsePaxRecordList(const std::string& Records, std::vector<std::pair<std::string, std::string>>& List);

// ---- writing ----

struct TTarWriteEntry {
    std::string Name;  // "/" separators, already in the stored code page; a directory may omit the final "/"
    bool Directory = false;
    std::int64_t Size = 0;   // 0 for a directory
    std::int64_t MTime = 0;  // Unix time; earlier than 1970 is stored as 0 unless KeepTimeBefore1970
    std::uint32_t Mode = 0;  // permission bits; none: 0644 for a file, 0755 for a folder
    std::uint32_t Uid = 2;
    std::uint32_t Gid = 2;
    std::string UName = "root";
    std::string GName = "root";
    bool KeepTimeBefore1970 = false;  // an old entry's own time, in base-256 (tar warns on extraction)
};

// The header blocks of one entry: for a name over 100 bytes an "L" record and the whole name
// padded to 512, then the entry's own header (the name's first 100 bytes).
std::vector<std::uint8_t> EncodeTarHeaders(const TTarWriteEntry& Entry);
// The same into Out (replacing what it held), whose buffer a writer keeps from entry to entry.
void EncodeTarHeaders(const TTarWriteEntry& Entry, std::vector<std::uint8_t>& Out);

// The leading blocks of Entry, an entry read from an archive, under NewName ("/" separators): its
// "L" record goes (a new one is made when the name needs it), its "x" record names it when it has
// one, and every other record and field stays. Out gets them; Rest is where the rest of the entry
// (a sparse map's blocks, the data) starts. False when the blocks cannot be read again.
bool RenameTarHeaders(const TReadAt& Read, const TTarEntry& Entry, const std::string& NewName,
                      std::vector<std::uint8_t>& Out, std::int64_t& Rest);

// Zero bytes that follow Size bytes of data to reach a block boundary.
std::int64_t TarDataPadding(std::int64_t Size);

// Zero bytes to append to an archive of Length bytes: two end blocks, then up to a multiple of
// 10240 bytes.
std::int64_t TarEndingSize(std::int64_t Length);
