#include "readers/plxUnArj.h"

#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "readers/EntryNames.h"
#include "readers/MemberData.h"
#include "readers/plxUnLha.h"

namespace {

constexpr int kReported = -1;  // DecodeMember's answer for a failure already reported
constexpr int kMaxPasswordAttempts = 10;
constexpr int kMaxMinVersion = 3;                // what methods 0 to 4 need
constexpr std::uint32_t kKeptAttributes = 0x27;  // read-only, hidden, system, archive
enum TArjFileType : std::uint8_t { ftBinary = 0, ftText = 1, ftDirectory = 3, ftVolumeLabel = 4, ftUnixSpecial = 6 };

// Each garble key byte is the password's plus the member's modifier.
std::string GarbleKey(const std::string& Password, std::uint8_t Modifier)
{
    std::string key = Password.substr(0, 255);
    for (char& c : key)
        c = char(std::uint8_t(c) + Modifier);
    return key;
}

// While a garbled member is read, the component's password is its garble key, from the key's
// first byte on; the password comes back whatever happens.
class TGarbleKeyScope {
public:
    TGarbleKeyScope(TUnBase& Un, const TArjHeader& Header, const std::string& Password) : FUn(Un), FSaved(Un.Password())
    {
        if (!Header.Garbled())
            return;
        FUn.SetPassword(GarbleKey(Password, Header.PasswordModifier));
        FUn.ArjPasswordPos = 1;
    }
    ~TGarbleKeyScope() { FUn.SetPassword(FSaved); }
    TGarbleKeyScope(const TGarbleKeyScope&) = delete;
    TGarbleKeyScope& operator=(const TGarbleKeyScope&) = delete;

private:
    TUnBase& FUn;
    std::string FSaved;
};

}  // namespace

TStaticHuffmanParams ArjStaticParams()
{
    return {16, 17, 5, 16};
}

TUnARJ::TUnARJ(TObject* AOwner) : TUnBase(AOwner)
{
    // Several writers store full paths ("\dir\file"): they extract below the target folder.
    NameRules = kDosFullPaths;
    SetFileSpec({"*.*"});
}

void TUnARJ::ProcessArchive(TStream32* Archive)
{
    FContinuedTarget.clear();
    FWritten.clear();
    FWrittenBy.clear();
    PasswordAttempts = std::min(PasswordAttempts, kMaxPasswordAttempts);
    for (int volume = 0; Archive != nullptr && !GetCancel(); Archive = ArchiveStream.get()) {
        FMembers.clear();
        const bool more = CollectMembers(*Archive);
        for (const TMember& member : FMembers) {
            if (GetCancel())
                break;
            ExtractMember(*Archive, member);
        }
        if (!more || GetCancel() || !OpenNextVolume(++volume))
            break;
    }
    // A member whose rest never came is not left behind half written.
    if (!FContinuedTarget.empty() && IsFileOutput()) {
        const auto exact = ExactOutputNames();
        DeleteFileA(FContinuedTarget.c_str());
    }
    FMembers.clear();
    FVolumeFiles.clear();
    FWritten.clear();
    FWrittenBy.clear();
    FContinuedTarget.clear();
}

bool TUnARJ::CollectMembers(TStream32& Archive)
{
    const TReadAt read = LhaReaderOf(Archive);
    TArjHeader main;
    if (ReadArjMainHeader(read, std::max<std::int64_t>(ArchiveOffset, 0), main) != THeaderStatus::Header) {
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
        return false;
    }
    std::int64_t pos = main.DataOffset;
    TArjHeader header;
    THeaderStatus status = THeaderStatus::End;
    FVolumeFiles.clear();
    while (!GetCancel() && (status = ReadArjHeader(read, pos, header)) == THeaderStatus::Header) {
        pos = header.NextOffset;
        TMember member{header, ArjNameToUtf8(header), {}, false};
        const bool file = header.FileType == ftBinary || header.FileType == ftText;
        if (file && !header.ContinuedFromPrevious() && !header.ContinuesInNext() && !member.Name.empty())
            FVolumeFiles.insert_or_assign(member.Name, header);
        if (member.Name.empty() || !MatchesStoredName(member.Name, RecurseDirs))
            continue;
        if (header.IsHardLink()) {
            // Its data are those of the member it names, which comes before it.
            TArjHeader target = header;
            target.Name = DropCurrentDirParts(header.LinkName);  // "./sub/a" names the member "sub/a"
            member.LinkTarget = ArjNameToUtf8(target);
            if (const auto found = FVolumeFiles.find(member.LinkTarget); found != FVolumeFiles.end())
                member.Header = found->second;
            else
                member.MissingLink = true;
            header = member.Header;
        }
        if (header.FileType == ftUnixSpecial && !header.IsHardLink()) {
            // A device, a pipe or a link of another kind: passed over, as the TAR reader does.
            DoError(member.Name, "special file", E_SKIPPEDFILE, VolumeName);
            continue;
        }
        if (header.MinVersion > kMaxMinVersion && !member.MissingLink) {
            DoError(member.Name, "", E_VERSIONERROR, VolumeName);
            continue;
        }
        if (header.Method > 4 || (header.Method == 4 && header.Version == 1)) {
            DoError(member.Name, "", E_UNSUPPORTEDMETHOD, VolumeName);
            continue;
        }
        if (header.FileType == ftVolumeLabel)
            continue;  // nothing to write
        NewestDate = std::max(NewestDate, ArjDateTime(header));
        PackedTotal += header.PackedSize;
        UnpackedTotal += header.UnpackedSize;
        FMembers.push_back(std::move(member));
    }
    if (status == THeaderStatus::Corrupt && !GetCancel())
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
    // A set goes on after a volume whose main header says so, not after the end marker.
    return status == THeaderStatus::End && main.ContinuesInNext();
}

