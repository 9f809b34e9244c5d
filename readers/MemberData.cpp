#include "readers/MemberData.h"

#include <algorithm>
#include <vector>

#include "core/UnBase.h"
#include "core/plxHooks.h"

TMemberData::TMemberData(TDecompressClass& Owner, TStream32& Archive, std::int64_t PackedSize, TStream32* Out,
                         int CrcWidth, bool Encrypted)
    : FOwner(Owner),
      FArchive(Archive),
      FOut(Out),
      FLeft(std::max<std::int64_t>(PackedSize, 0)),
      FCrcWidth(CrcWidth),
      FEncrypted(Encrypted)
{}

TByteSource TMemberData::Source()
{
    return [this](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
        const auto want =
            std::int32_t(std::min<std::int64_t>(std::int64_t(std::min<std::size_t>(Count, 1 << 30)), FLeft));
        const std::int32_t got = want > 0 ? FOwner.ReadArchiveProc(&FArchive, Buffer, want, FEncrypted, 0) : 0;
        if (got <= 0)
            return 0;
        FLeft -= got;
        FOwner.BytesToRead -= got;
        return std::size_t(got);
    };
}

TByteSink TMemberData::Sink()
{
    return [this](const std::uint8_t* Data, std::size_t Count) {
        if (FOwner.GetCancel())
            throw ECancel();
        const auto n = std::int32_t(Count);
        if (FOwner.WriteOutputProc(FOut, Data, kKindFileData, n, FCrcWidth, false) < n)
            throw TMemberWriteStopped();
        FWritten += Count;
        ProcessMessages();
        FOwner.DoProgress(std::int64_t(FWritten), FOwner.UnpackedSize, FOwner.ArchiveSize);
    };
}

bool CopyStoredData(const TByteSource& Source, const TByteSink& Sink, std::uint64_t Size)
{
    std::vector<std::uint8_t> block(32768);
    while (Size > 0) {
        const std::size_t got = Source(block.data(), std::size_t(std::min<std::uint64_t>(Size, block.size())));
        if (got == 0)
            return false;
        Sink(block.data(), got);
        Size -= got;
    }
    return true;
}
