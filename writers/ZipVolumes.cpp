#include "writers/ZipVolumes.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/TempStreams.h"
#include "core/ZipRecords.h"
#include "writers/plxZip.h"

#include <algorithm>
#include <map>
#include <vector>

TStream32* OpenFinishedOutput(TStream32* Stream, const std::string& TempName, std::unique_ptr<TFileStream32>& Holder)
{
    if (TempName == kMemoryTempName)
        return Stream;
    Holder = std::make_unique<TFileStream32>(TempName, fmOpenRead | fmShareDenyWrite);
    return Holder->HandleValid() ? Holder.get() : nullptr;
}

bool TZipVolumeSink::WriteAcross(const void* Data, std::int64_t Count)
{
    const auto* p = static_cast<const std::uint8_t*>(Data);
    while (Count > 0) {
        if (Room() <= 0 && !NextVolume())
            return false;
        const std::int64_t n = std::min(Count, Room());
        if (!WriteHere(p, n))
            return false;
        if (p)
            p += n;
        Count -= n;
    }
    return true;
}

bool TZipVolumeSink::KeepTogether(std::int64_t Count)
{
    if (Count <= Room() || Position() == 0 || Count > FreshRoom())
        return true;
    return NextVolume();
}

namespace {

constexpr std::int64_t kCopyBlock = 65536;

// Length of the central header record that starts at Bytes.
std::size_t CentralRecordLength(const std::uint8_t* Bytes)
{
    const TCentralHeader h = DecodeRecord<TCentralHeader>(Bytes);
    return TCentralHeader::Size + h.NameLength + h.ExtraLength + h.CommentLength;
}

}  // namespace

bool TZipBase::CopyToVolumes(TStream32& Source, TZipVolumeSink& Sink, bool Marker)
{
    TCompressHeaderObj list;
    if (!ReadDirectory(Source, list, false) || list.Count == 0) {
        DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
        return false;
    }
    if (FOldEnding.DiskNumber != 0) {
        DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);  // already a set of volumes
        return false;
    }
    if (Marker) {
        std::uint8_t marker[4];
        PutLE32(marker, kSigMarker);
        if (!Sink.WriteAcross(marker, 4))
            return false;
    }
    std::vector<std::uint32_t> disks(list.Count, 0);
    const std::int64_t total = Source.Size();
    BytesToRead = total;
    std::vector<std::uint8_t> block(kCopyBlock);
    for (std::uint32_t i = 0; i < list.Count; ++i) {
        if (GetCancel())
            return false;
        TCompressFileInfo& item = list.GetItem(i);
        std::int64_t dataStart = 0;
        const std::int64_t length = LocalEntryLength(Source, item, dataStart);
        if (length < 0 || item.Offset + length > Source.Size()) {
            // A directory entry without its local header would name data that is not there.
            DoError(list.Name(i), "", E_BADLOCALOFFSET, FArchiveFile);
            return false;
        }
        if (!Sink.KeepTogether(dataStart - item.Offset))
            return false;
        disks[i] = Sink.Volume();
        const std::int64_t newOffset = Sink.Position();
        Source.SetPosition(item.Offset);
        if (!Sink.TakesData() && !Sink.WriteAcross(nullptr, length))
            return false;
        for (std::int64_t left = Sink.TakesData() ? length : 0; left > 0;) {
            const auto n = std::int32_t(std::min(left, kCopyBlock));
            if (Source.Read(block.data(), n) != n) {
                DoError(list.Name(i), "", E_READFILE, FArchiveFile);
                return false;
            }
            if (!Sink.WriteAcross(block.data(), n))
                return false;
            left -= n;
            BytesToRead = std::max<std::int64_t>(BytesToRead - n, 0);
        }
        item.Offset = newOffset;
        FileName = list.Name(i);
        DoProgress(std::int64_t(i) + 1, std::int64_t(list.Count), total);
    }

    std::uint64_t written = 0;
    const std::string directory = BuildDirectory(list, 0, written, disks);
    const std::vector<std::uint8_t> comment = FOldComment;
    // The directory starts on a fresh volume when it and the end would not fit beside the data.
    if (!Sink.KeepTogether(std::int64_t(directory.size() + kLargeEndSize + comment.size())))
        return false;
    if (Sink.Room() <= 0 && !Sink.NextVolume())
        return false;
    std::uint32_t centralDisk = Sink.Volume();
    std::int64_t centralOffset = Sink.Position();
    std::map<std::uint32_t, std::int64_t> headersOn;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(directory.data());
    for (std::size_t at = 0; at < directory.size();) {
        const std::size_t n = CentralRecordLength(bytes + at);
        // Other readers look for each record whole on one volume.
        if (!Sink.KeepTogether(std::int64_t(n)))
            return false;
        if (Sink.Room() <= 0 && !Sink.NextVolume())
            return false;
        if (at == 0) {
            centralDisk = Sink.Volume();
            centralOffset = Sink.Position();
        }
        ++headersOn[Sink.Volume()];
        if (!Sink.WriteAcross(bytes + at, std::int64_t(n)))
            return false;
        at += n;
    }
    // The end records and the comment stand whole on the last volume; past 4 GiB or 65535
    // entries (or volumes) the Zip64 records come first.
    const bool large = FOldEnding.Large || FOldEnding.Zip64EndPos >= 0 || NeedsLargeEnd(centralOffset, list.Count) ||
                       Sink.Volume() >= 0xFFFF;
    const std::int64_t endSize = std::int64_t(large ? kLargeEndSize : TEndRecord::Size) + std::int64_t(comment.size());
    if (!Sink.KeepTogether(endSize))
        return false;
    TZipEndPlacement placement;
    placement.DiskNumber = Sink.Volume();
    placement.CentralDisk = centralDisk;
    placement.EntriesOnDisk = headersOn[Sink.Volume()];
    placement.EndOffset = Sink.Position();
    const std::string end = BuildEnd(written, directory.size(), centralOffset, large, comment, placement);
    return Sink.WriteAcross(end.data(), std::int64_t(end.size()));
}
