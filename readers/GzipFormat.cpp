#include "readers/GzipFormat.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/Crc.h"
#include "core/Inflater.h"

namespace {

constexpr std::size_t InputBufferSize = 65536;
// Four windows: only the last 32 KiB of each call is copied into the decoder's history. The
// sink still gets blocks of at most SinkBlockSize.
constexpr std::size_t OutputBufferSize = 131072;
constexpr std::size_t SinkBlockSize = 32768;

// Buffered pull over a byte source; Take* answer false at the end of the input.
class TGzipInput {
public:
    explicit TGzipInput(const TByteSource& source) : FSource(source), FBuffer(new std::uint8_t[InputBufferSize]) {}

    bool Fill()
    {
        if (FPos < FFill)
            return true;
        if (FEnded)
            return false;
        FFill = FSource(FBuffer.get(), InputBufferSize);
        FPos = 0;
        if (FFill == 0)
            FEnded = true;
        return FFill > 0;
    }
    int Byte()
    {
        if (!Fill())
            return -1;
        ++FConsumed;
        return FBuffer[FPos++];
    }
    // The unread part of the buffer, for the inflater, and how much of it was used.
    const std::uint8_t* Data() const { return FBuffer.get() + FPos; }
    std::size_t Available() const { return FFill - FPos; }
    void Skip(std::size_t n)
    {
        FPos += n;
        FConsumed += n;
    }
    std::uint64_t Consumed() const { return FConsumed; }
    // Counts and drops the zero bytes that follow; stops at the first other byte.
    std::uint64_t DrainZeros()
    {
        std::uint64_t n = 0;
        while (Fill()) {
            const std::uint8_t* at = Data();
            const std::size_t zeros =
                std::size_t(std::find_if(at, at + Available(), [](std::uint8_t b) { return b != 0; }) - at);
            n += zeros;
            Skip(zeros);
            if (Available() > 0)
                break;
        }
        return n;
    }

private:
    const TByteSource& FSource;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::size_t FFill = 0;
    std::size_t FPos = 0;
    bool FEnded = false;
    std::uint64_t FConsumed = 0;
};

// Reads a header field by field from a byte puller (-1 at the end), keeping the CRC of its
// bytes for FHCRC.
template <class TNext>
class THeaderReader {
public:
    explicit THeaderReader(TNext& next) : FNext(next) {}
    bool Take(std::uint8_t& b)
    {
        const int c = FNext();
        if (c < 0)
            return false;
        b = std::uint8_t(c);
        FCrc = Crc32Step(FCrc, b);
        ++FCount;
        return true;
    }
    void Seed(std::uint8_t b)
    {
        FCrc = Crc32Step(FCrc, b);
        ++FCount;
    }
    bool TakeLe(int bytes, std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            std::uint8_t b;
            if (!Take(b))
                return false;
            value |= std::uint32_t(b) << (8 * i);
        }
        return true;
    }
    // A zero-terminated text (kept when Keep); BadHeader when it runs past GzipMaxTextLength.
    TCodecStatus TakeText(std::string& text, bool keep)
    {
        text.clear();
        std::size_t length = 0;
        for (std::uint8_t b; Take(b);) {
            if (b == 0)
                return TCodecStatus::Ok;
            if (length++ == GzipMaxTextLength)
                return TCodecStatus::BadHeader;
            if (keep)
                text.push_back(char(b));
        }
        return TCodecStatus::Truncated;
    }
    std::uint32_t Crc() const { return FCrc ^ CRC_MASK; }
    std::size_t Count() const { return FCount; }

private:
    TNext& FNext;
    std::uint32_t FCrc = CRC_MASK;
    std::size_t FCount = 0;
};

