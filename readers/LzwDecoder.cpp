#include "readers/LzwDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int InitBits = 9;
constexpr int MaxBitsAllowed = 16;
constexpr std::uint32_t ClearCode = 256;
constexpr std::uint32_t EndCode = 257;
constexpr std::size_t TableSize = std::size_t(1) << MaxBitsAllowed;

}  // namespace

TLzwDecoder::TLzwDecoder(TByteSource Source, TByteSink Sink, std::uint64_t MaxOutput)
    : FSource(std::move(Source)), FSink(std::move(Sink)), FMaxOutput(MaxOutput), FIn(InputBlockSize)
{}

TLzwDecoder::TLzwDecoder(TByteSource Source, TByteSink Sink, std::uint64_t MaxOutput, const TLzwRawFormat& Raw)
    : TLzwDecoder(std::move(Source), std::move(Sink), MaxOutput)
{
    FRaw = true;
    FMaxBits = std::clamp(Raw.MaxBits, InitBits, MaxBitsAllowed);
    FBlockMode = true;
    FGroupPadding = Raw.GroupPadding;
    FEndCode = !Raw.GroupPadding;
}

bool TLzwDecoder::FillBits(int n)
{
    while (FBitCount < n) {
        if (FInPos == FInFill) {
            if (FInputEnded)
                return false;
            FInFill = FSource(FIn.data(), InputBlockSize);
            FInPos = 0;
            if (FInFill == 0) {
                FInputEnded = true;
                return false;
            }
        }
        FBitBuf |= std::uint64_t(FIn[FInPos++]) << FBitCount;
        FBitCount += 8;
    }
    return true;
}

std::uint32_t TLzwDecoder::TakeBits(int n)
{
    const auto value = std::uint32_t(FBitBuf & ((std::uint64_t(1) << n) - 1));
    FBitBuf >>= n;
    FBitCount -= n;
    FBitsTaken += std::uint64_t(n);
    return value;
}

// The compressor writes codes n_bits bytes (eight codes) at a time and pads the group it was
// filling when the width changes or the table is cleared.
void TLzwDecoder::SkipToGroupEnd()
{
    const std::uint64_t group = std::uint64_t(FNBits) * 8;
    std::uint64_t pad = (group - (FBitsTaken - FGroupStart) % group) % group;
    while (pad > 0) {
        const int n = int(std::min<std::uint64_t>(pad, 16));
        if (!FillBits(n)) {  // the input ends inside the padding: nothing more to decode
            FBitBuf = 0;
            FBitCount = 0;
            break;
        }
        TakeBits(n);
        pad -= std::uint64_t(n);
    }
    FGroupStart = FBitsTaken;
}

void TLzwDecoder::Flush()
{
    if (FOutFill > 0) {
        FSink(FOut.data(), FOutFill);
        FWritten += FOutFill;
        FOutFill = 0;
    }
}

bool TLzwDecoder::Put(const std::uint8_t* data, std::size_t n)
{
    if (FWritten + FOutFill + n > FMaxOutput)
        return false;
    while (n > 0) {
        const std::size_t take = std::min(n, OutputBlockSize - FOutFill);
        std::memcpy(FOut.data() + FOutFill, data, take);
        FOutFill += take;
        data += take;
        n -= take;
        if (FOutFill == OutputBlockSize)
            Flush();
    }
    return true;
}

TCodecStatus TLzwDecoder::Decode()
{
    if (FRaw)
        return DecodeCodes();
    std::uint8_t header[3];
    for (auto& b : header) {
        if (!FillBits(8))
            return TCodecStatus::NotCompress;
        b = std::uint8_t(TakeBits(8));
    }
    if (header[0] != 0x1F || header[1] != 0x9D)
        return TCodecStatus::NotCompress;
    FMaxBits = header[2] & 0x1F;
    FBlockMode = (header[2] & 0x80) != 0;
    FReservedFlags = (header[2] & 0x60) != 0;
    if (FReservedFlags || FMaxBits < InitBits || FMaxBits > MaxBitsAllowed)
        return TCodecStatus::BadHeader;
    return DecodeCodes();
}

TCodecStatus TLzwDecoder::DecodeCodes()
{
    FBitsTaken = FGroupStart = 0;

    FPrefix.assign(TableSize, 0);
    FSuffix.resize(TableSize);
    for (std::uint32_t i = 0; i < 256; ++i)
        FSuffix[i] = std::uint8_t(i);
    FStack.resize(TableSize + 1);
    FOut.resize(OutputBlockSize);

    const std::uint32_t maxMaxCode = std::uint32_t(1) << FMaxBits;
    std::uint32_t maxCode = (std::uint32_t(1) << FNBits) - 1;
    const std::uint32_t firstFree = FEndCode ? EndCode + 1 : FBlockMode ? ClearCode + 1 : ClearCode;
    std::uint32_t freeEnt = firstFree;
    std::int64_t oldCode = -1;
    std::uint8_t finChar = 0;

    while (true) {
        if (freeEnt > maxCode) {
            if (FGroupPadding)
                SkipToGroupEnd();
            ++FNBits;
            maxCode = FNBits == FMaxBits ? maxMaxCode : (std::uint32_t(1) << FNBits) - 1;
        }
        if (!FillBits(FNBits))
            break;  // the rest is less than one code: the end
        std::uint32_t code = TakeBits(FNBits);

        if (code == ClearCode && !FGroupPadding) {
            // Starts again: the next code is a byte that adds nothing.
            freeEnt = firstFree;
            oldCode = -1;
            FNBits = InitBits;
            maxCode = (std::uint32_t(1) << FNBits) - 1;
            continue;
        }
        if (code == EndCode && FEndCode) {
            Flush();
            return TCodecStatus::Ok;
        }
        if (oldCode == -1) {
            if (code >= 256)
                return TCodecStatus::Corrupt;
            oldCode = code;
            finChar = std::uint8_t(code);
            if (!Put(&finChar, 1))
                return TCodecStatus::OutputLimit;
            continue;
        }
        if (code == ClearCode && FBlockMode) {
            // The next code adds entry 256, so the free code is 257 again right after it.
            freeEnt = ClearCode;
            SkipToGroupEnd();
            FNBits = InitBits;
            maxCode = (std::uint32_t(1) << FNBits) - 1;
            continue;
        }
        const std::uint32_t inCode = code;
        std::size_t sp = FStack.size();
        if (code >= freeEnt) {
            if (code > freeEnt)
                return TCodecStatus::Corrupt;
            FStack[--sp] = finChar;
            code = std::uint32_t(oldCode);
        }
        while (code >= 256) {
            if (sp == 1)
                return TCodecStatus::Corrupt;  // a chain longer than the table: a loop
            FStack[--sp] = FSuffix[code];
            code = FPrefix[code];
        }
        finChar = FSuffix[code];
        FStack[--sp] = finChar;
        if (!Put(FStack.data() + sp, FStack.size() - sp))
            return TCodecStatus::OutputLimit;

        if (freeEnt < maxMaxCode) {
            FPrefix[freeEnt] = std::uint16_t(oldCode);
            FSuffix[freeEnt] = finChar;
            ++freeEnt;
        }
        oldCode = inCode;
    }
    Flush();
    return FEndCode ? TCodecStatus::Truncated : TCodecStatus::Ok;
}
