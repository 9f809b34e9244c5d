// The bzip2 extractor: one output file per archive, or the entries of the TAR it holds.
#pragma once

#include <functional>
#include <string>

#include "readers/CompressedFile.h"

using TOnGetOutFilename = std::function<void(TObject* Sender, const std::string& InFilename, std::string& OutFilename)>;

// The output name of a .bz2 archive: ".bz", ".bz2", ".bzip" and ".bzip2" (any case) removed,
// ".tbz" and ".tbz2" made ".tar"; other names are kept as they are.
std::string BzipOutputName(const std::string& ArchiveFileName);

class TUnBZip : public TUnCompressedFile {
public:
    using TUnCompressedFile::TUnCompressedFile;

    // May change the output's file name (given the archive's path).
    TOnGetOutFilename OnGetOutFilename;

    void ProcessArchive(TStream32* Archive) override;
};
