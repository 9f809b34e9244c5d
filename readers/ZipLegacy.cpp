#include "readers/ZipLegacy.h"

#include <algorithm>
#include <utility>

#include "core/Err_Msgs.h"

TZipLegacyDecoder::TZipLegacyDecoder(TByteSource source, TByteSink sink, const TZipLegacyMember& member)
    : FMember(member),
      FSource(std::move(source)),
      FSink(std::move(sink)),
      FIn(new std::uint8_t[ZipLegacyBufferSize]),
      FCompressedLeft(member.CompressedSize),
      FOut(new std::uint8_t[ZipLegacyBufferSize])
{}

TCodecStatus TZipLegacyDecoder::Decode()
{
    const TCodecStatus status = FMember.CompressedSize > 0 && FMember.UncompressedSize > 0 ? Run() : TCodecStatus::Ok;
    if (status == TCodecStatus::DataError)
        return status;
    Flush();
    if (status == TCodecStatus::Ok && FWritten != FMember.UncompressedSize)
        return TCodecStatus::Truncated;
    return status;
}

int TZipLegacyDecoder::ReadByte()
{
    if (FInPos == FInFill) {
        if (FInputEnded || FCompressedLeft == 0)
            return -1;
        const std::size_t want = std::size_t(std::min<std::uint64_t>(ZipLegacyBufferSize, FCompressedLeft));
        // A source that answers more than asked is held to the request.
        const std::size_t got = std::min(FSource(FIn.get(), want), want);
        if (got == 0) {
            FInputEnded = true;  // a truncated member: never ask again
            return -1;
        }
        FCompressedLeft -= got;
        FInFill = got;
        FInPos = 0;
    }
    return FIn[FInPos++];
}

int TZipLegacyDecoder::BitsAvailable(int n)
{
    while (FBitCount < n) {
        const int b = ReadByte();
        if (b < 0)
            break;
        FBitBuf |= std::uint64_t(b) << FBitCount;
        FBitCount += 8;
    }
    if (FBitCount < n)
        FInputShort = true;
    return std::min(FBitCount, n);
}

std::uint32_t TZipLegacyDecoder::PeekBits(int n)
{
    BitsAvailable(n);
    return std::uint32_t(FBitBuf & ((std::uint64_t(1) << n) - 1));
}

void TZipLegacyDecoder::DropBits(int n)
{
    n = std::min(n, FBitCount);
    FBitBuf >>= n;
    FBitCount -= n;
}

std::int64_t TZipLegacyDecoder::ReadBits(int n)
{
    if (BitsAvailable(n) < n)
        return -1;
    const std::uint32_t v = PeekBits(n);
    DropBits(n);
    return v;
}

void TZipLegacyDecoder::PutByte(std::uint8_t b)
{
    FOut[FOutFill++] = b;
    if (FOutFill == ZipLegacyBufferSize)
        Flush();
}

void TZipLegacyDecoder::Flush()
{
    if (FOutFill == 0)
        return;
    const std::size_t n = FOutFill;
    FOutFill = 0;
    FWritten += n;
    FSink(FOut.get(), n);
}

std::unique_ptr<TZipLegacyDecoder> MakeZipLegacyDecoder(int method, TByteSource source, TByteSink sink,
                                                        const TZipLegacyMember& member)
{
    switch (method) {
    case 1:
        return std::make_unique<TUnshrink>(std::move(source), std::move(sink), member);
    case 2:
    case 3:
    case 4:
    case 5:
        return std::make_unique<TUnreduce>(std::move(source), std::move(sink), member, method - 1);
    case 6:
        return std::make_unique<TExplode>(std::move(source), std::move(sink), member);
    default:
        return nullptr;
    }
}

int ZipLegacyMessage(int method, TCodecStatus status)
{
    const bool reported = status == TCodecStatus::StackOverflow || (status == TCodecStatus::DataError && method != 6);
    return reported ? CodecStatusMessage(status, E_BADBLOCK) : 0;
}