// The header of the member at the input's position; Magic >= 0 when its two bytes are read already.
template <class TNext>
TCodecStatus ReadHeader(TNext& next, TGzipHeader& h, TGzipHeaderMode mode, int magic = -1)
{
    THeaderReader<TNext> r(next);
    const bool keep = mode == TGzipHeaderMode::Full;
    std::uint32_t v;
    if (magic >= 0) {
        r.Seed(std::uint8_t(magic));
        r.Seed(std::uint8_t(magic >> 8));
        v = std::uint32_t(magic);
    } else if (!r.TakeLe(2, v)) {
        return TCodecStatus::Truncated;
    }
    h = TGzipHeader();
    h.Magic = std::uint16_t(v);
    if (h.Magic != GzipMagic && h.Magic != GzipOldMagic)
        return TCodecStatus::NotGzip;
    if (!r.Take(h.Method) || !r.Take(h.Flags) || !r.TakeLe(4, h.MTime) || !r.Take(h.ExtraFlags) || !r.Take(h.Os))
        return TCodecStatus::Truncated;
    if (h.Method != GzipMethodDeflate)
        return TCodecStatus::UnsupportedMethod;
    if (h.Flags & GzipFlagEncrypted)
        return TCodecStatus::Encrypted;
    if (h.Flags & GzipFlagsReserved)
        return TCodecStatus::BadHeader;
    if (h.Flags & GzipFlagExtra) {
        if (!r.TakeLe(2, v))
            return TCodecStatus::Truncated;
        if (keep)
            h.Extra.resize(v);
        for (std::uint8_t b; v > 0; --v) {
            if (!r.Take(b))
                return TCodecStatus::Truncated;
            if (keep)
                h.Extra[h.Extra.size() - v] = b;
        }
    }
    if (h.Flags & GzipFlagName)
        if (auto s = r.TakeText(h.Name, keep); s != TCodecStatus::Ok)
            return s;
    if (h.Flags & GzipFlagComment)
        if (auto s = r.TakeText(h.Comment, keep); s != TCodecStatus::Ok)
            return s;
    if (h.Flags & GzipFlagHeaderCrc) {
        const std::uint32_t expected = r.Crc() & 0xFFFF;
        if (!r.TakeLe(2, v))
            return TCodecStatus::Truncated;
        h.Size = r.Count();
        if (keep && v != expected)
            return TCodecStatus::HeaderCrcError;
    }
    h.Size = r.Count();
    return TCodecStatus::Ok;
}

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

}  // namespace

TCodecStatus ParseGzipHeader(const std::uint8_t* Data, std::size_t Size, TGzipHeader& Header)
{
    std::size_t pos = 0;
    const TByteSource source = [&](std::uint8_t* buffer, std::size_t count) -> std::size_t {
        const std::size_t n = std::min(count, Size - pos);
        if (n > 0)
            std::memcpy(buffer, Data + pos, n);
        pos += n;
        return n;
    };
    TGzipInput in(source);
    auto next = [&in] { return in.Byte(); };
    return ReadHeader(next, Header, TGzipHeaderMode::Full);
}

TCodecStatus ReadGzipHeader(const TByteSource& Source, TGzipHeader& Header, TGzipHeaderMode Mode)
{
    auto next = [&Source] {
        std::uint8_t c;
        return Source(&c, 1) == 1 ? int(c) : -1;
    };
    return ReadHeader(next, Header, Mode);
}

