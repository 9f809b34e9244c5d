// The data hooks and per-entry services of TZipCommon.
#include "core/ArcDescriptor.h"
#include "core/Endian.h"
#include "core/ZipCommon.h"

#include "core/Err_Msgs.h"
#include "core/OutputNames.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Errors.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Time.h"

#include <algorithm>
#include <cstring>

// --- ciphers ---

bool TZipCommon::IsZipCipherType() const
{
    return HasArcFlag(FArcType, arcflag::ZipRecords);
}

void TZipCommon::DecryptEntryBlock(bool IsEncrypted, void* Buffer, std::int32_t Count)
{
    if (!IsEncrypted || Count <= 0)
        return;
    auto* p = static_cast<std::uint8_t*>(Buffer);
    switch (FArcType) {
    case atArj:
    case atArjExe:
        if (FPassword.empty())
            return;
        for (std::int32_t i = 0; i < Count; ++i) {
            if (ArjPasswordPos < 1 || ArjPasswordPos > int(FPassword.size()))
                ArjPasswordPos = 1;
            p[i] ^= std::uint8_t(FPassword[std::size_t(ArjPasswordPos - 1)]);
            ++ArjPasswordPos;
        }
        return;
    case atBh:
    case atBhExe:
        DataCipher.DecryptBuffer(p, std::size_t(Count));
        return;
    default:
        if (IsZipCipherType())
            DataCipher.DecryptBuffer(p, std::size_t(Count));
    }
}

// --- archive read ---

void TZipCommon::StartEntryData()
{
    RunningCrc.Reset();
    PendingCR = false;
}

std::int32_t TZipCommon::ReadArchiveBlock(TStream32* Stream, void* Buffer, std::int32_t Count, bool IsEncrypted,
                                          int CrcWidth)
{
    if (Count <= 0 || Stream == nullptr)
        return 0;
    const std::int32_t got = Stream->Read(Buffer, Count);
    if (got <= 0)
        return 0;
    DecryptEntryBlock(IsEncrypted, Buffer, got);
    RunningCrc.UpdateCrc(CrcWidth, Buffer, got);
    return got;
}

// --- writes ---

std::int32_t TZipCommon::WriteOutputBlock(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count,
                                          int CrcWidth, bool Encrypt)
{
    if (Count <= 0)
        return 0;
    const auto* data = static_cast<const std::uint8_t*>(Buffer);
    if (Kind == kKindFileData && Encrypt && IsZipCipherType() && FEncryptionMethod == emZip_V2) {
        // Enciphered into a copy: the caller's block stays as it was.
        std::vector<std::uint8_t> ciphered(data, data + Count);
        DataCipher.EncryptBuffer(ciphered.data(), ciphered.size());
        return WriteCore(Target, ciphered.data(), Kind, Count, CrcWidth, data);
    }
    return WriteCore(Target, data, Kind, Count, CrcWidth, data);
}

std::int32_t TZipCommon::WriteArchiveBlock(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count,
                                           int CrcWidth, bool Encrypt)
{
    if (Count <= 0)
        return 0;
    const auto* data = static_cast<const std::uint8_t*>(Buffer);
    const bool bh = FArcType == atBh || FArcType == atBhExe;
    if (Kind == kKindFileData && Encrypt && (bh || IsZipCipherType()) && FEncryptionMethod == emZip_V2) {
        std::vector<std::uint8_t> ciphered(data, data + Count);
        DataCipher.EncryptBuffer(ciphered.data(), ciphered.size());
        return WriteCore(Target, ciphered.data(), Kind, Count, CrcWidth, data);
    }
    return WriteCore(Target, data, Kind, Count, CrcWidth, data);
}

