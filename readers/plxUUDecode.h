// UU, XX and Base64 text files back to the files they carry: a "begin" line or MIME part headers,
// data lines and an end line, over numbered volumes, several MIME attachments in one file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/EncodedText.h"
#include "core/UnBase.h"

enum TDecodeMethod : std::uint8_t { uudecode, xxdecode, B64Decode };

class TUUDecode : public TUnBase {
public:
    explicit TUUDecode(TObject* AOwner = nullptr);
    ~TUUDecode() override;

    // Base64 decodes every data line as Base64, also of a file whose header does not say so.
    // The others leave the choice between UU and XX to the data. A run never changes it.
    TDecodeMethod Algorithm = uudecode;
    int MaxHeaderLines = 100;
    TNextVolumeName NextVolumeName = nvChangeExt;
    bool VolumeLongFilenames = false;
    std::uint8_t VolumeStartNum() const { return FVolumeStartNum; }
    void SetVolumeStartNum(std::uint8_t Value) { FVolumeStartNum = Value > 10 ? 10 : Value; }

    void ProcessArchive(TStream32* Archive) override;

    // The name of volume N (1 on) of a set whose first volume is First: with nvChangeExt (and
    // for a first volume numbered by its extension) the encoder's TextPartName, else
    // NumberedVolumeName.
    std::string VolumeNameOf(const std::string& First, int N) const;

private:
    class TRun;
    std::uint8_t FVolumeStartNum = 0;
};
