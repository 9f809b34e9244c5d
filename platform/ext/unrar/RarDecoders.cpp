#include "platform/ext/unrar/RarDecoders.h"

#include "platform/ext/unrar/unrar.h"

#include <archive.h>
#include <archive_entry.h>
#include <unarr.h>

#include "core/Endian.h"
#include "platform/ext/unrar/RarLz29.h"

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kBlock = 1 << 16;

class TLibarchiveDecoder : public TRarDecoder {
public:
    explicit TLibarchiveDecoder(const std::vector<std::string>& Volumes)
    {
        FVolumes = Volumes;
        for (const std::string& v : FVolumes)
            FNames.push_back(v.c_str());
        FNames.push_back(nullptr);
        FArchive = archive_read_new();
        archive_read_support_format_rar(FArchive);
        archive_read_support_format_rar5(FArchive);
        FOpen = archive_read_open_filenames(FArchive, FNames.data(), 1 << 16) == ARCHIVE_OK;
    }
    ~TLibarchiveDecoder() override { archive_read_free(FArchive); }

    int Decode(int Ordinal, const TRarHeader& Header, const TRarSink& Sink) override
    {
        if (!FOpen)
            return ERAR_EOPEN;
        archive_entry* entry = nullptr;
        while (FPosition < Ordinal) {
            // Passing over an entry still decodes it in a solid archive.
            if (archive_read_next_header(FArchive, &entry) < ARCHIVE_WARN)
                return ERAR_BAD_DATA;
            ++FPosition;
        }
        if (archive_read_next_header(FArchive, &entry) < ARCHIVE_WARN)
            return ERAR_BAD_DATA;
        ++FPosition;
        if (archive_entry_is_encrypted(entry))
            return ERAR_MISSING_PASSWORD;
        if (archive_entry_size_is_set(entry) && std::uint64_t(archive_entry_size(entry)) != Header.Unpacked)
            return ERAR_BAD_DATA;  // not the entry the headers name
        if (archive_entry_filetype(entry) != AE_IFREG)
            return ERAR_SUCCESS;
        std::vector<char> block(kBlock);
        std::uint64_t total = 0;
        for (;;) {
            const la_ssize_t got = archive_read_data(FArchive, block.data(), block.size());
            if (got < 0)
                return ERAR_BAD_DATA;
            if (got == 0)
                break;
            total += std::uint64_t(got);
            if (total > Header.Unpacked)
                return ERAR_BAD_DATA;
            if (!Sink(block.data(), std::size_t(got)))
                return ERAR_UNKNOWN;
        }
        return total == Header.Unpacked ? ERAR_SUCCESS : ERAR_BAD_DATA;
    }

private:
    std::vector<std::string> FVolumes;
    std::vector<const char*> FNames;
    archive* FArchive = nullptr;
    bool FOpen = false;
    int FPosition = 0;
};

// Where each file's first header lies in the volume libunarr reads, by (volume, offset) of the set.
using TOffsetMap = std::map<std::pair<int, std::int64_t>, std::int64_t>;

bool CopyRange(std::FILE* From, std::int64_t Offset, std::uint64_t Count, std::FILE* To)
{
    std::vector<char> block(kBlock);
    if (fseeko(From, Offset, SEEK_SET) != 0)
        return false;
    while (Count > 0) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(Count, block.size()));
        if (std::fread(block.data(), 1, n, From) != n || std::fwrite(block.data(), 1, n, To) != n)
            return false;
        Count -= n;
    }
    return true;
}

void SealHeader(std::vector<std::uint8_t>& Head)
{
    PutLE16(Head.data(), std::uint16_t(crc32(0, Head.data() + 2, uInt(Head.size() - 2))));
}

