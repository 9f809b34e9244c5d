// The RAR library's entry points. An open walks the first volume's headers; the first header
// read walks the rest of the set (asking the caller for volumes through the callback); entries
// are decoded only when tested or extracted. Nothing is decrypted: an encrypted entry or header
// block answers ERAR_MISSING_PASSWORD after the caller has been asked for a password.
#include "platform/ext/unrar/unrar.h"

#include "platform/ext/unrar/RarDecoders.h"
#include "platform/ext/unrar/RarHeaders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::uint8_t kMethodStored = 0x30;

struct TRarArchive {
    std::string Name;
    unsigned Mode = RAR_OM_LIST;
    UNRARCALLBACK Callback = nullptr;
    std::intptr_t UserData = 0;
    TRarVolumeWalk First;
    TRarWalkResult FirstResult = TRarWalkResult::Ok;
    bool Walked = false;
    int WalkEnd = ERAR_END_ARCHIVE;  // what the header read answers after the last header
    std::vector<std::string> Volumes;
    std::vector<TRarHeader> Headers;  // the headers this open mode returns, in order
    std::vector<int> Ordinals;        // each one's number among the first parts of files
    std::size_t Next = 0;
    int Current = -1;
    std::unique_ptr<TRarDecoder> Decoder;
    bool Unarr = false;
    bool Rar5 = false;
    std::int64_t Start = 0;  // of the first volume's signature
};