bool TUnARJ::OpenNextVolume(int Number)
{
    if (!OnNextVolume) {
        DoError(ArchiveFile(), "OnNextVolume", E_REQUIREDEVENT, VolumeName);
        return false;
    }
    std::string volume = ArchiveFile();
    VolumeCounter = Number;
    if (!OpenVolume(ArchiveStream, volume))
        return false;
    VolumeName = volume;
    ArchiveOffset = 0;
    return true;
}

void TUnARJ::FailEntry(int ECode)
{
    DoError(FileName, "", ECode, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

bool TUnARJ::NextPassword(int Attempt, std::string& Password)
{
    if (Attempt == 0 && !this->Password().empty()) {
        Password = this->Password();
        return true;
    }
    const int asked = this->Password().empty() ? Attempt : Attempt - 1;
    if (asked >= PasswordAttempts || GetCancel())
        return false;
    if (!OnGetPassword) {
        DoError(FileName, "OnGetPassword", E_REQUIREDEVENT, VolumeName);
        return false;
    }
    TSeedKeyRecord headerKeys{}, dataKeys{};
    bool tryAgain = true;
    Password = this->Password();
    OnGetPassword(this, FileName, Password, headerKeys, dataKeys, tryAgain);
    return tryAgain && !Password.empty();
}

bool TUnARJ::OpenMemberOutput(const TArjHeader& Header, std::unique_ptr<TStream32>& Out, bool Prepared)
{
    if (!Header.ContinuedFromPrevious() || !IsFileOutput())
        return OpenPlainOutput(Out, Prepared);
    // The rest of a member whose start the previous volume wrote: no question about the file
    // that is ours, appended to it.
    const std::uint8_t operation = OperationCode;
    OperationCode = opAppend;
    StartEntryData();
    const bool opened = OpenOutStream(Out, FileName);
    OperationCode = operation;
    if (!opened && !SkipEntry)
        FailEntry(E_OPENFILE);
    return opened;
}

void TUnARJ::ExtractMember(TStream32& Archive, const TMember& Member)
{
    const TArjHeader& h = Member.Header;
    const std::string continued = std::exchange(FContinuedTarget, {});
    Encrypted = h.Garbled();
    MethodNumber = h.Method;
    PackedSize = h.PackedSize;
    UnpackedSize = h.UnpackedSize;
    Crc32 = h.Crc;
    ExternalAttr = ArjAttributes(h);
    HeaderOffset = h.Offset + 4 + h.FirstSize;
    DateTime = ArjDateTime(h);
    // A link to no member before it in its volume may name a file an earlier volume gave.
    const bool linkedEarlier = Member.MissingLink && !WrittenFile(Member.LinkTarget).empty();
    if (Member.MissingLink && !linkedEarlier) {
        DoError(Member.Name, Member.LinkTarget, E_FILENOTFOUND, VolumeName);
        return;
    }
    if (!NameEntry(Member.Name))
        return;
    if (linkedEarlier) {
        // No data here to decode: a link on disk, or in a test the file's own pass.
        if (!PrepareOutput(false) || LinkMember(Member))
            return;
        if (IsFileOutput()) {
            DoError(Member.Name, Member.LinkTarget, E_FILENOTFOUND, VolumeName);
        } else {
            StartEntryData();
            CheckCrc(32, RunningCrc.Crc32);
        }
        return;
    }
    if (h.IsDirectory()) {
        if (IsFileOutput() && CreateStoredDirs && !MakeStoredDir(FileName, ArjDosDateTime(h), ArjUnixTime(h)))
            return;
        RunningCrc.Crc32 = h.Crc;  // nothing to check
        CheckCrc(32, h.Crc);
        return;
    }
    if (h.FileType != ftBinary && h.FileType != ftText) {
        FailEntry(E_UNKNOWNFILETYPE);
        return;
    }
    // The rest of a member goes where its start went, and nowhere when that was not written
    // (or, in a test, did not pass).
    if (h.ContinuedFromPrevious() && continued != FileName)
        return;
    bool prepared = false;
    if (!Member.LinkTarget.empty()) {
        if (!PrepareOutput(false))
            return;
        prepared = true;
        if (LinkMember(Member))
            return;
    }
    for (int attempt = 0;; ++attempt) {
        std::string password;
        if (h.Garbled() && !NextPassword(attempt, password)) {
            PasswordRefused = true;
            FailEntry(E_PASSWORDFAILED);
            DoBadPassword();
            return;
        }
        std::unique_ptr<TStream32> out;
        if (!OpenMemberOutput(h, out, std::exchange(prepared, false)))
            return;
        int failure = 0;
        {
            const TGarbleKeyScope key(*this, h, password);
            failure = DecodeMember(Archive, h, out.get());
        }
        CloseOutFile(out, FileName, ExternalAttr & kKeptAttributes, ArjDosDateTime(h), ArjUnixTime(h));
        if (GetCancel())
            return;
        const bool crcPasses = RunningCrc.Crc32 == (h.Crc ^ CRC_MASK) || RunningCrc.Crc32 == h.Crc;
        // A wrong password shows as data that fail: the next password is tried quietly.
        if (h.Garbled() && !h.ContinuedFromPrevious() && (failure != 0 || !crcPasses)) {
            DiscardOutput();
            continue;
        }
        bool written = false;
        if (failure != 0) {
            DiscardOutput();
            if (failure == kReported) {
                if (OnEnd)
                    OnEnd(this, FileName, false);
            } else {
                FailEntry(failure);
            }
        } else if (h.ContinuesInNext()) {
            // A member split over volumes passes once, at its last piece: a piece that passes
            // is put in place for the next to append to, and told only when it fails.
            const TOnEnd onEnd = std::exchange(OnEnd, nullptr);
            written = CheckCrc(32, h.Crc);
            OnEnd = onEnd;
            if (!written && OnEnd)
                OnEnd(this, FileName, false);
        } else {
            written = CheckCrc(32, h.Crc);
        }
        if (h.Garbled() && written) {
            std::erase(Passwords, password);
            Passwords.insert(Passwords.begin(), password);
        }
        // A damaged rest leaves no half file behind.
        if (!written && h.ContinuedFromPrevious() && IsFileOutput()) {
            const auto exact = ExactOutputNames();
            DeleteFileA(FileName.c_str());
        }
        if (written && h.ContinuesInNext())
            FContinuedTarget = FileName;
        else if (written)
            NoteWritten(Member.Name);
        if (written && h.ContinuedFromPrevious()) {
            FileCount = std::max(0, FileCount - 1);  // one file, however many pieces
            // Appending gave the file the time of the extraction; it keeps the member's own.
            if (const auto utc = EntryFileTime(ArjDosDateTime(h), ArjUnixTime(h)); utc && IsFileOutput())
                win::FileSetTime(FileName, *utc);
        }
        return;
    }
}

bool TUnARJ::LinkMember(const TMember& Member)
{
    const std::string written = WrittenFile(Member.LinkTarget);
    if (written.empty() || !LinkToWritten(written))
        return false;
    StartEntryData();
    if (CheckCrc(32, RunningCrc.Crc32))
        NoteWritten(Member.Name);
    return true;
}

void TUnARJ::NoteWritten(const std::string& Name)
{
    FWritten.insert_or_assign(Name, FileName);
    FWrittenBy.insert_or_assign(FileName, Name);
}

std::string TUnARJ::WrittenFile(const std::string& Name) const
{
    // Another member written to the same file since (extraction without folders) took it over.
    const auto written = FWritten.find(Name);
    if (written == FWritten.end())
        return {};
    const auto by = FWrittenBy.find(written->second);
    return by != FWrittenBy.end() && by->second == Name ? written->second : std::string();
}

int TUnARJ::DecodeMember(TStream32& Archive, const TArjHeader& Header, TStream32* Out)
{
    if (Archive.Seek64(Header.DataOffset, soBeginning) != Header.DataOffset)
        return E_UNEXPECTEDEOF;
    TMemberData data(*this, Archive, Header.PackedSize, Out, 32, Header.Garbled());
    const TByteSource source = data.Source();
    const TByteSink sink = data.Sink();
    try {
        TStaticHuffmanBits bits(source);
        TCodecStatus result = TCodecStatus::Ok;
        switch (Header.Method) {
        case 0:
            return CopyStoredData(source, sink, Header.UnpackedSize) ? 0 : E_UNEXPECTEDEOF;
        case 1:
        case 2:
        case 3:
            FStatic.StaticHuffmanInit(ArjStaticParams());
            result = FStatic.StaticHuffmanDecode(bits, sink, Header.UnpackedSize);
            break;
        case 4:
            result = FMethod4.Decode(bits, sink, Header.UnpackedSize);
            break;
        default:
            return E_UNSUPPORTEDMETHOD;
        }
        return CodecStatusMessage(result);
    } catch (const TMemberWriteStopped&) {
        return kReported;
    }
    return 0;
}