std::int32_t TZipCommon::Deliver(TStream32* Target, const std::uint8_t* Data, std::int32_t Count)
{
    switch (OperationCode) {
    case opExtract:
    case opExtractForRun:
    case opAppend:
        return Target ? Target->Write(Data, Count) : 0;
    case opListTarget:
    case opListTarget2: {
        auto& list = ListTargets[OperationCode == opListTarget ? 0 : 1];
        list.insert(list.end(), Data, Data + Count);
        return Count;
    }
    case opCallerStream:
        return CallerStream ? CallerStream->Write(Data, Count) : 0;
    case opCallerBuffer: {
        if (CallerBuffer == nullptr || CallerBufferCapacity <= 0)
            return 0;
        const auto n = std::int32_t(std::min<std::int64_t>(Count, CallerBufferCapacity));
        std::memcpy(CallerBuffer, Data, std::size_t(n));
        CallerBuffer += n;
        CallerBufferCapacity -= n;
        return n;
    }
    case opTest:
    case opTestQuiet:
        return Count;
    default:
        return 0;
    }
}

std::int32_t TZipCommon::WriteCore(TStream32* Target, const std::uint8_t* Buffer, int Kind, std::int32_t Count,
                                   int CrcWidth, const std::uint8_t* Plain)
{
    if (Count <= 0)
        return 0;
    std::int32_t wanted = Count;
    std::int32_t written = 0;
    if (AsciiTranslation) {
        // A lone LF becomes CR LF; a CR that ended the previous block still pairs with a LF
        // that starts this one.
        std::vector<std::uint8_t> out;
        out.reserve(std::size_t(Count) + std::size_t(Count) / 8 + 1);
        bool prevCR = PendingCR;
        for (std::int32_t i = 0; i < Count; ++i) {
            const std::uint8_t c = Buffer[i];
            if (c == '\n' && !prevCR)
                out.push_back('\r');
            out.push_back(c);
            prevCR = c == '\r';
        }
        PendingCR = prevCR;
        wanted = std::int32_t(std::min<std::size_t>(out.size(), 0x7FFFFFFF));
        SetLastError(ERROR_SUCCESS);
        written = Deliver(Target, out.data(), wanted);
    } else {
        SetLastError(ERROR_SUCCESS);
        written = Deliver(Target, Buffer, Count);
    }
    if (written < wanted) {
        // The member that did not fit is named; the files already kept still count.
        if (GetLastError() == ERROR_DISK_FULL)
            RaiseError(FileName, "", VolumeName, E_DISKFULL);
        DoError(FileName, "", E_WRITEFILE, VolumeName);
        return std::max<std::int32_t>(0, std::min(written, Count));
    }
    if (Kind == kKindFileData)
        RunningCrc.UpdateCrc(CrcWidth, Plain, Count);  // the data as handed in: not translated, not enciphered
    return Count;
}

// --- extra field ---

namespace {}  // namespace

void TZipCommon::ReadExtraField(TStream32& Stream, int Length, bool Notify, int Kind)
{
    CipherBlock.clear();
    CipherBlockId = 0;
    LargeSize = 0;
    if (Length <= 0)
        return;
    const std::int64_t start = Stream.Position();
    std::vector<std::uint8_t> data(std::size_t(std::min(Length, 0xFFFF)));
    const std::int32_t got = Stream.Read(data.data(), std::int32_t(data.size()));
    data.resize(std::size_t(std::max(got, 0)));
    ParseExtraField(data.data(), data.size(), Notify, Kind, start);
}