bool FileExists(const std::string& Name)
{
    struct stat st {};
    return !Name.empty() && stat(Name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TRarWalkResult WalkFile(const std::string& Name, TRarVolumeWalk& Walk)
{
    std::FILE* f = std::fopen(Name.c_str(), "rb");
    if (!f)
        return TRarWalkResult::MissingVolume;
    std::fseek(f, 0, SEEK_END);
    const std::int64_t size = std::ftell(f);
    const TRarReadAt read = [f](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Count <= 0 || std::fseek(f, long(Offset), SEEK_SET) != 0)
            return 0;
        return std::int64_t(std::fread(Buffer, 1, std::size_t(Count), f));
    };
    const TRarWalkResult result = WalkRarVolume(read, size, Walk);
    std::fclose(f);
    return result;
}

int Ask(TRarArchive& A, unsigned Msg, std::intptr_t P1, std::intptr_t P2)
{
    return A.Callback ? A.Callback(Msg, A.UserData, P1, P2) : -1;
}

// The next volume, by name or as the caller names it; empty when there is none.
std::string NextVolume(TRarArchive& A, const std::string& Current, bool NewNumbering)
{
    char buffer[1024] = {};
    std::snprintf(buffer, sizeof buffer, "%s", NextRarVolumeName(Current, NewNumbering).c_str());
    while (!FileExists(buffer)) {
        if (Ask(A, UCM_CHANGEVOLUME, std::intptr_t(buffer), RAR_VOL_ASK) == -1)
            return {};
        buffer[sizeof buffer - 1] = 0;
    }
    if (Ask(A, UCM_CHANGEVOLUME, std::intptr_t(buffer), RAR_VOL_NOTIFY) == -1 && A.Callback)
        return {};
    return buffer;
}

void KeepHeaders(TRarArchive& A, TRarVolumeWalk& Walk, int& Ordinal)
{
    for (TRarHeader& h : Walk.Headers) {
        h.Volume = int(A.Volumes.size()) - 1;
        const bool firstPart = !h.SplitBefore;
        if (A.Mode == RAR_OM_EXTRACT && !firstPart) {
            // Only the last part's header holds the whole file's CRC.
            if (!A.Headers.empty() && A.Headers.back().SplitAfter) {
                A.Headers.back().Crc = h.Crc;
                A.Headers.back().SplitAfter = h.SplitAfter;
            }
            continue;
        }
        A.Ordinals.push_back(firstPart ? ++Ordinal : Ordinal);
        A.Headers.push_back(std::move(h));
    }
}

void WalkSet(TRarArchive& A)
{
    A.Walked = true;
    int ordinal = -1;
    A.Volumes = {A.Name};
    TRarVolumeWalk walk = std::move(A.First);
    TRarWalkResult result = A.FirstResult;
    for (;;) {
        KeepHeaders(A, walk, ordinal);
        if (result == TRarWalkResult::Damaged || result == TRarWalkResult::BadArchive) {
            A.WalkEnd = ERAR_BAD_DATA;
            return;
        }
        if (result == TRarWalkResult::EncryptedHeaders) {
            A.WalkEnd = ERAR_MISSING_PASSWORD;
            return;
        }
        if (!walk.EndsWithNext || A.Volumes.size() >= 9999)
            return;
        const bool newNumbering = walk.NewNumbering;
        const std::string next = NextVolume(A, A.Volumes.back(), newNumbering);
        if (next.empty()) {
            A.WalkEnd = ERAR_EOPEN;
            return;
        }
        A.Volumes.push_back(next);
        result = WalkFile(next, walk);
    }
}

void FillHeader(const TRarArchive& A, const TRarHeader& H, RARHeaderDataEx& D)
{
    std::snprintf(D.ArcName, sizeof D.ArcName, "%s", A.Volumes[std::size_t(H.Volume)].c_str());
    std::snprintf(D.FileName, sizeof D.FileName, "%s", H.Name.c_str());
    D.Flags = (H.SplitBefore ? RHDF_SPLITBEFORE : 0) | (H.SplitAfter ? RHDF_SPLITAFTER : 0) |
              (H.Encrypted ? RHDF_ENCRYPTED : 0) | (H.Solid ? RHDF_SOLID : 0) | (H.Directory ? RHDF_DIRECTORY : 0) |
              (H.Unicode ? RHDF_UNICODE : 0) | (H.Link ? RHDF_LINK : 0);
    D.PackSize = unsigned(H.Packed);
    D.PackSizeHigh = unsigned(H.Packed >> 32);
    D.UnpSize = unsigned(H.Unpacked);
    D.UnpSizeHigh = unsigned(H.Unpacked >> 32);
    D.HostOS = H.HostOS;
    D.FileCRC = H.Crc;
    D.FileTime = H.DosTime;
    D.UnpVer = H.UnpVer;
    D.Method = H.Method;
    D.FileAttr = H.Attributes;
}

TRarDecoder& DecoderFor(TRarArchive& A)
{
    if (!A.Decoder) {
        // libunarr decodes more of RAR 1.5 to 4 correctly (and the methods of 1.5 to 2.6 alone).
        A.Unarr = !A.Rar5;
        A.Decoder = A.Unarr ? MakeUnarrDecoder(A.Volumes, A.Start) : MakeLibarchiveDecoder(A.Volumes);
    }
    return *A.Decoder;
}

// A whole stored RAR 5 entry is copied straight from its volume: it needs no decoder, and
// libarchive refuses some archives whose headers carry extra bytes.
int CopyStored(const std::string& Volume, const TRarHeader& H, const TRarSink& Sink)
{
    std::FILE* in = std::fopen(Volume.c_str(), "rb");
    if (!in)
        return ERAR_EOPEN;
    int result = fseeko(in, H.Data, SEEK_SET) == 0 ? ERAR_SUCCESS : ERAR_EREAD;
    std::vector<char> block(1 << 16);
    for (std::uint64_t left = H.Packed; left > 0 && result == ERAR_SUCCESS;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
        if (std::fread(block.data(), 1, n, in) != n)
            result = ERAR_EREAD;
        else if (!Sink(block.data(), n))
            result = ERAR_UNKNOWN;
        left -= n;
    }
    std::fclose(in);
    return result;
}

int Decode(TRarArchive& A, const TRarHeader& H, int Ordinal, std::FILE* Out)
{
    const TRarSink sink = [&A, Out](const void* Data, std::size_t Size) {
        if (Out && std::fwrite(Data, 1, Size, Out) != Size)
            return false;
        return Ask(A, UCM_PROCESSDATA, std::intptr_t(Data), std::intptr_t(Size)) != -1 || !A.Callback;
    };
    // A split entry's first part holds less than the whole file; an entry checked by a hash
    // instead of a CRC is left to the decoder that checks it.
    if (A.Rar5 && H.Method == kMethodStored && H.Packed == H.Unpacked && H.Crc != 0)
        return CopyStored(A.Volumes[std::size_t(H.Volume)], H, sink);
    return DecoderFor(A).Decode(Ordinal, H, sink);
}

}  // namespace

