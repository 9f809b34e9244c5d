#include "platform/win/IpcFrame.h"

#include <algorithm>

namespace win::ipc {

namespace {

// Header layout: magic u32, kind u16, flags u16, hwnd u32, message u32, wParam u64, value u64,
// payload size u32, reserved u32 (zero).
constexpr std::uint16_t FlagCopyData = 1;

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t Get(const std::uint8_t* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(const Frame& frame)
{
    std::vector<std::uint8_t> out;
    out.reserve(FrameHeaderSize + frame.payload.size());
    Put(out, FrameMagic, 4);
    Put(out, static_cast<std::uint16_t>(frame.kind), 2);
    Put(out, frame.hasCopyData ? FlagCopyData : 0, 2);
    Put(out, frame.hwnd, 4);
    Put(out, frame.message, 4);
    Put(out, frame.wParam, 8);
    Put(out, frame.value, 8);
    Put(out, frame.payload.size(), 4);
    Put(out, 0, 4);
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    return out;
}

std::string CheckFrameHeader(const std::uint8_t* header, Frame& out, std::size_t& payloadSize)
{
    if (Get(header, 4) != FrameMagic)
        return "not a message frame";
    const auto kind = Get(header + 4, 2);
    const auto flags = Get(header + 6, 2);
    if (kind < 1 || kind > 3)
        return "unknown frame kind";
    if ((flags & ~std::uint64_t{FlagCopyData}) != 0 || Get(header + 36, 4) != 0)
        return "reserved bits set";
    out.kind = static_cast<FrameKind>(kind);
    out.hasCopyData = (flags & FlagCopyData) != 0;
    out.hwnd = static_cast<HWND>(Get(header + 8, 4));
    out.message = static_cast<UINT>(Get(header + 12, 4));
    out.wParam = Get(header + 16, 8);
    out.value = Get(header + 24, 8);
    payloadSize = static_cast<std::size_t>(Get(header + 32, 4));
    if (payloadSize > MaxFramePayload)
        return "frame too large";
    // Only a sent WM_COPYDATA carries bytes; a posted one would outlive the sender's buffer.
    const bool copyDataExpected = out.kind == FrameKind::Send && out.message == WM_COPYDATA;
    if (out.message == WM_COPYDATA && out.kind != FrameKind::Send)
        return "WM_COPYDATA must be sent";
    if (out.hasCopyData != copyDataExpected)
        return out.message == WM_COPYDATA ? "WM_COPYDATA must be sent" : "unexpected data block";
    if (!out.hasCopyData && payloadSize != 0)
        return "unexpected data block";
    return {};
}

std::size_t FrameReader::Feed(const std::uint8_t* data, std::size_t size)
{
    if (status_ != Status::NeedMore)
        return 0;
    std::size_t used = 0;
    if (!headerDone_) {
        const std::size_t take = std::min(size, FrameHeaderSize - buffer_.size());
        buffer_.insert(buffer_.end(), data, data + take);
        used += take;
        if (buffer_.size() < FrameHeaderSize)
            return used;
        error_ = CheckFrameHeader(buffer_.data(), frame_, payloadSize_);
        if (!error_.empty()) {
            status_ = Status::Refused;
            return used;
        }
        headerDone_ = true;
        buffer_.clear();
        frame_.payload.reserve(payloadSize_);
    }
    const std::size_t take = std::min(size - used, payloadSize_ - frame_.payload.size());
    frame_.payload.insert(frame_.payload.end(), data + used, data + used + take);
    used += take;
    if (frame_.payload.size() == payloadSize_)
        status_ = Status::Ready;
    return used;
}

Frame FrameReader::Take()
{
    Frame done = std::move(frame_);
    *this = FrameReader();
    return done;
}

}  // namespace win::ipc
