// The wire format of window messages between processes: one fixed little-endian header, then
// the WM_COPYDATA bytes if any. Every field is checked before a frame is accepted, and a frame
// never grows past MaxFramePayload, so a hostile or broken peer costs at most one dropped
// connection.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace win::ipc {

constexpr std::uint32_t FrameMagic = 0x534D5654;  // "TVMS"
constexpr std::size_t FrameHeaderSize = 40;
constexpr std::size_t MaxFramePayload = 1u << 20;

enum class FrameKind : std::uint16_t {
    Send = 1,   // caller waits for a Reply on the same connection
    Post = 2,   // queued by the receiver, no reply
    Reply = 3,  // result of the window procedure
};

struct Frame {
    FrameKind kind = FrameKind::Reply;
    HWND hwnd = 0;
    UINT message = 0;
    std::uint64_t wParam = 0;
    // lParam of a plain message, dwData of WM_COPYDATA, the result of a Reply.
    std::uint64_t value = 0;
    bool hasCopyData = false;
    std::vector<std::uint8_t> payload;
};

std::vector<std::uint8_t> EncodeFrame(const Frame& frame);

// Why a frame was refused (empty when it is well formed).
std::string CheckFrameHeader(const std::uint8_t* header, Frame& out, std::size_t& payloadSize);

// Collects the bytes of a stream and hands out whole frames.
class FrameReader {
public:
    enum class Status { NeedMore, Ready, Refused };

    // Takes up to size bytes (fewer once a frame is complete: Take it, then feed the rest).
    std::size_t Feed(const std::uint8_t* data, std::size_t size);
    Status State() const { return status_; }
    const std::string& Error() const { return error_; }
    // True while a frame has been started but not finished.
    bool Partial() const { return status_ == Status::NeedMore && (headerDone_ || !buffer_.empty()); }
    // The completed frame; the reader starts over.
    Frame Take();

private:
    std::vector<std::uint8_t> buffer_;
    Frame frame_;
    std::size_t payloadSize_ = 0;
    bool headerDone_ = false;
    Status status_ = Status::NeedMore;
    std::string error_;
};

}  // namespace win::ipc
