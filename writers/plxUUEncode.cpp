#include "writers/plxUUEncode.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/ArcType.h"
#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "writers/SingleFileWriter.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;
constexpr int kMaxParts = 999;

struct TMethodFacts {
    TTextCode Code;
    const char* Ext;
    const char* Mode;
};

TMethodFacts FactsOf(TCompressMethod Method)
{
    switch (Method) {
    case cmXXEncode:
        return {TTextCode::Xx, ".XXE", "644"};
    case cmBase64:
        return {TTextCode::Base64, ".MIM", "664"};
    default:
        return {TTextCode::Uu, ".UUE", "644"};
    }
}

TDateTime FileDateOf(const std::string& Path)
{
    try {
        return win::FileDateToDateTime(win::FileAge(Path));
    } catch (const win::Exception&) {
        return 0;
    }
}

}  // namespace

// --- lines ---

TLineEncoder::TLineEncoder(TTextCode Code)
    : FCode(Code), FAlphabet(AlphabetOf(Code)), FBytesPerLine(Code == TTextCode::Base64 ? 57 : 45)
{
    for (std::size_t v = 0; v < 4096; ++v) {
        FPairs[2 * v] = FAlphabet[v >> 6];
        FPairs[2 * v + 1] = FAlphabet[v & 63];
    }
}

std::size_t TLineEncoder::EncodeLine(const std::uint8_t* In, std::size_t Count, char* Out) const
{
    const char* a = FAlphabet.data();
    char* o = Out;
    const bool base64 = FCode == TTextCode::Base64;
    if (!base64)
        *o++ = a[Count];
    std::size_t i = 0;
    // Twelve bits at a time: two characters per lookup.
    for (; i + 3 <= Count; i += 3) {
        const std::uint32_t v = std::uint32_t(In[i]) << 16 | std::uint32_t(In[i + 1]) << 8 | In[i + 2];
        std::memcpy(o, &FPairs[2 * (v >> 12)], 2);
        std::memcpy(o + 2, &FPairs[2 * (v & 4095)], 2);
        o += 4;
    }
    if (const std::size_t left = Count - i; left > 0) {
        // The last group is padded with zero bytes; Base64 marks them with "=".
        const std::uint32_t v = std::uint32_t(In[i]) << 16 | (left > 1 ? std::uint32_t(In[i + 1]) << 8 : 0);
        o[0] = a[v >> 18];
        o[1] = a[(v >> 12) & 63];
        o[2] = left > 1 || !base64 ? a[(v >> 6) & 63] : '=';
        o[3] = base64 ? '=' : a[0];
        o += 4;
    }
    *o++ = '\r';
    *o++ = '\n';
    return std::size_t(o - Out);
}

std::string MimeContentType(const std::string& FileName)
{
    const std::string ext = win::UpperCase(win::ExtractFileExt(FileName)).substr(0, 4);
    static const struct {
        const char* Ext;
        const char* Type;
    } kTypes[] = {{".HTM", "text/html"},   {".TXT", "text/plain; Charset=US-ASCII"},
                  {".GIF", "image/gif"},   {".JPG", "image/jpeg"},
                  {".AIF", "audio/aiff"},  {".AU", "audio/basic"},
                  {".SND", "audio/basic"}, {".AVI", "video/avi"},
                  {".RTF", "text/rtf"}};
    for (const auto& t : kTypes)
        if (ext == t.Ext)
            return t.Type;
    return "application/octet-stream";
}

// --- the run ---

// Parts go to temporary files beside their names and take those names only at the end of a
// whole run, so a failure or a cancel leaves no partial output and every old file as it was.
class TUUEncode::TRun {
public:
    TRun(TUUEncode& Owner, const std::vector<std::string>& Inputs, bool VolumeFiles)
        : Z(Owner),
          FInputs(Inputs),
          FVolumeFiles(VolumeFiles),
          FFacts(FactsOf(Owner.CompressMethod)),
          FLine(FFacts.Code),
          FIn(kBlock),
          FOut(kBlock + 2 * TLineEncoder::kMaxLine)
    {}
    ~TRun()
    {
        FOutput.reset();
        for (const auto& part : FParts)
            DeleteFileA(part.Temp.c_str());
    }