void TZipCommon::ParseExtraField(const std::uint8_t* Data, std::size_t Length, bool Notify, int Kind,
                                 std::int64_t Position)
{
    CipherBlock.clear();
    CipherBlockId = 0;
    LargeSize = 0;
    std::size_t pos = 0;
    while (Length - pos > 4) {
        const std::uint16_t id = GetLE16(Data + pos);
        const std::size_t size = GetLE16(Data + pos + 2);
        const std::uint8_t* block = Data + pos + 4;
        if (size > Length - pos - 4)
            break;  // runs past the field
        const std::int64_t blockPos = Position + std::int64_t(pos);
        switch (id) {
        case 0x7075:
            if (size > 5)
                ExtraUtf8Name.assign(reinterpret_cast<const char*>(block + 5), size - 5);
            break;
        case 0x9901:
        case 0x0017:
            if (id == 0x9901 && Notify)
                NoteExtraField(0, int(size), blockPos);
            CipherBlock.assign(Data + pos, block + size);
            CipherBlockId = id;
            break;
        case 0x0064:
            if (Notify)
                NoteExtraField(1, int(size), blockPos);
            if (size >= 8)
                LargeSize = GetLE64(block);
            break;
        case 0x0001: {
            if (Notify)
                NoteExtraField(1, int(size), blockPos);
            std::size_t at = 0;
            const auto take = [&](std::int64_t& field) {
                if (field != 0xFFFFFFFF || at + 8 > size)
                    return;
                const std::uint64_t v = GetLE64(block + at);
                at += 8;
                field = std::int64_t(std::min<std::uint64_t>(v, std::uint64_t(INT64_MAX)));
            };
            take(UnpackedSize);
            take(PackedSize);
            if (Kind == 1)
                take(HeaderOffset);
            break;
        }
        default:
            break;
        }
        pos += 4 + size;
    }
}

// --- dates ---

namespace {

constexpr std::uint32_t kEarliestDosDate = 0x00210020;  // 1980-01-01 00:01:00

// Out-of-range fields are clamped to the nearest valid value: a damaged stamp must not end a run.
TDateTime DosToDateTimeClamped(std::uint32_t dos)
{
    const int year = 1980 + int(dos >> 25);
    const int month = std::clamp(int((dos >> 21) & 0x0F), 1, 12);
    const int day = std::clamp(int((dos >> 16) & 0x1F), 1, int(win::DaysInMonth(year, unsigned(month))));
    const int hour = std::min(int((dos >> 11) & 0x1F), 23);
    const int minute = std::min(int((dos >> 5) & 0x3F), 59);
    const int second = std::min(int(dos & 0x1F) * 2, 59);
    return win::ComposeDateTime(win::EncodeDate(year, month, day), win::EncodeTime(hour, minute, second, 0));
}

}  // namespace

TDateTime TZipCommon::DosDateToDateTime(std::uint32_t DosDate)
{
    if (DosDate != FLastDosDate) {
        FLastDateTime = DosToDateTimeClamped(std::max(DosDate, kEarliestDosDate));
        FLastDosDate = DosDate;
    }
    return FLastDateTime;
}

TDateTime TZipCommon::ApplyDateAttribute(std::uint32_t DosDate)
{
    switch (DateAttribute) {
    case daSysDate:
        return win::Now();
    case daMaxFileDate:
        return NewestDate;
    default:
        return DosDateToDateTime(DosDate);
    }
}

// --- entry names ---

bool TZipCommon::SetEntryName(const std::string& StoredName)
{
    return MapEntryName(StoredName, {});
}

bool TZipCommon::MapEntryName(const std::string& Stored, const TStoredNameRules& Rules)
{
    if (Stored.empty()) {
        FileName.clear();
        return true;
    }
    // Into the name's own buffer: a plain name (nearly every one) costs no allocation.
    FileName = EffectiveExtractDir();
    if (AppendPlainOutputName(Stored, UseStoredDirs, FileName))
        return true;
    const TOutputName out = DecideOutputNameInFull(Stored, Rules, UseStoredDirs);
    if (!out.Allowed) {
        FileName.clear();
        DoError(Stored, "", E_INVALIDFILENAME, VolumeName);
        return false;
    }
    FileName += out.Relative;
    return true;
}

bool TZipCommon::DoBegin(std::string& Name, int Count, const TCompressHeaderObj* Entries)
{
    SetEntryName(Name);
    if (Entries == nullptr)
        return false;
    bool extract = true;
    if (OnBegin)
        OnBegin(this, Name, Count, extract);
    if (extract)
        DoRenameFile(Name, *Entries);
    return extract;
}

