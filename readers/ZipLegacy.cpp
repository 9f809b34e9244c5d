#include "readers/ZipLegacy.h"

#include <algorithm>
#include <utility>

#include "core/Err_Msgs.h"

TZipLegacyDecoder::TZipLegacyDecoder(TByteSource source, TByteSink sink, const TZipLegacyMember& member)
    : member_(member),
      source_(std::move(source)),
      sink_(std::move(sink)),
      in_(new std::uint8_t[ZipLegacyBufferSize]),
      compressedLeft_(member.CompressedSize),
      out_(new std::uint8_t[ZipLegacyBufferSize]) {}

TCodecStatus TZipLegacyDecoder::Decode() {
    const TCodecStatus status =
        member_.CompressedSize > 0 && member_.UncompressedSize > 0 ? Run() : TCodecStatus::Ok;
    if (status == TCodecStatus::DataError) return status;
    Flush();
    if (status == TCodecStatus::Ok && written_ != member_.UncompressedSize) return TCodecStatus::Truncated;
    return status;
}

int TZipLegacyDecoder::ReadByte() {
    if (inPos_ == inFill_) {
        if (inputEnded_ || compressedLeft_ == 0) return -1;
        const std::size_t want = std::size_t(std::min<std::uint64_t>(ZipLegacyBufferSize, compressedLeft_));
        // A source that answers more than asked is held to the request.
        const std::size_t got = std::min(source_(in_.get(), want), want);
        if (got == 0) {
            inputEnded_ = true;  // a truncated member: never ask again
            return -1;
        }
        compressedLeft_ -= got;
        inFill_ = got;
        inPos_ = 0;
    }
    return in_[inPos_++];
}

int TZipLegacyDecoder::BitsAvailable(int n) {
    while (bitCount_ < n) {
        const int b = ReadByte();
        if (b < 0) break;
        bitBuf_ |= std::uint64_t(b) << bitCount_;
        bitCount_ += 8;
    }
    if (bitCount_ < n) inputShort_ = true;
    return std::min(bitCount_, n);
}

std::uint32_t TZipLegacyDecoder::PeekBits(int n) {
    BitsAvailable(n);
    return std::uint32_t(bitBuf_ & ((std::uint64_t(1) << n) - 1));
}

void TZipLegacyDecoder::DropBits(int n) {
    n = std::min(n, bitCount_);
    bitBuf_ >>= n;
    bitCount_ -= n;
}

std::int64_t TZipLegacyDecoder::ReadBits(int n) {
    if (BitsAvailable(n) < n) return -1;
    const std::uint32_t v = PeekBits(n);
    DropBits(n);
    return v;
}

void TZipLegacyDecoder::PutByte(std::uint8_t b) {
    out_[outFill_++] = b;
    if (outFill_ == ZipLegacyBufferSize) Flush();
}

void TZipLegacyDecoder::Flush() {
    if (outFill_ == 0) return;
    const std::size_t n = outFill_;
    outFill_ = 0;
    written_ += n;
    sink_(out_.get(), n);
}

std::unique_ptr<TZipLegacyDecoder> MakeZipLegacyDecoder(int method, TByteSource source, TByteSink sink,
                                                        const TZipLegacyMember& member) {
    switch (method) {
    case 1: return std::make_unique<TUnshrink>(std::move(source), std::move(sink), member);
    case 2: case 3: case 4: case 5:
        return std::make_unique<TUnreduce>(std::move(source), std::move(sink), member, method - 1);
    case 6: return std::make_unique<TExplode>(std::move(source), std::move(sink), member);
    default: return nullptr;
    }
}

int ZipLegacyMessage(int method, TCodecStatus status) {
    const bool reported =
        status == TCodecStatus::StackOverflow || (status == TCodecStatus::DataError && method != 6);
    return reported ? CodecStatusMessage(status, E_BADBLOCK) : 0;
}
