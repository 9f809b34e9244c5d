// Hand-offs to the internet program (a 654-byte WM_COPYDATA record for FTP uploads and downloads)
// and to the mail program (started with the archive as its argument).
//
// Strings travel as a length byte followed by Windows-1250 characters. A string that does not fit
// its field whole (too long, or with characters Windows-1250 cannot hold) is cut to the field and
// named in the encoder's report, so that a caller can refuse to send a path that would name
// another file.
#pragma once

#include "app/lib/FtpEntries.h"
#include "platform/win/WinTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

constexpr std::size_t HandOffRecordSize = 654;
using THandOffBytes = std::array<std::uint8_t, HandOffRecordSize>;

namespace handoff_offsets {
constexpr std::size_t Window = 4;
constexpr std::size_t Left = 8;
constexpr std::size_t Top = 12;
constexpr std::size_t Manual = 16;
constexpr std::size_t FtpName = 18;       // length byte + 30
constexpr std::size_t ProgramName = 49;   // length byte + 30
constexpr std::size_t FtpFolder = 101;    // length byte + 20
constexpr std::size_t ArchiveName = 122;  // length byte + 80
constexpr std::size_t TransferCode = 203;
constexpr std::size_t LocalFolder = 207;  // length byte + 127
constexpr std::size_t FtpDetails = 398;   // length byte + 255
}  // namespace handoff_offsets

struct THandOffRecord {
    HWND Window = 0;  // the main window, where the internet program answers
    std::int32_t Left = 0, Top = 0;
    std::uint8_t Manual = 0;  // 1 for a manual upload (code 19)
    std::string FtpName;
    std::string ProgramName = "TORVO";
    std::string FtpFolder;
    std::string ArchiveName;  // upload: the file name; download: the base name
    std::int32_t TransferCode = 0;
    std::string LocalFolder;  // upload: the archive's folder; download: "[PATHARCHIV]"
    std::string FtpDetails;
};

// The names of the string fields that did not fit whole ("FtpName", "ArchiveName", ...).
using TCutFields = std::vector<std::string>;
THandOffBytes EncodeHandOffRecord(const THandOffRecord& record, TCutFields* cut = nullptr);
// Nothing for fewer than 654 bytes. Length bytes beyond their field are clamped to it.
std::optional<THandOffRecord> DecodeHandOffRecord(const void* data, std::size_t size);

// Transfer codes.
constexpr bool IsDownloadCode(int code)
{
    return (code >= 20 && code <= 22) || code == 70;
}

struct TUploadChoice {
    int TransferCode = 0;
    int FtpEntry = 0;
};
// The upload code text of a run ("100"-"109", "19", ...): the transfer code and the FTP entry.
// Nothing for a text that is no number.
std::optional<TUploadChoice> UploadChoiceOfCodeText(const std::string& codeText);
// Download: 70 for modes 2 and 99, else 20 + the FTP entry.
int DownloadTransferCode(int ftpEntry, double modeValue);

// "[PATHARCHIVFTP]" with its first part (up to the first "/") replaced by "[NOTELICENCE]" when
// that differs from "[NOTEOTHERLICENCE]".
std::string HandOffFtpFolder(const std::string& pathArchivFtp, const std::string& noteOtherLicence,
                             const std::string& noteLicence);

// The records of an upload and a download. The window's position is its left and top; the
// record carries them moved by (275, 175), where the internet program places its own window.
THandOffRecord MakeUploadRecord(HWND window, int windowLeft, int windowTop, int transferCode, int ftpEntry,
                                const TFtpEntries& entries, const std::string& ftpFolder,
                                const std::string& archiveFolder, const std::string& archiveFileName);
THandOffRecord MakeDownloadRecord(HWND window, int windowLeft, int windowTop, int transferCode, int ftpEntry,
                                  const TFtpEntries& entries, const std::string& ftpFolder,
                                  const std::string& archiveBaseName, const std::string& pathArchiv);

// Sends the record to the window; false when there is no window or the send failed.
bool SendHandOffRecord(HWND window, const THandOffRecord& record);

// The internet program and its window.
inline constexpr const char* InternetProgramClass = "TFormqNet";
inline constexpr const char* InternetProgramName = "qNet";
inline constexpr const char* InternetProgramSubKey = "\\qNet";

// How long to look for the internet program's window after starting it: the configured extra
// seconds on top of 500 ms, but never less than a bound that a slow start fits into. Looking
// stops as soon as the window is there.
constexpr DWORD MinimumStartWaitMs = 15000;
DWORD InternetProgramStartWaitMs(int configuredSeconds);

// Looks for a window of the class every pollMs until it is there or timeoutMs have passed; pump
// (when given) runs between the looks, so the own windows stay alive. 0 when none came.
HWND WaitForWindow(const char* className, DWORD timeoutMs, const std::function<void()>& pump = {}, DWORD pollMs = 50);

// Starts installFolder + "\qNet" and waits for its window as above. 0 when the program could not
// be started (the caller shows WebProgramMissing) or its window never came.
HWND StartInternetProgram(const std::string& installFolder, DWORD timeoutMs, const std::function<void()>& pump = {});

// The programs that share the internet program, by the shared product index. The index is 0
// (no sibling) unless the run sets it.
constexpr int DefaultProductIndex = 0;
struct TSiblingProgram {
    const char* WindowClass;
    const char* Name;
};
std::optional<TSiblingProgram> SiblingProgramOf(int productIndex);

// Texts of the hand-offs.
inline constexpr const char* Win95Caption = "Pro Windows 95 nelze použít";
inline constexpr const char* Win95Text =
    "Bohužel na vašem počítači je nainstalovaný\r\nstarší operační systém Windows 95.\r\n\r\n"
    "Tato verze Windows neumožňuje komunikaci s našimi webovými stránkami,\r\n"
    "přesto mám zkusit webovou komunikaci ?";
inline constexpr const char* SiblingBusyCaption = "Program pro komunikaci s webem nelze použít";
std::string SiblingBusyText(const std::string& siblingName);
inline constexpr const char* WebProgramMissingCaption = "Spojení s internetem?";
inline constexpr const char* WebProgramMissingText =
    "Program \"qNet\" nelze spustit.\r\n\r\nProgram pro komunikaci s qNet pravděpodobně není "
    "nainstalovaný.\r\nProveďte opětovnou instalaci programu.";

// The mail program: its executable in its install folder, and the archive as its argument with
// every blank replaced by "?".
inline constexpr const char* MailProgramSubKey = "\\Dastel";
std::string MailProgramExecutable(const std::string& installFolder);
std::string MailProgramArgument(const std::string& archivePath);
inline constexpr const char* MailProgramMissingCaption = "Nemohu najít Dastel";
std::string MailProgramMissingText(const std::string& webAddress);