// libunarr reads one plain RAR 4 volume, so a set or a self-extractor is joined into the one
// volume it would have been: the main header without the volume flags, each file's first header
// carrying the whole file (sizes, last part's CRC) followed by every part's data; the stub, the
// service blocks and the end blocks are left out. Answers false on a damaged volume.
bool JoinRar4(const std::vector<std::string>& Volumes, std::int64_t Start, std::FILE* Out, TOffsetMap& Offsets)
{
    static constexpr std::uint8_t kSignature[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    if (std::fwrite(kSignature, 1, 7, Out) != 7)
        return false;
    struct TPart {
        int Volume;
        std::int64_t Data;
        std::uint64_t Size;
    };
    std::vector<std::uint8_t> head;  // the header of the file being joined
    std::vector<TPart> parts;
    auto flush = [&]() {
        if (head.empty())
            return true;
        std::uint64_t packed = 0;
        for (const TPart& p : parts)
            packed += p.Size;
        const std::uint16_t flags = GetLE16(&head[3]) & ~0x0003;
        PutLE16(&head[3], flags);
        PutLE32(&head[7], std::uint32_t(packed));
        if (flags & 0x0100)
            PutLE32(&head[32], std::uint32_t(packed >> 32));
        SealHeader(head);
        bool ok = std::fwrite(head.data(), 1, head.size(), Out) == head.size();
        for (const TPart& p : parts) {
            std::FILE* in = ok ? std::fopen(Volumes[std::size_t(p.Volume)].c_str(), "rb") : nullptr;
            ok = in && CopyRange(in, p.Data, p.Size, Out);
            if (in)
                std::fclose(in);
        }
        head.clear();
        parts.clear();
        return ok;
    };
    for (int v = 0; v < int(Volumes.size()); ++v) {
        std::FILE* in = std::fopen(Volumes[std::size_t(v)].c_str(), "rb");
        if (!in)
            return false;
        std::vector<std::uint8_t> block;
        bool ok = true, end = false;
        std::int64_t at = (v == 0 ? Start : 0) + 7;
        while (ok && !end) {
            std::uint8_t base[7];
            if (fseeko(in, at, SEEK_SET) != 0 || std::fread(base, 1, 7, in) != 7)
                break;  // a volume may end without an end block
            const std::uint8_t type = base[2];
            const std::uint16_t flags = GetLE16(base + 3);
            const std::uint16_t size = GetLE16(base + 5);
            block.assign(base, base + 7);
            block.resize(std::max<std::uint16_t>(size, 7));
            ok = size >= 7 && std::fread(block.data() + 7, 1, size - 7u, in) == size - 7u;
            if (!ok)
                break;
            std::uint64_t data = (flags & 0x8000) && size >= 11 ? GetLE32(&block[7]) : 0;
            if (type == 0x74 && size >= 32) {
                if ((flags & 0x0100) && size >= 40)
                    data |= std::uint64_t(GetLE32(&block[32])) << 32;
                if (data > std::uint64_t(INT64_MAX - (at + size))) {
                    ok = false;  // it would step back to a header already joined, forever
                    break;
                }
                if (flags & 0x0001) {
                    if (head.empty()) {
                        ok = false;  // a continuation without its start
                        break;
                    }
                    PutLE32(&head[16], GetLE32(&block[16]));  // the whole file's CRC
                } else {
                    ok = flush();
                    Offsets[{v, at}] = ftello(Out);
                    head = block;
                }
                parts.push_back({v, at + size, data});
            } else if (type == 0x73 && v == 0) {
                PutLE16(&block[3], flags & ~0x0101);
                SealHeader(block);
                ok = std::fwrite(block.data(), 1, block.size(), Out) == block.size();
            } else if (type == 0x7B) {
                end = true;
            }
            at += std::int64_t(size) + std::int64_t(data);
        }
        std::fclose(in);
        if (!ok)
            return false;
    }
    return flush() && std::fflush(Out) == 0;
}

// libunarr prints its own diagnostics on the process's stderr; what fails reaches the caller as
// a result code, so they are kept from the person's terminal. The library never calls back into
// us, so nothing of ours is lost while it runs.
class TQuietStderr {
public:
    TQuietStderr()
    {
        std::fflush(stderr);
        FSaved = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (FSaved >= 0 && null >= 0)
            dup2(null, STDERR_FILENO);
        if (null >= 0)
            close(null);
    }
    ~TQuietStderr()
    {
        if (FSaved >= 0) {
            dup2(FSaved, STDERR_FILENO);
            close(FSaved);
        }
    }
    TQuietStderr(const TQuietStderr&) = delete;
    TQuietStderr& operator=(const TQuietStderr&) = delete;

private:
    int FSaved = -1;
};

class TUnarrDecoder : public TRarDecoder {
public:
    TUnarrDecoder(const std::vector<std::string>& Volumes, std::int64_t Start)
    {
        if (Volumes.size() == 1 && Start == 0) {
            FVolume = Volumes[0];
            FStream = ar_open_file(Volumes[0].c_str());
        } else {
            FJoined = std::tmpfile();
            if (FJoined && JoinRar4(Volumes, Start, FJoined, FOffsets))
                FStream = ar_open_file(("/proc/self/fd/" + std::to_string(fileno(FJoined))).c_str());
            FMapped = true;
        }
        const TQuietStderr quiet;
        FArchive = FStream ? ar_open_rar_archive(FStream) : nullptr;
    }
    ~TUnarrDecoder() override
    {
        const TQuietStderr quiet;
        if (FArchive)
            ar_close_archive(FArchive);
        if (FStream)
            ar_close(FStream);
        if (FJoined)
            std::fclose(FJoined);
    }

    int Decode(int, const TRarHeader& Header, const TRarSink& Sink) override
    {
        if (!FArchive)
            return ERAR_EOPEN;
        std::int64_t offset = Header.Offset;
        if (FMapped) {
            const auto at = FOffsets.find({Header.Volume, Header.Offset});
            if (at == FOffsets.end())
                return ERAR_BAD_DATA;
            offset = at->second;
        }
        // Folders are passed over by this reader; entries are found by their header's offset.
        while (!FAtEntry || ar_entry_get_offset(FArchive) < offset) {
            const TQuietStderr quiet;
            if (!ar_parse_entry(FArchive))
                return ERAR_BAD_DATA;
            FAtEntry = true;
        }
        if (ar_entry_get_offset(FArchive) != offset)
            return ERAR_BAD_DATA;
        FAtEntry = false;
        if (ar_entry_get_size(FArchive) != Header.Unpacked)
            return ERAR_BAD_DATA;
        std::vector<char> block(kBlock);
        std::uint64_t left = Header.Unpacked;
        while (left > 0) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
            bool decoded;
            {
                const TQuietStderr quiet;
                decoded = ar_entry_uncompress(FArchive, block.data(), n);
            }
            if (!decoded)
                return DecodeAgain(offset, Header, Header.Unpacked - left, Sink);
            if (!Sink(block.data(), n))
                return ERAR_UNKNOWN;
            left -= n;
        }
        return ERAR_SUCCESS;
    }

private:
    // libunarr misses a rule of RAR 2.9's LZ blocks (a new table restarts the low-distance
    // repeats): a non-solid entry it rejects is decoded again by our own LZ decoder, which hands
    // out only the bytes that did not go out yet. The driver's CRC check judges the whole.
    int DecodeAgain(std::int64_t Offset, const TRarHeader& Header, std::uint64_t Emitted, const TRarSink& Sink)
    {
        constexpr std::uint8_t kMethodStored = 0x30, kVersion29 = 29;
        if (Header.Solid || Header.UnpVer != kVersion29 || Header.Method == kMethodStored)
            return ERAR_BAD_DATA;
        std::FILE* in = FJoined ? FJoined : std::fopen(FVolume.c_str(), "rb");
        if (!in)
            return ERAR_EOPEN;
        std::uint8_t head[40] = {};
        int result = ERAR_BAD_DATA;
        if (fseeko(in, Offset, SEEK_SET) == 0 && std::fread(head, 1, sizeof head, in) >= 32) {
            const std::uint16_t flags = GetLE16(head + 3), size = GetLE16(head + 5);
            std::uint64_t packed = GetLE32(head + 7);
            if (flags & 0x0100)
                packed |= std::uint64_t(GetLE32(head + 32)) << 32;
            if (size >= 32 && fseeko(in, Offset + size, SEEK_SET) == 0) {
                const TRarPackedRead read = [in, &packed](std::uint8_t* Buffer, std::size_t Count) {
                    const std::size_t got =
                        std::fread(Buffer, 1, std::size_t(std::min<std::uint64_t>(Count, packed)), in);
                    packed -= got;
                    return got;
                };
                result = DecodeRar29Lz(read, Header.Unpacked, Emitted, Sink);
            }
        }
        if (!FJoined)
            std::fclose(in);
        return result;
    }

    std::string FVolume;  // the plain volume libunarr reads, when it is not joined
    std::FILE* FJoined = nullptr;
    bool FMapped = false;
    TOffsetMap FOffsets;
    ar_stream* FStream = nullptr;
    ar_archive* FArchive = nullptr;
    bool FAtEntry = false;
};

}  // namespace

std::unique_ptr<TRarDecoder> MakeLibarchiveDecoder(const std::vector<std::string>& Volumes)
{
    return std::make_unique<TLibarchiveDecoder>(Volumes);
}

std::unique_ptr<TRarDecoder> MakeUnarrDecoder(const std::vector<std::string>& Volumes, std::int64_t Start)
{
    return std::make_unique<TUnarrDecoder>(Volumes, Start);
}