TGzipDecodeResult DecodeGzipStream(const TByteSource& Source, const TByteSink& Sink, std::uint64_t MaxOutput)
{
    TGzipDecodeResult result;
    TGzipInput in(Source);
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[OutputBufferSize]);
    Inflater inflater(15, false, false);

    while (true) {
        // Between members: the end of input, trailing bytes, or the next member's magic.
        int magic = -1;
        if (result.Members > 0) {
            const int first = in.Byte();
            if (first < 0)
                return result;
            if (first == 0) {
                // Zero padding (a tape block, a fixed-size medium) may end the file; nothing else.
                result.TrailingBytes = 1 + in.DrainZeros();
                if (in.Fill())
                    result.Status = TCodecStatus::BadHeader;
                return result;
            }
            const int second = first == 0x1F ? in.Byte() : -2;
            if (second != 0x8B && second != 0x9E) {
                // A later member whose header is damaged: its data must not pass for garbage.
                result.Status = second == -1 ? TCodecStatus::Truncated : TCodecStatus::BadHeader;
                return result;
            }
            magic = first | second << 8;
        }
        TGzipHeader header;
        auto nextByte = [&in] { return in.Byte(); };
        result.Status = ReadHeader(nextByte, header, TGzipHeaderMode::Full, magic);
        if (result.Status != TCodecStatus::Ok)
            return result;
        if (result.Members == 0)
            result.First = header;

        inflater.Reset();
        std::uint32_t crc = CRC_MASK;
        std::uint64_t size = 0;
        int code = kInflateOk;
        do {
            if (!in.Fill()) {
                result.Status = TCodecStatus::Truncated;
                return result;
            }
            const std::uint8_t* next = in.Data();
            std::size_t avail = in.Available();
            std::uint8_t* dest = out.get();
            std::size_t room = OutputBufferSize;
            code = inflater.Decode(next, avail, dest, room);
            in.Skip(in.Available() - avail);
            const std::size_t produced = OutputBufferSize - room;
            if (code != kInflateOk && code != kInflateStreamEnd) {
                result.Status = TCodecStatus::DataError;
                return result;
            }
            if (produced > 0) {
                if (result.BytesOut + produced > MaxOutput) {
                    result.Status = TCodecStatus::OutputLimit;
                    return result;
                }
                UpdateCrc32(out.get(), std::int64_t(produced), crc);
                size += produced;
                result.BytesOut += produced;
                for (std::size_t at = 0; at < produced; at += SinkBlockSize)
                    Sink(out.get() + at, std::min(SinkBlockSize, produced - at));
            }
        } while (code != kInflateStreamEnd);

        THeaderReader trailer(nextByte);
        std::uint32_t storedCrc, storedSize;
        if (!trailer.TakeLe(4, storedCrc) || !trailer.TakeLe(4, storedSize)) {
            result.Status = TCodecStatus::Truncated;
            return result;
        }
        if (storedCrc != (crc ^ CRC_MASK)) {
            result.Status = TCodecStatus::CrcError;
            return result;
        }
        if (storedSize != std::uint32_t(size)) {
            result.Status = TCodecStatus::SizeError;
            return result;
        }
        ++result.Members;
        result.BytesIn = in.Consumed();
    }
}

std::vector<std::uint8_t> EncodeGzipHeader(const std::string& Name, std::int64_t MTime, std::uint8_t ExtraFlags)
{
    const std::string name = Name.substr(0, Name.find('\0'));
    const auto time = std::uint32_t(std::clamp<std::int64_t>(MTime, 0, 0xFFFFFFFF));
    std::vector<std::uint8_t> h = {0x1F, 0x8B, GzipMethodDeflate, std::uint8_t(name.empty() ? 0 : GzipFlagName)};
    for (int i = 0; i < 4; ++i)
        h.push_back(std::uint8_t(time >> (8 * i)));
    h.push_back(ExtraFlags);
    h.push_back(0);  // OS: FAT file system
    if (!name.empty()) {
        h.insert(h.end(), name.begin(), name.end());
        h.push_back(0);
    }
    return h;
}

std::array<std::uint8_t, 8> EncodeGzipTrailer(std::uint32_t Crc, std::uint64_t Size)
{
    std::array<std::uint8_t, 8> t{};
    for (int i = 0; i < 4; ++i) {
        t[i] = std::uint8_t(Crc >> (8 * i));
        t[4 + i] = std::uint8_t(Size >> (8 * i));
    }
    return t;
}

std::string GzipOutputName(const std::string& ArchiveFileName)
{
    std::string name = ArchiveFileName;
    if (EndsWithNoCase(name, ".tgz"))
        return name.substr(0, name.size() - 4) + ".tar";
    for (const char* ext : {".gzip", ".gz", ".z"})
        if (EndsWithNoCase(name, ext))
            return name.substr(0, name.size() - std::strlen(ext));
    if (EndsWithNoCase(name, "_tar"))
        name[name.size() - 4] = '.';
    return name;
}
