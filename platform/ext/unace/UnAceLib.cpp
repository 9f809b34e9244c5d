// The ACE library's entry points over our decoder. A test hands every decoded block to the state
// callback; an extraction also writes the members below the destination folder (names that
// would leave it are refused). Members continued across volumes are joined, the next volume
// asked for through the request callback; encrypted members are deciphered with the password
// given or, when there is none, one asked for through the request callback.
#include "platform/ext/unace/unace.h"

#include "platform/ext/unace/AceCipher.h"
#include "platform/ext/unace/AceDecoder.h"
#include "platform/ext/unace/AceHeaders.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// What ACEInitDll was given; the calls after it use it, as the library's interface has it.
tACEGlobalDataStruc& Globals()
{
    static tACEGlobalDataStruc globals{};
    return globals;
}

struct TStop {};  // a callback cancelled the run

int Call(ACECallbackProc Proc, tACECallbackStruc& C)
{
    C.Obj = Globals().Obj;
    return Proc ? Proc(&C) : ACE_CALLBACK_RETURN_OK;
}

int Report(unsigned Code, const char* Archive, tACEFileDataStruc* File)
{
    tACECallbackStruc c{};
    c.StructureType = File ? ACE_CALLBACK_TYPE_ARCHIVEDFILE : ACE_CALLBACK_TYPE_ARCHIVE;
    c.Code = Code;
    c.ArchiveName = Archive;
    c.FileData = File;
    return Call(Globals().ErrorCallbackProc, c);
}

bool WildMatch(const char* Mask, const char* Name)
{
    for (; *Mask; ++Mask, ++Name) {
        if (*Mask == '*') {
            for (const char* n = Name;; ++n) {
                if (WildMatch(Mask + 1, n))
                    return true;
                if (!*n)
                    return false;
            }
        }
        if (!*Name || (*Mask != '?' && std::tolower(static_cast<unsigned char>(*Mask)) !=
                                           std::tolower(static_cast<unsigned char>(*Name))))
            return false;
    }
    return !*Name;
}

bool InFileList(const char* List, const std::string& Name)
{
    const std::string file = Name.substr(Name.find_last_of('\\') + 1);
    std::string mask;
    for (const char* p = List ? List : "*";; ++p) {
        if (*p == '\r' || *p == '\n' || *p == 0) {
            if (mask == "*" || mask == "*.*" ||
                (!mask.empty() && (WildMatch(mask.c_str(), Name.c_str()) || WildMatch(mask.c_str(), file.c_str()))))
                return true;
            mask.clear();
            if (*p == 0)
                return false;
        } else {
            mask += *p;
        }
    }
}

// The member's path below Destination, or empty when its name would leave it.
std::string TargetPath(const std::string& Destination, const std::string& Stored, bool ExcludePath)
{
    std::string name = Stored;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (ExcludePath)
        name = name.substr(name.find_last_of('/') + 1);
    if (name.empty() || name[0] == '/' || (name.size() > 1 && name[1] == ':'))
        return {};
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t end = name.find('/', at);
        if (name.compare(at, end == std::string::npos ? std::string::npos : end - at, "..") == 0)
            return {};
        at = end == std::string::npos ? end : end + 1;
    }
    std::string dest = Destination;
    if (!dest.empty() && dest.back() != '/')
        dest += '/';
    return dest + name;
}

void MakeParents(const std::string& Path)
{
    for (std::size_t at = Path.find('/', 1); at != std::string::npos; at = Path.find('/', at + 1))
        mkdir(Path.substr(0, at).c_str(), 0777);
}

struct TRun {
    const char* Archive;
    unsigned Operation;
    const tACEFilesStruc* Files;
    const char* Destination = nullptr;
    bool ExcludePath = false;
    const char* Password = nullptr;
};

// One volume of the archive, open while any member still reads from it.
struct TVolume {
    std::string Name;
    std::FILE* File = nullptr;
    std::int64_t Size = 0;
    TAceArchiveWalk Walk;
    TAceWalkResult Walked = TAceWalkResult::NotAce;

