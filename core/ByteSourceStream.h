// A read-only, forward-only stream over a byte source, for the decoders that want a stream.
#pragma once

#include "core/ByteIO.h"
#include "core/plxStreams.h"

class TByteSourceStream : public TStream32 {
public:
    explicit TByteSourceStream(TByteSource Read) : FRead(std::move(Read)) {}

    std::int32_t Read(void* Buffer, std::int32_t Count) override
    {
        if (Count <= 0)
            return 0;
        const std::size_t got = FRead(static_cast<std::uint8_t*>(Buffer), std::size_t(Count));
        FPos += std::int64_t(got);
        return std::int32_t(got);
    }
    std::int32_t Write(const void*, std::int32_t) override { return 0; }
    std::int64_t Seek64(std::int64_t Offset, TSeekOrigin Origin) override
    {
        return Offset == 0 && Origin == soCurrent ? FPos : -1;
    }
    void SetSize64(std::int64_t) override {}
    std::int64_t GetSize() override { return -1; }

private:
    TByteSource FRead;
    std::int64_t FPos = 0;
};
