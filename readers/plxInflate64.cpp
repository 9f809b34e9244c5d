#include "readers/plxInflate64.h"

#include "core/Inflater.h"
#include "readers/GzipFormat.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kBlock = 32768;

// The input of a chain of members: what the inflater left unread comes first.
class TChainInput {
public:
    TChainInput(const TByteSource& read, std::uint8_t* buf) : FRead(read), FBuf(buf) {}

    bool Fill()
    {
        if (FPos < FLen)
            return true;
        FPos = 0;
        FLen = FRead(FBuf, kBlock);
        return FLen > 0;
    }
    const std::uint8_t* Next() const { return FBuf + FPos; }
    std::size_t Avail() const { return FLen - FPos; }
    void Consume(std::size_t n) { FPos += n; }

    // Exactly n bytes (fewer only at the end of input) into out.
    std::size_t Take(std::uint8_t* out, std::size_t n)
    {
        std::size_t got = 0;
        while (got < n && Fill()) {
            const std::size_t k = std::min(n - got, Avail());
            if (out)
                std::memcpy(out + got, Next(), k);
            Consume(k);
            got += k;
        }
        return got;
    }

private:
    const TByteSource& FRead;
    std::uint8_t* FBuf;  // members are small and many: not cleared
    std::size_t FPos = 0;
    std::size_t FLen = 0;
};

// Walks past the next gzip member header; false when the input ends or what follows is no
// deflated gzip member.
bool SkipGzipHeader(TChainInput& in)
{
    TGzipHeader header;
    const auto take = [&in](std::uint8_t* Buffer, std::size_t Count) { return in.Take(Buffer, Count); };
    return ReadGzipHeader(take, header, TGzipHeaderMode::Skip) == TCodecStatus::Ok;
}

}  // namespace

TInflateWorkspace::TInflateWorkspace()
    : FIn(std::make_unique_for_overwrite<std::uint8_t[]>(kBlock)),
      FOut(std::make_unique_for_overwrite<std::uint8_t[]>(kBlock))
{}

TInflateWorkspace::~TInflateWorkspace() = default;

Inflater& TInflateWorkspace::Decoder(bool Deflate64)
{
    if (FDecoder && FDecoder->Deflate64() == Deflate64)
        FDecoder->Reset();
    else
        FDecoder = std::make_unique<Inflater>(Deflate64 ? 16 : 15, Deflate64, false);
    return *FDecoder;
}

TCodecStatus InflateData(const TInflateIo& Io, bool Deflate64, bool GzipChain)
{
    std::unique_ptr<TInflateWorkspace> own;
    TInflateWorkspace& space = Io.Workspace ? *Io.Workspace : *(own = std::make_unique<TInflateWorkspace>());
    TChainInput in(Io.Read, space.Input());
    std::uint8_t* const out = space.Output();
    bool first = true;
    for (;;) {
        if (!first) {
            if (Io.NextGzipMember)
                Io.NextGzipMember();
        }
        first = false;
        Inflater& inflater = space.Decoder(Deflate64);
        int rc = kInflateOk;
        while (rc != kInflateStreamEnd) {
            if (Io.Cancel && *Io.Cancel)
                return TCodecStatus::Canceled;
            const bool more = in.Fill();
            const std::uint8_t* next = in.Next();
            std::size_t avail = in.Avail();
            std::uint8_t* o = out;
            std::size_t room = kBlock;
            rc = inflater.Decode(next, avail, o, room, !more);
            in.Consume(in.Avail() - avail);
            if (room < kBlock)
                Io.Write(out, kBlock - room);
            if (rc == kInflateDataError || rc == kInflateNeedDict)
                return TCodecStatus::DataError;
            if (rc != kInflateStreamEnd && !more && room == kBlock)
                return TCodecStatus::Truncated;
        }
        if (!GzipChain)
            return TCodecStatus::Ok;
        // The trailer, then another member or the end.
        if (in.Take(nullptr, 8) < 8 || !SkipGzipHeader(in))
            return TCodecStatus::Ok;
    }
}