extern "C" {

HRARARCHIVE RAROpenArchiveEx(RAROpenArchiveDataEx* Data)
{
    if (!Data)
        return nullptr;
    Data->OpenResult = ERAR_EOPEN;
    if (!Data->ArcName || !FileExists(Data->ArcName))
        return nullptr;
    auto archive = std::unique_ptr<TRarArchive>(new (std::nothrow) TRarArchive);
    if (!archive) {
        Data->OpenResult = ERAR_NO_MEMORY;
        return nullptr;
    }
    archive->Name = Data->ArcName;
    archive->Mode = Data->OpenMode;
    archive->FirstResult = WalkFile(archive->Name, archive->First);
    archive->Rar5 = archive->First.Rar5;
    archive->Start = archive->First.Start;
    if (archive->FirstResult == TRarWalkResult::BadArchive) {
        Data->OpenResult = ERAR_BAD_ARCHIVE;
        return nullptr;
    }
    if (Data->CmtBuf && Data->CmtBufSize > 0)
        Data->CmtBuf[0] = 0;
    Data->CmtSize = 0;
    Data->CmtState = 0;
    Data->Flags = (archive->First.IsVolume ? 0x0001 : 0) |
                  (archive->FirstResult == TRarWalkResult::EncryptedHeaders ? 0x0080 : 0);
    Data->OpenResult = ERAR_SUCCESS;
    return archive.release();
}

int RARCloseArchive(HRARARCHIVE Handle)
{
    delete static_cast<TRarArchive*>(Handle);
    return ERAR_SUCCESS;
}

int RARReadHeaderEx(HRARARCHIVE Handle, RARHeaderDataEx* Data)
{
    if (!Handle || !Data)
        return ERAR_BAD_ARCHIVE;
    TRarArchive& a = *static_cast<TRarArchive*>(Handle);
    if (!a.Walked) {
        if (a.FirstResult == TRarWalkResult::EncryptedHeaders) {
            char password[128] = {};
            Ask(a, UCM_NEEDPASSWORD, std::intptr_t(password), sizeof password);
        }
        WalkSet(a);
    }
    if (a.Next >= a.Headers.size())
        return a.WalkEnd;
    a.Current = int(a.Next++);
    std::memset(Data, 0, sizeof *Data);
    FillHeader(a, a.Headers[std::size_t(a.Current)], *Data);
    return ERAR_SUCCESS;
}

int RARProcessFile(HRARARCHIVE Handle, int Operation, char* DestPath, char* DestName)
{
    if (!Handle)
        return ERAR_BAD_ARCHIVE;
    TRarArchive& a = *static_cast<TRarArchive*>(Handle);
    if (a.Current < 0)
        return ERAR_BAD_DATA;
    const TRarHeader& h = a.Headers[std::size_t(a.Current)];
    // Listing opens only walk; skipping needs nothing of a decoder that is asked for entries in order.
    if (a.Mode != RAR_OM_EXTRACT || Operation == RAR_SKIP || h.Directory || h.Link)
        return ERAR_SUCCESS;
    if (Operation != RAR_TEST && Operation != RAR_EXTRACT)
        return ERAR_UNKNOWN;
    if (h.Encrypted) {
        char password[128] = {};
        Ask(a, UCM_NEEDPASSWORD, std::intptr_t(password), sizeof password);
        return ERAR_MISSING_PASSWORD;
    }
    std::FILE* out = nullptr;
    if (Operation == RAR_EXTRACT) {
        std::string target = DestName ? DestName : h.Name;
        if (!DestName && DestPath && *DestPath)
            target = std::string(DestPath) + "/" + h.Name;
        out = std::fopen(target.c_str(), "wb");
        if (!out)
            return ERAR_ECREATE;
    }
    int result = Decode(a, h, a.Ordinals[std::size_t(a.Current)], out);
    if (out && std::fclose(out) != 0 && result == ERAR_SUCCESS)
        result = ERAR_ECLOSE;
    return result;
}

int RARProcessFileW(HRARARCHIVE Handle, int Operation, wchar_t* DestPath, wchar_t* DestName)
{
    // Wide targets are not offered on this platform; testing and skipping need none.
    if (Operation == RAR_EXTRACT && (DestPath || DestName))
        return ERAR_ECREATE;
    return RARProcessFile(Handle, Operation, nullptr, nullptr);
}

void RARSetCallback(HRARARCHIVE Handle, UNRARCALLBACK Callback, std::intptr_t UserData)
{
    if (!Handle)
        return;
    auto& a = *static_cast<TRarArchive*>(Handle);
    a.Callback = Callback;
    a.UserData = UserData;
}

}  // extern "C"
