// The run shared by the writers that make one output file per input file (.gz, .bz2): scan, name
// each output, write it through a temporary file beside it that replaces the output only when the
// whole file was written, date it, and in move mode delete the input only after that.
#pragma once

#include "core/plxBase.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFoundInput {
    std::string Path;
    WIN32_FIND_DATAA Data{};
    std::int64_t Size() const;
};

class TSingleFileWriter : public TCompBase {
public:
    using TCompBase::TCompBase;

protected:
    // The whole run into OutputDir, framed by OnActivate/OnDeactivate and timed; answers the
    // number of files written.
    int WriteAll(const std::string& OutputDir);

    // The output path of one input ("" skips it).
    virtual std::string OutputNameFor(const TFoundInput& Input, bool OnlyInput, const std::string& OutputDir) = 0;
    // Told each accepted pair before the output is written.
    virtual void NoteOutputName(const std::string& /*Input*/, const std::string& /*Output*/) {}
    // Writes the whole output; false when cancelled. Failures raise.
    virtual bool EncodeFile(TStream32& Input, TStream32& Output, const TFoundInput& File, std::int64_t MTime) = 0;
    // After a written file (OnRead and the like).
    virtual void FileWritten(const TFoundInput& /*File*/, const std::string& /*Output*/, std::int64_t /*MTime*/) {}

    // The time stored for an input by DateAttribute (daMaxFileDate: the newest input's), as Unix time.
    std::int64_t StoredTime(const TFoundInput& File) const;

private:
    // Files of FileSpec in scan order; the total size goes to UnpackedTotal.
    std::vector<TFoundInput> ScanInputs();
    int RunFiles(const std::vector<TFoundInput>& Inputs, const std::string& OutputDir);
    bool WriteOutput(const TFoundInput& File, const std::string& Output);
    // False ends the run (overwrite refused on a file that cannot be written); Skip skips the file.
    bool ConfirmExisting(const std::string& Output, bool& Skip);

    std::int64_t FNewestInputTime = 0;  // of the run's inputs, Unix time
};

// Sets a file's last-write time from Unix time.
bool SetFileUnixTime(const std::string& Path, std::int64_t Time);
// Same file, by name without case or by host path.
bool SameFilePath(const std::string& A, const std::string& B);
