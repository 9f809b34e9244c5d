// The GZip and Unix compress (.Z) extractor: one output file per archive, or the entries of the
// TAR it holds.
#pragma once

#include "readers/CompressedFile.h"

class TUnGZip : public TUnCompressedFile {
public:
    using TUnCompressedFile::TUnCompressedFile;

    void ProcessArchive(TStream32* Archive) override;

private:
    void ExtractGzip(TStream32& Archive);
    void ExtractCompress(TStream32& Archive);
};