void TZipCommon::DoRenameFile(std::string& Name, const TCompressHeaderObj& Entries)
{
    if (!OnRenameFile)
        return;
    std::string newName;
    for (;;) {
        newName = Name;
        OnRenameFile(this, Name, newName);
        const std::string file = win::ExtractFileName(newName);
        if (file.empty() || win::SameText(newName, Name))
            return;
        // By the list's index: a listener renaming every entry would otherwise cost the square.
        if (Entries.IndexOfName(newName) < 0)
            break;
        if (GetCancel())
            return;
    }
    Name = newName;
    Renamed = true;
}

// --- output folder and target ---

namespace {

bool FolderIsWritable(const std::string& dir)
{
    if (!win::DirectoryExists(dir))
        return win::ForceDirectories(dir);
    const std::string probe = win::CreateOwnedTempFile(dir, "prb");
    if (probe.empty())
        return false;
    DeleteFileA(probe.c_str());
    return true;
}

}  // namespace

bool TZipCommon::CheckDirectory(std::string& Dir)
{
    if (!DirectoryCheck || OperationCode != opExtract)
        return true;
    while (!FolderIsWritable(Dir)) {
        // Without a host to offer another folder: the folder and the system's reason.
        if (!OnLimitedUser) {
            DoError(Dir, win::SysErrorMessage(GetLastError()), E_DIRWRITEPROTECTED, VolumeName);
            return false;
        }
        std::string userDir;
        OnLimitedUser(this, Dir, userDir, *CancelPtr);
        if (*CancelPtr) {
            DoError(Dir, "", E_ACCESSPERMISSIONS, VolumeName);
            return false;
        }
        if (userDir.empty() || !win::DirectoryExists(userDir)) {
            DoError(userDir, "", E_INVALIDDIRECTORY, VolumeName);
            continue;
        }
        if (win::SameText(win::IncludeTrailingBackslash(userDir), win::IncludeTrailingBackslash(Dir)))
            continue;
        Dir = win::IncludeTrailingBackslash(userDir);
    }
    return true;
}

bool TZipCommon::CheckOutputTarget(const std::string& Target, const std::string& Root)
{
    const std::string& base = Root.empty() ? EffectiveExtractDir() : Root;
    std::string hostBase, hostTarget;
    win::HostPathState target;
    if (!win::ToHostPath(base, hostBase) || !win::ToHostPath(Target, hostTarget, nullptr, &target)) {
        DoError(Target, NameRefusalReason(Target), E_INVALIDFILENAME, VolumeName);
        return false;
    }
    return CheckHostTarget(Target, std::move(hostBase), hostTarget, target);
}

bool TZipCommon::CheckHostTarget(const std::string& Target, std::string hostBase, const std::string& hostTarget,
                                 const win::HostPathState& target)
{
    switch (WalkHostTarget(std::move(hostBase), hostTarget, target)) {
    case THostTarget::Outside:
        DoError(Target, "", E_INVALIDFILENAME, VolumeName);
        return false;
    case THostTarget::ThroughLink:
        DoError(Target, "", E_OVERWRITEATTRIB, VolumeName);
        return false;
    case THostTarget::Inside:
        break;
    }
    return true;
}

// --- stored members and CRC ---

std::int64_t TZipCommon::CopyStoredMember(TStream32* Stream, TStream32* Output, const std::uint8_t* HeaderRecord,
                                          const std::string& Name, int CrcWidth)
{
    (void)Name;
    std::int64_t left = BytesRemaining;
    const std::int64_t total = left;
    const bool arj = FArcType == atArj || FArcType == atArjExe;
    const bool zipLike = FArcType == atBh || FArcType == atBhExe || IsZipCipherType();
    const bool flag = HeaderRecord != nullptr && (HeaderRecord[0] & 1) != 0;
    // The cipher types are deciphered on the way in: the output hook would encipher again.
    const bool decipher = (arj || zipLike) && flag;
    std::vector<std::uint8_t> buffer(std::size_t(std::clamp<std::int64_t>(left, 1, 32768)));
    while (left > 0) {
        const auto want = std::int32_t(std::min<std::int64_t>(left, std::int64_t(buffer.size())));
        const std::int32_t got = ReadArchiveProc(Stream, buffer.data(), want, decipher, 0);
        if (got <= 0)
            break;
        left -= got;
        BytesRemaining -= got;
        BytesToRead -= got;
        WriteOutputProc(Output, buffer.data(), kKindFileData, got, CrcWidth, false);
        ProcessMessages();
        DoProgress(total - left, total, ArchiveSize);
        if (GetCancel())
            break;
    }
    return left;
}

