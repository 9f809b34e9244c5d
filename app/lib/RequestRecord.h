// The 565-byte record that callers send with WM_COPYDATA, and the reply of the same shape.
//
// Strings travel as a length byte followed by Windows-1250 characters; inside the program they
// are UTF-8. A length byte larger than its field is clamped to the field, so a broken caller can
// never make us read past a field or the record.
#pragma once

#include "platform/win/WinTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

constexpr std::size_t RequestRecordSize = 565;
using TRequestBytes = std::array<std::uint8_t, RequestRecordSize>;

namespace request_offsets {
constexpr std::size_t ForegroundWindow = 0;
constexpr std::size_t ReplyWindow = 4;
constexpr std::size_t Mode = 8;
constexpr std::size_t ModeValue = 16;
constexpr std::size_t DefinitionFileName = 24;  // length byte + 128
constexpr std::size_t DataFolder = 153;         // length byte + 152
constexpr std::size_t ReservedFlag = 306;
constexpr std::size_t Minimise = 307;
constexpr std::size_t FtpEntry = 308;
constexpr std::size_t NetworkTargets = 309;  // length byte + 255
}  // namespace request_offsets

constexpr std::size_t DefinitionFileNameCapacity = 128;
constexpr std::size_t DataFolderCapacity = 152;
constexpr std::size_t NetworkTargetsCapacity = 255;

struct TRequestRecord {
    HWND ForegroundWindow = 0;
    HWND ReplyWindow = 0;
    std::int32_t Mode = 0;
    double ModeValue = 0;
    std::string DefinitionFileName;  // for command 50 the first half of the option text
    std::string DataFolder;          // for command 50 the second half
    std::uint8_t ReservedFlag = 0;
    std::uint8_t Minimise = 0;
    std::uint8_t FtpEntry = 0;
    std::string NetworkTargets;
};

// Strings longer than their field (in Windows-1250 bytes) are cut at the field's end.
TRequestBytes EncodeRequestRecord(const TRequestRecord& record);
// Nothing when there are no data or fewer than 565 bytes: such a message is outside the protocol.
std::optional<TRequestRecord> DecodeRequestRecord(const void* data, std::size_t size);

// The reply: only the mode value is set, to mode + 100; every other byte is zero.
TRequestBytes EncodeReplyRecord(std::int32_t mode);
double ReplyModeValue(std::int32_t mode);

// Sends the reply to the caller's window; false when there is no window or the send failed.
bool SendReplyRecord(HWND replyWindow, std::int32_t mode);
