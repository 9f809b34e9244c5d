// The TAR extractor, and the step through which the GZip and bzip2 extractors extract a TAR they
// have just decompressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/TarFormat.h"

// Files and folders are extracted; links, devices, labels and the rest are passed over. The
// listing shows the same entries, so that what is listed is what comes out.
bool TarEntryExtracted(const TTarEntry& Entry);

// A stored name as the program shows it: UTF-8 as written on this kind of system, otherwise read
// in the OEM code page.
std::string StoredNameToUtf8(const std::string& Stored);

class TUnTar : public TUnBase {
public:
    explicit TUnTar(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

    // Converted names of the selected entries, in archive order (for the run only).
    std::vector<std::string> NameList;

private:
    struct TMember {
        std::string Name;  // converted, "/" separators
        bool Directory = false;
        std::int64_t Size = 0;
        std::int64_t DataOffset = 0;
        std::int64_t MTime = 0;
    };

    void CollectEntries(TStream32& Archive);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    void FailEntry(int ECode);

    std::vector<TMember> FMembers;
};

// Extracts (operation 0 or 10) or tests (6 or 7) the TAR in TarFile for Caller, whose selection,
// folders, overwrite rules, events and cancel flag it takes; OnEnd is fired per TAR entry. The
// file is first renamed to a name of its own with "~" appended (TarFile then holds it), so that
// no entry can overwrite the archive being read; the caller deletes it afterwards. Answers the
// number of entries processed.
int ExtractNestedTar(TUnBase& Caller, std::string& TarFile, std::uint8_t OperationCode, const TOnEnd& OnEnd);
