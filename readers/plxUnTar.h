// The TAR extractor, and the step through which the GZip and bzip2 extractors extract a TAR they
// have just decompressed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/TarFormat.h"

// Files, folders, hard links (as copies of the member they name) and sparse files are
// extracted; the listing shows the same entries, so that what is listed is what comes out.
// Symbolic links, devices and the rest are passed over with a report.
bool TarEntryExtracted(const TTarEntry& Entry);

// A stored name as the program shows it: UTF-8 as written on this kind of system, otherwise read
// in the OEM code page.
std::string StoredNameToUtf8(const std::string& Stored);

// The one name of a TAR entry for listing and extraction: the whole name the reader put together
// (pax path, ustar prefix, GNU long name), in the program's form, "." parts dropped ("./x" is
// "x"). Empty for the archive's own folder (".", "./").
std::string TarEntryName(const TTarEntry& Entry);

class TUnTar : public TUnBase {
public:
    explicit TUnTar(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

    // Converted names of the selected entries, in archive order (for the run only).
    std::vector<std::string> NameList;

private:
    enum class TKind : std::uint8_t { File, Directory, Sparse, PassedOver, MissingLink, BadSparse };
    struct TMember {
        std::string Name;  // converted, "/" separators
        TKind Kind = TKind::File;
        std::string Note;  // what a passed-over entry is; the target a hard link misses
        std::string LinkTarget;  // a hard link: the name of the member it names
        std::int64_t Size = 0;  // of the file written
        std::int64_t DataOffset = 0;
        std::int64_t MTime = 0;
        // A sparse file's stretches, stored one after another; shared by the links to it.
        std::shared_ptr<const std::vector<TTarSparseChunk>> Chunks;
    };
    // Where an earlier file's data lies, for the hard links that name it.
    struct TLinkTarget {
        std::int64_t Size = 0;
        std::int64_t DataOffset = 0;
        std::int64_t MTime = 0;
        std::shared_ptr<const std::vector<TTarSparseChunk>> Chunks;
        bool Sparse = false;
    };

    void CollectEntries(TStream32& Archive);
    TMember MemberOf(const TTarEntry& Entry, const std::string& Name,
                     std::map<std::string, TLinkTarget>& Files) const;
    void ExtractMember(TStream32& Archive, const TMember& Member);
    bool CopyData(TStream32& Archive, TStream32* Out, const TMember& Member);
    // Count zero bytes of a sparse file: a hole in a file, nothing in a test, zeros elsewhere.
    bool SkipHole(TStream32* Out, std::int64_t Count);
    void FailEntry(int ECode);
    // A hard link to a file this run wrote becomes one on disk too; false: copy the data instead.
    bool LinkToWritten(const std::string& Existing);

    std::vector<TMember> FMembers;
    std::map<std::string, std::string> FWritten;  // member name -> the file this run wrote for it
};

// Extracts (operation 0 or 10) or tests (6 or 7) the TAR in TarFile for Caller, whose selection,
// folders, overwrite rules, events and cancel flag it takes; OnEnd is fired per TAR entry. The
// file is first renamed to a name of its own with "~" appended (TarFile then holds it), so that
// no entry can overwrite the archive being read; the caller deletes it afterwards. Answers the
// number of entries processed.
int ExtractNestedTar(TUnBase& Caller, std::string& TarFile, std::uint8_t OperationCode, const TOnEnd& OnEnd);
