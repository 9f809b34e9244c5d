// GZip and .Z files: one entry per file, however many members it holds.
#include <algorithm>

#include "core/Endian.h"
#include "core/plxGbls.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/GzipFormat.h"
#include "readers/Pelix.h"
#include "readers/plxUnTar.h"

namespace {

constexpr std::uint16_t kCompressMagic = 0x9D1F;
constexpr std::int64_t kCompressHeaderSize = 3;
constexpr std::int64_t kGzipFixedHeaderSize = 10;
constexpr std::size_t kMaxListedName = 1023;

// The header's bytes, read from the archive in blocks, as the gzip header reader's source.
class THeaderBytes {
public:
    THeaderBytes(const TPelixWalk& Walk, std::int64_t Pos) : FWalk(Walk), FPos(Pos) {}
    std::size_t operator()(std::uint8_t* Buffer, std::size_t Count)
    {
        if (FAt == FFill) {
            FFill = std::size_t(std::max<std::int64_t>(FWalk.ReadAt(FPos, FBlock, sizeof FBlock), 0));
            FPos += std::int64_t(FFill);
            FAt = 0;
        }
        const std::size_t n = std::min(Count, FFill - FAt);
        std::copy_n(FBlock + FAt, n, Buffer);
        FAt += n;
        return n;
    }

private:
    const TPelixWalk& FWalk;
    std::int64_t FPos;
    std::uint8_t FBlock[4096] = {};
    std::size_t FAt = 0, FFill = 0;
};

class TGzipWalker final : public TPelixWalker {
public:
    // compress output of a short file may be shorter than gzip's fixed header.
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(std::int32_t(
            std::clamp<std::int64_t>(Walk.Pelix().ArchiveSize, kCompressHeaderSize, kGzipFixedHeaderSize)));
    }
    void Next(TPelixWalk& Walk) override;
};

void TGzipWalker::Next(TPelixWalk& Walk)
{
    // One entry per file, however many members it holds.
    Walk.End();
    const std::uint16_t magic = Walk.W(0);
    if (magic != GzipMagic && magic != GzipOldMagic && magic != kCompressMagic)
        return;
    const bool compressFile = magic == kCompressMagic;
    const std::int64_t size = Walk.Pelix().ArchiveSize;
    TPelixEntry entry;
    std::int64_t dataAt = Walk.TurnStart() + kCompressHeaderSize;
    std::string name;
    if (compressFile) {
        entry.Date = Walk.ArchiveFileDate();
        // A .Z file has no trailer: neither its CRC nor its unpacked size is stored.
        entry.Packed = entry.Unpacked = std::max<std::int64_t>(size - dataAt, 0);
    } else {
        TGzipHeader header;
        THeaderBytes bytes(Walk, Walk.TurnStart());
        const TCodecStatus status = ReadGzipHeader(std::ref(bytes), header);
        // A damaged optional field still lists the member, by the archive's name.
        const bool parsed = status == TCodecStatus::Ok || status == TCodecStatus::HeaderCrcError;
        dataAt = Walk.TurnStart() + (parsed ? std::int64_t(header.Size) : kGzipFixedHeaderSize);
        if (parsed)
            name = StoredNameToUtf8(header.Name.substr(0, kMaxListedName));
        entry.Date = UnixToDateTime(std::int64_t(Walk.L(4)));
        std::uint8_t trailer[8] = {};
        Walk.ReadAt(size - 8, trailer, 8);
        entry.Crc = GetLE32(trailer);
        entry.Unpacked = GetLE32(trailer + 4);
        entry.Packed = std::max<std::int64_t>(size - dataAt - 8, 0);
        // The stored size is modulo 4 GiB. Deflate grows data by a few bytes per block at most,
        // so only a packed size beyond that growth means the count has wrapped.
        const std::int64_t growth = entry.Packed / 16000 * 5 + 64;
        while (entry.Unpacked + growth < entry.Packed)
            entry.Unpacked += std::int64_t(1) << 32;
        entry.Encrypted = (Walk.B(3) & GzipFlagEncrypted) != 0;
    }
    if (name.empty()) {
        // The archive's own name tells the member's better than a blind cut of its extension.
        const std::string own = win::ExtractFileName(Walk.Pelix().ArchiveFile());
        name = PelixMemberName(own, {".gz", ".gzip"}, {".tgz"});
        if (name == own)
            name = win::ChangeFileExt(own, "");
    }
    name = PelixMemberName(name, {".gz", ".gzip"}, {".tgz"});
    if (name.find('.') == std::string::npos && name.size() > 4 && win::SameText(name.substr(name.size() - 4), "_tar"))
        name[name.size() - 4] = '.';
    entry.Name = name;
    entry.Method = Walk.B(2);
    entry.Facts.FirstBytes[0] = Walk.B(0);
    entry.Facts.FirstBytes[1] = Walk.B(1);
    const std::uint32_t attr = Walk.ArchiveFileAttributes();
    entry.ExternalAttr = attr == 128 ? 0 : attr;
    entry.Offset = Walk.TurnStart();
    Walk.ListWhole(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeGzipWalker()
{
    return std::make_unique<TGzipWalker>();
}
