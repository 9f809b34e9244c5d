#include "readers/plxUUDecode.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/ByteIO.h"
#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Errors.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "readers/EncodedLines.h"
#include "readers/EntryNames.h"
#include "readers/plxUnTar.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;
// Room for the decoded bytes of a whole buffer of input and a line more.
constexpr std::size_t kOutCapacity = kBlock + 128;
constexpr std::uint32_t kAttrArchive = 0x20;

bool IsBlank(std::string_view Line)
{
    return Line.find_first_not_of(" \t") == std::string_view::npos;
}

// A line of only "=" (the end line of "uuencode -m").
bool IsPaddingLine(std::string_view Line)
{
    return !Line.empty() && Line.find_first_not_of('=') == std::string_view::npos;
}

// Thrown when the output cannot take a block.
struct TWriteFailed {};

}  // namespace

// One run over a file and its volumes.
class TUUDecode::TRun {
public:
    TRun(TUUDecode& Owner, TStream32& First)
        : Z(Owner), FInput(&First), FUu(AlphabetOf(TTextCode::Uu), true), FXx(AlphabetOf(TTextCode::Xx)),
          FOutBuf(new std::uint8_t[kOutCapacity])
    {
        StartVolume();
    }

    void Execute()
    {
        for (bool first = true;; first = false) {
            THeader header;
            if (!SearchHeader(header) && !(first && HeaderlessBase64(header)))
                return;
            if (DecodeEntry(header) != TEnd::Boundary || Z.GetCancel())
                return;
        }
    }

private:
    enum class TEnd { EndLine, Boundary, Exhausted, Stopped };
    struct THeader {
        std::string Name;
        bool Base64 = false;
        bool Mime = false;         // Base64 from MIME headers or none: no end line to expect
        bool VolumeFiles = false;  // mode 999: each volume carries a file of its own
    };

    void StartVolume()
    {
        FInput->SetPosition(0);
        // A small file needs no large buffer.
        const auto capacity = std::size_t(std::clamp<std::int64_t>(Z.ArchiveSize + 1, 4096, kBlock));
        FLines = std::make_unique<TLineReader>([this](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
            const auto want = std::int32_t(std::min<std::size_t>(Count, kBlock));
            const std::int32_t got = Z.ReadArchiveProc(FInput, Buffer, want, false, 0);
            if (got <= 0)
                return 0;
            FRead += got;
            Z.DoProgress(FRead, Z.ArchiveSize, Z.ArchiveSize);
            ProcessMessages();
            return std::size_t(got);
        }, capacity);
        FRead = 0;
    }

    bool SearchHeader(THeader& Header)
    {
        TMimePartHeader part;
        std::string_view line;
        bool complete = true;
        for (int n = 0; n < Z.MaxHeaderLines; ++n) {
            if (!FLines->Next(line, complete))
                return false;
            TBeginLine begin;
            if (ParseBeginLine(line, begin)) {
                Header.Name = begin.Name;
                Header.Base64 = begin.Base64;
                Header.VolumeFiles = begin.Mode == "999";
                return true;
            }
            if (line.starts_with("table")) {
                ReadTable();
            } else if (line.starts_with("charmap")) {
                TakeCustomAlphabet(line.substr(7));
            } else if (IsBlank(line)) {
                // The data begins after the blank line that ends a Base64 part's headers.
                if (part.Base64 && !part.Name.empty()) {
                    Header.Name = part.Name;
                    Header.Base64 = true;
                    // Files of this system follow with a "begin-base64" line and end with an end
                    // line; plain MIME data ends with its part.
                    if (FLines->Next(line, complete) && ParseBeginLine(line, begin)) {
                        Header.Name = begin.Name;
                        Header.VolumeFiles = begin.Mode == "999";
                    } else {
                        FLines->PushBack();
                        Header.Mime = true;
                    }
                    return true;
                }
                part = TMimePartHeader{};
            } else {
                part.Take(line);
            }
        }
        return false;
    }

    // Base64 chosen by the caller for a file without headers: the data from its first data
    // line, named after the file.
    bool HeaderlessBase64(THeader& Header)
    {
        if (Z.Algorithm != B64Decode || Z.GetCancel())
            return false;
        StartVolume();
        if (!SkipToData(Header.Name))
            return false;
        Header.Name = win::ChangeFileExt(win::ExtractFileName(Z.ArchiveFile()), "");
        Header.Base64 = Header.Mime = true;
        return true;
    }

    void ReadTable()
    {
        std::string alphabet;
        std::string_view line;
        bool complete = true;
        for (int i = 0; i < 2 && FLines->Next(line, complete); ++i)
            alphabet += line.substr(0, 32);
        TakeCustomAlphabet(alphabet);
    }

    void TakeCustomAlphabet(std::string_view Text)
    {
        while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
            Text.remove_prefix(1);
        if (Text.size() < 64)
            return;
        FCustom = TReverseAlphabet(Text.substr(0, 64));
        FHasCustom = true;
    }

