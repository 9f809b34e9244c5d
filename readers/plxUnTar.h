// The TAR extractor, and the step through which the GZip and bzip2 extractors extract a TAR they
// have just decompressed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/UnBase.h"
#include "readers/TarFormat.h"

// Files, folders, hard links (as copies of the member they name) and sparse files are
// extracted; the listing shows the same entries, so that what is listed is what comes out.
// Symbolic links, devices and the rest are passed over with a report.
bool TarEntryExtracted(const TTarEntry& Entry);

// A stored name as the program shows it: UTF-8 as written on this kind of system, otherwise read
// in the OEM code page.
std::string StoredNameToUtf8(std::string Stored);

// The one name of a TAR entry for listing and extraction: the whole name the reader put together
// (pax path, ustar prefix, GNU long name), in the program's form, "." parts dropped ("./x" is
// "x"). Empty for the archive's own folder (".", "./").
std::string TarEntryName(const TTarEntry& Entry);

class TUnTar : public TUnBase {
public:
    explicit TUnTar(TObject* AOwner = nullptr);

    // Each entry is extracted as the walk reaches it: nothing grows with the number of entries
    // but a bit per entry (whether it was written), and an index of the files once a hard link
    // shows that one is needed.
    void ProcessArchive(TStream32* Archive) override;

    // Set for a TAR decoded from a stream that has no check of its own (.Z): only its end
    // blocks show that none of it was cut off.
    bool EndBlocksRequired = false;

private:
    enum class TKind : std::uint8_t { File, Directory, Sparse, PassedOver, MissingLink, BadSparse };
    struct TMember {
        std::string Name;  // converted, "/" separators
        TKind Kind = TKind::File;
        std::string Note;              // what a passed-over entry is; the target a hard link misses
        std::string LinkTarget;        // a hard link: the name of the member it names
        std::int64_t LinkNumber = -1;  // and that member's number in the archive
        std::int64_t Size = 0;         // of the file written
        std::int64_t DataOffset = 0;
        std::int64_t MTime = 0;
        // A sparse file's stretches, stored one after another; shared by the links to it.
        std::shared_ptr<const std::vector<TTarSparseChunk>> Chunks;
    };
    // Where an earlier file's data lies, for the hard links that name it.
    struct TLinkTarget {
        std::int64_t Number = 0;
        std::int64_t Size = 0;
        std::int64_t DataOffset = 0;
        std::shared_ptr<const std::vector<TTarSparseChunk>> Chunks;
        bool Sparse = false;
    };
    using TFileIndex = std::unordered_map<std::string, TLinkTarget>;

    TMember MemberOf(const TTarEntry& Entry, std::string Name, std::int64_t Number);
    void IndexFilesBefore(TStream32& Archive, std::int64_t Offset);
    void FindNewestDate(TStream32& Archive);
    // Date is the member's time as the run's dates are kept (local).
    void ExtractMember(TStream32& Archive, const TMember& Member, std::int64_t Number, TDateTime Date);
    // False after a failure, reported where it happened.
    bool CopyData(TStream32& Archive, TStream32* Out, const TMember& Member);
    bool CopyRange(TStream32& Archive, TStream32* Out, std::int64_t Offset, std::int64_t Count);
    // Count zero bytes of a sparse file: a hole in a file, nothing in a test, zeros elsewhere.
    bool SkipHole(TStream32* Out, std::int64_t Count);
    void FailEntry(int ECode);
    void NoteWritten(std::int64_t Number, const std::string& Mapped);
    // The file this run wrote for the entry of that number and name, or empty.
    std::string WrittenFile(std::int64_t Number, const std::string& Name);

    std::unique_ptr<TFileIndex> FFiles;                      // made at the first hard link
    std::vector<bool> FWritten;                              // by entry number
    std::unordered_map<std::int64_t, std::string> FRenamed;  // written under a name the host chose
    // Without folders, members of one name in different folders meet in one file: the entry whose
    // data each file holds.
    std::unordered_map<std::string, std::int64_t> FFlatWriter;
    std::vector<std::uint8_t> FBuffer;
    bool FReadFailed = false;
};

// Extracts (operation 0 or 10) or tests (6 or 7) the TAR in TarFile (a temporary file of the
// caller's, which the caller deletes afterwards) for Caller, whose selection, folders, overwrite
// rules, events and cancel flag it takes; OnEnd is fired per TAR entry. Answers the number of
// entries processed. Unchecked: the TAR came from a stream without a check of its own.
int ExtractNestedTar(TUnBase& Caller, const std::string& TarFile, std::uint8_t OperationCode, const TOnEnd& OnEnd,
                     bool Unchecked = false);