    bool Execute()
    {
        if (!CheckPartCount())
            return false;
        const std::string mode = FVolumeFiles ? "999" : FFacts.Mode;
        const std::int64_t linesPerPart = FVolumeFiles ? 0 : LinesPerPart();
        for (std::size_t v = 0; v < FInputs.size(); ++v) {
            const TDateTime finished = FInputDate;
            if (!OpenInput(FInputs[v]))
                return false;
            const std::string name = win::ExtractFileName(FInputs[v]);
            if (v == 0)
                StartFirstPart(name, mode);
            else
                StartNextPart(name, finished);
            if (!EncodeInput(linesPerPart, name))
                return false;
        }
        Put("end\r\n" + std::to_string(FTotal) + " bytes\r\n");
        if (FPartNumber > 0)
            Put("encoded into " + std::to_string(FPartNumber) + " file(s)\r\n");
        FlushOut();
        FOutput.reset();
        return Commit();
    }

private:
    struct TPart {
        std::string Temp;
        std::string Target;
        bool Dated = false;
        TDateTime Date = 0;
    };

    bool CheckPartCount()
    {
        std::int64_t parts = std::int64_t(FInputs.size());
        if (!FVolumeFiles) {
            const std::int64_t size = FileSize(FInputs.front());
            parts = PartCount(size, FLine.BytesPerLine(), LinesPerPart());
        }
        if (parts - 1 <= kMaxParts)
            return true;
        Z.DoError(Z.OutFilename(), std::to_string(parts) + " parts", E_MAXVOLUMES, "");
        return false;
    }

    std::int64_t LinesPerPart() const { return std::int64_t(std::max(Z.KBytesPerVolume, 0)) * 16; }

    static std::int64_t FileSize(const std::string& Path)
    {
        TFileStream32 file(Path, fmOpenRead | fmShareDenyNone);
        return file.HandleValid() ? file.Size() : 0;
    }

    bool OpenInput(const std::string& Path)
    {
        FInput = std::make_unique<TFileStream32>(Path, fmOpenRead | fmShareDenyWrite);
        if (!FInput->HandleValid()) {
            Z.DoError(Path, "part ", E_OPENFILE, Path);
            return false;
        }
        Z.VolumeName = Path;
        FInputPath = Path;
        FUnread = FInput->Size();
        FInputDate = FileDateOf(Path);
        FInPos = FInEnd = 0;
        FEof = false;
        return true;
    }

    void StartFirstPart(const std::string& Name, const std::string& Mode)
    {
        OpenPart(Z.OutFilename());
        if (Z.WriteTableToFile) {
            const std::string_view a = AlphabetOf(FFacts.Code);
            Put("table\r\n" + std::string(a.substr(0, 32)) + "\r\n" + std::string(a.substr(32)) + "\r\n");
        }
        if (FFacts.Code == TTextCode::Base64)
            Put("Content-Type: " + MimeContentType(Name) + "; name=\"" + Name + "\";\r\n" +
                "Content-Transfer-Encoding: base64\r\n" + "Content-Disposition: attachment; filename=\"" + Name +
                "\"\r\n\r\n");
        Put(BeginLine(Mode, Name));
        FLineCount = 3;
    }

    // Every continuation opens with its part line and a begin line, whatever the code: decoders
    // that take each file alone find the name there.
    void StartNextPart(const std::string& Name, TDateTime FinishedDate)
    {
        // The finished part carries its input's date.
        FlushOut();
        FParts.back().Dated = true;
        FParts.back().Date = FinishedDate;
        // An input that grew while it was read must not reuse the last part's name.
        if (FPartNumber == kMaxParts)
            Z.RaiseError(Z.OutFilename(), "", "", E_MAXVOLUMES);
        ++FPartNumber;
        const std::string target = TextPartName(Z.OutFilename(), FPartNumber);
        OpenPart(target);
        Put("part " + std::to_string(FPartNumber) + "\r\nbegin 644 " + Name + "\r\n");
        FLineCount = 3;
    }

    std::string BeginLine(const std::string& Mode, const std::string& Name) const
    {
        return std::string(FFacts.Code == TTextCode::Base64 ? "begin-base64 " : "begin ") + Mode + " " + Name + "\r\n";
    }

    void OpenPart(const std::string& Target)
    {
        for (const auto& input : FInputs)
            if (SameFilePath(Target, input))
                Z.RaiseError(input, Target, "", E_SAMEINOUTNAMES);
        std::string folder = win::ExtractFilePath(Target);
        if (folder.empty())
            folder = win::IncludeTrailingBackslash(win::CurrentDirectory());
        const std::string temp = win::CreateOwnedTempFile(folder, "uue");
        if (temp.empty())
            Z.RaiseError(Target, "part ", "", E_OPENFILE);
        FParts.push_back({temp, Target});
        FOutput = std::make_unique<TFileStream32>(temp, fmCreate);
        if (!FOutput->HandleValid())
            Z.RaiseError(Target, "part ", "", E_OPENFILE);
    }