    ~TVolume()
    {
        if (File)
            std::fclose(File);
    }
    std::int64_t ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const
    {
        if (Count <= 0 || std::fseek(File, long(Offset), SEEK_SET) != 0)
            return 0;
        return std::int64_t(std::fread(Buffer, 1, std::size_t(Count), File));
    }
};

std::shared_ptr<TVolume> OpenVolume(const std::string& Name)
{
    auto v = std::make_shared<TVolume>();
    v->Name = Name;
    v->File = std::fopen(Name.c_str(), "rb");
    if (!v->File)
        return nullptr;
    std::fseek(v->File, 0, SEEK_END);
    v->Size = std::ftell(v->File);
    const TVolume* raw = v.get();
    v->Walked = WalkAceArchive(
        [raw](std::int64_t Offset, void* Buffer, std::int64_t Count) { return raw->ReadAt(Offset, Buffer, Count); },
        v->Size, v->Walk);
    return v;
}

// The name the set's next volume has by the format's rule: .c00 after the first, then .c01 ...
// in the letter case of the current one.
std::string NextVolumeName(const std::string& Name)
{
    const std::size_t dot = Name.find_last_of('.');
    const std::size_t slash = Name.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) && Name.size() - dot == 4 &&
        (Name[dot + 1] == 'c' || Name[dot + 1] == 'C') && std::isdigit(static_cast<unsigned char>(Name[dot + 2])) &&
        std::isdigit(static_cast<unsigned char>(Name[dot + 3]))) {
        const int n = (Name[dot + 2] - '0') * 10 + (Name[dot + 3] - '0') + 1;
        char ext[8];
        std::snprintf(ext, sizeof ext, "%c%02d", Name[dot + 1], n % 100);
        return Name.substr(0, dot + 1) + ext;
    }
    const std::string base =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? Name.substr(0, dot) : Name;
    struct stat st {};
    return stat((base + ".c00").c_str(), &st) != 0 && stat((base + ".C00").c_str(), &st) == 0 ? base + ".C00"
                                                                                              : base + ".c00";
}

// Where a member's packed bytes lie: one piece per volume it spans.
struct TSegment {
    std::shared_ptr<TVolume> Volume;
    std::int64_t Offset = 0;
    std::uint64_t Size = 0;
};

// The packed bytes of one member across its segments, deciphered when a cipher is given.
class TMemberSource {
public:
    TMemberSource(const std::vector<TSegment>& Segments, TAceCipher* Cipher) : FSegments(Segments), FCipher(Cipher) {}

    std::size_t operator()(std::uint8_t* Buffer, std::size_t Count)
    {
        if (!FCipher)
            return ReadRaw(Buffer, Count);
        std::size_t done = 0;
        while (done < Count) {
            if (FAt == FPlain.size()) {
                FPlain.resize(1 << 16);
                const std::size_t got = ReadRaw(FPlain.data(), FPlain.size());
                FPlain.resize(got - got % TAceCipher::kBlock);  // a torn last block is not data
                FCipher->Decrypt(FPlain.data(), FPlain.size());
                FAt = 0;
                if (FPlain.empty())
                    break;
            }
            const std::size_t n = std::min(Count - done, FPlain.size() - FAt);
            std::memcpy(Buffer + done, FPlain.data() + FAt, n);
            FAt += n;
            done += n;
        }
        return done;
    }

private:
    std::size_t ReadRaw(std::uint8_t* Buffer, std::size_t Count)
    {
        std::size_t done = 0;
        while (done < Count && FIndex < FSegments.size()) {
            const TSegment& s = FSegments[FIndex];
            const std::uint64_t want = std::min<std::uint64_t>(Count - done, s.Size - FUsed);
            const std::int64_t got =
                want ? s.Volume->ReadAt(s.Offset + std::int64_t(FUsed), Buffer + done, std::int64_t(want)) : 0;
            if (got > 0) {
                FUsed += std::uint64_t(got);
                done += std::size_t(got);
            }
            if (got <= 0 || FUsed == s.Size) {
                if (got <= 0 && FUsed < s.Size)
                    break;  // the volume is shorter than its header says
                ++FIndex;
                FUsed = 0;
            }
        }
        return done;
    }