    TEnd DecodeEntry(const THeader& Header)
    {
        FBase64 = Header.Base64 || Z.Algorithm == B64Decode;
        FRev = FBase64 ? &FBase64Data.Alphabet() : FHasCustom ? &FCustom : nullptr;  // UU or XX: the data decides
        FVolumeFiles = FVolumeFiles || Header.VolumeFiles;
        FBase64Data = TBase64Decoder();
        FStrictBase64 = FBase64 && !Header.Mime;
        FStrayCharacter = false;
        TEnd end = TEnd::Stopped;
        try {
            OpenEntry(Header.Name);
            end = DecodeLines();
            while (end == TEnd::Exhausted) {
                std::string next;
                if (Header.Mime && !FBase64Data.InGroup() && !win::FileExists(NextVolume(FVolumeCounter + 1)))
                    break;  // MIME data has no end line: the end of the file ends it
                if (!OpenNextVolume(next))
                    break;
                if (!next.empty() && FVolumeFiles) {
                    FinishEntry(true);
                    OpenEntry(next);
                }
                end = DecodeLines();
            }
            if (end == TEnd::Exhausted && Header.Mime && !FBase64Data.InGroup())
                end = TEnd::EndLine;
        } catch (const TWriteFailed&) {
            Z.DoError(Z.FileName, "", GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE, Z.VolumeName);
            end = TEnd::Stopped;
        }
        if (end == TEnd::Stopped || Z.GetCancel()) {
            FOut.reset();
            Z.DiscardOutput();
            if (FWriting && Z.OnEnd)
                Z.OnEnd(&Z, Z.FileName, false);
            FWriting = false;
            return TEnd::Stopped;
        }
        if (end == TEnd::Exhausted && FWriting)
            Z.DoError(Z.FileName, "", E_EOLNOTFOUND, Z.VolumeName);
        FinishEntry(end != TEnd::Exhausted && !FStrayCharacter);
        return end;
    }

    void OpenEntry(const std::string& Stored)
    {
        FWriting = false;
        FOutLen = 0;
        // A name never chooses the folder: only its file part is taken.
        const std::string name = FileNamePart(StoredNameToUtf8(Stored));
        if (name.empty()) {
            Z.DoError(Stored, "", E_INVALIDFILENAME, Z.VolumeName);
            return;
        }
        if (!Z.NameEntry(name))
            return;
        FWriting = Z.OpenPlainOutput(FOut);
    }

    void FinishEntry(bool Ok)
    {
        if (!FWriting)
            return;
        FWriting = false;
        Flush();
        Z.CloseOutFile(FOut, Z.FileName, kAttrArchive, std::uint32_t(win::DateTimeToFileDate(win::Now())));
        if (Ok) {
            Z.CheckCrc(32, Z.RunningCrc.Crc32);
        } else {
            Z.DiscardOutput();
            if (Z.OnEnd)
                Z.OnEnd(&Z, Z.FileName, false);
        }
    }

    std::string NextVolume(int N) const { return Z.VolumeNameOf(Z.ArchiveFile(), N); }

    // The next volume, positioned at its data; Name gets the name of its "begin" line, if any.
    bool OpenNextVolume(std::string& Name)
    {
        for (;;) {
            if (Z.GetCancel())
                return false;
            ++FVolumeCounter;
            std::string volume = NextVolume(FVolumeCounter);
            if (!Z.ConfirmVolume(volume, FVolumeCounter))
                return false;
            auto file = std::make_unique<TFileStream32>(volume, fmOpenRead | fmShareDenyNone);
            if (!file->HandleValid()) {
                Z.DoError(volume, "", E_OPENFILE, volume);
                return false;
            }
            FVolume = std::move(file);
            FInput = FVolume.get();
            Z.VolumeName = volume;
            Z.ArchiveSize = FInput->Size();
            StartVolume();
            if (SkipToData(Name))
                return true;
        }
    }

    // Passes over what stands before a volume's data: comments, "part" lines, its "begin" line.
    bool SkipToData(std::string& Name)
    {
        std::string_view line;
        bool complete = true;
        std::uint8_t scratch[64];
        while (FLines->Next(line, complete)) {
            TBeginLine begin;
            if (ParseBeginLine(line, begin)) {
                Name = begin.Name;
                return true;
            }
            const bool data = FBase64 ? IsBase64DataLine(line, FBase64Data.Alphabet())
                              : FRev  ? DecodeUuLine(line, *FRev, scratch) >= 0
                                      : DecodeUuLine(line, FUu, scratch) >= 0 || DecodeUuLine(line, FXx, scratch) >= 0;
            if (data) {
                FLines->PushBack();
                return true;
            }
        }
        return false;
    }

