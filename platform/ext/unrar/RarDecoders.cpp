#include "platform/ext/unrar/RarDecoders.h"

#include "platform/ext/unrar/unrar.h"

#include <archive.h>
#include <archive_entry.h>
#include <unarr.h>

#include <algorithm>
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

class TUnarrDecoder : public TRarDecoder {
public:
    explicit TUnarrDecoder(const std::string& Volume)
    {
        FStream = ar_open_file(Volume.c_str());
        FArchive = FStream ? ar_open_rar_archive(FStream) : nullptr;
    }
    ~TUnarrDecoder() override
    {
        if (FArchive)
            ar_close_archive(FArchive);
        if (FStream)
            ar_close(FStream);
    }

    int Decode(int, const TRarHeader& Header, const TRarSink& Sink) override
    {
        if (!FArchive)
            return ERAR_EOPEN;
        // Folders are passed over by this reader; entries are found by their header's offset.
        while (!FAtEntry || ar_entry_get_offset(FArchive) < Header.Offset) {
            if (!ar_parse_entry(FArchive))
                return ERAR_BAD_DATA;
            FAtEntry = true;
        }
        if (ar_entry_get_offset(FArchive) != Header.Offset)
            return ERAR_BAD_DATA;
        FAtEntry = false;
        if (ar_entry_get_size(FArchive) != Header.Unpacked)
            return ERAR_BAD_DATA;
        std::vector<char> block(kBlock);
        std::uint64_t left = Header.Unpacked;
        while (left > 0) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
            if (!ar_entry_uncompress(FArchive, block.data(), n))
                return ERAR_BAD_DATA;
            if (!Sink(block.data(), n))
                return ERAR_UNKNOWN;
            left -= n;
        }
        return ERAR_SUCCESS;
    }

private:
    ar_stream* FStream = nullptr;
    ar_archive* FArchive = nullptr;
    bool FAtEntry = false;
};

}  // namespace

std::unique_ptr<TRarDecoder> MakeLibarchiveDecoder(const std::vector<std::string>& Volumes)
{
    return std::make_unique<TLibarchiveDecoder>(Volumes);
}

std::unique_ptr<TRarDecoder> MakeUnarrDecoder(const std::string& Volume) { return std::make_unique<TUnarrDecoder>(Volume); }