    bool EncodeInput(std::int64_t LinesPerPart, const std::string& Name)
    {
        for (;;) {
            if (Z.GetCancel())
                return false;
            const std::uint8_t* data = nullptr;
            std::size_t n = 0;
            if (!Take(data, n))
                return false;
            FTotal += std::int64_t(n);
            if (FOutLen + TLineEncoder::kMaxLine > kBlock)
                FlushOut();
            if (n == 0 && FFacts.Code == TTextCode::Base64) {
                Put("\r\n");
            } else {
                FOutLen += FLine.EncodeLine(data, n, FOut.data() + FOutLen);
            }
            ++FLineCount;
            if (n == 0)
                return true;
            if (FLineCount == LinesPerPart)
                StartNextPart(Name, FInputDate);
        }
    }

    // The next line's bytes: a full line, fewer only at the end of the input.
    bool Take(const std::uint8_t*& Data, std::size_t& Count)
    {
        const std::size_t want = FLine.BytesPerLine();
        if (FInEnd - FInPos < want && !FEof) {
            std::memmove(FIn.data(), FIn.data() + FInPos, FInEnd - FInPos);
            FInEnd -= FInPos;
            FInPos = 0;
            while (FInEnd < want && !FEof) {
                const auto ask = std::int32_t(FIn.size() - FInEnd);
                const std::int32_t got = Z.ReadArchiveProc(FInput.get(), FIn.data() + FInEnd, ask, false, 0);
                if (got <= 0) {
                    FEof = true;
                    // The input ends before its size: a failing medium, not the end of the data.
                    if (FUnread > 0) {
                        Z.DoError(FInputPath, "", E_READFILE, FInputPath);
                        return false;
                    }
                    break;
                }
                FInEnd += std::size_t(got);
                FUnread -= got;
                FDone += got;
                Z.DoProgress(FDone, Z.UnpackedTotal, Z.UnpackedTotal);
                ProcessMessages();
            }
        }
        Count = std::min(want, FInEnd - FInPos);
        Data = FIn.data() + FInPos;
        FInPos += Count;
        return true;
    }

    void Put(const std::string& Text)
    {
        if (FOutLen + Text.size() > FOut.size())
            FlushOut();
        if (Text.size() > FOut.size()) {
            Write(Text.data(), Text.size());
            return;
        }
        std::memcpy(FOut.data() + FOutLen, Text.data(), Text.size());
        FOutLen += Text.size();
    }

    void FlushOut()
    {
        Write(FOut.data(), FOutLen);
        FOutLen = 0;
    }

    void Write(const char* Data, std::size_t Count)
    {
        if (Count == 0)
            return;
        const auto n = std::int32_t(Count);
        if (FOutput->Write(Data, n) != n)
            Z.RaiseWriteError(FParts.back().Target);
    }

