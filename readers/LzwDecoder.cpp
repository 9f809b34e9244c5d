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
    : source_(std::move(Source)), sink_(std::move(Sink)), maxOutput_(MaxOutput), in_(InputBlockSize) {}

TLzwDecoder::TLzwDecoder(TByteSource Source, TByteSink Sink, std::uint64_t MaxOutput, const TLzwRawFormat& Raw)
    : TLzwDecoder(std::move(Source), std::move(Sink), MaxOutput) {
    raw_ = true;
    maxBits_ = std::clamp(Raw.MaxBits, InitBits, MaxBitsAllowed);
    blockMode_ = true;
    groupPadding_ = Raw.GroupPadding;
    endCode_ = !Raw.GroupPadding;
}

bool TLzwDecoder::FillBits(int n) {
    while (bitCount_ < n) {
        if (inPos_ == inFill_) {
            if (inputEnded_) return false;
            inFill_ = source_(in_.data(), InputBlockSize);
            inPos_ = 0;
            if (inFill_ == 0) {
                inputEnded_ = true;
                return false;
            }
        }
        bitBuf_ |= std::uint64_t(in_[inPos_++]) << bitCount_;
        bitCount_ += 8;
    }
    return true;
}

std::uint32_t TLzwDecoder::TakeBits(int n) {
    const auto value = std::uint32_t(bitBuf_ & ((std::uint64_t(1) << n) - 1));
    bitBuf_ >>= n;
    bitCount_ -= n;
    bitsTaken_ += std::uint64_t(n);
    return value;
}

// The compressor writes codes n_bits bytes (eight codes) at a time and pads the group it was
// filling when the width changes or the table is cleared.
void TLzwDecoder::SkipToGroupEnd() {
    const std::uint64_t group = std::uint64_t(nBits_) * 8;
    std::uint64_t pad = (group - (bitsTaken_ - groupStart_) % group) % group;
    while (pad > 0) {
        const int n = int(std::min<std::uint64_t>(pad, 16));
        if (!FillBits(n)) {  // the input ends inside the padding: nothing more to decode
            bitBuf_ = 0;
            bitCount_ = 0;
            break;
        }
        TakeBits(n);
        pad -= std::uint64_t(n);
    }
    groupStart_ = bitsTaken_;
}

void TLzwDecoder::Flush() {
    if (outFill_ > 0) {
        sink_(out_.data(), outFill_);
        written_ += outFill_;
        outFill_ = 0;
    }
}

bool TLzwDecoder::Put(const std::uint8_t* data, std::size_t n) {
    if (written_ + outFill_ + n > maxOutput_) return false;
    while (n > 0) {
        const std::size_t take = std::min(n, OutputBlockSize - outFill_);
        std::memcpy(out_.data() + outFill_, data, take);
        outFill_ += take;
        data += take;
        n -= take;
        if (outFill_ == OutputBlockSize) Flush();
    }
    return true;
}

TCodecStatus TLzwDecoder::Decode() {
    if (raw_) return DecodeCodes();
    std::uint8_t header[3];
    for (auto& b : header) {
        if (!FillBits(8)) return TCodecStatus::NotCompress;
        b = std::uint8_t(TakeBits(8));
    }
    if (header[0] != 0x1F || header[1] != 0x9D) return TCodecStatus::NotCompress;
    maxBits_ = header[2] & 0x1F;
    blockMode_ = (header[2] & 0x80) != 0;
    if ((header[2] & 0x60) != 0 || maxBits_ < InitBits || maxBits_ > MaxBitsAllowed) return TCodecStatus::BadHeader;
    return DecodeCodes();
}

TCodecStatus TLzwDecoder::DecodeCodes() {
    bitsTaken_ = groupStart_ = 0;

    prefix_.assign(TableSize, 0);
    suffix_.resize(TableSize);
    for (std::uint32_t i = 0; i < 256; ++i) suffix_[i] = std::uint8_t(i);
    stack_.resize(TableSize + 1);
    out_.resize(OutputBlockSize);

    const std::uint32_t maxMaxCode = std::uint32_t(1) << maxBits_;
    std::uint32_t maxCode = (std::uint32_t(1) << nBits_) - 1;
    const std::uint32_t firstFree = endCode_ ? EndCode + 1 : blockMode_ ? ClearCode + 1 : ClearCode;
    std::uint32_t freeEnt = firstFree;
    std::int64_t oldCode = -1;
    std::uint8_t finChar = 0;

    while (true) {
        if (freeEnt > maxCode) {
            if (groupPadding_) SkipToGroupEnd();
            ++nBits_;
            maxCode = nBits_ == maxBits_ ? maxMaxCode : (std::uint32_t(1) << nBits_) - 1;
        }
        if (!FillBits(nBits_)) break;  // the rest is less than one code: the end
        std::uint32_t code = TakeBits(nBits_);

        if (code == ClearCode && !groupPadding_) {
            // Starts again: the next code is a byte that adds nothing.
            freeEnt = firstFree;
            oldCode = -1;
            nBits_ = InitBits;
            maxCode = (std::uint32_t(1) << nBits_) - 1;
            continue;
        }
        if (code == EndCode && endCode_) {
            Flush();
            return TCodecStatus::Ok;
        }
        if (oldCode == -1) {
            if (code >= 256) return TCodecStatus::Corrupt;
            oldCode = code;
            finChar = std::uint8_t(code);
            if (!Put(&finChar, 1)) return TCodecStatus::OutputLimit;
            continue;
        }
        if (code == ClearCode && blockMode_) {
            // The next code adds entry 256, so the free code is 257 again right after it.
            freeEnt = ClearCode;
            SkipToGroupEnd();
            nBits_ = InitBits;
            maxCode = (std::uint32_t(1) << nBits_) - 1;
            continue;
        }
        const std::uint32_t inCode = code;
        std::size_t sp = stack_.size();
        if (code >= freeEnt) {
            if (code > freeEnt) return TCodecStatus::Corrupt;
            stack_[--sp] = finChar;
            code = std::uint32_t(oldCode);
        }
        while (code >= 256) {
            if (sp == 1) return TCodecStatus::Corrupt;  // a chain longer than the table: a loop
            stack_[--sp] = suffix_[code];
            code = prefix_[code];
        }
        finChar = suffix_[code];
        stack_[--sp] = finChar;
        if (!Put(stack_.data() + sp, stack_.size() - sp)) return TCodecStatus::OutputLimit;

        if (freeEnt < maxMaxCode) {
            prefix_[freeEnt] = std::uint16_t(oldCode);
            suffix_[freeEnt] = finChar;
            ++freeEnt;
        }
        oldCode = inCode;
    }
    Flush();
    return endCode_ ? TCodecStatus::Truncated : TCodecStatus::Ok;
}
