// .gz files: every input file becomes one gzip file of one member (RFC 1952 framing around raw
// deflate data).
#pragma once

#include "writers/SingleFileWriter.h"

enum TGZipExt : std::uint8_t { exNone, exAppendGZ, exUnderScore };

class TGZip : public TSingleFileWriter {
public:
    explicit TGZip(TObject* AOwner = nullptr);

    TGZipExt Extension = exAppendGZ;

    // One output per input file; answers the number of files written.
    int Compress() override;
    std::uint16_t GetHeadSize() override { return 0; }
    // While loading, a name of a missing file is dropped; "/" become "\"; no extension gets DefaultExt.
    void SetArchiveFile(const std::string& Name) override;

    // The output name of Input by Extension (Output: the name before the extension rule).
    std::string ApplyExtension(const std::string& Input, const std::string& Output) const;

protected:
    std::string OutputNameFor(const TFoundInput& Input, bool OnlyInput, const std::string& OutputDir) override;
    bool EncodeFile(TStream32& Input, TStream32& Output, const TFoundInput& File, std::int64_t MTime) override;
    void FileWritten(const TFoundInput& File, const std::string& Output, std::int64_t MTime) override;

private:
    // Header, deflate data and trailer of one member; false when cancelled.
    bool WriteGzipMember(TStream32& Input, TStream32& Output, std::int64_t MTime);
    std::int64_t FWrittenSize = 0;
    std::int64_t FReadSize = 0;
};
