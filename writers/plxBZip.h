// .bz2 files: every input file becomes one bzip2 file, byte for byte what the bzip2 tool makes at
// the same block size.
#pragma once

#include "writers/SingleFileWriter.h"

using TOnFilename = std::function<void(TObject* Sender, const std::string& InFilename, const std::string& OutFilename)>;

class TBZip : public TSingleFileWriter {
public:
    explicit TBZip(TObject* AOwner = nullptr);

    int CompressLevel = 9;  // block size in 100,000 bytes, 1 to 9
    bool KeepFileExt = true;
    std::string OutputDir;
    TOnFilename OnFilename;

    // Only swAdd and swMove; anything else becomes swAdd.
    void SetSwitch(TSwitch Value) { Switch = (Value == swMove) ? swMove : swAdd; }

    int Compress() override;
    std::uint16_t GetHeadSize() override { return 10; }

protected:
    std::string OutputNameFor(const TFoundInput& Input, bool OnlyInput, const std::string& OutputDir) override;
    void NoteOutputName(const std::string& Input, const std::string& Output) override;
    bool EncodeFile(TStream32& Input, TStream32& Output, const TFoundInput& File, std::int64_t MTime) override;
};
