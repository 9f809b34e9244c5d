// One file written as UU, XX or Base64 (MIME) text, optionally in numbered parts of a chosen
// size; a split ZIP set is written volume by volume, each a file of its own for the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/EncodedText.h"
#include "core/plxBase.h"

// Lines of one code: what the encoder writes and the benchmarks time.
class TLineEncoder {
public:
    explicit TLineEncoder(TTextCode Code);

    // Input bytes per full line: 45 for UU and XX, 57 for Base64.
    std::size_t BytesPerLine() const { return FBytesPerLine; }
    // Room a line needs in its output, line end included.
    static constexpr std::size_t kMaxLine = 84;
    // One line of Count (at most BytesPerLine) bytes with CR LF; answers the characters written.
    // UU and XX lead with the count's character; Base64 pads its last group with "=".
    std::size_t EncodeLine(const std::uint8_t* In, std::size_t Count, char* Out) const;

private:
    TTextCode FCode;
    std::string_view FAlphabet;
    std::size_t FBytesPerLine;
    char FPairs[2 * 4096];  // the two characters of every 12-bit value
};

class TUUEncode : public TCompBase {
public:
    explicit TUUEncode(TObject* AOwner = nullptr);

    int KBytesPerVolume = 0;  // a part's size: KBytesPerVolume * 16 lines; 0 never splits
    bool WriteTableToFile = false;

    const std::string& OutFilename() const { return FOutFilename; }
    // A name without "." gets DefaultExt; "." clears it.
    void SetOutFilename(const std::string& Value);
    // The input; OutFilename follows it with DefaultExt as its extension.
    void SetArchiveFile(const std::string& Name) override;
    void SetArcType(TArcType) override { FArcType = atUUE; }
    // An encoded file has no entry headers.
    std::uint16_t GetHeadSize() override { return 0; }

    // The run: no scan, no directory; the output and its parts replace what was there only when
    // the whole input was written.
    void ProcessArchive(TCompressHeaderObj& EntryList) override;

    // The volumes of the split ZIP set whose last volume is ZipFile, in order: name.z01, name.z02,
    // ... as far as they exist, then ZipFile.
    std::vector<std::string> SplitSetVolumes(const std::string& ZipFile) const;
    // Parts that Size input bytes make with BytesPerLine per line and LinesPerPart lines a part
    // (three of them counted for the header; 0: no limit).
    static std::int64_t PartCount(std::int64_t Size, std::size_t BytesPerLine, std::int64_t LinesPerPart);

private:
    class TRun;
    std::string FOutFilename;
};

// The MIME content type of a file by its extension.
std::string MimeContentType(const std::string& FileName);