    TEnd DecodeLines()
    {
        std::string_view line;
        bool complete = true;
        bool rest = false;  // pieces of an over-long line after its first
        for (;;) {
            if (Z.GetCancel())
                return TEnd::Stopped;
            if (!FLines->Next(line, complete)) {
                Flush();
                return TEnd::Exhausted;
            }
            if (FOutLen + line.size() > kOutCapacity - 64)
                Flush();
            if (FBase64) {
                if (complete && (IsEndLine(line) || IsPaddingLine(line) || line.starts_with("--"))) {
                    FOutLen += FBase64Data.End(FOutBuf.get() + FOutLen);
                    Flush();
                    return line.starts_with("--") ? TEnd::Boundary : TEnd::EndLine;
                }
                if (FStrictBase64 && !FStrayCharacter && HasStrayCharacter(line)) {
                    Z.DoError(Z.FileName, "", E_SKIPPEDILLEGALCHAR, Z.VolumeName);
                    FStrayCharacter = true;
                }
                FOutLen += FBase64Data.Decode(line, FOutBuf.get() + FOutLen);
                continue;
            }
            if (rest) {
                rest = !complete;
                continue;
            }
            if (IsEndLine(line)) {
                Flush();
                return TEnd::EndLine;
            }
            const int n = DecodeUu(line);
            if (n < 0) {
                if (StartsWithNoCase(line, "--=")) {
                    Flush();
                    return TEnd::EndLine;
                }
                continue;
            }
            if (!complete) {
                rest = true;
                if (n == 45)
                    Z.DoError(Z.FileName, "", E_UNEXPECTEDEOL, Z.VolumeName);
            }
        }
    }

    // Until the alphabet is known, the first line that is whole data in UU or in XX decides.
    int DecodeUu(std::string_view Line)
    {
        std::uint8_t* out = FOutBuf.get() + FOutLen;
        if (FRev == nullptr) {
            if (IsBlank(Line))
                return -1;
            for (const TReverseAlphabet* rev : {&FUu, &FXx}) {
                if (DecodeUuLine(Line, *rev, out) >= 0) {
                    FRev = rev;
                    break;
                }
            }
            if (FRev == nullptr)
                Z.RaiseError(Z.FileName, "", Z.VolumeName, E_UNSUPPORTEDMETHOD);
        }
        const int n = DecodeUuLine(Line, *FRev, out);
        if (n > 0)
            FOutLen += std::size_t(n);
        return n;
    }

    void Flush()
    {
        const std::size_t length = FOutLen;
        FOutLen = 0;
        if (!FWriting || length == 0)
            return;
        const auto n = std::int32_t(length);
        // No CRC: these formats store none to check it against.
        if (Z.WriteOutputProc(FOut.get(), FOutBuf.get(), kKindFileData, n, 0, false) < n)
            throw TWriteFailed();
    }

    TUUDecode& Z;
    TStream32* FInput;
    std::unique_ptr<TStream32> FVolume;  // the volume being read after the first
    std::unique_ptr<TLineReader> FLines;
    std::int64_t FRead = 0;
    int FVolumeCounter = 0;

    const TReverseAlphabet FUu, FXx;
    TReverseAlphabet FCustom;
    bool FHasCustom = false;
    const TReverseAlphabet* FRev = nullptr;
    bool FBase64 = false;
    bool FVolumeFiles = false;
    TBase64Decoder FBase64Data;
    // A "begin-base64" block is written whole by its encoder: a character outside the alphabet is
    // damage (bytes lost, no checksum to tell), where MIME mail may carry strays on purpose.
    bool FStrictBase64 = false;
    bool FStrayCharacter = false;

    bool HasStrayCharacter(std::string_view Line) const
    {
        return std::any_of(Line.begin(), Line.end(), [this](char c) {
            return c != '=' && c != ' ' && c != '\t' && c != '\r' &&
                   FBase64Data.Alphabet()[static_cast<unsigned char>(c)] < 0;
        });
    }

    std::unique_ptr<TStream32> FOut;
    bool FWriting = false;
    std::unique_ptr<std::uint8_t[]> FOutBuf;
    std::size_t FOutLen = 0;
};

TUUDecode::TUUDecode(TObject* AOwner) : TUnBase(AOwner) {}

TUUDecode::~TUUDecode() = default;

void TUUDecode::ProcessArchive(TStream32* Archive)
{
    if (Archive == nullptr)
        return;
    TRun(*this, *Archive).Execute();
}

std::string TUUDecode::VolumeNameOf(const std::string& First, int N) const
{
    const std::string ext = win::ExtractFileExt(First);
    const bool numbered = ext.size() >= 2 && ext.size() <= 4 &&
                          std::all_of(ext.begin() + 1, ext.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!numbered)
        return NumberedVolumeName(First, N, NextVolumeName, VolumeLongFilenames);
    std::string digits = std::to_string(std::stoi(ext.substr(1)) + N);
    if (digits.size() < ext.size() - 1)
        digits.insert(0, ext.size() - 1 - digits.size(), '0');
    return win::ChangeFileExt(First, "." + digits);
}
