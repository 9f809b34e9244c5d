#include "app/lib/RequestRecord.h"

#include "core/Endian.h"
#include "platform/win/CodePage.h"
#include "platform/win/Errors.h"
#include "platform/win/Messages.h"

#include <algorithm>
#include <cstring>

namespace {

void PutDouble(TRequestBytes& bytes, std::size_t offset, double value)
{
    std::uint64_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    PutLE64(bytes.data() + offset, raw);
}

double GetDouble(const std::uint8_t* bytes, std::size_t offset)
{
    const std::uint64_t raw = GetLE64(bytes + offset);
    double value = 0;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

void PutString(TRequestBytes& bytes, std::size_t offset, std::size_t capacity, const std::string& text)
{
    const std::string ansi = win::Utf8ToAnsi(text);
    const std::size_t length = std::min(ansi.size(), capacity);
    bytes[offset] = static_cast<std::uint8_t>(length);
    std::memcpy(bytes.data() + offset + 1, ansi.data(), length);
}

std::string GetString(const std::uint8_t* bytes, std::size_t offset, std::size_t capacity)
{
    const std::size_t length = std::min<std::size_t>(bytes[offset], capacity);
    return win::AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(bytes + offset + 1), length));
}

}  // namespace

TRequestBytes EncodeRequestRecord(const TRequestRecord& record)
{
    using namespace request_offsets;
    TRequestBytes bytes{};
    PutLE32(bytes.data() + ForegroundWindow, record.ForegroundWindow);
    PutLE32(bytes.data() + ReplyWindow, record.ReplyWindow);
    PutLE32(bytes.data() + Mode, static_cast<std::uint32_t>(record.Mode));
    PutDouble(bytes, ModeValue, record.ModeValue);
    PutString(bytes, DefinitionFileName, DefinitionFileNameCapacity, record.DefinitionFileName);
    PutString(bytes, DataFolder, DataFolderCapacity, record.DataFolder);
    bytes[request_offsets::ReservedFlag] = record.ReservedFlag;
    bytes[request_offsets::Minimise] = record.Minimise;
    bytes[request_offsets::FtpEntry] = record.FtpEntry;
    PutString(bytes, NetworkTargets, NetworkTargetsCapacity, record.NetworkTargets);
    return bytes;
}

std::optional<TRequestRecord> DecodeRequestRecord(const void* data, std::size_t size)
{
    using namespace request_offsets;
    if (data == nullptr || size < RequestRecordSize)
        return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    TRequestRecord record;
    record.ForegroundWindow = GetLE32(bytes + ForegroundWindow);
    record.ReplyWindow = GetLE32(bytes + ReplyWindow);
    record.Mode = static_cast<std::int32_t>(GetLE32(bytes + Mode));
    record.ModeValue = GetDouble(bytes, ModeValue);
    record.DefinitionFileName = GetString(bytes, DefinitionFileName, DefinitionFileNameCapacity);
    record.DataFolder = GetString(bytes, DataFolder, DataFolderCapacity);
    record.ReservedFlag = bytes[request_offsets::ReservedFlag];
    record.Minimise = bytes[request_offsets::Minimise];
    record.FtpEntry = bytes[request_offsets::FtpEntry];
    record.NetworkTargets = GetString(bytes, NetworkTargets, NetworkTargetsCapacity);
    return record;
}

double ReplyModeValue(std::int32_t mode)
{
    return static_cast<double>(mode) + 100.0;
}

TRequestBytes EncodeReplyRecord(std::int32_t mode)
{
    TRequestBytes bytes{};
    PutDouble(bytes, request_offsets::ModeValue, ReplyModeValue(mode));
    return bytes;
}

bool SendReplyRecord(HWND replyWindow, std::int32_t mode)
{
    if (replyWindow == 0)
        return false;
    const TRequestBytes reply = EncodeReplyRecord(mode);
    const COPYDATASTRUCT data{0, static_cast<DWORD>(reply.size()), reply.data()};
    SendMessageA(replyWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return GetLastError() == ERROR_SUCCESS;
}