    // The output's own name is taken last, in one rename: until then an earlier output stands
    // whole (the parts of an earlier set it replaces are kept and put back should the run die),
    // from then on every part of the new one is in place.
    bool Commit()
    {
        if (FParts.empty())
            return true;
        std::vector<std::string> others;
        for (std::size_t n = 1; n < FParts.size(); ++n)
            others.push_back(FParts[n].Target);
        win::SetReplacement replacement;
        if (!replacement.Begin(others, FParts.front().Target)) {
            Z.DoError(FParts.front().Target, "", E_WRITEFILE, "");
            return false;
        }
        for (std::size_t n = 1; n <= FParts.size(); ++n) {
            auto& part = FParts[n % FParts.size()];
            if (part.Dated)
                win::FileSetDate(part.Temp, win::DateTimeToFileDate(part.Date));
            if (!MoveFileExA(part.Temp.c_str(), part.Target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                Z.DoError(part.Target, "", E_WRITEFILE, "");
                replacement.Undo();
                return false;
            }
            part.Temp.clear();
        }
        replacement.Finish();
        return true;
    }

    TUUEncode& Z;
    const std::vector<std::string>& FInputs;
    const bool FVolumeFiles;
    const TMethodFacts FFacts;
    const TLineEncoder FLine;

    std::unique_ptr<TFileStream32> FInput;
    std::string FInputPath;
    TDateTime FInputDate = 0;
    std::int64_t FUnread = 0;
    std::int64_t FDone = 0;
    std::int64_t FTotal = 0;
    std::vector<std::uint8_t> FIn;
    std::size_t FInPos = 0, FInEnd = 0;
    bool FEof = false;

    std::vector<TPart> FParts;
    std::unique_ptr<TFileStream32> FOutput;
    std::vector<char> FOut;
    std::size_t FOutLen = 0;
    int FPartNumber = 0;
    std::int64_t FLineCount = 0;
};

// --- the component ---

TUUEncode::TUUEncode(TObject* AOwner) : TCompBase(AOwner)
{
    FClassDefaultExt = ".UUE";
    FDefaultExt = ".UUE";
    FArcType = atUUE;
    CompressMethod.Restrict({cmUUEncode, cmXXEncode, cmBase64}, cmUUEncode);
}

void TUUEncode::SetOutFilename(const std::string& Value)
{
    if (Value == ".")
        FOutFilename.clear();
    else if (!Value.empty() && win::ExtractFileName(Value).find('.') == std::string::npos)
        FOutFilename = Value + FDefaultExt;
    else
        FOutFilename = Value;
}

void TUUEncode::SetArchiveFile(const std::string& Name)
{
    if (Loading && !Name.empty() && !win::FileExists(Name)) {
        FArchiveFile.clear();
        return;
    }
    std::string name = Name;
    std::replace(name.begin(), name.end(), '/', '\\');
    // The input keeps its name: DefaultExt names the output only.
    FArchiveFile = name;
    FOutFilename = name.empty() ? std::string() : win::ChangeFileExt(name, FDefaultExt);
    FArcType = atUUE;
    ArchiveOffset = 0;
    *CancelPtr = false;
}

std::int64_t TUUEncode::PartCount(std::int64_t Size, std::size_t BytesPerLine, std::int64_t LinesPerPart)
{
    const std::int64_t lines = (Size + std::int64_t(BytesPerLine) - 1) / std::int64_t(BytesPerLine) + 1;
    const std::int64_t perPart = LinesPerPart - 3;
    if (LinesPerPart <= 0 || perPart <= 0)
        return 1;
    return (lines + perPart - 1) / perPart;
}

std::vector<std::string> TUUEncode::SplitSetVolumes(const std::string& ZipFile) const
{
    std::vector<std::string> volumes;
    for (int n = 1; n < 100; ++n) {
        const std::string volume = NumberedSplitName(ZipFile, n);
        if (!win::FileExists(volume))
            break;
        volumes.push_back(volume);
    }
    volumes.push_back(ZipFile);
    return volumes;
}

void TUUEncode::ProcessArchive(TCompressHeaderObj& /*EntryList*/)
{
    if (FOutFilename.empty())
        RaiseError(FArchiveFile, "OutFile", "", E_INVALIDFILENAME);
    if (Switch == swDelete)
        RaiseError(FArchiveFile, "", "", E_UNSUPPORTEDARCTYPE);
    const TMethodFacts facts = FactsOf(CompressMethod);
    FDefaultExt = facts.Ext;
    if (SameFilePath(FOutFilename, FArchiveFile)) {
        DoError(FArchiveFile, FOutFilename, E_SAMEINOUTNAMES, "");
        return;
    }
    if (win::FileExists(FOutFilename) && OverwriteMode != omOverwrite) {
        if (!OnFileExists) {
            DoError(FOutFilename, "OnFileExists", E_REQUIREDEVENT, "");
            return;
        }
        OnFileExists(this, FOutFilename, FileDateOf(FOutFilename), OverwriteMode);
        if (OverwriteMode != omOverwrite || !CheckArchiveWriteable(FOutFilename))
            return;
    }
    std::string name = FOutFilename;
    const TCompressHeaderObj noEntries;
    if (!DoBegin(name, 1, &noEntries))
        return;

    std::vector<std::string> inputs{FArchiveFile};
    {
        TFileStream32 input(FArchiveFile, fmOpenRead | fmShareDenyWrite);
        if (!input.HandleValid()) {
            DoError(FArchiveFile, "", E_OPENFILE, "");
            return;
        }
        // A split ZIP set goes volume by volume, its last volume (the one named) last.
        if (TArcTypeDetector(input, FArchiveFile).GetArcType() == atZipMV)
            inputs = SplitSetVolumes(FArchiveFile);
        UnpackedTotal = 0;
        for (const auto& v : inputs)
            UnpackedTotal += v == FArchiveFile ? input.Size() : TFileStream32(v, fmOpenRead | fmShareDenyNone).Size();
    }
    if (OnElapsedTime)
        Timer().Start();
    if (OnActivate)
        OnActivate(this);
    bool ok = false;
    try {
        ok = TRun(*this, inputs, inputs.size() > 1).Execute() && !GetCancel();
    } catch (...) {
        if (OnEnd)
            OnEnd(this, FOutFilename, false);
        if (OnDeactivate)
            OnDeactivate(this);
        throw;
    }
    if (ok)
        AddedCount = 1;
    if (OnEnd)
        OnEnd(this, FOutFilename, ok);
    if (OnElapsedTime) {
        Timer().Stop();
        OnElapsedTime(this, Timer().Elapsed());
    }
    if (OnDeactivate)
        OnDeactivate(this);
}
