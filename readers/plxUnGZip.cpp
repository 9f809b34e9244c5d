#include "readers/plxUnGZip.h"

#include <algorithm>
#include <vector>

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "readers/EntryNames.h"
#include "readers/GzipFormat.h"
#include "readers/LzwDecoder.h"
#include "readers/plxUnTar.h"

namespace {

constexpr std::uint16_t kCompressMagic = 0x9D1F;
constexpr std::uint16_t kPackMagic = 0x1E1F;
constexpr std::uint16_t kOldPackMagic = 0xA01F;

// The extra field and two texts at their longest.
constexpr std::size_t kHeaderReadLimit = 12 + 0xFFFF + 2 * (GzipMaxTextLength + 1) + 2;

std::uint32_t DosDateOf(TDateTime Date)
{
    return std::uint32_t(win::DateTimeToFileDate(Date));
}

}  // namespace

void TUnGZip::ProcessArchive(TStream32* Archive)
{
    if (Archive == nullptr)
        return;
    std::uint8_t head[2] = {};
    Archive->SetPosition(0);
    if (Archive->Read(head, 2) != 2)
        return;
    UncheckedStream = false;
    switch (GetLE16(head)) {
    case GzipMagic:
    case GzipOldMagic:
        ExtractGzip(*Archive);
        break;
    case kCompressMagic:
        ExtractCompress(*Archive);
        break;
    case kPackMagic:
    case kOldPackMagic:
        DoError(ArchiveFile(), "", E_UNSUPPORTEDMETHOD, VolumeName);
        break;
    default:
        break;  // no entries
    }
}

void TUnGZip::ExtractGzip(TStream32& Archive)
{
    std::vector<std::uint8_t> head(std::size_t(std::clamp<std::int64_t>(ArchiveSize, 0, kHeaderReadLimit)));
    Archive.SetPosition(0);
    head.resize(std::size_t(std::max(0, Archive.Read(head.data(), std::int32_t(head.size())))));
    TGzipHeader header;
    const bool parsed = ParseGzipHeader(head.data(), head.size(), header) == TCodecStatus::Ok;

    // The stored name is taken as a file name only: a member never chooses its folder.
    std::string name = parsed ? FileNamePart(StoredNameToUtf8(header.Name)) : std::string();
    if (name.empty())
        name = GzipOutputName(win::ExtractFileName(ArchiveFile()));
    const std::uint8_t flags = head.size() > 3 ? head[3] : 0;
    const std::uint32_t mtime = head.size() >= 8 ? GetLE32(&head[4]) : 0;
    const TDateTime date = mtime == 0 ? win::Now() : UnixToDateTime(mtime);
    NewestDate = date;
    if (ArchiveSize >= 18) {
        std::uint8_t trailer[8];
        Archive.SetPosition(ArchiveSize - 8);
        if (Archive.Read(trailer, 8) == 8)
            UnpackedTotal = GetLE32(trailer + 4);
    }
    // Nothing is written for what cannot be decoded.
    if (flags & GzipFlagEncrypted) {
        DoError(name, "", E_PASSWORDPROTECTED, VolumeName);
        return;
    }
    ExtractOutput(
        Archive, name, DosDateOf(date),
        [](TStream32& In, const TByteSink& Sink) {
            return CodecStatusMessage(DecodeGzipStream(SourceOf(In), Sink).Status);
        },
        mtime == 0 ? std::nullopt : std::optional<std::int64_t>(mtime));
}

void TUnGZip::ExtractCompress(TStream32& Archive)
{
    const std::string name = GzipOutputName(win::ExtractFileName(ArchiveFile()));
    const TDateTime date = win::Now();
    NewestDate = date;
    UnpackedTotal = ArchiveSize;
    UncheckedStream = true;  // .Z holds no length and no check
    ExtractOutput(Archive, name, DosDateOf(date), [](TStream32& In, const TByteSink& Sink) {
        TLzwDecoder decoder(SourceOf(In), Sink);
        const TCodecStatus status = decoder.Decode();
        // Not a stream this reader knows at all, not a damaged one.
        return decoder.ReservedFlags() ? E_UNKNOWNERROR : CodecStatusMessage(status);
    });
}
