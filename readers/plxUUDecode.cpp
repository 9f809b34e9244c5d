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

// "part 3" (this encoder's) or "_=_ Part 003 of 009 of file x" (as others announce a part):
// the part's number.
bool ParsePartLine(std::string_view Line, int& Number)
{
    if (Line.starts_with("_=_ "))
        Line.remove_prefix(4);
    if (!StartsWithNoCase(Line, "part "))
        return false;
    Line.remove_prefix(5);
    std::size_t digits = 0;
    while (digits < Line.size() && digits < 6 && Line[digits] >= '0' && Line[digits] <= '9')
        ++digits;
    if (digits == 0 || (digits < Line.size() && Line[digits] != ' ' && Line[digits] != '\r'))
        return false;
    Number = std::stoi(std::string(Line.substr(0, digits)));
    return true;
}

// "1234 bytes", the size this encoder states after the end line.
bool ParseBytesLine(std::string_view Line, std::int64_t& Bytes)
{
    while (!Line.empty() && (Line.back() == ' ' || Line.back() == '\r'))
        Line.remove_suffix(1);
    if (!Line.ends_with(" bytes"))
        return false;
    Line.remove_suffix(6);
    if (Line.empty() || Line.size() > 18 || Line.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    Bytes = std::stoll(std::string(Line));
    return true;
}

// Thrown when the output cannot take a block.
struct TWriteFailed {};

}  // namespace

// One run over a file and its volumes.
class TUUDecode::TRun {
public:
    TRun(TUUDecode& Owner, TStream32& First)
        : Z(Owner),
          FInput(&First),
          FUu(AlphabetOf(TTextCode::Uu), true),
          FXx(AlphabetOf(TTextCode::Xx)),
          FOutBuf(new std::uint8_t[kOutCapacity])
    {
        StartVolume();
    }

