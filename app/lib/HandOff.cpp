#include "app/lib/HandOff.h"

#include "core/Endian.h"
#include "platform/win/CodePage.h"
#include "platform/win/Errors.h"
#include "platform/win/Messages.h"
#include "platform/win/Process.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Time.h"

#include <algorithm>
#include <cstring>

namespace {

struct TStringField {
    const char* name;
    std::size_t offset, capacity;
    std::string THandOffRecord::*member;
};

const TStringField StringFields[] = {
    {"FtpName", handoff_offsets::FtpName, 30, &THandOffRecord::FtpName},
    {"ProgramName", handoff_offsets::ProgramName, 30, &THandOffRecord::ProgramName},
    {"FtpFolder", handoff_offsets::FtpFolder, 20, &THandOffRecord::FtpFolder},
    {"ArchiveName", handoff_offsets::ArchiveName, 80, &THandOffRecord::ArchiveName},
    {"LocalFolder", handoff_offsets::LocalFolder, 127, &THandOffRecord::LocalFolder},
    {"FtpDetails", handoff_offsets::FtpDetails, 255, &THandOffRecord::FtpDetails},
};

}  // namespace

THandOffBytes EncodeHandOffRecord(const THandOffRecord& record, TCutFields* cut)
{
    using namespace handoff_offsets;
    THandOffBytes bytes{};
    PutLE32(bytes.data() + Window, record.Window);
    PutLE32(bytes.data() + Left, static_cast<std::uint32_t>(record.Left));
    PutLE32(bytes.data() + Top, static_cast<std::uint32_t>(record.Top));
    bytes[Manual] = record.Manual;
    PutLE32(bytes.data() + TransferCode, static_cast<std::uint32_t>(record.TransferCode));
    for (const auto& field : StringFields) {
        bool lossy = false;
        const std::string ansi = win::Utf8ToAnsi(record.*field.member, &lossy);
        const std::size_t length = std::min(ansi.size(), field.capacity);
        bytes[field.offset] = static_cast<std::uint8_t>(length);
        std::memcpy(bytes.data() + field.offset + 1, ansi.data(), length);
        if (cut && (lossy || length < ansi.size()))
            cut->push_back(field.name);
    }
    return bytes;
}

std::optional<THandOffRecord> DecodeHandOffRecord(const void* data, std::size_t size)
{
    using namespace handoff_offsets;
    if (data == nullptr || size < HandOffRecordSize)
        return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    THandOffRecord record;
    record.Window = GetLE32(bytes + Window);
    record.Left = static_cast<std::int32_t>(GetLE32(bytes + Left));
    record.Top = static_cast<std::int32_t>(GetLE32(bytes + Top));
    record.Manual = bytes[Manual];
    record.TransferCode = static_cast<std::int32_t>(GetLE32(bytes + TransferCode));
    for (const auto& field : StringFields) {
        const std::size_t length = std::min<std::size_t>(bytes[field.offset], field.capacity);
        const auto* text = reinterpret_cast<const char*>(bytes + field.offset + 1);
        record.*field.member = win::AnsiToUtf8(std::string_view(text, length));
    }
    return record;
}

std::optional<TUploadChoice> UploadChoiceOfCodeText(const std::string& codeText)
{
    int code = 0;
    if (!win::TryStrToInt(win::Trim(codeText), code))
        return std::nullopt;
    int n = code >= 100 && code <= 109 ? code - 100 : code;
    if (n == 17)
        n = 7;
    else if (n == 19)
        n = 9;
    return TUploadChoice{n + 10, n};
}

int DownloadTransferCode(int ftpEntry, double modeValue)
{
    return modeValue == 2 || modeValue == 99 ? 70 : 20 + ftpEntry;
}

std::string HandOffFtpFolder(const std::string& pathArchivFtp, const std::string& noteOtherLicence,
                             const std::string& noteLicence)
{
    if (noteOtherLicence == noteLicence)
        return pathArchivFtp;
    const std::size_t slash = pathArchivFtp.find('/');
    return noteLicence + (slash == std::string::npos ? std::string() : pathArchivFtp.substr(slash));
}

