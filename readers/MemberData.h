// How an extractor hands one member's data to a decoder: a source bounded by the packed size
// that reads through the archive-read hook (deciphering when asked), and a sink that writes
// through the output-write hook with the running CRC of the given width, polls the cancel flag
// and reports progress.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ByteIO.h"

class TDecompressClass;
class TStream32;

// Thrown by the sink when the output cannot take a block (the write hook has reported it).
struct TMemberWriteStopped {};

class TMemberData {
public:
    TMemberData(TDecompressClass& Owner, TStream32& Archive, std::int64_t PackedSize, TStream32* Out, int CrcWidth,
                bool Encrypted = false);

    TByteSource Source();
    TByteSink Sink();
    std::int64_t PackedLeft() const { return FLeft; }
    std::uint64_t Written() const { return FWritten; }

private:
    TDecompressClass& FOwner;
    TStream32& FArchive;
    TStream32* FOut;
    std::int64_t FLeft;
    std::uint64_t FWritten = 0;
    int FCrcWidth;
    bool FEncrypted;
};

// Copies Size stored bytes from Source to Sink; false when the input ends before.
bool CopyStoredData(const TByteSource& Source, const TByteSink& Sink, std::uint64_t Size);

// The run of an extractor that lists its selected members before it writes any (so the totals
// are known when the first one starts): Collect fills Members, then each is extracted in turn
// until the run is cancelled. Members is empty again afterwards.
template <class TOwner, class TMember, class TCollect, class TExtract>
void CollectThenExtract(TOwner& Owner, TStream32* Archive, std::vector<TMember>& Members, TCollect Collect,
                        TExtract Extract)
{
    Members.clear();
    if (Archive != nullptr) {
        Collect(*Archive);
        for (const TMember& member : Members) {
            if (Owner.GetCancel())
                break;
            Extract(*Archive, member);
        }
    }
    Members.clear();
}
