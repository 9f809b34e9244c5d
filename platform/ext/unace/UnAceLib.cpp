// The ACE library's entry points over our decoder. A test hands every decoded block to the state
// callback; an extraction also writes the members below the destination folder (names that
// would leave it are refused). Multi-volume members and encrypted members are reported through
// the error callback: the library neither joins volumes nor deciphers.
#include "platform/ext/unace/unace.h"

#include "platform/ext/unace/AceDecoder.h"
#include "platform/ext/unace/AceHeaders.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
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
            if (mask == "*" || mask == "*.*" || (!mask.empty() && (WildMatch(mask.c_str(), Name.c_str()) ||
                                                                    WildMatch(mask.c_str(), file.c_str()))))
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
};

int RunArchive(const TRun& R)
{
    std::FILE* f = std::fopen(R.Archive, "rb");
    if (!f)
        return ACE_ERROR_OPEN;
    struct TClose {
        std::FILE* F;
        ~TClose() { std::fclose(F); }
    } closer{f};
    std::fseek(f, 0, SEEK_END);
    const std::int64_t size = std::ftell(f);
    const TAceReadAt read = [f](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Count <= 0 || std::fseek(f, long(Offset), SEEK_SET) != 0)
            return 0;
        return std::int64_t(std::fread(Buffer, 1, std::size_t(Count), f));
    };
    TAceArchiveWalk walk;
    const TAceWalkResult walked = WalkAceArchive(read, size, walk);
    if (walked == TAceWalkResult::NotAce) {
        Report(ACE_CALLBACK_ERROR_ARCHIVE, R.Archive, nullptr);
        return ACE_ERROR_ARCHIVE;
    }
    tACECallbackStruc info{};
    info.StructureType = ACE_CALLBACK_TYPE_ARCHIVE;
    info.ArchiveName = R.Archive;
    info.Operation = R.Operation;
    info.Code = ACE_CALLBACK_INFO_FILELISTCREATE;
    Call(Globals().InfoCallbackProc, info);
    for (const TAceMember& m : walk.Members) {
        if (InFileList(R.Files ? R.Files->FileList : nullptr, m.Name)) {
            info.Code = ACE_CALLBACK_INFO_FILELISTADD;
            Call(Globals().InfoCallbackProc, info);
        }
    }
    info.Code = ACE_CALLBACK_INFO_FILELISTCREATEEND;
    Call(Globals().InfoCallbackProc, info);

    TAceDecoder decoder;  // one per run: a solid archive's members share its dictionary
    int answer = ACE_ERROR_NOERROR;
    try {
        for (const TAceMember& m : walk.Members) {
            tACEFileDataStruc file{};
            file.SourceFileName = m.Name.c_str();
            file.Flags = m.Flags;
            file.CRC32 = m.Crc;
            file.PackedSize = m.Packed;
            file.Size = m.Size;
            file.Time = m.Time;
            file.Attributes = m.Attributes;
            file.CompType = m.CompType;
            tACECallbackStruc c{};
            c.StructureType = ACE_CALLBACK_TYPE_ARCHIVEDFILE;
            c.Operation = R.Operation;
            c.ArchiveName = R.Archive;
            c.FileData = &file;
            const bool wanted = InFileList(R.Files ? R.Files->FileList : nullptr, m.Name);
            if (m.ContinuedFromPrevious() || m.ContinuedInNext() || m.Encrypted()) {
                if (wanted && Report(m.Encrypted() ? ACE_CALLBACK_ERROR_ENCRYPTED : ACE_CALLBACK_ERROR_UNSUPPORTED,
                                     R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
                continue;
            }
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
            // A member not taken is still decoded in a solid archive: later members build on it.
            if (!take && !(walk.MainFlags & 0x8000))
                continue;
            std::int64_t at = m.DataOffset;
            std::uint64_t left = m.Packed;
            const TByteSource source = [&](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
                const std::int64_t got = read(at, Buffer, std::int64_t(std::min<std::uint64_t>(Count, left)));
                if (got <= 0)
                    return 0;
                at += got;
                left -= std::uint64_t(got);
                return std::size_t(got);
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
                result = decoder.Decode(m.CompType, m.Size, source, sink);
            } catch (...) {
                if (out)
                    std::fclose(out);
                throw;
            }
            if (out && std::fclose(out) != 0)
                written = false;
            if (!take)
                continue;
            if (result != TAceResult::Ok || !written) {
                const unsigned code = result == TAceResult::Unsupported ? ACE_CALLBACK_ERROR_UNSUPPORTED
                                      : !written                         ? ACE_CALLBACK_ERROR_WRITE
                                                                         : ACE_CALLBACK_ERROR_READ;
                if (Report(code, R.Archive, &file) == ACE_CALLBACK_RETURN_CANCEL)
                    throw TStop{};
            }
            file.CRCOk = result == TAceResult::Ok && written && crc == m.Crc;
            c.StructureType = ACE_CALLBACK_TYPE_CRCCHECK;
            c.Code = ACE_CALLBACK_STATE_ENDCRCCHECK;
            if (Call(Globals().StateCallbackProc, c) == ACE_CALLBACK_RETURN_CANCEL)
                throw TStop{};
            if (result != TAceResult::Ok && result != TAceResult::Unsupported)
                return ACE_ERROR_READ;  // the stream is lost from here on
        }
    } catch (const TStop&) {
        answer = ACE_ERROR_USER;
    }
    if (answer == ACE_ERROR_NOERROR && walked == TAceWalkResult::Damaged) {
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
    return RunArchive({ArchiveName, ACE_CALLBACK_OPERATION_TEST, &Test->Files});
}

int ACEExtract(const char* ArchiveName, tACEExtractStruc* Extract)
{
    if (!ArchiveName || !Extract)
        return ACE_ERROR_FILES;
    TRun run{ArchiveName, ACE_CALLBACK_OPERATION_EXTRACT, &Extract->Files, Extract->DestinationDir,
             Extract->ExcludePath != 0};
    return RunArchive(run);
}

}  // extern "C"