    const std::vector<TSegment>& FSegments;
    TAceCipher* FCipher;
    std::size_t FIndex = 0;
    std::uint64_t FUsed = 0;
    std::vector<std::uint8_t> FPlain;
    std::size_t FAt = 0;
};

// Asks for the next volume of the set (the request callback may rename it) and walks it.
std::shared_ptr<TVolume> ChangeVolume(const TVolume& Current)
{
    char name[1024];
    std::snprintf(name, sizeof name, "%s", NextVolumeName(Current.Name).c_str());
    tACECallbackStruc c{};
    c.StructureType = ACE_CALLBACK_TYPE_ARCHIVE;
    c.Code = ACE_CALLBACK_REQUEST_CHANGEVOLUME;
    c.ArchiveName = Current.Name.c_str();
    c.VolumeNumber = Current.Walk.VolumeNumber + 1;
    c.Text = name;
    c.TextSize = sizeof name;
    const int answer = Call(Globals().RequestCallbackProc, c);
    if (answer == ACE_CALLBACK_RETURN_CANCEL)
        throw TStop{};
    name[sizeof name - 1] = 0;
    return answer == ACE_CALLBACK_RETURN_OK ? OpenVolume(name) : nullptr;
}

// Asks for a password through the request callback; empty when none was given.
std::string AskPassword(const char* Archive, tACEFileDataStruc& File)
{
    char text[256] = {};
    tACECallbackStruc c{};
    c.StructureType = ACE_CALLBACK_TYPE_ARCHIVEDFILE;
    c.Code = ACE_CALLBACK_REQUEST_PASSWORD;
    c.ArchiveName = Archive;
    c.FileData = &File;
    c.Text = text;
    c.TextSize = sizeof text;
    const int answer = Call(Globals().RequestCallbackProc, c);
    if (answer == ACE_CALLBACK_RETURN_CANCEL)
        throw TStop{};
    text[sizeof text - 1] = 0;
    return answer == ACE_CALLBACK_RETURN_OK ? std::string(text) : std::string();
}