namespace {

THandOffRecord MakeRecord(HWND window, int left, int top, int transferCode, int ftpEntry, const TFtpEntries& entries,
                          const std::string& ftpFolder)
{
    THandOffRecord record;
    record.Window = window;
    record.Left = left + 275;
    record.Top = top + 175;
    record.TransferCode = transferCode;
    if (ftpEntry >= 0 && ftpEntry < FtpEntryCount) {
        record.FtpName = entries[size_t(ftpEntry)].Name;
        record.FtpDetails = entries[size_t(ftpEntry)].Details;
    }
    record.FtpFolder = ftpFolder;
    return record;
}

}  // namespace

THandOffRecord MakeUploadRecord(HWND window, int windowLeft, int windowTop, int transferCode, int ftpEntry,
                                const TFtpEntries& entries, const std::string& ftpFolder,
                                const std::string& archiveFolder, const std::string& archiveFileName)
{
    THandOffRecord record = MakeRecord(window, windowLeft, windowTop, transferCode, ftpEntry, entries, ftpFolder);
    record.Manual = transferCode == 19 ? 1 : 0;
    record.ArchiveName = archiveFileName;
    record.LocalFolder = archiveFolder;
    return record;
}

THandOffRecord MakeDownloadRecord(HWND window, int windowLeft, int windowTop, int transferCode, int ftpEntry,
                                  const TFtpEntries& entries, const std::string& ftpFolder,
                                  const std::string& archiveBaseName, const std::string& pathArchiv)
{
    THandOffRecord record = MakeRecord(window, windowLeft, windowTop, transferCode, ftpEntry, entries, ftpFolder);
    record.ArchiveName = archiveBaseName;
    record.LocalFolder = pathArchiv;
    return record;
}

bool SendHandOffRecord(HWND window, const THandOffRecord& record)
{
    if (window == 0)
        return false;
    const THandOffBytes bytes = EncodeHandOffRecord(record);
    const COPYDATASTRUCT data{0, static_cast<DWORD>(bytes.size()), bytes.data()};
    SetLastError(ERROR_SUCCESS);
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return GetLastError() == ERROR_SUCCESS;
}

DWORD InternetProgramStartWaitMs(int configuredSeconds)
{
    const long long configured = 500LL + 1000LL * std::clamp(configuredSeconds, 0, 3600);
    return static_cast<DWORD>(std::max<long long>(configured, MinimumStartWaitMs));
}

HWND WaitForWindow(const char* className, DWORD timeoutMs, const std::function<void()>& pump, DWORD pollMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND hwnd = FindWindowA(className, nullptr))
            return hwnd;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return 0;
        if (pump)
            pump();
        Sleep(std::min(pollMs, timeoutMs - elapsed));
    }
}

HWND StartInternetProgram(const std::string& installFolder, DWORD timeoutMs, const std::function<void()>& pump)
{
    const std::string command = "\"" + installFolder + "\\" + InternetProgramName + "\"";
    if (WinExec(command.c_str(), SW_SHOWNORMAL) < 32)
        return 0;
    return WaitForWindow(InternetProgramClass, timeoutMs, pump);
}

std::optional<TSiblingProgram> SiblingProgramOf(int productIndex)
{
    switch (productIndex) {
    case 1:
    case 2:
        return TSiblingProgram{"TFormQalbet", "Qalbet"};
    case 3:
        return TSiblingProgram{"TFormZoprin", "Zoprin"};
    case 5:
        return TSiblingProgram{"TFormFesmol", "Fesmol"};
    default:
        return std::nullopt;
    }
}

std::string SiblingBusyText(const std::string& siblingName)
{
    return "Program pro komunikaci s internetem (qNet) využívá program " + siblingName + "," +
           "a proto v této chvíli tento program nemůže komunikovat s internetem.";
}

std::string MailProgramExecutable(const std::string& installFolder)
{
    return installFolder + "\\Dastel.exe";
}

std::string MailProgramArgument(const std::string& archivePath)
{
    std::string argument = archivePath;
    std::replace(argument.begin(), argument.end(), ' ', '?');
    return argument;
}

std::string MailProgramMissingText(const std::string& webAddress)
{
    return "Pravděpodobně není nainstalovaná poslední verze programu\npro zasílání e-mailů. Jde o program "
           "Dastel, který\nnaleznete na internetové adrese: " +
           webAddress;
}