// --- display strings ---

std::string TZipCommon::DosAttrString(std::uint32_t Attr, char Fill)
{
    std::string s(5, Fill);
    if (Attr & 0x20)
        s[0] = 'a';
    if (Attr & 0x10)
        s[0] = 'd';
    if (Attr & 0x01)
        s[1] = 'r';
    if (Attr & 0x04)
        s[2] = 's';
    if (Attr & 0x02)
        s[3] = 'h';
    if (Attr & 0x4000)
        s[3] = 'e';
    return s;
}

std::string TZipCommon::UnixAttrString(std::uint32_t Mode, char Fill)
{
    std::string s(10, Fill);
    if (Mode & 0x4000)
        s[0] = 'd';
    const auto triple = [&](int at, std::uint32_t r, std::uint32_t w, std::uint32_t x, std::uint32_t special,
                            char lower, char upper) {
        if (Mode & r)
            s[std::size_t(at)] = 'r';
        if (Mode & w)
            s[std::size_t(at + 1)] = 'w';
        if ((Mode & x) && (Mode & special))
            s[std::size_t(at + 2)] = lower;
        else if (Mode & x)
            s[std::size_t(at + 2)] = 'x';
        else if (Mode & special)
            s[std::size_t(at + 2)] = upper;
    };
    triple(1, 0x100, 0x80, 0x40, 0x800, 's', 'S');
    triple(4, 0x20, 0x10, 0x08, 0x400, 's', 'S');
    triple(7, 0x04, 0x02, 0x01, 0, 'x', 'x');
    return s;
}

TEncryptionMethod TZipCommon::GetEntryEncryptMethod() const
{
    if (!Encrypted)
        return emNone;
    if (CipherBlockId == 0x9901 && CipherBlock.size() >= 4 + 7) {
        const std::uint16_t version = GetLE16(CipherBlock.data() + 4);
        const std::uint8_t strength = CipherBlock[4 + 4];
        const int base = version == 2 ? emAes2_128 : emAes1_128;
        if (strength >= 1 && strength <= 3)
            return TEncryptionMethod(base + strength - 1);
        return emAes1_128;
    }
    if (CipherBlockId == 0x0017 && CipherBlock.size() >= 4 + 4) {
        const std::uint16_t format = GetLE16(CipherBlock.data() + 4);
        const std::uint16_t algorithm = GetLE16(CipherBlock.data() + 6);
        if (format == 2) {
            switch (algorithm) {
            case 0x660E:
                return emPkAes2_128;
            case 0x660F:
                return emPkAes2_192;
            case 0x6610:
                return emPkAes2_256;
            default:
                return emUnsupported;
            }
        }
    }
    return emZip_V2;
}

std::uint32_t TZipCommon::StreamCrc32(TStream32& Stream, std::int64_t Count)
{
    std::uint32_t crc = CRC_MASK;
    std::vector<std::uint8_t> buffer(std::size_t(std::clamp<std::int64_t>(Count, 1, 65536)));
    std::int64_t done = 0;
    while (done < Count && !GetCancel()) {
        const auto want = std::int32_t(std::min<std::int64_t>(Count - done, std::int64_t(buffer.size())));
        const std::int32_t got = Stream.Read(buffer.data(), want);
        if (got <= 0)
            break;
        UpdateCrc32(buffer.data(), got, crc);
        done += got;
        DoProgress(done, Count, ArchiveSize);
    }
    return ~crc;
}