    void Execute()
    {
        for (bool first = true;; first = false) {
            THeader header;
            if (!SearchHeader(header) && !(first && HeaderlessBase64(header))) {
                // A later part of a set given as the first: its data has no begin line to follow.
                if (first && header.FirstPart > 0)
                    Z.DoError(win::ExtractFileName(Z.ArchiveFile()), "part " + std::to_string(header.FirstPart),
                              E_VOLUMEOUTOFSEQUENCE, Z.ArchiveFile());
                return;
            }
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
        int FirstPart = 0;         // the number of a part line before the begin line, 0 for none
    };

    void StartVolume()
    {
        FInput->SetPosition(0);
        // A small file needs no large buffer.
        const auto capacity = std::size_t(std::clamp<std::int64_t>(Z.ArchiveSize + 1, 4096, kBlock));
        FLines = std::make_unique<TLineReader>(
            [this](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
                const auto want = std::int32_t(std::min<std::size_t>(Count, kBlock));
                const std::int32_t got = Z.ReadArchiveProc(FInput, Buffer, want, false, 0);
                if (got <= 0)
                    return 0;
                FRead += got;
                Z.DoProgress(FRead, Z.ArchiveSize, Z.ArchiveSize);
                ProcessMessages();
                return std::size_t(got);
            },
            capacity);
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
            int partNumber = 0;
            if (ParsePartLine(line, partNumber))
                Header.FirstPart = partNumber;
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
        if (!SkipToData(Header.Name, -1))
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
        FDamageReported = 0;
        FDataOver = false;
        FSawBlank = FSawBacktick = false;
        FDecoded = 0;
        FPartOffset = Header.FirstPart == 1 ? 1 : 0;
        TEnd end = TEnd::Stopped;
        try {
            OpenEntry(Header.Name);
            // A file that starts with a later part is not the first of its set.
            if (Header.FirstPart > 1)
                ReportDamage(E_VOLUMEOUTOFSEQUENCE, "part " + std::to_string(Header.FirstPart));
            end = DecodeLines();
            while (end == TEnd::Exhausted && !FSetBroken) {
                std::string next;
                const bool nextExists = win::FileExists(NextVolume(FVolumeCounter + 1));
                if (Header.Mime && !FBase64Data.InGroup() && !nextExists)
                    break;  // MIME data has no end line: the end of the file ends it
                // A single file cut short is not a set: nobody is asked for a volume that nothing
                // announced, and the missing end line is what is reported.
                if (FVolumeCounter == 0 && !nextExists)
                    break;
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
            if (end == TEnd::EndLine)
                CheckStatedSize();
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
        if (end == TEnd::Exhausted && FWriting && !FSetBroken)
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
            FDataOver = false;  // each volume of a set of files ends its data with its own line of 0
            if (SkipToData(Name, FVolumeCounter))
                return true;
            if (FSetBroken)
                return false;
        }
    }

    // Passes over what stands before a volume's data: comments, "part" lines, its "begin" line.
    // Volume (1 on; -1 for the first file) is checked against the volume's part line: a part out
    // of its place ends the set. UU or XX data that no part or begin line announces is reported.
    bool SkipToData(std::string& Name, int Volume)
    {
        std::string_view line;
        bool complete = true;
        bool announced = false;
        std::uint8_t scratch[64];
        while (FLines->Next(line, complete)) {
            TBeginLine begin;
            if (ParseBeginLine(line, begin)) {
                Name = begin.Name;
                return true;
            }
            int part = 0;
            if (Volume > 0 && ParsePartLine(line, part)) {
                announced = true;
                if (part != Volume + FPartOffset) {
                    ReportDamage(E_VOLUMEOUTOFSEQUENCE, "part " + std::to_string(part));
                    FSetBroken = true;
                    return false;
                }
                continue;
            }
            const bool data = FBase64 ? IsBase64DataLine(line, FBase64Data.Alphabet())
                              : FRev  ? DecodeUuLine(line, *FRev, scratch) >= 0
                                      : DecodeUuLine(line, FUu, scratch) >= 0 || DecodeUuLine(line, FXx, scratch) >= 0;
            if (data) {
                if (Volume > 0 && !announced && !FBase64)
                    Z.DoError(Z.FileName, "", E_LINEBEFOREBEGIN, Z.VolumeName);
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
            if (IsEndLine(line) || StartsWithNoCase(line, "--=")) {
                Flush();
                return TEnd::EndLine;
            }
            // Data ends with its line of count 0; what stands before the end line is not data.
            if (FDataOver)
                continue;
            const int n = DecodeUu(line);
            if (n < 0) {
                // A line that cannot be data stands where data was: its bytes are lost.
                if (FRev != nullptr && !IsBlank(line))
                    ReportDamage(E_SKIPPEDILLEGALCHAR, "");
                continue;
            }
            if (n == 0)
                FDataOver = true;
            if (!complete) {
                rest = true;
                if (n == 45)
                    Z.DoError(Z.FileName, "", E_UNEXPECTEDEOL, Z.VolumeName);
            }
        }
    }

    // Until the alphabet is known, the first line that is whole data in UU or in XX decides, or
    // else its count character: "M" for UU, "h" for XX, as a full line begins.
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
            if (FRev == nullptr && (Line[0] == 'M' || Line[0] == 'h'))
                FRev = Line[0] == 'M' ? &FUu : &FXx;
            if (FRev == nullptr)
                Z.RaiseError(Z.FileName, "", Z.VolumeName, E_UNSUPPORTEDMETHOD);
        }
        if (FRev == &FUu && !FSawBlank) {
            // Which character this file writes for 0 tells whether a short line lost blanks.
            if (Line.find(' ') != std::string_view::npos)
                FSawBlank = true;
            else if (!FSawBacktick && Line.find('`') != std::string_view::npos)
                FSawBacktick = true;
        }
        int n = DecodeUuLine(Line, *FRev, out);
        if (n < 0) {
            TUuLineDamage damage;
            n = DecodeDamagedUuLine(Line, *FRev, out, damage);
            if (n < 0)
                return n;
            if (damage.Stray)
                ReportDamage(E_SKIPPEDILLEGALCHAR, "");
            else if (damage.Short && !BlanksMayBeStripped())
                ReportDamage(E_UNEXPECTEDEOL, "");
        }
        if (n > 0)
            FOutLen += std::size_t(n);
        return n;
    }

    // A short line of an alphabet with the blank, in a file that writes blanks or shows no
    // choice yet, lost only trailing blanks: its missing characters are zero bits, nothing lost.
    bool BlanksMayBeStripped() const { return (*FRev)[' '] >= 0 && (FSawBlank || !FSawBacktick); }

    // Damage that leaves the entry's bytes in doubt: told once per kind, and the entry fails.
    void ReportDamage(int Code, const std::string& Extended)
    {
        FStrayCharacter = true;
        if (FDamageReported == Code)
            return;
        FDamageReported = Code;
        Z.DoError(Z.FileName, Extended, Code, Z.VolumeName);
    }

    // After the end line this encoder states the size; a set whose parts were missing or
    // changed decodes to another size.
    void CheckStatedSize()
    {
        std::string_view line;
        bool complete = true;
        if (!FLines->Next(line, complete))
            return;
        if (IsEndLine(line) && !FLines->Next(line, complete))
            return;
        std::int64_t stated = 0;
        if (!ParseBytesLine(line, stated)) {
            FLines->PushBack();
            return;
        }
        if (stated != FDecoded)
            ReportDamage(E_FILESIZEDIFFERS,
                         std::to_string(stated) + " bytes stated, " + std::to_string(FDecoded) + " decoded");
    }

    void Flush()
    {
        const std::size_t length = FOutLen;
        FOutLen = 0;
        FDecoded += std::int64_t(length);
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
    bool FStrayCharacter = false;  // damage was found: the entry fails
    int FDamageReported = 0;
    bool FDataOver = false;  // the line of count 0 was read
    bool FSawBlank = false, FSawBacktick = false;
    std::int64_t FDecoded = 0;  // bytes decoded since the begin line
    int FPartOffset = 0;        // 1 when the first file is "part 1" itself
    bool FSetBroken = false;    // a volume stood out of its place

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

TUUDecode::TUUDecode(TObject* AOwner) : TUnBase(AOwner)
{}

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
    // The encoder's own names, and a first volume numbered by its extension, whatever the mode.
    if (numbered || NextVolumeName == nvChangeExt)
        return TextPartName(First, N);
    return NumberedVolumeName(First, N, NextVolumeName, VolumeLongFilenames);
}
