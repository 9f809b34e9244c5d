#include "core/plxDeflate.h"

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"

#include <libdeflate.h>

bool DeflateStreamRegion(TStream* Input, TStream* Output, const TStreamControl& Entry, int WindowBits,
                         const TStreamProgress& Progress, TDeflateType Level, std::uint32_t& Crc)
{
    TCompressStream deflater(Output, Level, WindowBits);
    deflater.Crc = Entry.RunningCrc ? Entry.RunningCrc->Crc32 : CRC_MASK;
    if (Entry.Cancel)
        deflater.CancelPointer = Entry.Cancel;
    deflater.Remaining = Entry.Remaining;
    deflater.EncryptionMethod = Entry.EncryptionMethod;
    deflater.Cipher = Entry.Cipher;
    deflater.OnProgress = Progress;
    deflater.CopyFrom(Input, 0);
    // Finished here rather than by the destructor, so that a failure is raised, not lost.
    deflater.FinishDeflate();
    if (Entry.EncryptionMethod == emNone)
        Crc = deflater.Crc ^ CRC_MASK;
    return !deflater.Cancelled();
}

namespace {

int WholeLevelOf(TDeflateType type)
{
    // The zlib levels of the stream path, so that both give comparable output.
    static constexpr int levels[] = {0, 1, 6, 9};
    return levels[type <= dtDeflateX ? type : dtDeflateN];
}

}  // namespace

TWholeDeflater::~TWholeDeflater()
{
    if (FCompressor)
        libdeflate_free_compressor(FCompressor);
}

libdeflate_compressor* TWholeDeflater::CompressorFor(TDeflateType Level)
{
    const int level = WholeLevelOf(Level);
    if (FCompressor && FLevel == level)
        return FCompressor;
    if (FCompressor)
        libdeflate_free_compressor(FCompressor);
    FCompressor = libdeflate_alloc_compressor(level);
    FLevel = FCompressor ? level : -1;
    if (!FCompressor)
        throw E_RAISE(E_OUTOFMEMORY);
    return FCompressor;
}

bool TWholeDeflater::Deflate(const std::uint8_t* Data, std::size_t Size, TDeflateType Level,
                             std::vector<std::uint8_t>& Out)
{
    libdeflate_compressor* c = CompressorFor(Level);
    Out.resize(Size);
    // Zero means the packed form does not fit in the input's size.
    const std::size_t packed = Size ? libdeflate_deflate_compress(c, Data, Size, Out.data(), Out.size()) : 0;
    Out.resize(packed);
    return packed > 0;
}

void TWholeDeflater::DeflateAlways(const std::uint8_t* Data, std::size_t Size, TDeflateType Level,
                                   std::vector<std::uint8_t>& Out)
{
    libdeflate_compressor* c = CompressorFor(Level);
    Out.resize(libdeflate_deflate_compress_bound(c, Size));
    const std::size_t packed = libdeflate_deflate_compress(c, Data, Size, Out.data(), Out.size());
    if (packed == 0)
        throw E_RAISE(E_UNKNOWNERROR);
    Out.resize(packed);
}