int RunArchive(const TRun& R)
{
    std::shared_ptr<TVolume> volume = OpenVolume(R.Archive);
    if (!volume)
        return ACE_ERROR_OPEN;
    if (volume->Walked == TAceWalkResult::NotAce) {
        Report(ACE_CALLBACK_ERROR_ARCHIVE, R.Archive, nullptr);
        return ACE_ERROR_ARCHIVE;
    }
    const bool solid = volume->Walk.Solid();
    tACECallbackStruc info{};
    info.StructureType = ACE_CALLBACK_TYPE_ARCHIVE;
    info.ArchiveName = R.Archive;
    info.Operation = R.Operation;
    info.Code = ACE_CALLBACK_INFO_FILELISTCREATE;
    Call(Globals().InfoCallbackProc, info);
    for (const TAceMember& m : volume->Walk.Members) {
        if (!m.ContinuedFromPrevious() && InFileList(R.Files ? R.Files->FileList : nullptr, m.Name)) {
            info.Code = ACE_CALLBACK_INFO_FILELISTADD;
            Call(Globals().InfoCallbackProc, info);
        }
    }
    info.Code = ACE_CALLBACK_INFO_FILELISTCREATEEND;
    Call(Globals().InfoCallbackProc, info);

    TAceDecoder decoder;  // one per run: a solid archive's members share its dictionary
    std::string password = R.Password ? R.Password : "";
    int answer = ACE_ERROR_NOERROR;
    bool damaged = volume->Walked == TAceWalkResult::Damaged;
    try {
        for (std::size_t next = 0; next < volume->Walk.Members.size();) {
            TAceMember m = volume->Walk.Members[next++];
            tACEFileDataStruc file{};
            file.SourceFileName = m.Name.c_str();
            file.Flags = m.Flags;
            file.PackedSize = m.Packed;
            file.Size = m.Size;
            file.Time = m.Time;
            file.Attributes = m.Attributes;
            file.CompType = m.CompType;
            const bool wanted = InFileList(R.Files ? R.Files->FileList : nullptr, m.Name);
            if (m.ContinuedFromPrevious()) {
                // Its start lies in an earlier volume than the one opened.
                if (wanted && Report(ACE_CALLBACK_ERROR_UNSUPPORTED, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
                continue;
            }
            // A member continued in further volumes: its pieces in order, the CRC from the last.
            std::vector<TSegment> segments{{volume, m.DataOffset, m.Packed}};
            for (const std::string name = m.Name; m.ContinuedInNext();) {
                std::shared_ptr<TVolume> following = volume->Walk.MultiVolume() ? ChangeVolume(*volume) : nullptr;
                if (!following || following->Walked == TAceWalkResult::NotAce || following->Walk.Members.empty() ||
                    !following->Walk.Members[0].ContinuedFromPrevious() || following->Walk.Members[0].Name != name) {
                    Report(ACE_CALLBACK_ERROR_READ, R.Archive, &file);
                    return ACE_ERROR_READ;
                }
                volume = following;
                damaged = damaged || volume->Walked == TAceWalkResult::Damaged;
                next = 1;
                const TAceMember& piece = volume->Walk.Members[0];
                segments.push_back({volume, piece.DataOffset, piece.Packed});
                m.Packed += piece.Packed;
                m.Crc = piece.Crc;
                m.Flags = std::uint16_t(m.Flags & ~0x2000) | (piece.Flags & 0x2000);
            }
            file.PackedSize = m.Packed;
            file.CRC32 = m.Crc;
            tACECallbackStruc c{};
            c.StructureType = ACE_CALLBACK_TYPE_ARCHIVEDFILE;
            c.Operation = R.Operation;
            c.ArchiveName = volume->Name.c_str();
            c.FileData = &file;
            std::string target;
            if (wanted && R.Operation == ACE_CALLBACK_OPERATION_EXTRACT) {
                target = TargetPath(R.Destination ? R.Destination : ".", m.Name, R.ExcludePath);
                if (target.empty()) {
                    if (Report(ACE_CALLBACK_ERROR_WRITE, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                        throw TStop{};
                    continue;
                }
                file.DestinationFileName = target.c_str();
            }
            bool take = wanted;
            if (take) {
                c.Code = ACE_CALLBACK_STATE_STARTFILE;
                const int r = Call(Globals().StateCallbackProc, c);
                if (r == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
                take = r == ACE_CALLBACK_RETURN_OK;
            }
            if (m.Directory()) {
                if (take && !target.empty()) {
                    MakeParents(target + "/");
                    mkdir(target.c_str(), 0777);
                }
                continue;
            }
            // A member not taken is still decoded in a solid archive: later members build on it.
            if (!take && !solid)
                continue;
            std::optional<TAceCipher> cipher;
            if (m.Encrypted()) {
                if (password.empty())
                    password = AskPassword(R.Archive, file);
                if (password.empty()) {
                    if (take && Report(ACE_CALLBACK_ERROR_ENCRYPTED, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                        throw TStop{};
                    if (solid)
                        return ACE_ERROR_READ;  // later members build on this one
                    continue;
                }
                cipher.emplace(password);
            }
            std::FILE* out = nullptr;
            if (take && !target.empty()) {
                struct stat st {};
                if (stat(target.c_str(), &st) == 0) {
                    c.Code = ACE_CALLBACK_REQUEST_OVERWRITE;
                    const int r = Call(Globals().RequestCallbackProc, c);
                    if (r == ACE_CALLBACK_RETURN_CANCEL)
                        throw TStop{};
                    take = r == ACE_CALLBACK_RETURN_OK;
                }
                if (take) {
                    MakeParents(target);
                    out = std::fopen(target.c_str(), "wb");
                    if (!out && Report(ACE_CALLBACK_ERROR_WRITE, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                        throw TStop{};
                    take = out != nullptr;
                }
            }
            if (!take && !solid)
                continue;
            TMemberSource packed(segments, cipher ? &*cipher : nullptr);
            const TByteSource source = [&packed](std::uint8_t* Buffer, std::size_t Count) {
                return packed(Buffer, Count);
            };
            std::uint32_t crc = 0xFFFFFFFFu;
            bool written = true;
            const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
                if (!take)
                    return;
                crc = AceCrc32(crc, Data, Count);
                if (out && std::fwrite(Data, 1, Count, out) != Count)
                    written = false;
                tACECallbackStruc p = c;
                p.StructureType = ACE_CALLBACK_TYPE_PROGRESS;
                p.Code = ACE_CALLBACK_STATE_PROGRESS;
                p.Data = Data;
                p.DataSize = Count;
                if (Call(Globals().StateCallbackProc, p) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
            };
            TAceResult result;
            try {
                // Ciphertext comes in whole blocks; anything else is not an encrypted member.
                result = cipher && m.Packed % TAceCipher::kBlock != 0
                             ? TAceResult::Corrupt
                             : decoder.Decode(m.CompType, m.Size, source, sink);
            } catch (...) {
                if (out)
                    std::fclose(out);
                throw;
            }
            if (out && std::fclose(out) != 0)
                written = false;
            if (!take)
                continue;
            const bool crcOk = result == TAceResult::Ok && written && crc == m.Crc;
            if (!crcOk && written && cipher) {
                // With a cipher a wrong password and damage look alike.
                if (Report(ACE_CALLBACK_ERROR_ENCRYPTED, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
            } else if (result != TAceResult::Ok || !written) {
                const unsigned code = result == TAceResult::Unsupported ? ACE_CALLBACK_ERROR_UNSUPPORTED
                                      : !written                        ? ACE_CALLBACK_ERROR_WRITE
                                                                        : ACE_CALLBACK_ERROR_READ;
                if (Report(code, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
            }
            file.CRCOk = crcOk;
            c.StructureType = ACE_CALLBACK_TYPE_CRCCHECK;
            c.Code = ACE_CALLBACK_STATE_ENDCRCCHECK;
            if (Call(Globals().StateCallbackProc, c) == ACE_CALLBACK_RETURN_CANCEL)
                throw TStop{};
            // In a solid archive the stream is lost from a failed member on. Elsewhere a wrong
            // password spoils one member only, so the run goes on; damage ends it.
            if (result != TAceResult::Ok && result != TAceResult::Unsupported && (solid || !cipher))
                return ACE_ERROR_READ;
        }
    } catch (const TStop&) {
        answer = ACE_ERROR_USER;
    }
    if (answer == ACE_ERROR_NOERROR && damaged) {
        Report(ACE_CALLBACK_ERROR_ARCHIVE, R.Archive, nullptr);
        answer = ACE_ERROR_ARCHIVE;
    }
    return answer;
}

}  // namespace

extern "C" {

int ACEInitDll(tACEInitDllStruc* Init)
{
    if (!Init)
        return ACE_ERROR_MEM;
    Globals() = Init->GlobalData;
    return ACE_ERROR_NOERROR;
}

int ACEReadArchiveData(const char* ArchiveName, void*)
{
    TRun run{ArchiveName, ACE_CALLBACK_OPERATION_LIST, nullptr};
    std::FILE* f = ArchiveName ? std::fopen(ArchiveName, "rb") : nullptr;
    if (!f)
        return ACE_ERROR_OPEN;
    std::fclose(f);
    (void)run;
    return ACE_ERROR_NOERROR;
}

int ACEList(const char* ArchiveName, void* List)
{
    TRun run{ArchiveName, ACE_CALLBACK_OPERATION_LIST, static_cast<const tACEFilesStruc*>(List)};
    return RunArchive(run);
}

int ACETest(const char* ArchiveName, tACETestStruc* Test)
{
    if (!ArchiveName || !Test)
        return ACE_ERROR_FILES;
    TRun run{ArchiveName, ACE_CALLBACK_OPERATION_TEST, &Test->Files};
    run.Password = Test->DecryptPassword;
    return RunArchive(run);
}

int ACEExtract(const char* ArchiveName, tACEExtractStruc* Extract)
{
    if (!ArchiveName || !Extract)
        return ACE_ERROR_FILES;
    TRun run{ArchiveName,
             ACE_CALLBACK_OPERATION_EXTRACT,
             &Extract->Files,
             Extract->DestinationDir,
             Extract->ExcludePath != 0,
             Extract->DecryptPassword};
    return RunArchive(run);
}

}  // extern "C"
