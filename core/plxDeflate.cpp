#include "core/plxDeflate.h"

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
